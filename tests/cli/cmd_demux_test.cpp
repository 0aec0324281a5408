// `tessel demux` run as a process on the fixture clips.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/files.h"
#include "support/run_tessel.h"
#include "support/test_support.h"

namespace tessel {
namespace {

using test::Quoted;
using test::RunTesselIn;

std::vector<std::string> FileNames(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(DemuxCommand, DiscFolderAndClipNumberWithJson) {
  const test::TempDir out;
  const auto run =
      RunTesselIn({}, "demux --json " + Quoted(test::DataPath("discs/disc-audio-zoo")) + " 0 -o " +
                          Quoted(out.path()));
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const auto json = nlohmann::json::parse(run.out);
  EXPECT_EQ(json["result"], 0);
  EXPECT_TRUE(json["damage"].empty());
  // The copy holds the first 128 packets: all streams but the video start later, and the
  // TrueHD stream's empty core file goes.
  ASSERT_EQ(json["files"].size(), 7u);
  EXPECT_EQ(json["files"][0]["track"],
            "00000.M2TS, 0x1011, MPEG-4 AVC/h.264(0x1B), 720p, 59.94, 16:9");
  const std::vector<std::string> expected = {"00000_4113.264", "00000_4352.ac3", "00000_4353.ddp",
                                             "00000_4354.dts", "00000_4355.mlp", "00000_4356.wav",
                                             "00000_6656.ddp"};
  EXPECT_EQ(FileNames(out.path()), expected);
}

TEST(DemuxCommand, ChosenTracksOfAStreamFileWithoutClipInformation) {
  const test::TempDir out;
  const auto run =
      RunTesselIn(out.path(), "demux " + Quoted(test::DataPath("ts/audiozoo_00000_head1000.m2ts")) +
                                  " --track 0x1100 --track 4353");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(FileNames(out.path()), (std::vector<std::string>{"audiozoo_00000_head1000_4352.ac3",
                                                             "audiozoo_00000_head1000_4353.ddp"}));
  EXPECT_NE(run.out.find("Demux is completed! \n"), std::string::npos);
  EXPECT_NE(run.out.find("audiozoo_00000_head1000_4352.ac3  0x1100, AC-3(0x81)"), std::string::npos)
      << run.out;
}

TEST(DemuxCommand, UnknownPidNamesItAndWritesNothing) {
  const test::TempDir out;
  const auto run =
      RunTesselIn({}, "demux " + Quoted(test::DataPath("ts/simple_00000_head1000.m2ts")) +
                          " --track 0x1100 --track 0x1234 -o " + Quoted(out.path()));
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_NE(run.err.find("0x1234"), std::string::npos) << run.err;
  EXPECT_TRUE(fs::is_empty(out.path()));
}

TEST(DemuxCommand, DamageIsNamedAndFails) {
  const test::TempDir dir;
  std::vector<uint8_t> data = test::ReadData("ts/simple_00000_head1000.m2ts");
  data.resize(data.size() - 100);
  ASSERT_TRUE(WriteWholeFile(dir / "cut.m2ts", data));
  const auto run = RunTesselIn(dir.path(), "demux cut.m2ts --track 0x1100");
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_NE(run.err.find("damage at offset 191808: last packet cut"), std::string::npos) << run.err;
  EXPECT_TRUE(fs::exists(dir / "cut_4352.ac3"));
}

TEST(DemuxCommand, NeverWritesIntoTheSourceDisc) {
  const test::TempDir dir;
  fs::copy(test::DataPath("discs/disc-simple"), dir / "disc", fs::copy_options::recursive);
  const fs::path stream = dir / "disc/BDMV/STREAM";
  const auto run = RunTesselIn(stream, "demux 00000.m2ts");
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(FileNames(stream), std::vector<std::string>{"00000.m2ts"});
}

}  // namespace
}  // namespace tessel
