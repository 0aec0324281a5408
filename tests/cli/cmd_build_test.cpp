// `tessel build` as a user runs it: the log lines on stderr, the JSON of what was copied, the exit
// codes of a declined overwrite and of a refused output, and the file system's own text when a
// write runs into the file size limit.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>

#include <nlohmann/json.hpp>

#include "support/run_tessel.h"
#include "support/test_support.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;
using test::Outcome;
using test::Quoted;
using test::RunTessel;
using test::TempDir;
using ::testing::HasSubstr;

std::string Disc(const char* name) {
  return Quoted(test::DataPath(std::string("discs/") + name));
}

TEST(CmdBuild, LogsEachStepAndReportsWhatItCopied) {
  TempDir dir;
  const Outcome run =
      RunTessel("build " + Disc("disc-multiclip") + " -o " + Quoted(dir / "out") + " --json");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(
      std::regex_search(run.err, std::regex(R"(\[\d\d:\d\d:\d\d\]: Start to build\.\.\.\n)")))
      << run.err;
  EXPECT_THAT(run.err, HasSubstr("]: Copying unmodified files\n"));
  EXPECT_THAT(run.err, HasSubstr("Congratulations! Your BD build  is completed successfully!\n"
                                 "Source folder: "));
  EXPECT_TRUE(
      std::regex_search(run.err, std::regex(R"(Start: \d\d:\d\d:\d\d, End: \d\d:\d\d:\d\d, Total: )"
                                            R"(\d\d:\d\d:\d\d )")));
  const nlohmann::json report = nlohmann::json::parse(run.out);
  EXPECT_EQ(report["result"], 0);
  EXPECT_EQ(report["copied_clips"], nlohmann::json::array({0, 1, 2, 3}));
  EXPECT_EQ(report["rebuilt_clips"], nlohmann::json::array());
  EXPECT_EQ(report["output"], (dir / "out/Tessel/DISC/BDMV/").string());
  EXPECT_TRUE(fs::exists(dir / "out/Tessel/DISC/BDMV/STREAM/00003.m2ts"));
}

TEST(CmdBuild, QuietDropsTheLogButNotTheMessages) {
  TempDir dir;
  const Outcome run =
      RunTessel("build " + Disc("disc-simple") + " -o " + Quoted(dir.path()) + " --quiet");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_THAT(run.err, ::testing::Not(HasSubstr("Start to build")));
  EXPECT_THAT(run.err, HasSubstr("Congratulations!"));
}

TEST(CmdBuild, ExitCodesOfRefusals) {
  TempDir dir;
  fs::create_directories(dir / "out/Tessel");
  std::ofstream(dir / "plain") << "x";
  const fs::path disc = test::DataPath("discs/disc-simple");
  struct Case {
    const char* name;
    std::string arguments;
    int exit_code;
    const char* text;
  };
  const Case cases[] = {
      {"overwrite declined", "-o " + Quoted(dir / "out") + " --no", 1, "exists, overwrite ?"},
      {"output inside the source", "-o " + Quoted(disc / "BDMV/STREAM") + " --yes", 2,
       "Your output folder is the same as source folder ! "},
      {"output below a plain file", "-o " + Quoted(dir / "plain/out") + " --yes", 2,
       "Cannot create"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome run = RunTessel("build " + Quoted(disc) + " " + c.arguments);
    EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
    EXPECT_THAT(run.err, HasSubstr(c.text));
  }
  EXPECT_TRUE(fs::is_empty(dir / "out/Tessel"));
  EXPECT_FALSE(fs::exists(disc / "BDMV/STREAM/Tessel"));
}

TEST(CmdBuild, FileSizeLimitGivesTheFileSystemsText) {
  TempDir dir;
  // 16 blocks stay below the 24576 bytes of a clip.
  const std::string command = "sh -c " +
                              Quoted("ulimit -f 16; exec " + std::string(TESSEL_EXE) + " build " +
                                     test::DataPath("discs/disc-simple").string() + " -o " +
                                     (dir / "out").string() + " -q") +
                              " 2>" + Quoted(dir / "err") + " </dev/null";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
  const std::string err = test::ReadText(dir / "err");
  EXPECT_THAT(err, HasSubstr("File too large"));
  EXPECT_THAT(err, HasSubstr("Build error, please check your project file!  "));
  EXPECT_TRUE(fs::exists(dir / "out/Tessel/INCOMPLETE"));
}

}  // namespace
}  // namespace tessel
