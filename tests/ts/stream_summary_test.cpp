#include "ts/stream_summary.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "support/cancel_after.h"
#include "support/test_support.h"

namespace tessel {
namespace {

void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

std::map<uint16_t, uint64_t> Counts(const TsSummary& s) {
  std::map<uint16_t, uint64_t> counts;
  for (const PidSummary& p : s.Pids) counts[p.Pid] = p.PacketCount;
  return counts;
}

// A stream longer than one read block gives the same picture as its parts.
TEST(StreamSummaryTest, StatisticsAddUpAcrossReadBlocks) {
  const std::vector<uint8_t> part = test::ReadData("ts/simple_00000_head1000.m2ts");
  std::vector<uint8_t> whole;
  for (int i = 0; i < 20; ++i) whole.insert(whole.end(), part.begin(), part.end());
  test::TempDir dir;
  WriteFile(dir / "long.m2ts", whole);

  TsSummary one, many;
  ASSERT_EQ(SummarizeTransportStream(test::DataPath("ts/simple_00000_head1000.m2ts"), one, nullptr,
                                     nullptr),
            JobResult::kDone);
  test::CancelAfter progress(0);
  ASSERT_EQ(SummarizeTransportStream(dir / "long.m2ts", many, progress.callback(), nullptr),
            JobResult::kDone);
  EXPECT_EQ(many.SourcePacketCount, 20000u);
  EXPECT_TRUE(many.PacketSizeOk());
  EXPECT_EQ(many.Pat.SectionCount, 20 * one.Pat.SectionCount);
  EXPECT_EQ(many.Pmt.Section, one.Pmt.Section);
  for (auto [pid, count] : Counts(one)) EXPECT_EQ(Counts(many)[pid], 20 * count) << pid;
  // Positions only, rising to 100.
  ASSERT_GE(progress.calls(), 3);
  EXPECT_EQ(progress.records().front().position, 0);
  EXPECT_EQ(progress.records().back().position, 100);
}

TEST(StreamSummaryTest, StopsWhenTheCallbackCancels) {
  for (int n : {1, 2}) {
    test::CancelAfter progress(n);
    TsSummary summary;
    EXPECT_EQ(SummarizeTransportStream(test::DataPath("ts/simple_00000_head1000.m2ts"), summary,
                                       progress.callback(), nullptr),
              JobResult::kCancelled);
    EXPECT_EQ(progress.calls(), n);
  }
}

TEST(StreamSummaryTest, ReportsBrokenPacketStructure) {
  std::vector<uint8_t> data = test::ReadData("ts/emptyplaylist_01900.m2ts");
  data[5 * 192 + 4] = 0x00;  // a lost sync byte
  data.resize(data.size() + 100);
  test::TempDir dir;
  WriteFile(dir / "broken.m2ts", data);
  TsSummary summary;
  ASSERT_EQ(SummarizeTransportStream(dir / "broken.m2ts", summary, nullptr, nullptr),
            JobResult::kDone);
  EXPECT_EQ(summary.SyncErrors, 1u);
  EXPECT_EQ(summary.TrailingBytes, 100u);
  EXPECT_FALSE(summary.PacketSizeOk());
  EXPECT_EQ(summary.SourcePacketCount, 64u);
}

TEST(StreamSummaryTest, MissingFileFailsWithItsName) {
  TsSummary summary;
  std::string error;
  EXPECT_EQ(SummarizeTransportStream(test::DataPath("ts/none.m2ts"), summary, nullptr, &error),
            JobResult::kFailed);
  EXPECT_NE(error.find("none.m2ts"), std::string::npos);
  EXPECT_FALSE(ReadPmtFromFile(test::DataPath("ts/none.m2ts")));
}

}  // namespace
}  // namespace tessel
