// The seamless arrival-time deltas: the timing measured from a stream file (on small synthetic
// streams, and against ffprobe on a real one), the delta formula, and the update of the written
// clip information of a disc whose joins were made seamless with our writers.
#include "model/atc_delta.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "formats/clpi.h"
#include "mux/byte_io.h"
#include "platform/files.h"
#include "support/atc_fixture.h"
#include "support/cancel_after.h"
#include "support/test_support.h"
#include "support/ts_oracles.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;

// The name of a table row in the test's name.
template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& row) {
  return row.param.name;
}

// ---- synthetic streams, written byte by byte ----

struct Pkt {
  uint32_t ats = 0;
  uint16_t pid = 0x1FFF;
  std::optional<uint64_t> pcr;  // 27 MHz
  std::optional<uint64_t> pts;  // 90 kHz, starts a PES packet
};

void AppendPacket(std::vector<uint8_t>& out, const Pkt& p) {
  uint8_t b[192];
  std::fill(std::begin(b), std::end(b), 0xFF);
  const uint32_t ats = p.ats & 0x3FFFFFFF;
  b[0] = static_cast<uint8_t>(ats >> 24);
  b[1] = static_cast<uint8_t>(ats >> 16);
  b[2] = static_cast<uint8_t>(ats >> 8);
  b[3] = static_cast<uint8_t>(ats);
  b[4] = 0x47;
  b[5] = static_cast<uint8_t>((p.pts ? 0x40 : 0) | ((p.pid >> 8) & 0x1F));
  b[6] = static_cast<uint8_t>(p.pid);
  b[7] = 0x10;
  if (p.pcr) {
    const uint64_t base = *p.pcr / 300;
    const uint64_t ext = *p.pcr % 300;
    b[7] = 0x20;
    b[8] = 183;
    b[9] = 0x10;
    b[10] = static_cast<uint8_t>(base >> 25);
    b[11] = static_cast<uint8_t>(base >> 17);
    b[12] = static_cast<uint8_t>(base >> 9);
    b[13] = static_cast<uint8_t>(base >> 1);
    b[14] = static_cast<uint8_t>(((base & 1) << 7) | 0x7E | (ext >> 8));
    b[15] = static_cast<uint8_t>(ext);
  } else if (p.pts) {
    const uint64_t t = *p.pts;
    const uint8_t pes[] = {0x00,
                           0x00,
                           0x01,
                           0xE0,
                           0x00,
                           0x00,
                           0x80,
                           0x80,
                           0x05,
                           static_cast<uint8_t>(0x21 | ((t >> 29) & 0x0E)),
                           static_cast<uint8_t>(t >> 22),
                           static_cast<uint8_t>(((t >> 14) & 0xFE) | 1),
                           static_cast<uint8_t>(t >> 7),
                           static_cast<uint8_t>(((t << 1) & 0xFE) | 1)};
    std::copy(std::begin(pes), std::end(pes), b + 8);
  }
  out.insert(out.end(), std::begin(b), std::end(b));
}

constexpr uint32_t kStep = 846;  // one packet at 48 Mbit/s
constexpr uint32_t kBase = 1000000;
constexpr uint64_t kFirstPcr = 5000000000;
constexpr uint64_t kLastPcr = 5000100000;
constexpr uint64_t kPcrOffset = 45;  // 81 bits at 48 Mbit/s, truncated
constexpr uint64_t kRate = 48000000;

// PAT, the first PCR, five video PES packets (the first and the last outside the four the
// measurement takes from each end), null packets, the last PCR and two null packets.
std::vector<Pkt> BasicLayout(size_t nulls = 4) {
  std::vector<Pkt> layout;
  layout.push_back({0, 0x0000, {}, {}});
  layout.push_back({0, 0x1001, kFirstPcr, {}});
  for (uint64_t pts : {900000u, 600000u, 603750u, 607500u, 300000u}) {
    layout.push_back({0, 0x1011, {}, pts});
  }
  for (size_t i = 0; i < nulls; ++i) layout.push_back({});
  layout.push_back({0, 0x1001, kLastPcr, {}});
  layout.push_back({});
  layout.push_back({});
  for (size_t i = 0; i < layout.size(); ++i)
    layout[i].ats = kBase + kStep * static_cast<uint32_t>(i);
  return layout;
}

std::vector<uint8_t> StreamOf(const std::vector<Pkt>& layout) {
  std::vector<uint8_t> bytes;
  for (const Pkt& p : layout) AppendPacket(bytes, p);
  return bytes;
}

SStreamTiming BasicTiming() {
  SStreamTiming timing;
  timing.first_video_pts = 600000ull * 300;
  timing.last_video_pts = 607500ull * 300;
  timing.first_packet_time = kFirstPcr - kStep - kPcrOffset;
  // Two packets after the last PCR, then one packet's time.
  timing.end_packet_time = kLastPcr + 2 * kStep + kStep - kPcrOffset;
  timing.rate = kRate;
  return timing;
}

struct TimingCase {
  const char* name;
  std::function<void(std::vector<Pkt>&)> change;
  std::optional<SStreamTiming> expected;
  std::vector<uint8_t> tail = {};  // bytes of a partial packet at the end
};

class StreamTiming : public ::testing::TestWithParam<TimingCase> {};

TEST_P(StreamTiming, IsMeasuredFromTheStreamFile) {
  std::vector<Pkt> layout = BasicLayout();
  if (GetParam().change) GetParam().change(layout);
  std::vector<uint8_t> bytes = StreamOf(layout);
  bytes.insert(bytes.end(), GetParam().tail.begin(), GetParam().tail.end());
  CMemorySource source(bytes);
  const std::optional<SStreamTiming> measured = MeasureStreamTiming(source);
  ASSERT_EQ(measured.has_value(), GetParam().expected.has_value());
  if (!measured) return;
  EXPECT_EQ(measured->first_video_pts, GetParam().expected->first_video_pts);
  EXPECT_EQ(measured->last_video_pts, GetParam().expected->last_video_pts);
  EXPECT_EQ(measured->first_packet_time, GetParam().expected->first_packet_time);
  EXPECT_EQ(measured->end_packet_time, GetParam().expected->end_packet_time);
  EXPECT_EQ(measured->rate, GetParam().expected->rate);
}

SStreamTiming FirstStampZeroTiming() {
  // The rate comes from packets 1 and 2, 1000 ticks apart: 40608000 bit/s, whose PCR distance
  // is 53 ticks; the first packet's own stamp (0) still places the first packet.
  SStreamTiming timing = BasicTiming();
  timing.rate = 40608000;
  timing.first_packet_time = kFirstPcr - (kBase + kStep) - 53;
  timing.end_packet_time = kLastPcr + 2 * kStep + 1000 - 53;
  return timing;
}

INSTANTIATE_TEST_SUITE_P(
    Table, StreamTiming,
    ::testing::Values(
        TimingCase{"Basic", nullptr, BasicTiming()},
        TimingCase{"StampWrapsBetweenTheLastPcrAndTheLastPacket",
                   [](std::vector<Pkt>& layout) {
                     const uint32_t at_last_pcr = (1u << 30) - kStep;
                     const uint32_t first =
                         at_last_pcr - kStep * static_cast<uint32_t>(layout.size() - 3);
                     for (size_t i = 0; i < layout.size(); ++i) {
                       layout[i].ats = first + kStep * static_cast<uint32_t>(i);
                     }
                   },
                   BasicTiming()},
        TimingCase{"FirstStampZero",
                   [](std::vector<Pkt>& layout) {
                     layout[0].ats = 0;
                     layout[2].ats = layout[1].ats + 1000;
                   },
                   FirstStampZeroTiming()},
        TimingCase{"NoArrivalStep",
                   [](std::vector<Pkt>& layout) {
                     for (Pkt& p : layout) p.ats = kBase;
                   },
                   std::nullopt},
        TimingCase{"NoVideoPts",
                   [](std::vector<Pkt>& layout) {
                     for (Pkt& p : layout) p.pts.reset();
                   },
                   std::nullopt},
        TimingCase{"NoPcr",
                   [](std::vector<Pkt>& layout) {
                     for (Pkt& p : layout) p.pcr.reset();
                   },
                   std::nullopt},
        TimingCase{"PartialLastPacket", nullptr, BasicTiming(), std::vector<uint8_t>(100, 0x47)},
        TimingCase{"VideoBeyondTheFirstBlock",
                   [](std::vector<Pkt>& layout) {
                     const std::vector<Pkt> later = BasicLayout(1100);
                     std::vector<Pkt> moved(later.begin(), later.begin() + 2);
                     moved.insert(moved.end(), later.begin() + 7, later.begin() + 7 + 1100);
                     moved.insert(moved.end(), later.begin() + 2, later.begin() + 7);
                     moved.insert(moved.end(), later.begin() + 7 + 1100, later.end());
                     for (size_t i = 0; i < moved.size(); ++i) moved[i].ats = later[i].ats;
                     layout = moved;
                   },
                   BasicTiming()}),
    CaseName<TimingCase>);

TEST(StreamTiming, AgreesWithFfprobeOnTheVideoTimes) {
  TESSEL_SKIP_WITHOUT_TOOL("ffprobe");
  const fs::path file = test::DataPath("ts/multiclip_00002.m2ts");
  CFileSource source(file);
  ASSERT_TRUE(source.ok());
  const std::optional<SStreamTiming> measured = MeasureStreamTiming(source);
  ASSERT_TRUE(measured);

  const std::vector<test::ProbeStream> video = test::StreamsOnPid(test::ProbeStreams(file), 0x1011);
  ASSERT_EQ(video.size(), 1u);
  std::vector<int64_t> pts;
  for (const test::ProbePacket& packet : test::ProbePackets(file)) {
    if (packet.stream == video[0].index && packet.pts != test::kNoTime) pts.push_back(packet.pts);
  }
  ASSERT_GE(pts.size(), 4u);
  EXPECT_EQ(measured->first_video_pts,
            static_cast<uint64_t>(*std::min_element(pts.begin(), pts.begin() + 4)) * 300);
  EXPECT_EQ(measured->last_video_pts,
            static_cast<uint64_t>(*std::max_element(pts.end() - 4, pts.end())) * 300);
}

// ---- the formula ----

struct DeltaCase {
  const char* name;
  std::function<void(SClipTiming& c, SClipTiming& n)> change;
  uint32_t expected;
};

class AtcDeltaFormula : public ::testing::TestWithParam<DeltaCase> {};

// A clip at 6000000 bytes/s (one packet is 846 ticks) whose follower's first packet comes
// 626125 ticks after the frame that ends the clip.
TEST_P(AtcDeltaFormula, Table) {
  SClipTiming c;
  c.rate = 6000000;
  c.frame_duration = 1126125;
  c.last_video_pts = 1000000000;
  c.end_packet_time = 1000500000;
  SClipTiming n;
  n.first_video_pts = 900000000;
  n.first_packet_time = 900000000;
  if (GetParam().change) GetParam().change(c, n);
  EXPECT_EQ(AtcDelta(c, n), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AtcDeltaFormula,
    ::testing::Values(
        DeltaCase{"Normal", nullptr, 626125 + 846},
        DeltaCase{"NoRate", [](SClipTiming& c, SClipTiming&) { c.rate = 0; }, 0},
        DeltaCase{"NoFrameDuration", [](SClipTiming& c, SClipTiming&) { c.frame_duration = 0; }, 0},
        // The end margin (0) is above a negative gap: the follower still comes one packet later.
        DeltaCase{"FollowerBeforeTheEnd",
                  [](SClipTiming&, SClipTiming& n) { n.first_packet_time -= 1000000; }, 846},
        DeltaCase{"RaisedToTheEndMargin",
                  [](SClipTiming& c, SClipTiming& n) {
                    n.first_packet_time -= 1000000;
                    c.end_margin[0] = 5000;
                  },
                  5000 + 846},
        DeltaCase{"MarginBelowTheDelta",
                  [](SClipTiming& c, SClipTiming&) { c.end_margin[0] = 100; }, 626125 + 846},
        DeltaCase{"LowThirtyTwoBits",
                  [](SClipTiming&, SClipTiming& n) {
                    n.first_packet_time += (uint64_t{1} << 32) - 626125 + 10;
                  },
                  10 + 846}),
    CaseName<DeltaCase>);

// ---- the update of a written disc ----

constexpr uint32_t kStoredDelta = 1234;

// disc-multiclip with its playlist 00000 (clips 0, 1, 2) joined seamlessly, and an output folder
// holding what the copy of unmodified clips leaves there.
class UpdateDeltas : public ::testing::Test {
 protected:
  void SetUp() override {
    source_ = test::StageDisc("discs/disc-multiclip", dir_ / "src");
    std::string error;
    ASSERT_THAT(test::MakeSeamlessJoins(source_, 0, kStoredDelta, &error),
                ElementsAre(test::SSeamlessJoin{0, 1}, test::SSeamlessJoin{1, 2}))
        << error;
    ASSERT_TRUE(disc_.Open(source_.string()));
    output_ = dir_ / "out/BDMV";
    for (const char* folder : {"CLIPINF", "STREAM", "BACKUP/CLIPINF"}) {
      fs::create_directories(output_ / folder);
    }
    for (int clip : {0, 1, 2, 3}) {
      fs::copy_file(source_ / "CLIPINF" / Clpi(clip), output_ / "CLIPINF" / Clpi(clip));
    }
  }

  static std::string Clpi(int clip) { return NumberedFileName(clip, "clpi"); }
  CClpiObject& Clip(int number) { return *disc_.clips()->FindClip(number); }

  // What the build leaves of a rebuilt clip: a dropped track, the multiplexer's timing and a
  // clip information file of its own, which has no deltas.
  void Rebuild(int number, bool complete = true) {
    CClpiObject& clip = Clip(number);
    FindByPid(clip.original_tracks, 0x1100)->keep = 0;
    clip.built = 1;
    SClipTiming& timing = clip.output_timing;
    timing.rate = 6000000;
    timing.frame_duration = 1126125;
    timing.first_video_pts = complete ? 16200000000 : 0;
    timing.last_video_pts = 16300000000;
    timing.first_packet_time = 16190000000;
    timing.end_packet_time = 16305000000;
    std::string error;
    std::vector<uint8_t> file;
    ASSERT_TRUE(ReadWholeFile(output_ / "CLIPINF" / Clpi(number), file, &error)) << error;
    const auto fresh = WithFollowingClips(file, {}, &error);
    ASSERT_TRUE(fresh) << error;
    ASSERT_TRUE(WriteWholeFile(output_ / "CLIPINF" / Clpi(number), *fresh, &error)) << error;
  }

  JobResult Update(const ProgressCallback& progress = nullptr) {
    return UpdateAtcDeltas(disc_, output_.string() + "/", progress);
  }

  std::vector<std::pair<int, uint32_t>> Deltas(int clip) const {
    return test::ReadAtcDeltas(output_ / "CLIPINF" / Clpi(clip));
  }
  bool HasBackup(int clip) const { return fs::exists(output_ / "BACKUP/CLIPINF" / Clpi(clip)); }
  std::vector<uint8_t> Bytes(const fs::path& path) const {
    std::vector<uint8_t> bytes;
    ReadWholeFile(path, bytes);
    return bytes;
  }

  // The timing the update gives a copied clip: its clip information's values and what the
  // stream file shows.
  SClipTiming Measured(int number) {
    CClpiObject& clip = Clip(number);
    SClipTiming timing = clip.source_timing;
    CFileSource source(clip.stream_path);
    const std::optional<SStreamTiming> measured = MeasureStreamTiming(source);
    EXPECT_TRUE(measured);
    if (!measured) return timing;
    timing.first_video_pts = measured->first_video_pts;
    timing.last_video_pts = measured->last_video_pts;
    timing.first_packet_time = measured->first_packet_time;
    timing.end_packet_time = measured->end_packet_time;
    return timing;
  }

  test::TempDir dir_;
  test::ScopedRecordingPrompt prompt_;
  CBDDisc disc_;
  fs::path source_;
  fs::path output_;
};

TEST_F(UpdateDeltas, UnmodifiedJoinsAreNotTouched) {
  const std::vector<uint8_t> before = Bytes(output_ / "CLIPINF/00000.clpi");
  EXPECT_EQ(Update(), JobResult::kDone);
  EXPECT_EQ(Bytes(output_ / "CLIPINF/00000.clpi"), before);
  EXPECT_THAT(Deltas(1), ElementsAre(Pair(2, kStoredDelta)));
  EXPECT_FALSE(HasBackup(0));
  EXPECT_FALSE(HasBackup(1));
}

TEST_F(UpdateDeltas, ARebuiltClipFollowedByACopiedOne) {
  Rebuild(0);
  const SClipTiming follower = Measured(1);
  // The rebuilt clip's last frame ends where the follower's first begins, and its last packet
  // leaves 500000 ticks before the follower's first arrives.
  SClipTiming& timing = Clip(0).output_timing;
  timing.last_video_pts = follower.first_video_pts - timing.frame_duration;
  timing.end_packet_time = follower.first_packet_time - 500000;

  EXPECT_EQ(Update(), JobResult::kDone);
  EXPECT_THAT(Deltas(0), ElementsAre(Pair(1, 500000 + 846)));
  EXPECT_EQ(Bytes(output_ / "BACKUP/CLIPINF/00000.clpi"), Bytes(output_ / "CLIPINF/00000.clpi"));
  // The join of the two copied clips stays as it was.
  EXPECT_THAT(Deltas(1), ElementsAre(Pair(2, kStoredDelta)));
  EXPECT_FALSE(HasBackup(1));
  EXPECT_EQ(Clip(1).output_timing.first_video_pts, follower.first_video_pts);
}

TEST_F(UpdateDeltas, ACopiedClipFollowedByARebuiltOne) {
  Rebuild(1);
  const SClipTiming before = Measured(0);
  const SClipTiming after = Measured(2);
  ASSERT_NE(before.rate, 0u);
  ASSERT_NE(before.frame_duration, 0u);
  SClipTiming& timing = Clip(1).output_timing;
  timing.first_video_pts = before.last_video_pts + before.frame_duration;
  timing.first_packet_time = before.end_packet_time + 300000;
  timing.last_video_pts = after.first_video_pts - timing.frame_duration;
  timing.end_packet_time = after.first_packet_time - 200000;

  EXPECT_EQ(Update(), JobResult::kDone);
  // One packet at each clip's rate on top of the gap.
  EXPECT_THAT(Deltas(0), ElementsAre(Pair(1, 300000 + 188ull * 27000000 / before.rate)));
  EXPECT_THAT(Deltas(1), ElementsAre(Pair(2, 200000 + 846)));
  EXPECT_EQ(Clip(0).output_timing.last_video_pts, before.last_video_pts);
  EXPECT_TRUE(HasBackup(0));
  EXPECT_TRUE(HasBackup(1));
}

TEST_F(UpdateDeltas, ARebuiltClipIsMeasuredOnItsWrittenStream) {
  Rebuild(0, false);
  fs::copy_file(Clip(0).stream_path, output_ / "STREAM/00000.m2ts");
  CFileSource written(output_ / "STREAM/00000.m2ts");
  const std::optional<SStreamTiming> measured = MeasureStreamTiming(written);
  ASSERT_TRUE(measured);
  Clip(0).stream_path = (dir_ / "missing.m2ts").string();

  EXPECT_EQ(Update(), JobResult::kDone);
  const SClipTiming& timing = Clip(0).output_timing;
  EXPECT_EQ(timing.first_video_pts, measured->first_video_pts);
  // What the multiplexer had stays.
  EXPECT_EQ(timing.last_video_pts, 16300000000u);
  EXPECT_EQ(timing.end_packet_time, 16305000000u);
  EXPECT_THAT(Deltas(0), ElementsAre(Pair(1, AtcDelta(timing, Measured(1)))));
}

TEST_F(UpdateDeltas, AFollowerWithoutTimingKeepsTheStoredDelta) {
  Rebuild(0);
  Clip(1).stream_path = (dir_ / "missing.m2ts").string();
  EXPECT_EQ(Update(), JobResult::kDone);
  EXPECT_THAT(Deltas(0), ElementsAre(Pair(1, kStoredDelta)));
  EXPECT_TRUE(HasBackup(0));
  EXPECT_THAT(prompt_.messages(), IsEmpty());
}

TEST_F(UpdateDeltas, AnEmptiedFollowerIsSkipped) {
  Rebuild(0);
  for (auto& track : Clip(1).original_tracks) track->keep = 0;
  EXPECT_EQ(Update(), JobResult::kDone);
  EXPECT_THAT(Deltas(0), IsEmpty());
  EXPECT_FALSE(HasBackup(0));
}

TEST_F(UpdateDeltas, AMissingOutputFileFailsWithTheFileSystemsText) {
  Rebuild(0);
  fs::remove(output_ / "CLIPINF/00000.clpi");
  EXPECT_EQ(Update(), JobResult::kFailed);
  ASSERT_EQ(prompt_.messages().size(), 1u);
  EXPECT_THAT(prompt_.messages()[0], ::testing::HasSubstr("00000.clpi"));
}

TEST_F(UpdateDeltas, ACancelStopsBeforeAnyPatch) {
  Rebuild(0);
  const std::vector<uint8_t> before = Bytes(output_ / "CLIPINF/00000.clpi");
  test::CancelAfter cancel(1);
  EXPECT_EQ(Update(cancel.callback()), JobResult::kCancelled);
  EXPECT_EQ(Bytes(output_ / "CLIPINF/00000.clpi"), before);
  EXPECT_FALSE(HasBackup(0));
}

}  // namespace
}  // namespace tessel
