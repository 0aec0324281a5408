#include "es/vc1.h"

#include <gtest/gtest.h>

#include "support/vc1_stream_builder.h"

namespace tessel {
namespace {

using test::Vc1Params;
using test::Vc1StreamBuilder;
using video::AccessUnit;

int Analyze(const std::vector<uint8_t>& bytes, Vc1Analysis& out) {
  MemoryByteSource source(bytes);
  return AnalyzeVc1(source, nullptr, out);
}

std::vector<uint8_t> Segment(const Vc1Params& p, const std::string& types) {
  Vc1StreamBuilder b(p);
  b.SequenceHeader().EntryPoint();
  for (const char t : types) b.Frame(t);
  return b.bytes();
}

TEST(Vc1Analysis, DisplayOrderAndTimeStampsOfASegment) {
  const Vc1Params p;
  const auto bytes = Segment(p, "IPBBPBB");
  Vc1Analysis a;
  ASSERT_EQ(Analyze(bytes, a), 0);
  ASSERT_TRUE(ProbeVc1(bytes));
  ASSERT_EQ(a.units.size(), 7u);
  EXPECT_EQ(a.au_count, 7u);
  EXPECT_NEAR(a.au_duration, 1001.0 / 24, 1e-9);
  const double t = 1001.0 / 24 * 90;
  const int display[] = {1, 4, 2, 3, 7, 5, 6};
  const uint32_t types[] = {1, 2, 3, 3, 2, 3, 3};
  for (size_t k = 0; k < 7; ++k) {
    const AccessUnit& u = a.units[k];
    EXPECT_EQ(u.flags & 7, types[k]) << k;
    EXPECT_NEAR(u.pts, 131070 + (display[k] - 1) * t, 1.0) << k;
    EXPECT_NEAR(u.dts, 131070 + (int(k) - 1) * t, 1.0) << k;
  }
  // The first unit starts at the sequence header and carries both flags.
  EXPECT_EQ(a.units[0].offset, 0u);
  EXPECT_EQ(a.units[0].flags & 0x30000u, 0x30000u);
  EXPECT_EQ(a.units[1].flags & 0x30000u, 0u);
  uint64_t end = 0;
  for (const AccessUnit& u : a.units) {
    EXPECT_EQ(u.offset, end);
    end += u.size;
  }
  EXPECT_EQ(end, bytes.size());
  EXPECT_EQ(a.total_size, bytes.size());
}

// Every segment starts a random access point; time goes on across segments.
TEST(Vc1Analysis, SegmentsFollowEachOther) {
  const Vc1Params p;
  auto bytes = Segment(p, "IPBB");
  const size_t second = bytes.size();
  const auto more = Segment(p, "IBbS");
  bytes.insert(bytes.end(), more.begin(), more.end());
  Vc1Analysis a;
  ASSERT_EQ(Analyze(bytes, a), 0);
  ASSERT_EQ(a.units.size(), 8u);
  EXPECT_EQ(a.units[4].offset, second);
  EXPECT_EQ(a.units[4].flags, 1u | 0x30000u);
  EXPECT_EQ(a.units[6].flags, 3u);  // BI counts as B
  EXPECT_EQ(a.units[7].flags, 2u);  // skipped counts as P
  const double t = 1001.0 / 24 * 90;
  EXPECT_NEAR(a.units[4].dts, 131070 + 3 * t, 1.0);
  // The B frames right after the second I are shown before it (they lean on the first
  // segment's last P), and the skipped frame last.
  EXPECT_NEAR(a.units[5].pts, 131070 + 4 * t, 1.0);
  EXPECT_NEAR(a.units[6].pts, 131070 + 5 * t, 1.0);
  EXPECT_NEAR(a.units[4].pts, 131070 + 6 * t, 1.0);
  EXPECT_NEAR(a.units[7].pts, 131070 + 7 * t, 1.0);
}

TEST(Vc1Analysis, InterlacedFieldPairsTakeTheFirstFieldsType) {
  Vc1Params p;
  p.interlace = true;
  p.framerate_nr = 3;  // 30000/1001
  Vc1StreamBuilder b(p);
  b.SequenceHeader().EntryPoint().Frame('I', 3).Frame('P', 3).Frame('B', 2).Frame('b', 3);
  b.Other(0x0C).Other(0x1F);  // a field and user data stay inside the last frame
  Vc1Analysis a;
  ASSERT_EQ(Analyze(b.bytes(), a), 0);
  EXPECT_EQ(a.video.video_format, 4);
  EXPECT_EQ(a.video.frame_rate_code, 4);
  EXPECT_FALSE(a.video.progressive);
  EXPECT_NEAR(a.au_duration, 1001.0 / 30, 1e-9);
  ASSERT_EQ(a.units.size(), 4u);
  const uint32_t types[] = {1, 2, 3, 3};
  for (size_t k = 0; k < 4; ++k) EXPECT_EQ(a.units[k].flags & 7, types[k]) << k;
  EXPECT_EQ(a.units[3].offset + a.units[3].size, b.bytes().size());
}

TEST(Vc1Analysis, AttributesFromTheSequenceHeader) {
  struct Case {
    uint16_t w, h;
    bool interlace;
    uint8_t level, nr, dr, aspect_ratio, ah, av;
    uint8_t format, rate_code, aspect_code;
  } const cases[] = {
      {959, 539, false, 3, 1, 2, 1, 0, 0, 6, 1, 3},    // 1080p23.976 square pixels
      {639, 359, false, 3, 5, 2, 1, 0, 0, 5, 7, 3},    // 720p59.94
      {959, 539, true, 3, 3, 2, 15, 1, 1, 4, 4, 3},    // 1080i29.97, explicit 16:9 display
      {359, 239, true, 2, 3, 2, 3, 0, 0, 1, 4, 2},     // 480i, 10:11 pixels
      {359, 287, true, 2, 2, 1, 15, 12, 11, 2, 3, 3},  // 576i, explicit ratio not 4:3
  };
  for (const Case& c : cases) {
    Vc1Params p;
    p.max_coded_width = p.coded_width = c.w;
    p.max_coded_height = p.coded_height = c.h;
    p.disp_horiz_size = static_cast<uint16_t>(c.w * 2 + 1);
    p.disp_vert_size = static_cast<uint16_t>(c.h * 2 + 1);
    p.interlace = c.interlace;
    p.level = c.level;
    p.framerate_nr = c.nr;
    p.framerate_dr = c.dr;
    p.aspect_ratio = c.aspect_ratio;
    p.aspect_horiz = c.ah;
    p.aspect_vert = c.av;
    p.hrd_rate = 300;
    Vc1Analysis a;
    ASSERT_EQ(Analyze(Segment(p, "IPB"), a), 0) << c.w << "x" << c.h;
    EXPECT_EQ(a.video.video_format, c.format) << c.w;
    EXPECT_EQ(a.video.frame_rate_code, c.rate_code) << c.w;
    EXPECT_EQ(a.video.aspect_code, c.aspect_code) << c.w;
    EXPECT_EQ(a.video.width, c.w * 2u + 2);
    EXPECT_EQ(a.video.height, c.h * 2u + 2);
    EXPECT_EQ(a.hrd_bit_rate, 301u << 15);
    EXPECT_EQ(a.hrd_buffer_size, 6001u << 12);
  }
}

TEST(Vc1Analysis, RefusedStreams) {
  struct Case {
    const char* what;
    void (*change)(Vc1Params&);
    int result;
  } const cases[] = {
      {"main profile", [](Vc1Params& p) { p.profile = 1; }, 22},
      {"level 4", [](Vc1Params& p) { p.level = 4; }, 23},
      {"720p at level 2",
       [](Vc1Params& p) {
         p.max_coded_width = p.coded_width = 639;
         p.max_coded_height = p.coded_height = 359;
         p.level = 2;
       },
       23},
      {"interlace without pulldown", [](Vc1Params& p) { p.interlace = true, p.pulldown = false; },
       28},
      {"no display extension", [](Vc1Params& p) { p.display_ext = false; }, 13},
      {"no aspect ratio", [](Vc1Params& p) { p.aspect_ratio_flag = false; }, 13},
      {"no frame rate", [](Vc1Params& p) { p.framerate_flag = false; }, 14},
      {"explicit frame rate", [](Vc1Params& p) { p.framerate_ind = true; }, 33},
      {"frame rate index 8", [](Vc1Params& p) { p.framerate_nr = 8; }, 33},
      {"frame rate index 0", [](Vc1Params& p) { p.framerate_nr = 0; }, 33},
      {"frame rate divisor 3", [](Vc1Params& p) { p.framerate_dr = 3; }, 33},
      {"no HRD", [](Vc1Params& p) { p.hrd = false; }, 35},
      {"pan-scan", [](Vc1Params& p) { p.panscan = true; }, 34},
      {"coded size", [](Vc1Params& p) { p.coded_width = 639; }, 32},
      {"aspect 1:1 at 720x480",
       [](Vc1Params& p) {
         p.max_coded_width = p.coded_width = 359;
         p.max_coded_height = p.coded_height = 239;
         p.disp_horiz_size = 719;
         p.disp_vert_size = 479;
         p.aspect_ratio = 2;
       },
       25},
      {"bit rate", [](Vc1Params& p) { p.hrd_rate = 2000; }, 9},
      {"buffer", [](Vc1Params& p) { p.hrd_buffer = 9000; }, 10},
      {"1080p25", [](Vc1Params& p) { p.framerate_nr = 2, p.framerate_dr = 1; }, 26},
  };
  for (const Case& c : cases) {
    Vc1Params p;
    c.change(p);
    Vc1Analysis a;
    EXPECT_EQ(Analyze(Segment(p, "IPB"), a), c.result) << c.what;
  }
}

TEST(Vc1Analysis, MisplacedHeaders) {
  const Vc1Params p;
  Vc1Analysis a;
  // No sequence header at all.
  EXPECT_EQ(Analyze(Vc1StreamBuilder(p).EntryPoint().Frame('I').bytes(), a), 11);
  // A sequence header at the very end, without its entry point.
  EXPECT_EQ(Analyze(Vc1StreamBuilder(p).SequenceHeader().bytes(), a), 12);
  // Something else between the sequence header and the entry point.
  EXPECT_EQ(Analyze(Vc1StreamBuilder(p).SequenceHeader().Frame('I').EntryPoint().bytes(), a), 31);
  // An entry point among the frames of a segment.
  EXPECT_EQ(Analyze(Vc1StreamBuilder(p)
                        .SequenceHeader()
                        .EntryPoint()
                        .Frame('I')
                        .EntryPoint()
                        .Frame('P')
                        .bytes(),
                    a),
            31);
}

TEST(Vc1Analysis, TruncatedStreamsStayInside) {
  const auto bytes = Segment(Vc1Params{}, "IPBBPBB");
  for (size_t size = 0; size < bytes.size(); size += 3) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(size));
    Vc1Analysis a;
    Analyze(cut, a);
    for (const AccessUnit& u : a.units) EXPECT_LE(u.offset + u.size, size);
  }
}

}  // namespace
}  // namespace tessel
