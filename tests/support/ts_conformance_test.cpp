// The stream checker itself: it passes the clips an independent muxer wrote, finds each kind of
// fault made into a copy of one, and its buffer model gives the figures worked out by hand on
// small streams built here.
#include "support/ts_conformance.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <set>

#include "support/test_support.h"
#include "support/ts_oracles.h"

namespace tessel::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

constexpr int64_t kInterval = 846;  // one source packet at 48 Mbit/s

// The fixture discs' own muxer keeps looser periods than ours (PAT, PMT and PCR up to 109 ms
// apart at a clip's end, a SIT every tenth or eleventh round), writes the first packets of a
// clip that continues another 148 ticks apart, and sends audio about 0.45 s ahead in bursts,
// more than the AC-3 buffers of our model hold. Everything else holds as strictly as for ours,
// units still pass through the buffers to be timed.
TsCheckOptions PeerOptions() {
  TsCheckOptions o;
  o.min_arrival_step = 148;
  o.max_pcr_gap = 110 * 27000;
  o.max_psi_gap = 110 * 27000;
  o.max_rounds_per_sit = 11;
  o.check_overflow = false;
  return o;
}

std::set<TsFault> Faults(const TsReport& r) {
  std::set<TsFault> out;
  for (const auto& [fault, count] : r.counts) out.insert(fault);
  return out;
}

std::vector<uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every clip of a disc folder below `root`, with its clip information.
std::vector<std::pair<fs::path, fs::path>> DiscClips(const fs::path& root) {
  std::vector<std::pair<fs::path, fs::path>> out;
  if (!fs::is_directory(root)) return out;
  for (const auto& disc : fs::directory_iterator(root)) {
    const fs::path stream = disc.path() / "BDMV" / "STREAM";
    if (!fs::is_directory(stream)) continue;
    for (const auto& f : fs::directory_iterator(stream)) {
      if (f.path().extension() != ".m2ts") continue;
      fs::path clpi = disc.path() / "BDMV" / "CLIPINF" / f.path().filename();
      out.emplace_back(f.path(), clpi.replace_extension(".clpi"));
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST(TsConformance, PassesEveryFixtureClip) {
  std::vector<std::pair<fs::path, fs::path>> clips = DiscClips(DataPath("discs"));
  const std::vector<std::pair<fs::path, fs::path>> whole = DiscClips(SharedFixtures() / "discs");
  clips.insert(clips.end(), whole.begin(), whole.end());
  clips.emplace_back(DataPath("ts/multiclip_00002.m2ts"), DataPath("ts/multiclip_00002.clpi"));
  ASSERT_GE(clips.size(), 9u);
  for (const auto& [m2ts, clpi] : clips) {
    SCOPED_TRACE(m2ts.string());
    const TsReport r = CheckTransportStream(m2ts, clpi, PeerOptions());
    EXPECT_TRUE(r.ok()) << r.Text();
    EXPECT_EQ(r.recording_rate, 48000000u);
    EXPECT_EQ(r.packets * 192, r.file_size);
    EXPECT_FALSE(r.streams.empty());
    EXPECT_NE(r.first_elementary_packet, UINT64_MAX);
  }
  if (whole.empty()) GTEST_SKIP() << "shared fixture discs missing: only the copies were checked";
}

// What the checker makes of the whole clips, against what their README states: picture counts,
// buffer models taken from the streams, and no continuity fault in the blank clip, whose five
// counter jumps (as another tool counts them) all sit on packets without payload.
TEST(TsConformance, SeesTheFixtureStreams) {
  struct Case {
    const char* clip;
    uint16_t pcr_pid;
    uint64_t video_units;
    std::vector<std::pair<uint16_t, std::string>> models;
  };
  const Case cases[] = {
      {"disc-simple/BDMV/STREAM/00000.m2ts",
       0x1001,
       240,
       {{0x1011, "avc 41"}, {0x1100, "ac3"}, {0x1101, "lpcm"}, {0x1200, "graphics"}}},
      {"disc-audio-zoo/BDMV/STREAM/00000.m2ts",
       0x1001,
       300,
       {{0x1011, "avc 41"},
        {0x1100, "ac3"},
        {0x1101, "eac3"},
        {0x1102, "dts"},
        {0x1103, "ac3 + truehd"},
        {0x1104, "lpcm"},
        {0x1A00, "eac3 secondary"}}},
      {"disc-mpeg2/BDMV/STREAM/00000.m2ts", 0x1001, 150, {{0x1011, "mpeg2 0x44"}, {0x1100, "ac3"}}},
      {"disc-emptyplaylist/BDMV/STREAM/01900.m2ts", 0x1011, 12, {{0x1011, "avc 41"}}},
  };
  const fs::path root = SharedFixtures() / "discs";
  if (!fs::is_directory(root)) GTEST_SKIP() << "shared fixture discs missing";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.clip);
    const TsReport r = CheckTransportStream(root / c.clip, std::nullopt, PeerOptions());
    EXPECT_TRUE(r.ok()) << r.Text();
    EXPECT_EQ(r.pcr_pid, c.pcr_pid);
    ASSERT_NE(r.Stream(0x1011), nullptr);
    EXPECT_EQ(r.Stream(0x1011)->units, c.video_units);
    for (const auto& [pid, model] : c.models) {
      ASSERT_NE(r.Stream(pid), nullptr) << pid;
      EXPECT_EQ(r.Stream(pid)->buffer_model, model) << pid;
      EXPECT_GT(r.Stream(pid)->least_slack, 0) << pid;
    }
  }
}

// The blank clip's PCR-only packets carry the counter of the packet after them, which repeats it:
// counted over every packet the counter jumps (another tool finds five errors there), counted
// over the packets with payload, as the standard has it, it runs without a gap.
TEST(TsConformance, CountsContinuityOnPacketsWithPayloadOnly) {
  const std::vector<uint8_t> b = ReadData("ts/emptyplaylist_01900.m2ts");
  int jumps = 0, jumps_after_no_payload = 0, last = -1;
  bool last_had_payload = true;
  for (size_t i = 0; i < b.size() / 192; ++i) {
    const uint8_t* ts = &b[i * 192 + 4];
    if (((ts[1] & 0x1F) << 8 | ts[2]) != 0x1011) continue;
    const int cc = ts[3] & 0x0F;
    if (last >= 0 && cc != ((last + 1) & 0x0F)) {
      ++jumps;
      jumps_after_no_payload += !last_had_payload;
    }
    last = cc;
    last_had_payload = (ts[3] & 0x10) != 0;
  }
  EXPECT_GE(jumps, 5);
  EXPECT_EQ(jumps_after_no_payload, jumps);
  const TsReport r = CheckTransportStream(DataPath("ts/emptyplaylist_01900.m2ts"));
  EXPECT_EQ(r.Count(TsFault::kContinuity), 0u) << r.Text();
  EXPECT_TRUE(r.ok()) << r.Text();
  EXPECT_EQ(r.pcr_pid, 0x1011);
}

TEST(TsConformance, ReadsAFileAsItReadsTheBytes) {
  for (const fs::path& path : {DataPath("ts/multiclip_00002.m2ts"),
                               SharedFixtures() / "discs/disc-simple/BDMV/STREAM/00000.m2ts"}) {
    if (!fs::exists(path)) continue;
    SCOPED_TRACE(path.string());
    const std::vector<uint8_t> bytes = ReadFile(path);
    EXPECT_EQ(CheckTransportStream(path, std::nullopt, PeerOptions()).Text(),
              CheckTransportStream(bytes, PeerOptions()).Text());
  }
}

TEST(TsConformance, SaysWhenTheFileIsMissing) {
  TempDir dir;
  const TsReport r = CheckTransportStream(dir / "missing.m2ts");
  EXPECT_EQ(r.Count(TsFault::kUnreadable), 1u);
  EXPECT_THAT(r.Text(), HasSubstr("cannot open"));
}

TEST(TsConformance, TakesTheRateFromTheClipInformation) {
  EXPECT_EQ(ClpiRecordingRate(DataPath("ts/multiclip_00002.clpi")), 48000000u);
  TempDir dir;
  std::vector<uint8_t> clpi = ReadFile(DataPath("ts/multiclip_00002.clpi"));
  // 3000000 bytes per second: packets of the 48 Mbit/s clip now come too close together.
  clpi[52] = 0x00, clpi[53] = 0x2D, clpi[54] = 0xC6, clpi[55] = 0xC0;
  std::ofstream(dir / "slow.clpi", std::ios::binary)
      .write(reinterpret_cast<const char*>(clpi.data()), static_cast<std::streamsize>(clpi.size()));
  TsCheckOptions options = PeerOptions();
  options.min_arrival_step = 0;
  const TsReport r =
      CheckTransportStream(DataPath("ts/multiclip_00002.m2ts"), dir / "slow.clpi", options);
  EXPECT_EQ(r.recording_rate, 24000000u);
  EXPECT_EQ(r.interval, 1692);
  EXPECT_GT(r.Count(TsFault::kArrivalOrder), 0u);
}

// ---------------------------------------------------------------------------------------------
// Faults made into a copy of a fixture clip.

struct Damage {
  const char* name;
  std::function<void(std::vector<uint8_t>&)> make;
  std::set<TsFault> expected;
};

uint16_t PidAt(const std::vector<uint8_t>& b, size_t packet) {
  return static_cast<uint16_t>((b[packet * 192 + 5] & 0x1F) << 8 | b[packet * 192 + 6]);
}
uint32_t AtsAt(const std::vector<uint8_t>& b, size_t packet) {
  const uint8_t* p = &b[packet * 192];
  return (uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]) & 0x3FFFFFFF;
}
void SetAts(std::vector<uint8_t>& b, size_t packet, uint32_t ats) {
  uint8_t* p = &b[packet * 192];
  ats &= 0x3FFFFFFF;
  p[0] = static_cast<uint8_t>((p[0] & 0xC0) | ats >> 24);
  p[1] = static_cast<uint8_t>(ats >> 16), p[2] = static_cast<uint8_t>(ats >> 8);
  p[3] = static_cast<uint8_t>(ats);
}
// Turns a packet into a null packet, keeping its arrival time.
void Nullify(std::vector<uint8_t>& b, size_t packet) {
  uint8_t* ts = &b[packet * 192 + 4];
  ts[1] = 0x1F, ts[2] = 0xFF, ts[3] = 0x10;
  std::fill(ts + 4, ts + 188, 0xFF);
}
size_t Packets(const std::vector<uint8_t>& b) {
  return b.size() / 192;
}
// Moves the PCR of a packet that carries one by `ticks` (27 MHz).
void ShiftPcr(std::vector<uint8_t>& b, size_t packet, int64_t ticks) {
  uint8_t* c = &b[packet * 192 + 10];
  int64_t value = (int64_t{c[0]} << 25 | int64_t{c[1]} << 17 | int64_t{c[2]} << 9 |
                   int64_t{c[3]} << 1 | c[4] >> 7) *
                      300 +
                  ((c[4] & 1) << 8 | c[5]);
  value += ticks;
  const int64_t base = value / 300, ext = value % 300;
  c[0] = static_cast<uint8_t>(base >> 25), c[1] = static_cast<uint8_t>(base >> 17);
  c[2] = static_cast<uint8_t>(base >> 9), c[3] = static_cast<uint8_t>(base >> 1);
  c[4] = static_cast<uint8_t>((base & 1) << 7 | 0x7E | ext >> 8), c[5] = static_cast<uint8_t>(ext);
}

// The index of the n-th packet (from 0) on `pid`.
size_t NthOn(const std::vector<uint8_t>& b, uint16_t pid, int n) {
  for (size_t i = 0; i < Packets(b); ++i) {
    if (PidAt(b, i) == pid && n-- == 0) return i;
  }
  ADD_FAILURE() << "too few packets on " << pid;
  return 0;
}

TEST(TsConformance, FindsFaultsMadeIntoAFixtureClip) {
  const std::vector<uint8_t> clean = ReadData("ts/multiclip_00002.m2ts");
  ASSERT_TRUE(CheckTransportStream(clean, PeerOptions()).ok());
  const Damage cases[] = {
      {"dropped packet",
       [](auto& b) {
         const size_t at = NthOn(b, 0x1011, 1000) * 192;
         b.erase(b.begin() + static_cast<std::ptrdiff_t>(at),
                 b.begin() + static_cast<std::ptrdiff_t>(at + 192));
       },
       {TsFault::kContinuity, TsFault::kSize}},
      {"cut file", [](auto& b) { b.resize(b.size() - 1000); }, {TsFault::kSize}},
      {"cut to whole packets", [](auto& b) { b.resize(b.size() - 192 * 5); }, {TsFault::kSize}},
      {"bad sync byte", [](auto& b) { b[NthOn(b, 0x1FFF, 0) * 192 + 4] = 0x46; }, {TsFault::kSync}},
      {"arrival time going back",
       [](auto& b) {
         const size_t at = NthOn(b, 0x1011, 500);
         SetAts(b, at, AtsAt(b, at - 1) - 2 * kInterval);
       },
       {TsFault::kArrivalOrder}},
      {"arrival time too close",
       [](auto& b) {
         const size_t at = NthOn(b, 0x1100, 100);
         SetAts(b, at, AtsAt(b, at - 1) + 100);
       },
       {TsFault::kArrivalOrder}},
      {"continuity counter skipped",
       [](auto& b) {
         uint8_t& cc = b[NthOn(b, 0x1100, 50) * 192 + 7];
         cc = static_cast<uint8_t>((cc & 0xF0) | ((cc + 1) & 0x0F));
       },
       {TsFault::kContinuity}},
      {"PCRs missing for 0.3 s",
       [](auto& b) {
         for (int n = 5; n < 8; ++n) Nullify(b, NthOn(b, 0x1001, n));
       },
       {TsFault::kPcrGap}},
      {"a PCR off its arrival time",
       [](auto& b) { ShiftPcr(b, NthOn(b, 0x1001, 9), 30000); },
       {TsFault::kPcrDrift}},
      {"a PAT missing",
       [](auto& b) { Nullify(b, NthOn(b, 0x0000, 10)); },
       {TsFault::kPatGap, TsFault::kContinuity}},
      {"a PMT missing",
       [](auto& b) { Nullify(b, NthOn(b, 0x0100, 10)); },
       {TsFault::kPmtGap, TsFault::kContinuity}},
      {"a SIT missing",
       [](auto& b) { Nullify(b, NthOn(b, 0x001F, 1)); },
       {TsFault::kSitGap, TsFault::kContinuity}},
      {"first PAT missing", [](auto& b) { Nullify(b, 0); }, {TsFault::kLateSystemPacket}},
      {"no PAT at all",
       [](auto& b) {
         for (size_t i = 0; i < Packets(b); ++i) {
           if (PidAt(b, i) == 0) Nullify(b, i);
         }
       },
       // Without the PAT nothing else can be told from elementary data.
       {TsFault::kPatGap, TsFault::kPmtGap, TsFault::kPcrGap, TsFault::kLateSystemPacket}},
      {"elementary packet before the first PCR",
       [](auto& b) {
         std::swap_ranges(b.begin() + 3 * 192 + 4, b.begin() + 4 * 192, b.begin() + 4 * 192 + 4);
         ShiftPcr(b, 4, AtsAt(b, 4) - AtsAt(b, 3));  // the PCR keeps to its new arrival time
       },
       {TsFault::kLateSystemPacket}},
      {"arrival times wrapping halfway (no fault)",
       [](auto& b) {
         const uint32_t shift = (1u << 30) - AtsAt(b, Packets(b) / 2);
         for (size_t i = 0; i < Packets(b); ++i) SetAts(b, i, AtsAt(b, i) + shift);
       },
       {}},
      {"second half a second late",
       [](auto& b) {
         for (size_t i = Packets(b) / 2; i < Packets(b); ++i) {
           SetAts(b, i, AtsAt(b, i) + 13500000);
         }
       },
       // The PCRs keep their values, so they now lie off the arrival clock.
       {TsFault::kUnitLate, TsFault::kPatGap, TsFault::kPmtGap, TsFault::kPcrDrift}},
  };
  for (const Damage& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = clean;
    c.make(bytes);
    const TsReport r = CheckTransportStream(bytes, PeerOptions());
    EXPECT_EQ(Faults(r), c.expected) << r.Text();
  }
}

TEST(TsConformance, FindsOverflowWhenArrivalIsSqueezed) {
  // Every packet one interval after the one before: the audio comes in far ahead of its time.
  std::vector<uint8_t> bytes = ReadData("ts/multiclip_00002.m2ts");
  TsCheckOptions options = PeerOptions();
  options.check_overflow = true;
  const TsReport clean = CheckTransportStream(bytes, options);
  ASSERT_NE(clean.Stream(0x1100), nullptr);
  const uint32_t first = AtsAt(bytes, 0);
  for (size_t i = 0; i < Packets(bytes); ++i) {
    SetAts(bytes, i, first + static_cast<uint32_t>(i * kInterval));
  }
  const TsReport squeezed = CheckTransportStream(bytes, options);
  EXPECT_EQ(Faults(squeezed), (std::set<TsFault>{TsFault::kBufferOverflow, TsFault::kPcrDrift}))
      << squeezed.Text();
  EXPECT_GT(squeezed.Stream(0x1100)->overflows, clean.Stream(0x1100)->overflows + 100);
  EXPECT_GT(squeezed.Stream(0x1100)->peak_eb, 2 * clean.Stream(0x1100)->peak_eb);
}

// ---------------------------------------------------------------------------------------------
// Small streams built here, for the buffer model's figures.

class StreamBuilder {
 public:
  // PAT, PMT (PCR on 0x1001, the given streams), SIT and a PCR of value `ats` (so that the
  // stream's time and the arrival clock coincide), one interval apart from `ats` on.
  explicit StreamBuilder(std::vector<std::pair<uint16_t, uint8_t>> streams,
                         uint32_t ats = 27000000) {
    const std::vector<uint8_t> pat = {0x00, 0xB0, 0x11, 0, 0,    0xC1, 0, 0, 0, 0,
                                      0xE0, 0x1F, 0,    1, 0xE1, 0,    0, 0, 0, 0};
    Section(ats, 0x0000, pat);
    std::vector<uint8_t> pmt = {0x02, 0xB0, 0, 0, 1, 0xC1, 0, 0, 0xF0, 0x01, 0xF0, 0};
    for (const auto& [pid, type] : streams) {
      pmt.insert(pmt.end(),
                 {type, static_cast<uint8_t>(0xE0 | pid >> 8), static_cast<uint8_t>(pid), 0xF0, 0});
    }
    pmt.insert(pmt.end(), 4, 0);  // CRC, which nothing here checks
    pmt[2] = static_cast<uint8_t>(pmt.size() - 3);
    Section(ats + kInterval, 0x0100, pmt);
    Section(ats + 2 * kInterval, 0x001F, {0x7F, 0xB0, 9, 0xFF, 0xFF, 0xC1, 0, 0, 0, 0, 0, 0});
    Pcr(ats + 3 * kInterval, ats + 3 * kInterval);
    next_ = ats + 4 * kInterval;
  }

  uint32_t next() const { return next_; }

  // One PES of `es_bytes` bytes with decoding time `dts` (90 kHz), first bytes `head`, its
  // packets `step` ticks apart from `ats` on.
  void Pes(uint16_t pid, uint32_t ats, int64_t step, int64_t dts, size_t es_bytes,
           std::vector<uint8_t> head = {}) {
    std::vector<uint8_t> pes = {0, 0, 1, 0xBD, 0, 0, 0x81, 0x80, 5};
    const int64_t pts = dts;
    pes.insert(pes.end(), {static_cast<uint8_t>(0x21 | (pts >> 29 & 0x0E)),
                           static_cast<uint8_t>(pts >> 22), static_cast<uint8_t>(pts >> 14 | 1),
                           static_cast<uint8_t>(pts >> 7), static_cast<uint8_t>(pts << 1 | 1)});
    head.resize(std::max(head.size(), es_bytes), 0xAA);
    pes.insert(pes.end(), head.begin(), head.end());
    for (size_t at = 0; at < pes.size(); at += 184) {
      const size_t n = std::min<size_t>(184, pes.size() - at);
      Payload(static_cast<uint32_t>(ats), pid, at == 0, {pes.data() + at, n});
      ats += step;
    }
    next_ = static_cast<uint32_t>(ats);
  }

  // Null packets up to a whole aligned unit.
  std::vector<uint8_t> Finish() {
    while (bytes_.size() % 6144 != 0) {
      Payload(next_, 0x1FFF, false, {});
      next_ += kInterval;
    }
    return bytes_;
  }

 private:
  uint8_t* Header(uint32_t ats, uint16_t pid, bool start) {
    bytes_.resize(bytes_.size() + 192, 0xFF);
    uint8_t* p = &bytes_[bytes_.size() - 192];
    p[0] = static_cast<uint8_t>(ats >> 24 & 0x3F), p[1] = static_cast<uint8_t>(ats >> 16);
    p[2] = static_cast<uint8_t>(ats >> 8), p[3] = static_cast<uint8_t>(ats);
    p[4] = 0x47;
    p[5] = static_cast<uint8_t>((start ? 0x40 : 0) | pid >> 8), p[6] = static_cast<uint8_t>(pid);
    return p + 4;
  }

  // A payload of up to 184 bytes, the rest of the packet stuffed in its adaptation field.
  void Payload(uint32_t ats, uint16_t pid, bool start, std::span<const uint8_t> payload) {
    uint8_t* ts = Header(ats, pid, start);
    const size_t stuffing = 184 - payload.size();
    ts[3] = static_cast<uint8_t>((stuffing ? 0x30 : 0x10) | (counters_[pid]++ & 0x0F));
    if (stuffing) {
      ts[4] = static_cast<uint8_t>(stuffing - 1);
      if (stuffing > 1) ts[5] = 0;
    }
    std::copy(payload.begin(), payload.end(), ts + 4 + stuffing);
  }

  void Section(uint32_t ats, uint16_t pid, std::vector<uint8_t> section) {
    section.insert(section.begin(), 0);  // pointer_field
    Payload(ats, pid, true, section);
    // Sections here are short; the rest of the packet is 0xFF as the standard has it.
  }

  void Pcr(uint32_t ats, int64_t value) {
    uint8_t* ts = Header(ats, 0x1001, false);
    ts[3] = 0x20;
    ts[4] = 183, ts[5] = 0x10;
    const int64_t base = value / 300, ext = value % 300;
    ts[6] = static_cast<uint8_t>(base >> 25), ts[7] = static_cast<uint8_t>(base >> 17);
    ts[8] = static_cast<uint8_t>(base >> 9), ts[9] = static_cast<uint8_t>(base >> 1);
    ts[10] = static_cast<uint8_t>((base & 1) << 7 | 0x7E | ext >> 8);
    ts[11] = static_cast<uint8_t>(ext);
  }

  std::vector<uint8_t> bytes_;
  std::map<uint16_t, int> counters_;
  uint32_t next_ = 0;
};

constexpr int64_t kSecond90k = 90000;
const std::vector<uint8_t> kAc3Head = {0x0B, 0x77, 0, 0, 0, 0x40};   // bsid 8
const std::vector<uint8_t> kEac3Head = {0x0B, 0x77, 0, 0, 0, 0x80};  // bsid 16
const std::vector<uint8_t> kMlpHead = {0, 0, 0, 0, 0xF8, 0x72, 0x6F, 0xBA};

TEST(TsConformanceBuffers, TransportBufferOfAnAc3Stream) {
  // 2 Mbit/s drain out of 512 bytes: 7.83 bytes leave per interval, so two packets back to back
  // fit (360.3 bytes), a third one does not (540.5).
  struct Case {
    size_t es_bytes;
    int64_t step;
    int64_t peak;
    bool overflow;
  };
  const Case cases[] = {
      {300, kInterval, 361, false},
      {500, kInterval, 541, true},
      {500, 30 * kInterval, 181, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.es_bytes << " bytes, step " << c.step);
    StreamBuilder b({{0x1100, 0x81}});
    b.Pes(0x1100, b.next(), c.step, 2 * kSecond90k, c.es_bytes, kAc3Head);
    const TsReport r = CheckTransportStream(b.Finish());
    ASSERT_NE(r.Stream(0x1100), nullptr);
    EXPECT_EQ(r.Stream(0x1100)->peak_tb, c.peak) << r.Text();
    EXPECT_EQ(r.Count(TsFault::kBufferOverflow) > 0, c.overflow) << r.Text();
  }
}

TEST(TsConformanceBuffers, MultiplexBufferOfAVideoStream) {
  // Level 4.1 video back to back at 48 Mbit/s: 184 bytes in and 156.7 out per interval, so the
  // 40000-byte multiplex buffer overflows after about 1450 packets; at every other slot it
  // keeps up.
  struct Case {
    int64_t step;
    bool overflow;
  };
  for (const Case& c : {Case{kInterval, true}, Case{2 * kInterval, false}}) {
    SCOPED_TRACE(c.step);
    StreamBuilder b({{0x1011, 0x1B}});
    b.Pes(0x1011, b.next(), c.step, 20 * kSecond90k, 1600 * 184, {0, 0, 0, 1, 0x67, 100, 0, 41});
    const TsReport r = CheckTransportStream(b.Finish());
    EXPECT_EQ(r.Stream(0x1011)->overflows > 0, c.overflow) << r.Text();
    EXPECT_EQ(r.Stream(0x1011)->peak_tb, 0);  // drained as fast as it fills
    if (c.overflow) {
      EXPECT_THAT(r.Text(), HasSubstr("multiplex buffer (avc 41)"));
    }
  }
}

TEST(TsConformanceBuffers, UnitsLeaveAtTheirDecodingTime) {
  // The unit arrives at about 1.0001 s on the stream's clock: its DTS either side of that.
  struct Case {
    int64_t dts;
    bool late;
  };
  for (const Case& c : {Case{kSecond90k + 90, false}, Case{kSecond90k - 90, true}}) {
    SCOPED_TRACE(c.dts);
    StreamBuilder b({{0x1100, 0x81}});
    b.Pes(0x1100, b.next(), 50 * kInterval, c.dts, 150, kAc3Head);
    const TsReport r = CheckTransportStream(b.Finish());
    EXPECT_EQ(r.Count(TsFault::kUnitLate), c.late ? 1u : 0u) << r.Text();
    EXPECT_THAT(r.Text(), c.late ? HasSubstr("after its DTS") : HasSubstr("least slack"));
  }
}

TEST(TsConformanceBuffers, ElementaryBufferHoldsUndecodedUnits) {
  // PG: 1 MiB of segments waiting for a late decoding time, then one packet more.
  StreamBuilder b({{0x1200, 0x90}});
  b.Pes(0x1200, b.next(), kInterval, 100 * kSecond90k, 1048576 - 2 * 184);
  b.Pes(0x1200, b.next(), kInterval, 100 * kSecond90k + 1, 400);
  const TsReport r = CheckTransportStream(b.Finish());
  EXPECT_EQ(r.Count(TsFault::kBufferOverflow), 1u) << r.Text();
  EXPECT_THAT(r.Text(), HasSubstr("elementary buffer (graphics)"));
}

TEST(TsConformanceBuffers, PicksTheModelOfEachSubStream) {
  // AC-3 with E-AC-3 on one PID and TrueHD with its AC-3 core on another: each unit goes to the
  // buffer of its part; secondary E-AC-3 gets the smaller one.
  StreamBuilder b({{0x1100, 0x84}, {0x1101, 0x83}, {0x1A00, 0xA1}});
  uint32_t t = b.next();
  for (int i = 0; i < 3; ++i) {
    // The E-AC-3 PID starts with its extension, the TrueHD one with its core.
    b.Pes(0x1100, t, 20 * kInterval, 2 * kSecond90k + i, 100, i % 2 ? kAc3Head : kEac3Head);
    b.Pes(0x1101, b.next() + 10 * kInterval, 20 * kInterval, 2 * kSecond90k + i, 100,
          i % 2 ? kMlpHead : kAc3Head);
    b.Pes(0x1A00, b.next() + 10 * kInterval, 20 * kInterval, 2 * kSecond90k + i, 100, kEac3Head);
    t = b.next() + 20 * kInterval;
  }
  const TsReport r = CheckTransportStream(b.Finish());
  EXPECT_TRUE(r.ok()) << r.Text();
  EXPECT_EQ(r.Stream(0x1100)->buffer_model, "ac3 + eac3");
  EXPECT_EQ(r.Stream(0x1101)->buffer_model, "ac3 + truehd");
  EXPECT_EQ(r.Stream(0x1A00)->buffer_model, "eac3 secondary");
}

TEST(TsConformanceBuffers, VideoLevelPicksTheRates) {
  struct Case {
    uint16_t pid;
    uint8_t type;
    std::vector<uint8_t> head;
    const char* model;
  };
  const Case cases[] = {
      {0x1011, 0x1B, {0, 0, 0, 1, 0x67, 100, 0, 30}, "avc 30"},
      {0x1011, 0x1B, {0, 0, 0, 1, 0x67, 100, 0, 32}, "avc 32"},
      {0x1B00, 0x1B, {0, 0, 0, 1, 0x67, 100, 0, 32}, "avc 32 secondary"},
      {0x1011, 0x1B, {0, 0, 0, 1, 0x67, 100, 0, 50}, "avc other level"},
      {0x1011, 0x02, {0, 0, 1, 0xB5, 0x14, 0x60, 0}, "mpeg2 0x46"},
      {0x1011, 0xEA, {0, 0, 1, 0x0F, 0xD0, 0, 0}, "vc1 2"},
      {0x1011, 0x1B, {}, "avc 41"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    StreamBuilder b({{c.pid, c.type}});
    b.Pes(c.pid, b.next(), kInterval, 2 * kSecond90k, 1000, c.head);
    const TsReport r = CheckTransportStream(b.Finish());
    ASSERT_NE(r.Stream(c.pid), nullptr);
    EXPECT_EQ(r.Stream(c.pid)->buffer_model, c.model) << r.Text();
  }
}

}  // namespace
}  // namespace tessel::test
