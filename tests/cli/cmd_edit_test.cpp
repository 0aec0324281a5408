// `tessel edit` as a user runs it: the printed edit state, --json, --save and the exit codes.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "support/run_tessel.h"
#include "support/test_support.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;

class CmdEditTest : public ::testing::Test {
 protected:
  void SetUp() override { bdmv_ = test::StageDisc("discs/disc-simple", dir_.path()); }
  test::Outcome Edit(const std::string& arguments) {
    return test::RunTessel("edit " + test::Quoted(bdmv_) + " " + arguments);
  }
  test::TempDir dir_;
  fs::path bdmv_;
};

TEST_F(CmdEditTest, DropPrintsTheStateAndSavesAListThatRepeatsIt) {
  const fs::path saved = dir_ / "edits.json";
  const test::Outcome dropped = Edit("--drop 0:0x1101 --save " + test::Quoted(saved));
  ASSERT_EQ(dropped.exit_code, 0) << dropped.err;
  EXPECT_NE(dropped.out.find("0x1101, LPCM audio, Stereo, 48K, fra, dropped\n"), std::string::npos)
      << dropped.out;
  EXPECT_NE(dropped.out.find("0x1101, LPCM audio, Stereo, 48K, fra, hidden\n"), std::string::npos);
  const test::Outcome replayed = Edit("--edits " + test::Quoted(saved));
  EXPECT_EQ(replayed.exit_code, 0) << replayed.err;
  EXPECT_EQ(replayed.out, dropped.out);
  // A dry run: the disc is as it was.
  const test::Outcome fresh = Edit("");
  EXPECT_NE(fresh.out.find("fra, kept\n"), std::string::npos);
}

TEST_F(CmdEditTest, JsonCarriesTheEditState) {
  const test::Outcome run = Edit("--cut 0:1000-8000 --json");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const nlohmann::json out = nlohmann::json::parse(run.out);
  const nlohmann::json& clip = out["clips"]["items"][0];
  EXPECT_TRUE(clip["modified"].get<bool>());
  EXPECT_TRUE(clip["cut"]["active"].get<bool>());
  EXPECT_GT(clip["cut"]["in_point"].get<uint32_t>(), 0U);
}

struct ExitRow {
  const char* arguments;
  int exit_code;
  const char* message;
};

TEST_F(CmdEditTest, FailuresExitWithTwoAfterTheMessage) {
  const ExitRow rows[] = {
      {"--drop 0:0x1105", 2, "edit 1 (drop), field \"pid\": clip 00000 has no track 0x1105"},
      {"--drop 0:0x1011", 2, "00000.m2ts: Primary video track count must be 1! "},
      {"--cut 0:1000-2000", 2, "00000.m2ts: duration must be more than 3 second! "},
      {"--cut 0:5", 2, "--cut 0:5: START-END must be two times in milliseconds"},
  };
  for (const ExitRow& row : rows) {
    const test::Outcome run = Edit(row.arguments);
    EXPECT_EQ(run.exit_code, row.exit_code) << row.arguments;
    EXPECT_NE(run.err.find(row.message), std::string::npos) << row.arguments << ": " << run.err;
  }
}

}  // namespace
}  // namespace tessel
