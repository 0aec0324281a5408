#include "es/h264.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "es/h264_syntax.h"
#include "support/test_support.h"
#include "support/video_probe.h"

namespace tessel {
namespace {

using video::AccessUnit;

int AnalyzeBytes(const std::vector<uint8_t>& bytes, H264Analysis& out) {
  MemoryByteSource source(bytes);
  return AnalyzeH264(source, nullptr, out);
}

int AnalyzeFile(const std::string& name, H264Analysis& out) {
  FileByteSource source;
  EXPECT_TRUE(source.Open(test::DataPath("es/video/" + name)));
  return AnalyzeH264(source, nullptr, out);
}

struct Fixture {
  const char* file;
  uint32_t width, height;
  uint8_t frame_rate_code, video_format;
  bool progressive;
  double au_duration;
  uint32_t extra;  // field_pic_flag | field periods x 2
  int reorder;     // frames between decoding and showing the first picture
};

class H264Fixture : public testing::TestWithParam<Fixture> {};

TEST_P(H264Fixture, AttributesMatchTheStream) {
  const Fixture& f = GetParam();
  test::ScopedRecordingPrompt prompt;
  H264Analysis a;
  ASSERT_EQ(AnalyzeFile(f.file, a), 0);
  EXPECT_EQ(a.video.width, f.width);
  EXPECT_EQ(a.video.height, f.height);
  EXPECT_EQ(a.video.frame_rate_code, f.frame_rate_code);
  EXPECT_EQ(a.video.video_format, f.video_format);
  EXPECT_EQ(a.video.progressive, f.progressive);
  EXPECT_EQ(a.video.profile, 100);
  EXPECT_EQ(a.video.level, 41);
  EXPECT_EQ(a.video.aspect_code, 3);
  EXPECT_NEAR(a.au_duration, f.au_duration, 1e-9);
  EXPECT_EQ(a.cpb_size, 30000000u);
  EXPECT_EQ(a.bit_rate, 40000000u);
  EXPECT_EQ(a.au_count, a.units.size());
  EXPECT_EQ(a.still_flag, 0);
  EXPECT_TRUE(prompt.entries().empty());
  uint64_t total = 0;
  for (const AccessUnit& u : a.units) {
    EXPECT_EQ(u.extra, f.extra) << u.offset;
    total += u.size;
  }
  EXPECT_EQ(total, a.total_size);
  EXPECT_EQ(total, std::filesystem::file_size(test::DataPath(std::string("es/video/") + f.file)));
}

// Decoding order, sizes and positions against the packets an independent reader cuts.
TEST_P(H264Fixture, UnitsMatchFfprobePackets) {
  if (!test::HaveFfprobe()) GTEST_SKIP() << "ffprobe missing";
  const Fixture& f = GetParam();
  H264Analysis a;
  ASSERT_EQ(AnalyzeFile(f.file, a), 0);
  const auto packets =
      test::Ffprobe(test::DataPath(std::string("es/video/") + f.file), "packet", "pos,size,flags");
  ASSERT_EQ(packets.size(), a.units.size());
  for (size_t i = 0; i < packets.size(); ++i) {
    EXPECT_EQ(packets[i].at("pos"), std::to_string(a.units[i].offset)) << i;
    EXPECT_EQ(packets[i].at("size"), std::to_string(a.units[i].size)) << i;
    const bool key = packets[i].at("flags").find('K') != std::string::npos;
    const bool ours = (a.units[i].flags & video::kRandomAccessFlag) != 0;
    // Open GOPs: the reader also counts I pictures with a recovery point as key frames; only
    // IDR pictures are random access points here.
    if (key && !ours) {
      EXPECT_EQ(a.units[i].flags & 7, video::kPictureI) << i;
    } else {
      EXPECT_EQ(key, ours) << i;
    }
  }
}

// Picture types by position, and display order: ffprobe lists frames as they are shown.
TEST_P(H264Fixture, PictureTypesAndDisplayOrderMatchFfprobeFrames) {
  if (!test::HaveFfprobe()) GTEST_SKIP() << "ffprobe missing";
  const Fixture& f = GetParam();
  H264Analysis a;
  ASSERT_EQ(AnalyzeFile(f.file, a), 0);
  const auto frames = test::Ffprobe(test::DataPath(std::string("es/video/") + f.file), "frame",
                                    "pkt_pos,pict_type,interlaced_frame");
  ASSERT_EQ(frames.size(), a.units.size());
  std::vector<AccessUnit> shown = a.units;
  std::stable_sort(shown.begin(), shown.end(),
                   [](const AccessUnit& x, const AccessUnit& y) { return x.pts < y.pts; });
  constexpr char kTypes[] = "?IPB";
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].at("pkt_pos"), std::to_string(shown[i].offset)) << i;
    EXPECT_EQ(frames[i].at("pict_type"), std::string(1, kTypes[shown[i].flags & 3])) << i;
    EXPECT_EQ(frames[i].at("interlaced_frame"), f.progressive ? "0" : "1") << i;
  }
}

// The first picture shown is at 131070; the others follow one frame period apart; every unit is
// decoded before it is shown and decoding times rise.
TEST_P(H264Fixture, TimeStampsStepByOneFrame) {
  const Fixture& f = GetParam();
  H264Analysis a;
  ASSERT_EQ(AnalyzeFile(f.file, a), 0);
  std::vector<uint32_t> pts;
  for (size_t i = 0; i < a.units.size(); ++i) {
    pts.push_back(a.units[i].pts);
    EXPECT_LE(a.units[i].dts, a.units[i].pts) << i;
    if (i > 0) {
      EXPECT_GT(a.units[i].dts, a.units[i - 1].dts) << i;
    }
  }
  std::sort(pts.begin(), pts.end());
  EXPECT_EQ(pts.front(), 131070u);
  const double period = f.au_duration * 90;
  for (size_t i = 1; i < pts.size(); ++i) {
    EXPECT_NEAR(pts[i] - pts[i - 1], period, 1.0) << i;
  }
  // An I picture that opens the stream is decoded one frame before it is shown, or two behind
  // a B-pyramid.
  EXPECT_NEAR(a.units[0].pts - a.units[0].dts, period * f.reorder, 1.0);
}

TEST_P(H264Fixture, OneGopPerIdrPeriod) {
  const Fixture& f = GetParam();
  H264Analysis a;
  ASSERT_EQ(AnalyzeFile(f.file, a), 0);
  size_t idr = 0;
  for (const AccessUnit& u : a.units) idr += (u.flags & video::kRandomAccessFlag) != 0;
  ASSERT_EQ(a.gops.size(), idr);
  size_t first = 0;
  for (const video::GopInfo& gop : a.gops) {
    const AccessUnit& i_unit = a.units[first + gop.i_index];
    EXPECT_EQ(i_unit.flags & 7, video::kPictureI);
    EXPECT_EQ(gop.i_offset, i_unit.offset);
    EXPECT_EQ(gop.i_size, i_unit.size);
    first += gop.count;
  }
  EXPECT_EQ(first, a.units.size());
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, H264Fixture,
    testing::Values(Fixture{"h264_1080p_aud.264", 1920, 1080, 1, 6, true, 1001.0 / 24, 4, 2},
                    Fixture{"h264_720p_noaud_opengop.264", 1280, 720, 7, 5, true, 1001.0 / 60, 4,
                            1},
                    Fixture{"h264_1080i_tff.264", 1920, 1080, 4, 4, false, 1001.0 / 30, 4, 1}),
    [](const testing::TestParamInfo<Fixture>& param) {
      std::string name = param.param.file;
      name = name.substr(0, name.find('.'));
      std::replace(name.begin(), name.end(), '-', '_');
      return name;
    });

// 1080p may not carry 25 frames/s, yet such a stream is taken without a word (the rate is
// known, only the pair is refused).
TEST(H264Analysis, KnownRateOutsideTheAllowedPairsIsAccepted) {
  test::ScopedRecordingPrompt prompt;
  H264Analysis a;
  EXPECT_EQ(AnalyzeFile("h264_1080p25.264", a), 0);
  EXPECT_EQ(a.video.frame_rate_code, 3);
  EXPECT_EQ(a.video.video_format, 6);
  EXPECT_TRUE(prompt.entries().empty());
  EXPECT_GT(a.au_count, 0u);
}

TEST(H264Analysis, SinglePictureIsAStill) {
  H264Analysis whole;
  ASSERT_EQ(AnalyzeFile("h264_1080p_aud.264", whole), 0);
  auto bytes = test::ReadData("es/video/h264_1080p_aud.264");
  bytes.resize(whole.units[1].offset);
  H264Analysis a;
  ASSERT_EQ(AnalyzeBytes(bytes, a), 0);
  EXPECT_EQ(a.au_count, 1u);
  EXPECT_EQ(a.still_flag, 0x80);
  EXPECT_EQ(a.constraint_flags, bytes[12]);  // kept for the AVC video descriptor of a still
  ASSERT_EQ(a.units.size(), 1u);
  EXPECT_EQ(a.units[0].size, bytes.size());
  EXPECT_EQ(a.units[0].pts, 131070u);
}

// Slices before any parameter set cannot be placed: they are dropped and the stream goes on
// from the first IDR that brings its sets.
TEST(H264Analysis, SlicesBeforeTheSetsAreDropped) {
  H264Analysis whole;
  ASSERT_EQ(AnalyzeFile("h264_1080p_aud.264", whole), 0);
  ASSERT_GE(whole.gops.size(), 2u);
  const uint32_t first_gop = whole.gops[0].count;
  auto bytes = test::ReadData("es/video/h264_1080p_aud.264");
  // Start at the second unit: the slices of the rest of the first GOP have no sets yet.
  const uint64_t cut = whole.units[1].offset;
  std::vector<uint8_t> tail(bytes.begin() + static_cast<ptrdiff_t>(cut), bytes.end());
  H264Analysis a;
  ASSERT_EQ(AnalyzeBytes(tail, a), 0);
  ASSERT_EQ(a.units.size(), whole.units.size() - first_gop);
  EXPECT_EQ(a.units[0].offset + cut, whole.units[first_gop].offset);
  EXPECT_EQ(a.units[0].pts, 131070u);
}

// Patched copies of a sound stream, refused by the checks on its first set.
TEST(H264Analysis, RefusedFirstSets) {
  H264Analysis whole;
  ASSERT_EQ(AnalyzeFile("h264_1080p25.264", whole), 0);
  const auto bytes = test::ReadData("es/video/h264_1080p25.264");
  // The stream starts with a delimiter (00 00 00 01 09 F0), then 00 00 00 01 67 and the SPS.
  ASSERT_EQ(bytes[10], 0x67);
  struct Patch {
    size_t offset;
    uint8_t value;
    int result;
  } const patches[] = {
      {11, 77, 0},   // Main profile is allowed (and read without the High fields... below)
      {11, 66, 22},  // Baseline
      {13, 50, 23},  // level 5.0
      {13, 31, 23},  // level 3.1 for HD
  };
  for (const Patch& p : patches) {
    if (p.value == 77) continue;  // a Main set would be read without its High fields
    auto copy = bytes;
    copy[p.offset] = p.value;
    H264Analysis a;
    EXPECT_EQ(AnalyzeBytes(copy, a), p.result) << p.offset << " " << int{p.value};
  }
}

struct ValidateCase {
  uint8_t profile, level;
  uint32_t width, height;
  bool progressive;
  uint8_t aspect_ratio_idc, frame_rate_code;
  int result;
};

TEST(H264Validate, DiscLimitsOnProfileLevelSizeAspectAndRate) {
  const ValidateCase cases[] = {
      {100, 41, 1920, 1080, true, 1, 1, 0},   {77, 40, 1280, 720, true, 1, 7, 0},
      {128, 41, 1440, 1080, false, 14, 4, 0}, {100, 41, 1440, 1080, false, 255, 4, 0},
      {100, 32, 720, 480, false, 3, 4, 0},    {100, 30, 720, 576, false, 4, 3, 0},
      {66, 41, 1920, 1080, true, 1, 1, 22},   {100, 42, 1920, 1080, true, 1, 1, 23},
      {100, 50, 720, 480, false, 3, 4, 23},   {100, 41, 1440, 1080, false, 1, 4, 25},
      {100, 41, 1920, 1080, true, 14, 1, 25}, {100, 41, 720, 480, false, 2, 4, 25},
      {100, 41, 720, 576, false, 3, 3, 25},   {100, 41, 640, 480, true, 1, 4, 24},
      {100, 41, 720, 360, true, 1, 4, 24},    {100, 41, 1920, 1080, true, 1, 3, 26},  // 1080p25
      {100, 41, 1920, 1080, false, 1, 1, 26},                                         // 1080i23.976
      {100, 41, 1280, 720, true, 1, 4, 26},                                           // 720p29.97
  };
  for (const ValidateCase& c : cases) {
    H264Analysis a;
    a.video.profile = c.profile;
    a.video.level = c.level;
    a.video.width = c.width;
    a.video.height = c.height;
    a.video.progressive = c.progressive;
    a.video.frame_rate_code = c.frame_rate_code;
    a.aspect_ratio_idc = c.aspect_ratio_idc;
    EXPECT_EQ(ValidateH264(a), c.result)
        << int{c.profile} << " " << int{c.level} << " " << c.width << "x" << c.height;
  }
}

TEST(H264Syntax, EmulationPreventionBytesAreDropped) {
  const std::vector<uint8_t> raw = {0x00, 0x00, 0x03, 0x01, 0x00, 0x00, 0x03, 0x00, 0x03, 0x03};
  std::vector<uint8_t> rbsp;
  RemoveEmulationPrevention(raw, rbsp);
  EXPECT_EQ(rbsp, (std::vector<uint8_t>{0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x03, 0x03}));
}

TEST(H264Syntax, ParameterSetLookupFallsBackToTheNearestId) {
  H264ParamSets sets;
  EXPECT_EQ(sets.FindPps(0), nullptr);
  for (const uint32_t id : {3u, 9u}) {
    auto pps = std::make_unique<H264Pps>();
    pps->pic_parameter_set_id = id;
    sets.Store(std::move(pps));
  }
  EXPECT_EQ(sets.FindPps(3)->pic_parameter_set_id, 3u);
  EXPECT_EQ(sets.FindPps(5)->pic_parameter_set_id, 3u);
  EXPECT_EQ(sets.FindPps(8)->pic_parameter_set_id, 3u);  // below first, even when above is nearer
  EXPECT_EQ(sets.FindPps(1)->pic_parameter_set_id, 3u);
  EXPECT_EQ(sets.FindPps(100000)->pic_parameter_set_id, 9u);
}

TEST(H264Syntax, FieldPeriodsOfPicStruct) {
  const uint32_t expected[16] = {2, 1, 1, 2, 2, 3, 3, 4, 6, 0, 0, 0, 0, 0, 0, 0};
  for (uint8_t i = 0; i < 16; ++i) EXPECT_EQ(H264FieldPeriods(i), expected[i]) << int{i};
}

// A truncated or damaged stream never fails the reader; it yields what it can.
TEST(H264Analysis, TruncatedStreamsEndCleanly) {
  const auto bytes = test::ReadData("es/video/h264_720p_noaud_opengop.264");
  for (const size_t size : {0u, 3u, 4u, 5u, 20u, 40u, 1000u, 20000u}) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(size));
    H264Analysis a;
    const int r = AnalyzeBytes(cut, a);
    EXPECT_TRUE(r == 0 || r == video::result::kNoSps || r == video::result::kSyntaxIllegal)
        << size << " " << r;
    uint64_t end = 0;
    for (const AccessUnit& u : a.units) end = std::max(end, u.offset + u.size);
    EXPECT_LE(end, size);
  }
}

}  // namespace
}  // namespace tessel
