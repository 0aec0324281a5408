// `tessel dump` run as a process on real files.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "platform/files.h"
#include "support/run_tessel.h"
#include "support/test_support.h"

namespace tessel {
namespace {

using Outcome = test::TesselRun;
using test::Quoted;

Outcome RunTessel(const std::string& arguments) {
  return test::RunTesselIn({}, arguments);
}

TEST(DumpCommand, PrintsThePlaylistDump) {
  const Outcome run = RunTessel("dump " + Quoted(test::DataPath("mpls/disc-simple_00000.mpls")));
  EXPECT_EQ(run.exit_code, 0) << run.err;
  std::ifstream in(test::DataPath("mpls_dumps/disc-simple_00000.txt"));
  std::stringstream expected;
  expected << in.rdbuf();
  EXPECT_EQ(run.out, expected.str());
}

TEST(DumpCommand, JsonHasTheSameFieldsAsTheText) {
  const Outcome run =
      RunTessel("dump --json " + Quoted(test::DataPath("mpls/pip_terminator2.mpls")));
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const auto json = nlohmann::json::parse(run.out);
  EXPECT_EQ(json["TypeIndicator"], "MPLS");
  EXPECT_EQ(json["PlayList"]["NumberOfPlayItems"], 29);
  EXPECT_EQ(json["PlayList"]["PlayItem"].size(), 29u);
  const auto& stn = json["PlayList"]["PlayItem"][0]["STNTable"];
  EXPECT_EQ(stn["NumberOfPG_TextST_StreamEntries"], 15);
  EXPECT_EQ(stn["SecondaryVideoStreamEntry"][0]["StreamEntry"]["RefToStreamPID_OfMainClip"],
            "0x1B00");
  EXPECT_EQ(json["PlayList"]["SubPath"][0]["SubPathType"], "7(InMux Sync PIP)");
  const auto& entry = json["ExtensionData"]["ExtDataEntry"][0];
  EXPECT_EQ(entry["ExtDataEntry_ID1"], 1);
  EXPECT_EQ(entry["NumberOfMetadataEntries"], 29);
  EXPECT_EQ(entry["MetadataBlockData"][0]["PipMetadataEntry"][2]["PipHorPos"], 91);
}

TEST(DumpCommand, JsonSurvivesCharacterFieldsThatAreNotUtf8) {
  std::vector<uint8_t> bytes = test::ReadData("mpls/disc-simple_00000.mpls");
  const std::string name = "00000";
  const auto at = std::search(bytes.begin(), bytes.end(), name.begin(), name.end());
  ASSERT_NE(at, bytes.end());
  *at = 0xFF;  // first byte of the first play item's clip name
  const test::TempDir dir;
  ASSERT_TRUE(WriteWholeFile(dir / "odd.mpls", bytes));
  const Outcome run = RunTessel("dump --json " + Quoted(dir / "odd.mpls"));
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(nlohmann::json::parse(run.out)["PlayList"]["PlayItem"][0]["ClipInformationFileName"],
            "\xEF\xBF\xBD"
            "0000");
}

TEST(DumpCommand, ChoosesTheReaderByFileType) {
  struct Case {
    const char* file;
    const char* first_line;
  };
  for (const Case& c : {Case{"index/bdpl-disc1.bdmv", "TypeIndicator: INDX"},
                        Case{"ts/simple_00000_head1000.m2ts", "File: "}}) {
    const Outcome run = RunTessel("-q dump " + Quoted(test::DataPath(c.file)));
    EXPECT_EQ(run.exit_code, 0) << c.file << ": " << run.err;
    EXPECT_EQ(run.out.rfind(c.first_line, 0), 0u) << c.file << ": " << run.out.substr(0, 80);
  }
}

TEST(DumpCommand, FailsWithAMessage) {
  const test::TempDir dir;
  std::vector<uint8_t> data = test::ReadData("mpls/disc-simple_00000.mpls");
  data.resize(100);
  ASSERT_TRUE(WriteWholeFile(dir / "cut.mpls", data));
  ASSERT_TRUE(WriteWholeFile(dir / "other.bin", {'X', 'Y', 'Z', 'W', 0}));

  struct Case {
    std::string arguments;
    std::string message;
  };
  const Case cases[] = {
      {"dump " + Quoted(dir / "cut.mpls"), "Stream parse error:\n" + (dir / "cut.mpls").string() +
                                               "\nPlayList: length points outside the file"},
      {"dump " + Quoted(dir / "other.bin"), "not a database file this command can dump"},
      {"dump " + Quoted(dir / "missing.mpls"), "missing.mpls"},
  };
  for (const Case& c : cases) {
    const Outcome run = RunTessel(c.arguments);
    EXPECT_EQ(run.exit_code, 2) << c.arguments;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty());
  }
}

}  // namespace
}  // namespace tessel
