#include "es/mpeg2.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/test_support.h"
#include "support/video_probe.h"

namespace tessel {
namespace {

using video::AccessUnit;

int AnalyzeBytes(const std::vector<uint8_t>& bytes, Mpeg2Analysis& out) {
  MemoryByteSource source(bytes);
  return AnalyzeMpeg2(source, nullptr, out);
}

// Positions of the bytes after each 00 00 01 <code> (with a code-specific check).
std::vector<size_t> Find(const std::vector<uint8_t>& d, uint8_t code, int ext_id = -1) {
  std::vector<size_t> at;
  for (size_t i = 0; i + 5 < d.size(); ++i) {
    if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && d[i + 3] == code &&
        (ext_id < 0 || (d[i + 4] >> 4) == ext_id)) {
      at.push_back(i + 4);
    }
  }
  return at;
}

struct Fixture {
  const char* file;
  uint32_t width, height;
  uint8_t video_format, aspect_code, level;
  bool progressive;
};

class Mpeg2Fixture : public testing::TestWithParam<Fixture> {
 protected:
  std::filesystem::path Path() const {
    return test::DataPath(std::string("es/video/") + GetParam().file);
  }
};

TEST_P(Mpeg2Fixture, AttributesAndUnitsMatchFfprobe) {
  const Fixture& f = GetParam();
  const auto bytes = test::ReadData(std::string("es/video/") + f.file);
  Mpeg2Analysis a;
  ASSERT_EQ(AnalyzeBytes(bytes, a), 0);
  EXPECT_TRUE(ProbeMpeg2(bytes));
  EXPECT_EQ(a.video.width, f.width);
  EXPECT_EQ(a.video.height, f.height);
  EXPECT_EQ(a.video.video_format, f.video_format);
  EXPECT_EQ(a.video.frame_rate_code, 4);
  EXPECT_EQ(a.video.aspect_code, f.aspect_code);
  EXPECT_EQ(a.video.profile, 4);  // Main
  EXPECT_EQ(a.video.level, f.level);
  EXPECT_EQ(a.video.progressive, f.progressive);
  EXPECT_NEAR(a.au_duration, 1001.0 / 30, 1e-9);
  EXPECT_EQ(a.au_count, a.units.size());
  EXPECT_EQ(a.sequence_header_count, Find(bytes, 0xB3).size());
  EXPECT_EQ(a.first_sequence_header_offset, 0u);
  // Up to the zero bytes that open the first GOP header (or user data, whichever is first).
  size_t header_end = std::min(Find(bytes, 0xB8)[0],
                               Find(bytes, 0xB2).empty() ? bytes.size() : Find(bytes, 0xB2)[0]) -
                      4;
  while (bytes[header_end - 1] == 0) --header_end;
  EXPECT_EQ(a.first_sequence_header_length, header_end);
  EXPECT_EQ(a.total_size, a.units.back().offset + 1);
  // The stream opens with a sequence header, a GOP header and an I picture: one unit.
  EXPECT_EQ(a.units[0].offset, 0u);
  EXPECT_EQ(a.units[0].flags, 1u | video::kSequenceHeaderFlag | video::kRandomAccessFlag);
  EXPECT_EQ(a.units.back().offset + a.units.back().size, bytes.size());

  if (!test::HaveFfprobe()) GTEST_SKIP() << "ffprobe missing";
  const auto packets = test::Ffprobe(Path(), "packet", "pos,size,flags");
  ASSERT_EQ(packets.size(), a.units.size());
  for (size_t i = 0; i < packets.size(); ++i) {
    EXPECT_EQ(packets[i].at("pos"), std::to_string(a.units[i].offset)) << i;
    EXPECT_EQ(packets[i].at("size"), std::to_string(a.units[i].size)) << i;
    const bool key = packets[i].at("flags").find('K') != std::string::npos;
    EXPECT_EQ(key, (a.units[i].flags & video::kRandomAccessFlag) != 0) << i;
  }
}

TEST_P(Mpeg2Fixture, DisplayOrderAndPictureTypesMatchFfprobe) {
  Mpeg2Analysis a;
  ASSERT_EQ(AnalyzeBytes(test::ReadData(std::string("es/video/") + GetParam().file), a), 0);
  std::vector<AccessUnit> shown = a.units;
  std::stable_sort(shown.begin(), shown.end(),
                   [](const AccessUnit& x, const AccessUnit& y) { return x.pts < y.pts; });
  EXPECT_EQ(shown.front().pts, 131070u);
  for (size_t i = 1; i < shown.size(); ++i) EXPECT_EQ(shown[i].pts - shown[i - 1].pts, 3003u);
  for (const AccessUnit& u : a.units) EXPECT_LE(u.dts, u.pts);
  // Each GOP record names its I picture and the pts range of its pictures.
  size_t first = 0;
  for (const video::GopInfo& gop : a.gops) {
    EXPECT_EQ(gop.i_index, first);
    EXPECT_EQ(gop.i_offset, a.units[first].offset);
    EXPECT_EQ(gop.i_size, a.units[first].size);
    EXPECT_EQ(gop.max_pts - gop.min_pts, (gop.count - 1) * 3003);
    first += gop.count;
  }
  EXPECT_EQ(first, a.units.size());

  if (!test::HaveFfprobe()) GTEST_SKIP() << "ffprobe missing";
  const auto frames = test::Ffprobe(Path(), "frame", "pkt_pos,pict_type");
  ASSERT_EQ(frames.size(), shown.size());
  constexpr char kTypes[] = "?IPB";
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].at("pkt_pos"), std::to_string(shown[i].offset)) << i;
    EXPECT_EQ(frames[i].at("pict_type"), std::string(1, kTypes[shown[i].flags & 3])) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Mpeg2Fixture,
                         testing::Values(Fixture{"mpeg2_1080i.m2v", 1920, 1080, 4, 3, 4, false},
                                         Fixture{"mpeg2_480i.m2v", 720, 480, 3, 2, 8, true}),
                         [](const testing::TestParamInfo<Fixture>& param) {
                           std::string name = param.param.file;
                           return name.substr(0, name.find('.'));
                         });

// Soft telecine: a 23.976 film coded as 29.97 with repeat_first_field on two of four frames
// (display order: TFF+RFF, BFF, BFF+RFF, TFF) shows each frame for 1.25 frame periods on average.
TEST(Mpeg2Analysis, PulldownStretchesTheTimeStamps) {
  auto bytes = test::ReadData("es/video/mpeg2_480i.m2v");
  bytes[Find(bytes, 0xB5, 1)[0] + 1] &= ~0x08;  // progressive_sequence off: field repeats
  const auto pictures = Find(bytes, 0x00);
  const auto codings = Find(bytes, 0xB5, 8);
  const auto gops = Find(bytes, 0xB8);
  ASSERT_EQ(pictures.size(), codings.size());
  size_t gop_base = 0, gop_next = 0, count = 0;
  for (size_t k = 0; k < pictures.size(); ++k) {
    while (gop_next < gops.size() && gops[gop_next] < pictures[k]) {
      gop_base = count;
      ++gop_next;
    }
    const size_t tr = (bytes[pictures[k]] << 2) | (bytes[pictures[k] + 1] >> 6);
    const size_t display = gop_base + tr;
    static const bool kTop[4] = {true, false, false, true};
    static const bool kRepeat[4] = {true, false, true, false};
    uint8_t& flags = bytes[codings[k] + 3];
    flags = static_cast<uint8_t>((flags & ~0x82) | (kTop[display % 4] ? 0x80 : 0) |
                                 (kRepeat[display % 4] ? 0x02 : 0));
    bytes[codings[k] + 4] |= 0x80;  // progressive_frame
    ++count;
  }
  Mpeg2Analysis a;
  ASSERT_EQ(AnalyzeBytes(bytes, a), 0);
  std::vector<uint32_t> pts;
  for (const AccessUnit& u : a.units) pts.push_back(u.pts);
  std::sort(pts.begin(), pts.end());
  ASSERT_EQ(std::adjacent_find(pts.begin(), pts.end()), pts.end()) << "two frames at one time";
  EXPECT_EQ(pts.front(), 131070u);
  const double per_frame = double(pts.back() - pts.front()) / double(pts.size() - 1);
  EXPECT_NEAR(per_frame, 1.25 * 3003, 0.1 * 3003);
  for (const AccessUnit& u : a.units) EXPECT_LE(u.dts, u.pts);
  for (size_t i = 1; i < a.units.size(); ++i) EXPECT_GT(a.units[i].dts, a.units[i - 1].dts);
}

TEST(Mpeg2Analysis, RefusedStreams) {
  const auto bytes = test::ReadData("es/video/mpeg2_1080i.m2v");
  const size_t ext = Find(bytes, 0xB5, 1)[0];
  struct Case {
    const char* what;
    size_t offset;
    uint8_t mask, value;
    int result;
  } const cases[] = {
      // 1080p at 25 frames/s: frame_rate_code 3 and progressive_sequence.
      {"1080p25", 7, 0x0F, 0x03, 26},
      {"4:2:2", ext + 1, 0x06, 0x04, 29},
      {"frame rate code 5", 7, 0x0F, 0x05, 26},
  };
  for (const Case& c : cases) {
    auto copy = bytes;
    copy[c.offset] = static_cast<uint8_t>((copy[c.offset] & ~c.mask) | c.value);
    if (std::string(c.what) == "1080p25") copy[ext + 1] |= 0x08;
    Mpeg2Analysis a;
    EXPECT_EQ(AnalyzeBytes(copy, a), c.result) << c.what;
  }
}

TEST(Mpeg2Analysis, ForeignOrBrokenStructure) {
  const auto bytes = test::ReadData("es/video/mpeg2_480i.m2v");
  // Not a sequence header first: another parser's file.
  std::vector<uint8_t> junk(9000, 0x55);
  junk.insert(junk.end(), bytes.begin(), bytes.end());
  Mpeg2Analysis a;
  EXPECT_EQ(AnalyzeBytes(junk, a), video::result::kUnknownFormat);
  EXPECT_FALSE(ProbeMpeg2(junk));
  // A picture whose coding extension is missing.
  auto broken = bytes;
  broken[Find(broken, 0xB5, 8)[2] - 1] = 0xB2;  // turn it into user data
  EXPECT_EQ(AnalyzeBytes(broken, a), video::result::kSyntaxIllegal);
  // Cut anywhere: never an entry outside the data.
  for (const size_t size : {0u, 4u, 12u, 100u, 5000u, 20000u}) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(size));
    AnalyzeBytes(cut, a);
    for (const AccessUnit& u : a.units) EXPECT_LE(u.offset + u.size, size);
  }
}

// A sequence end code closes its unit right after the code and marks it.
TEST(Mpeg2Analysis, SequenceEndClosesTheUnit) {
  auto bytes = test::ReadData("es/video/mpeg2_480i.m2v");
  const std::vector<uint8_t> end_code = {0, 0, 1, 0xB7};
  Mpeg2Analysis plain;
  ASSERT_EQ(AnalyzeBytes(bytes, plain), 0);
  if (!std::equal(end_code.begin(), end_code.end(), bytes.end() - 4)) {
    bytes.insert(bytes.end(), end_code.begin(), end_code.end());
  }
  bytes.insert(bytes.end(), {0, 0, 0, 0});  // stuffing after the end
  Mpeg2Analysis a;
  ASSERT_EQ(AnalyzeBytes(bytes, a), 0);
  EXPECT_EQ(a.sequence_end_count, 1u);
  EXPECT_NE(a.units.back().flags & video::kSequenceEndFlag, 0u);
  EXPECT_EQ(a.units.back().offset + a.units.back().size, bytes.size() - 4);
}

}  // namespace
}  // namespace tessel
