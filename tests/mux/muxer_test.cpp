#include "mux/muxer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/files.h"
#include "support/cancel_after.h"
#include "support/test_support.h"
#include "ts/psi.h"

namespace tessel {
namespace {

using ::testing::HasSubstr;

// A stream of equal units on private stream 1, made by the test itself so that the multiplexer's
// timing can be checked apart from any elementary-stream reader.
class FakeTrack : public SMuxTrack {
 public:
  struct Unit : SAuBase {
    FakeTrack* track = nullptr;
    bool started = false;
    std::optional<KEY_POINT_INFO> key;
    uint8_t packet[192] = {};

    const uint8_t* NextPacket(uint64_t& left, uint32_t& payload) override {
      if (left == 0) return nullptr;
      uint8_t* ts = packet + 4;
      std::fill(ts, ts + 188, 0xFF);
      ts[0] = 0x47;
      ts[1] = static_cast<uint8_t>((started ? 0 : 0x40) | ((track->output_pid >> 8) & 0x1F));
      ts[2] = static_cast<uint8_t>(track->output_pid);
      size_t header = 4;
      size_t pes = 0;
      if (!started) pes = 14;
      const size_t room = 184 - pes;
      const size_t take = std::min<uint64_t>(left, room);
      if (take < room) {
        ts[3] = static_cast<uint8_t>(0x30 | track->cc);
        const size_t stuffing = room - take;
        ts[4] = static_cast<uint8_t>(stuffing - 1);
        if (stuffing > 1) ts[5] = 0;
        header += stuffing;
      } else {
        ts[3] = static_cast<uint8_t>(0x10 | track->cc);
      }
      track->cc = (track->cc + 1) & 0xF;
      if (!started) {
        uint8_t* p = ts + header;
        const uint32_t length = size + 8;
        const uint64_t t = pts;
        const uint8_t h[14] = {0,
                               0,
                               1,
                               0xBD,
                               static_cast<uint8_t>(length >> 8),
                               static_cast<uint8_t>(length),
                               0x84,
                               0x80,
                               5,
                               static_cast<uint8_t>(0x21 | ((t >> 29) & 0x0E)),
                               static_cast<uint8_t>(t >> 22),
                               static_cast<uint8_t>(((t >> 14) & 0xFE) | 1),
                               static_cast<uint8_t>(t >> 7),
                               static_cast<uint8_t>((t << 1) | 1)};
        std::copy(std::begin(h), std::end(h), p);
        header += 14;
        if (track->key_points_wanted && track->index_ % track->key_every == 0) {
          key = KEY_POINT_INFO{static_cast<int32_t>(track->index_ + 1), pts, 0, 0, 0};
        }
        started = true;
      }
      std::fill(ts + header, ts + 188, static_cast<uint8_t>(track->index_));
      left -= take;
      payload = static_cast<uint32_t>(take);
      return packet;
    }
    KEY_POINT_INFO* KeyPoint() override { return key ? &*key : nullptr; }
  };

  FakeTrack(uint8_t type, uint32_t units, uint32_t unit_size, uint32_t frame_ticks)
      : type_(type), units_(units), unit_size_(unit_size), frame_ticks_(frame_ticks) {}

  uint8_t CodingType() const override { return type_; }
  bool Prepare() override {
    SMuxTrack::Prepare();
    index_ = -1;
    return NextAu();
  }
  SAuBase* CurrentAu() override { return &unit_; }
  bool NextAu() override {
    if (unit_.key) keys.push_back(*unit_.key);
    ++index_;
    unit_ = Unit{};
    unit_.track = this;
    unit_.pts = 54000000 + static_cast<uint32_t>(index_) * frame_ticks_;
    unit_.dts = 0;
    unit_.size = index_ < static_cast<int64_t>(units_) ? unit_size_ : 0;
    bytes_left = unit_.size;
    current_index = index_;
    FeedModels(unit_, false);
    if (unit_.size == 0) finished = true;
    return true;
  }
  double FrameDurationMs() const override { return frame_ticks_ / 90.0; }
  uint64_t TotalBytes() const override { return uint64_t{units_} * unit_size_; }
  void GatherKeyPoints() override { ep_entry.KeyPoints = keys; }

  uint32_t key_every = 10;
  uint8_t cc = 0;
  std::vector<KEY_POINT_INFO> keys;

 private:
  uint8_t type_;
  uint32_t units_;
  uint32_t unit_size_;
  uint32_t frame_ticks_;
  int64_t index_ = -1;
  Unit unit_;
};

struct Packet {
  uint64_t ats;  // unwrapped
  uint16_t pid;
  bool unit_start;
  uint8_t cc;
  bool has_payload;
  std::optional<uint64_t> pcr;
};

std::vector<Packet> ReadPackets(const std::vector<uint8_t>& file) {
  std::vector<Packet> packets;
  uint64_t high = 0;
  uint32_t previous = 0;
  for (size_t at = 0; at + 192 <= file.size(); at += 192) {
    const uint8_t* p = file.data() + at;
    const uint32_t ats = ((uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3]) & 0x3FFFFFFF;
    if (!packets.empty() && ats < previous) high += uint64_t{1} << 30;
    previous = ats;
    const uint8_t* ts = p + 4;
    Packet packet{high + ats,          static_cast<uint16_t>(((ts[1] & 0x1F) << 8) | ts[2]),
                  (ts[1] & 0x40) != 0, static_cast<uint8_t>(ts[3] & 0xF),
                  (ts[3] & 0x10) != 0, std::nullopt};
    if ((ts[3] & 0x20) && ts[4] >= 7 && (ts[5] & 0x10)) {
      const uint64_t base =
          (uint64_t{ts[6]} << 25) | (ts[7] << 17) | (ts[8] << 9) | (ts[9] << 1) | (ts[10] >> 7);
      packet.pcr = base * 300 + (((ts[10] & 1) << 8) | ts[11]);
    }
    packets.push_back(packet);
  }
  return packets;
}

struct MuxOutput {
  int result = -1;
  std::vector<uint8_t> stream;
  CMuxer muxer;
};

void Mux(std::vector<SMuxTrack*> tracks, MuxOutput& out, uint32_t rate = kDefaultMuxRate,
         const ProgressCallback& progress = nullptr) {
  test::TempDir dir;
  test::ScopedRecordingPrompt prompt;
  std::string error;
  auto list = BuildTrackList(tracks, &error);
  ASSERT_TRUE(list) << error;
  ASSERT_TRUE(out.muxer.Initialise(*list, 1, 0, rate));
  out.result = out.muxer.Run(dir / "00000.m2ts", dir / "00000.clpi", std::nullopt, progress);
  if (out.result == 0) {
    ASSERT_TRUE(ReadWholeFile(dir / "00000.m2ts", out.stream, nullptr, 1 << 30));
  }
}

// The timing rules every written stream keeps, at several rates (848 ticks at 48 Mbit/s lands
// the program tables on a clock reference's slot every 45th round when they are placed off the
// packet grid).
TEST(MuxerTiming, SystemPacketsAndArrivalTimesKeepTheirRules) {
  for (uint32_t rate : {48000000u, 40000000u, 35000000u, 17000000u}) {
    SCOPED_TRACE(rate);
    FakeTrack video(coding::kH264, 300, 20000, 1501);
    FakeTrack audio(coding::kAc3, 600, 1792, 2880);
    audio.order = 1;
    MuxOutput out;
    Mux({&video, &audio}, out, rate);
    ASSERT_EQ(out.result, 0);
    ASSERT_EQ(out.stream.size() % 6144, 0u);
    const uint64_t interval = out.muxer.packet_interval();
    EXPECT_EQ(interval, uint64_t{1504} * 27000000 / rate);
    const std::vector<Packet> packets = ReadPackets(out.stream);
    std::map<uint16_t, uint8_t> last_cc;
    std::map<uint16_t, uint64_t> last_time;
    std::vector<uint64_t> pat_times, sit_times;
    std::optional<uint64_t> last_pcr_time;
    bool elementary_seen = false;
    std::set<uint16_t> before_elementary;
    for (size_t i = 0; i < packets.size(); ++i) {
      const Packet& p = packets[i];
      if (i > 0) {
        ASSERT_GE(p.ats, packets[i - 1].ats + interval) << "packet " << i;
        ASSERT_EQ((p.ats - packets[0].ats) % interval, 0u) << "packet " << i;
      }
      if (p.pid == 0x1011 || p.pid == 0x1100) elementary_seen = true;
      if (!elementary_seen) before_elementary.insert(p.pid);
      if (p.pid == 0) pat_times.push_back(p.ats);
      if (p.pid == 0x1F) sit_times.push_back(p.ats);
      if (p.pid == 0x1001) {
        ASSERT_TRUE(p.pcr);
        // Arrival times keep 30 bits of the same clock.
        EXPECT_EQ((*p.pcr - uint64_t{81} * 27000000 / rate) & 0x3FFFFFFF, p.ats & 0x3FFFFFFF);
        if (last_pcr_time) {
          EXPECT_LE(p.ats - *last_pcr_time, 2700000u);
        }
        last_pcr_time = p.ats;
      }
      if (p.has_payload && p.pid != 0x1FFF) {
        if (last_cc.count(p.pid)) {
          EXPECT_EQ(p.cc, (last_cc[p.pid] + 1) & 0xF) << "pid " << p.pid;
        }
        last_cc[p.pid] = p.cc;
      }
    }
    EXPECT_THAT(before_elementary, ::testing::ElementsAre(0x0000, 0x001F, 0x0100, 0x1001));
    ASSERT_GT(pat_times.size(), 20u);
    for (size_t i = 1; i < pat_times.size(); ++i) {
      // A round due on a clock reference's slot moves one slot on.
      EXPECT_LE(pat_times[i] - pat_times[i - 1], kPsiPeriod + 2 * interval);
      EXPECT_GE(pat_times[i] - pat_times[i - 1], kPsiPeriod - 2 * interval);
    }
    ASSERT_GT(sit_times.size(), 2u);
    EXPECT_EQ(sit_times.size(), (pat_times.size() + 8) / 9);
  }
}

TEST(MuxerTiming, KeyPointsNameTheirUnitsFirstPacket) {
  FakeTrack video(coding::kH264, 100, 30000, 1501);
  MuxOutput out;
  Mux({&video}, out);
  ASSERT_EQ(out.result, 0);
  const std::vector<Packet> packets = ReadPackets(out.stream);
  const auto& entries = out.muxer.clip_info().cpi.ep_map.Entries;
  ASSERT_EQ(entries.size(), 1u);
  ASSERT_EQ(entries[0].KeyPoints.size(), 10u);
  for (const KEY_POINT_INFO& key : entries[0].KeyPoints) {
    ASSERT_LT(key.SpnEnd, packets.size());
    EXPECT_EQ(packets[key.SpnStart].pid, 0x1011);
    EXPECT_TRUE(packets[key.SpnStart].unit_start);
    EXPECT_GT(key.SpnEnd, key.SpnStart);
  }
  EXPECT_EQ(out.muxer.clip_info().clip_info.NumberOfSourcePackets, packets.size());
  EXPECT_EQ(out.muxer.clip_info().sequence_info.StcInfos.at(0).StartPTS, 27000000u);
}

TEST(MuxerTrackList, GroupsGetTheirPidsAndOverflowFails) {
  struct Case {
    uint8_t type;
    uint8_t primary;
    int count;
    uint32_t first_pid;
    bool fits;
  };
  const Case cases[] = {
      {coding::kH264, 1, 1, 0x1011, true},
      {coding::kH264, 1, 2, 0, false},
      {coding::kAc3, 1, 32, 0x1100, true},
      {coding::kAc3, 1, 33, 0, false},
      {coding::kPg, 1, 40, 0x1200, true},
      {coding::kIg, 1, 33, 0, false},
      {coding::kEac3Secondary, 0, 32, 0x1A00, true},
      {coding::kH264, 0, 33, 0, false},
      {0x92, 1, 2, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << int{c.type} << " x" << c.count);
    std::vector<std::unique_ptr<FakeTrack>> owned;
    std::vector<SMuxTrack*> tracks;
    for (int i = 0; i < c.count; ++i) {
      owned.push_back(std::make_unique<FakeTrack>(c.type, 1, 10, 10));
      owned.back()->primary = c.primary;
      owned.back()->order = c.count - i;
      tracks.push_back(owned.back().get());
    }
    std::string error;
    const auto list = BuildTrackList(tracks, &error);
    EXPECT_EQ(list.has_value(), c.fits) << error;
    if (!list) {
      EXPECT_THAT(error, HasSubstr("at most"));
      continue;
    }
    EXPECT_EQ(list->front()->output_pid, c.first_pid);
    EXPECT_EQ(list->front(), tracks.back());  // lowest order first
  }
}

TEST(MuxerInitialise, RefusesWhatCannotBeWritten) {
  test::ScopedRecordingPrompt prompt;
  FakeTrack audio(coding::kAc3, 10, 100, 2880);
  std::vector<SMuxTrack*> one = {&audio};
  ASSERT_TRUE(BuildTrackList(one, nullptr));
  CMuxer zero_rate;
  EXPECT_FALSE(zero_rate.Initialise(one, 1, 0, 0));
  // 200 program map entries need more than one section.
  std::vector<std::unique_ptr<FakeTrack>> owned;
  std::vector<SMuxTrack*> many;
  for (int i = 0; i < 200; ++i) {
    owned.push_back(std::make_unique<FakeTrack>(coding::kPg, 1, 10, 10));
    owned.back()->output_pid = 0x1200 + i;
    many.push_back(owned.back().get());
  }
  CMuxer big_pmt;
  EXPECT_FALSE(big_pmt.Initialise(many, 1, 0, kDefaultMuxRate));
  EXPECT_EQ(prompt.entries().size(), 2u);
}

TEST(MuxerRun, CancelEndsWithOne) {
  FakeTrack video(coding::kH264, 3000, 30000, 1501);  // 90 MB: several progress reports
  test::CancelAfter cancel(4);
  MuxOutput out;
  Mux({&video}, out, kDefaultMuxRate, cancel.callback());
  EXPECT_EQ(out.result, 1);
  ASSERT_GE(cancel.records().size(), 3u);
  EXPECT_EQ(cancel.records()[0].title, "Muxing");
  EXPECT_THAT(cancel.records()[1].message, HasSubstr("Muxing "));
}

}  // namespace
}  // namespace tessel
