// Progress and cancel of the three video analyses, and their content checks.
#include <gtest/gtest.h>

#include "es/h264.h"
#include "es/mpeg2.h"
#include "es/vc1.h"
#include "support/test_support.h"
#include "support/vc1_stream_builder.h"

namespace tessel {
namespace {

template <typename Analysis>
using Analyzer = int (*)(ByteSource&, const video::Progress&, Analysis&);

// Runs an analysis with a progress function that answers `go_on`; returns the result and the
// percentages it was told.
template <typename Analysis>
int RunAnalysis(Analyzer<Analysis> analyze, const std::vector<uint8_t>& bytes, bool go_on,
                std::vector<int>& percents) {
  MemoryByteSource source(bytes);
  Analysis a;
  return analyze(
      source,
      [&](int p) {
        percents.push_back(p);
        return go_on;
      },
      a);
}

// A stream long enough for the 5 MiB reporting step: the sample repeated.
std::vector<uint8_t> Repeat(const std::vector<uint8_t>& unit, size_t at_least) {
  std::vector<uint8_t> out;
  while (out.size() < at_least) out.insert(out.end(), unit.begin(), unit.end());
  return out;
}

TEST(VideoProgress, CancelEndsEveryAnalysis) {
  const auto h264 = test::ReadData("es/video/h264_1080p25.264");
  const auto mpeg2 = Repeat(test::ReadData("es/video/mpeg2_480i.m2v"), 12u << 20);
  test::Vc1StreamBuilder b{test::Vc1Params{}};
  for (int i = 0; i < 120000; ++i) b.SequenceHeader().EntryPoint().Frame('I').Frame('P');
  const auto vc1 = b.bytes();
  ASSERT_GT(vc1.size(), 5u << 20);

  std::vector<int> seen;
  EXPECT_EQ(RunAnalysis<H264Analysis>(AnalyzeH264, h264, false, seen), 1);
  EXPECT_EQ(seen.size(), 1u);
  seen.clear();
  EXPECT_EQ(RunAnalysis<Mpeg2Analysis>(AnalyzeMpeg2, mpeg2, false, seen), 1);
  EXPECT_EQ(seen.size(), 1u);
  seen.clear();
  EXPECT_EQ(RunAnalysis<Vc1Analysis>(AnalyzeVc1, vc1, false, seen), 1);
  EXPECT_EQ(seen.size(), 1u);

  // Going on: percentages rise and stay below 100.
  seen.clear();
  EXPECT_EQ(RunAnalysis<H264Analysis>(AnalyzeH264, h264, true, seen), 0);
  ASSERT_FALSE(seen.empty());
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_LT(seen.back(), 99);
  seen.clear();
  EXPECT_EQ(RunAnalysis<Mpeg2Analysis>(AnalyzeMpeg2, mpeg2, true, seen), 0);
  EXPECT_EQ(seen.size(), 2u);  // one report per 5 MiB
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
}

TEST(VideoProbe, ContentChecks) {
  const std::vector<uint8_t> four = {0, 0, 0, 1, 0x09};
  const std::vector<uint8_t> three = {0, 0, 1, 0x09};
  const std::vector<uint8_t> vc1 = {0, 0, 1, 0x0F, 0xCA};
  EXPECT_TRUE(ProbeH264(four));
  EXPECT_FALSE(ProbeH264(three));
  EXPECT_TRUE(ProbeVc1(vc1));
  EXPECT_FALSE(ProbeVc1(four));
  EXPECT_FALSE(ProbeMpeg2(vc1));
  EXPECT_TRUE(ProbeMpeg2(test::ReadData("es/video/mpeg2_1080i.m2v")));
  EXPECT_FALSE(ProbeMpeg2(test::ReadData("es/video/h264_1080p25.264")));
}

}  // namespace
}  // namespace tessel
