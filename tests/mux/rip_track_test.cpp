// Rip tracks: the scan of real clips against the stream summary and the entry point maps of the
// independent muxer, prepare, the packet rewrite, the searches and the graphics trim.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "formats/clpi.h"
#include "mux/rip_track.h"
#include "platform/files.h"
#include "support/cancel_after.h"
#include "support/test_support.h"
#include "ts/stream_summary.h"
#include "ts/ts_packet.h"

namespace tessel {
namespace {

constexpr const char* kSimple = "ts/simple_00000_head1000.m2ts";
constexpr const char* kZoo = "ts/audiozoo_00000_head1000.m2ts";
constexpr const char* kMpeg2 = "ts/mpeg2_00000_head1000.m2ts";

std::unique_ptr<SRipTrack> Track(uint16_t pid, uint8_t coding_type, int32_t clip = 0) {
  auto track = std::make_unique<SRipTrack>();
  track->pid = pid;
  track->clip_number = clip;
  track->attributes.StreamCodingType = coding_type;
  return track;
}

std::vector<SRipTrack*> List(const SRipTracks& tracks) {
  std::vector<SRipTrack*> list;
  for (const auto& t : tracks) list.push_back(t.get());
  return list;
}

uint16_t PidOf(const uint8_t* source_packet) {
  return static_cast<uint16_t>((source_packet[5] & 0x1F) << 8 | source_packet[6]);
}

TEST(Scan, PacketCountsEqualTheStreamSummary) {
  for (const char* clip : {kSimple, kZoo, kMpeg2}) {
    SCOPED_TRACE(clip);
    TsSummary summary;
    std::string error;
    ASSERT_EQ(SummarizeTransportStream(test::DataPath(clip), summary, nullptr, &error),
              JobResult::kDone);
    SRipTracks tracks;
    for (const PidSummary& s : summary.Pids) {
      if (CarriesPesHeader(s.Pid)) tracks.push_back(Track(s.Pid, 0x81));
    }
    ASSERT_GE(tracks.size(), 2u);
    CFileSource file(test::DataPath(clip));
    for (const int mode : {0, 1}) {
      SScanResult result;
      ASSERT_EQ(ScanClip(List(tracks), file, clip, mode, 0, UINT64_MAX, nullptr, result),
                JobResult::kDone);
      for (const auto& track : tracks) {
        const auto it = std::find_if(summary.Pids.begin(), summary.Pids.end(),
                                     [&](const PidSummary& s) { return s.Pid == track->pid; });
        EXPECT_EQ(track->packet_count, it->PacketCount) << mode << " " << track->pid;
        if (mode == 0) {
          EXPECT_TRUE(track->units.empty());
        }
        if (mode == 1) {
          EXPECT_EQ(track->units.size(), it->PesCount);
        }
      }
    }
  }
}

// The units the scan marks as starting a sequence are the entry points the independent muxer
// put in the clip's map (the fixture keeps only the packets that start a video PES).
TEST(Scan, MarksTheUnitsOfTheEntryPointMap) {
  struct Case {
    const char* clip;
    const char* clpi;
    uint8_t coding_type;
    size_t entries;
  };
  const Case cases[] = {
      {"demux/simple_video_starts.m2ts", "discs/disc-simple/BDMV/CLIPINF/00000.clpi", 0x1B, 10},
      {"demux/audio-zoo_video_starts.m2ts", "discs/disc-audio-zoo/BDMV/CLIPINF/00000.clpi", 0x1B,
       5},
      {"demux/mpeg2_video_starts.m2ts", "discs/disc-mpeg2/BDMV/CLIPINF/00000.clpi", 0x02, 11},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.clip);
    Clpi clpi;
    ASSERT_TRUE(clpi.Read(test::ReadData(c.clpi)));
    ASSERT_EQ(clpi.cpi.ep_map.Entries.size(), 1u);
    const CKpiFolder& points = clpi.cpi.ep_map.Entries[0].KeyPoints;
    ASSERT_EQ(points.size(), c.entries);
    SRipTracks tracks;
    tracks.push_back(Track(0x1011, c.coding_type));
    CFileSource file(test::DataPath(c.clip));
    SScanResult result;
    ASSERT_EQ(ScanClip(List(tracks), file, c.clip, 1, 0, UINT64_MAX, nullptr, result),
              JobResult::kDone);
    std::vector<uint64_t> marked;
    for (const SRipAu& unit : tracks[0]->units) {
      if (unit.type & rip_au::kSequenceStart) marked.push_back(unit.pts);
    }
    ASSERT_EQ(marked.size(), c.entries);
    // The map keeps a PTS to 512 ticks.
    for (size_t i = 0; i < marked.size(); ++i) EXPECT_EQ(marked[i] >> 9, points[i].Pts >> 9) << i;
    ASSERT_TRUE(result.first_video_pts);
    EXPECT_EQ(*result.first_video_pts, tracks[0]->units[0].pts);
  }
}

TEST(Scan, RefusesRangesOutsideTheFile) {
  const std::vector<uint8_t> data = test::ReadData(kSimple);  // 1000 packets
  CMemorySource file(data);
  const std::vector<uint8_t> none;
  CMemorySource empty(none);
  struct Case {
    CByteSource* file;
    uint64_t first, end;
  };
  const Case cases[] = {{&file, 1000, 2000}, {&file, 500, 500}, {&file, 600, 400}, {&empty, 0, 10}};
  for (const Case& c : cases) {
    SRipTracks tracks;
    tracks.push_back(Track(0x1100, 0x81));
    SScanResult result;
    EXPECT_EQ(ScanClip(List(tracks), *c.file, "x.m2ts", 1, c.first, c.end, nullptr, result),
              JobResult::kFailed);
    EXPECT_FALSE(result.message.empty());
  }
}

TEST(Scan, CancelClearsTheLists) {
  SRipTracks tracks;
  tracks.push_back(Track(0x1100, 0x81));
  CFileSource file(test::DataPath(kSimple));
  test::CancelAfter cancel(4);
  SScanResult result;
  EXPECT_EQ(ScanClip(List(tracks), file, kSimple, 1, 0, UINT64_MAX, cancel.callback(), result),
            JobResult::kCancelled);
  EXPECT_TRUE(tracks[0]->units.empty());
  EXPECT_EQ(tracks[0]->packet_count, 0u);
  EXPECT_EQ(cancel.records()[0].title, "Parsing");
}

// A clip cut in the middle of a stream starts with the rest of a PES packet that belongs to no
// unit.
TEST(Scan, SkipsPacketsBeforeTheFirstPesStart) {
  const std::vector<uint8_t> data = test::ReadData(kZoo);
  CMemorySource file(data);
  SRipTracks tracks;
  tracks.push_back(Track(0x1104, 0x80));
  SScanResult result;
  const uint64_t from = 300;
  ASSERT_EQ(ScanClip(List(tracks), file, kZoo, 1, from, UINT64_MAX, nullptr, result),
            JobResult::kDone);
  uint64_t first_start = 0;
  uint64_t after = 0;
  for (uint64_t n = from; n < data.size() / 192; ++n) {
    const uint8_t* p = data.data() + n * 192;
    if (PidOf(p) != 0x1104) continue;
    if (!first_start && (p[5] & 0x40)) first_start = n;
    if (first_start) ++after;
  }
  ASSERT_FALSE(tracks[0]->units.empty());
  EXPECT_EQ(tracks[0]->units[0].ranges[0].first, first_start);
  EXPECT_EQ(tracks[0]->packet_count, after);
}

SRipAu Unit(uint32_t type, uint64_t pts) {
  SRipAu unit;
  unit.type = type;
  unit.pts = unit.dts = pts;
  unit.ranges = {{pts, pts}};
  unit.size = 192;
  return unit;
}

constexpr uint32_t kShow = segment_type::kPresentationComposition | 0x80 << 8;
constexpr uint32_t kClear =
    segment_type::kPresentationComposition | 0x80 << 8 | rip_au::kEmptyComposition;
constexpr uint32_t kEnd = segment_type::kEnd;
constexpr uint32_t kWindow = segment_type::kWindow;

TEST(TrimGraphics, CutsOnlyAfterTheLastClearingDisplaySet) {
  struct Case {
    const char* name;
    std::vector<uint32_t> types;
    size_t kept;
  };
  const Case cases[] = {
      {"ends clearing", {kShow, kWindow, kEnd, kClear, kWindow, kEnd}, 6},
      {"captions never cleared at the end",
       {kShow, kEnd, kClear, kEnd, kShow, kEnd, kShow, kEnd},
       4},
      {"no clearing composition at all", {kShow, kEnd, kShow, kEnd}, 4},
      {"clearing without an end segment after it", {kShow, kEnd, kClear, kShow}, 4},
      {"empty", {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SRipTrack track;
    track.attributes.StreamCodingType = 0x90;
    for (size_t i = 0; i < c.types.size(); ++i) track.units.push_back(Unit(c.types[i], i * 100));
    track.packet_count = c.types.size();
    TrimGraphicsUnits(track);
    EXPECT_EQ(track.units.size(), c.kept);
    EXPECT_EQ(track.packet_count, c.kept);
  }
}

TEST(FindUnitAtTime, ByKind) {
  SRipTrack video;
  video.attributes.StreamCodingType = 0x1B;
  for (int i = 0; i < 10; ++i) video.units.push_back(Unit(i % 3 == 0 ? 1 : 0, 1000 + i * 100));
  SRipTrack audio;
  audio.attributes.StreamCodingType = 0x81;
  for (int i = 0; i < 10; ++i) audio.units.push_back(Unit(0, 1000 + i * 100));
  SRipTrack pg;
  pg.attributes.StreamCodingType = 0x90;
  for (uint32_t t : {kShow, kEnd, kClear, kEnd, kShow, kEnd}) {
    pg.units.push_back(Unit(t, 1000 + pg.units.size() * 100));
  }
  struct Case {
    const SRipTrack* track;
    int64_t time;
    int expected;
  };
  const Case cases[] = {
      {&video, 0, 0},    {&video, -1, 9},   {&video, 1900, 9}, {&video, 1303, 3},
      {&video, 1340, 3},  // marked units at 1000, 1300, 1600, 1900: 1300 is nearer
      {&video, 1460, 6},  // 1600 is nearer
      {&video, 1450, 6},  // equally near: the later one
      {&audio, 1196, 2}, {&audio, 1195, 2}, {&audio, 1194, 2}, {&audio, 1210, 3},
      {&pg, 1050, 4},    {&pg, 1000, 0},    {&pg, 1600, 5},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.track->FindUnitAtTime(0, c.time), c.expected)
        << c.track->CodingType() << " at " << c.time;
  }
}

TEST(RipTrack, DisplayNameAndProgramEntry) {
  auto track = Track(0x1100, 0x81, 1);
  EXPECT_EQ(track->DisplayName().rfind("00001.M2TS, 0x1100, AC-3(0x81), ", 0), 0u);
  track->clip_number = -1;
  EXPECT_EQ(track->DisplayName().rfind("0x1100, AC-3(0x81), ", 0), 0u);
  EXPECT_FALSE(track->MakeEsi());
  track->esi = ESI{};
  track->esi->ElementaryPid = 0x1100;
  track->output_pid = 0x1102;
  EXPECT_EQ(track->MakeEsi()->ElementaryPid, 0x1102);
  EXPECT_EQ(track->esi->ElementaryPid, 0x1100);
}

TEST(RipTrack, BufferModelsByCodingType) {
  const std::pair<uint8_t, size_t> cases[] = {
      {0x02, 1}, {0x1B, 1}, {0xEA, 1}, {0x20, 0}, {0x80, 1}, {0x81, 1},
      {0x82, 1}, {0x83, 2}, {0x84, 2}, {0x85, 2}, {0x86, 2}, {0xA1, 1},
      {0xA2, 1}, {0x90, 1}, {0x91, 1}, {0x92, 1}, {0x55, 0},
  };
  for (const auto& [type, count] : cases) {
    const auto models = Track(0x1100, type)->CreateBufferModels();
    EXPECT_EQ(models.size(), count) << int(type);
    if (type == 0xA1 || type == 0xA2) {
      EXPECT_FALSE(models[0]->primary());
    }
  }
}

TEST(RipTrack, PrepareRefusesTypesWithoutModelAndFinishesEmptyLists) {
  const std::vector<uint8_t> none;
  CMemorySource file(none);
  std::string message;
  auto mvc = Track(0x1012, 0x20);
  mvc->units.push_back(Unit(1, 0));
  EXPECT_FALSE(mvc->Prepare(file, 0x1012, message));
  EXPECT_NE(message.find("0x20"), std::string::npos);
  auto empty = Track(0x1100, 0x81);
  EXPECT_TRUE(empty->Prepare(file, 0x1100, message));
  EXPECT_TRUE(empty->units_done());
  EXPECT_FALSE(empty->NextUnit());
  auto cleared = Track(0x1100, 0x81);
  cleared->cleared = 1;
  cleared->units.push_back(Unit(0, 0));
  EXPECT_TRUE(cleared->Prepare(file, 0x1100, message));
  EXPECT_TRUE(cleared->units_done());
}

// Every byte of a kept packet is the source's but for the PID, transport_priority and PES times.
void ExpectRewrite(const std::vector<uint8_t>& data, uint64_t base_packet, CByteSource& file,
                   uint64_t first, uint64_t end) {
  SRipTracks tracks;
  tracks.push_back(Track(0x1100, 0x81));
  SScanResult result;
  ASSERT_EQ(ScanClip(List(tracks), file, "clip", 1, first, end, nullptr, result), JobResult::kDone);
  SRipTrack& track = *tracks[0];
  ASSERT_GT(track.units.size(), 3u);
  EXPECT_GE(track.units[0].ranges[0].first, first);
  std::vector<uint64_t> original_pts;
  for (const SRipAu& unit : track.units) original_pts.push_back(unit.pts);
  track.ApplyTimeShift(1000);
  std::string message;
  ASSERT_TRUE(track.Prepare(file, 0x1105, message)) << message;
  track.SetOutputPriority(true);
  size_t unit_index = 0;
  size_t packets = 0;
  do {
    const SRipAu* unit = track.CurrentUnit();
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(unit->pts, original_pts[unit_index] + 1000);
    std::vector<uint64_t> numbers;
    for (const SPacketRange& r : unit->ranges) {
      for (uint64_t n = r.first; n <= r.last; ++n) numbers.push_back(n);
    }
    uint8_t packet[192];
    uint32_t payload = 0;
    for (const uint64_t n : numbers) {
      ASSERT_TRUE(track.NextPacket(packet, payload));
      const uint8_t* source = data.data() + (n - base_packet) * 192;
      EXPECT_EQ(PidOf(packet), 0x1105);
      EXPECT_TRUE(packet[5] & 0x20);
      std::vector<uint8_t> a(packet, packet + 192), b(source, source + 192);
      a[5] = b[5] = 0;
      a[6] = b[6] = 0;
      if (n == numbers.front()) {
        // The PTS of this stream's PES headers follows a 4-byte TS header.
        PesHeader pes;
        ByteReader in(std::span<const uint8_t>(packet + 8, 184));
        ASSERT_TRUE(ReadPesHeader(in, pes));
        EXPECT_EQ(pes.PTS->Value, original_pts[unit_index] + 1000);
        std::fill(a.begin() + 17, a.begin() + 22, 0);
        std::fill(b.begin() + 17, b.begin() + 22, 0);
      }
      EXPECT_EQ(a, b);
      ++packets;
    }
    EXPECT_FALSE(track.NextPacket(packet, payload));
    ++unit_index;
  } while (track.NextUnit());
  EXPECT_EQ(unit_index, track.units.size());
  EXPECT_EQ(packets, track.packet_count);
  EXPECT_FALSE(track.key_points.empty());
}

TEST(RipTrack, RewritesPidPriorityAndTimesOnly) {
  const std::vector<uint8_t> data = test::ReadData(kSimple);
  CMemorySource file(data);
  ExpectRewrite(data, 0, file, 0, UINT64_MAX);
}

// A clip placed past 4 GiB in a sparse file: packet numbers and offsets are 64-bit.
TEST(RipTrack, ScansAndReadsPast4GiB) {
  const test::TempDir dir;
  const std::vector<uint8_t> data = test::ReadData(kSimple);
  const uint64_t base = (5ull << 30) / 192 + 1;
  const fs::path path = dir / "sparse.m2ts";
  {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, data.data(), data.size(), static_cast<off_t>(base * 192)),
              static_cast<ssize_t>(data.size()));
    ::close(fd);
  }
  CFileSource file(path);
  ASSERT_EQ(file.Size(), base * 192 + data.size());
  ExpectRewrite(data, base, file, base, base + 1000);
}

}  // namespace
}  // namespace tessel
