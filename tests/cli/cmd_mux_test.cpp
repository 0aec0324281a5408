// `tessel mux` run as a process: what it refuses before writing anything, and what it leaves
// behind when it stops.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "support/run_tessel.h"
#include "support/test_support.h"

namespace tessel {
namespace {

using test::Outcome;
using test::Quoted;
using test::RunTessel;
using ::testing::HasSubstr;

std::vector<std::string> FilesIn(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

TEST(MuxCommand, BadOptionsAreRefusedBeforeAnythingIsWritten) {
  struct Case {
    const char* options;
    const char* message;
  };
  const Case cases[] = {
      {"--lang 1=fra", "Bad per-track option \"1=fra\""},
      {"--lang 0=xx", "Unknown language code \"xx\" "},
      {"--lang 0=qqq", "Unknown language code \"qqq\" "},
      {"--lang fra", "Bad per-track option \"fra\""},
      {"--delay 0=abc", "Bad delay \"abc\""},
      {"--delay 0=99999999", "Bad delay \"99999999\""},
      {"--range 0=10-5", "Bad range \"10-5\""},
      {"--range 0=5", "Bad range \"5\""},
      {"--range 0=1-2s", "Bad range \"1-2s\""},
      {"--secondary 3", "Bad --secondary 3"},
      {"--rate 0", "--rate"},
      {"--clip 100000", "--clip"},
  };
  const test::TempDir out;
  const std::string input = Quoted(test::DataPath("es/ac3_51_448k.ac3"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    const Outcome run =
        RunTessel("mux --out " + Quoted(out.path()) + " " + c.options + " " + input);
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_THAT(run.err, HasSubstr(c.message));
    EXPECT_THAT(FilesIn(out.path()), ::testing::IsEmpty());
  }
}

TEST(MuxCommand, ExistingOutputsAreReplacedOnlyWithYes) {
  const test::TempDir out;
  ASSERT_TRUE(WriteWholeFile(out / "00007.clpi", {1, 2, 3}));
  const Outcome run = RunTessel("mux --out " + Quoted(out.path()) + " --clip 7 " +
                                Quoted(test::DataPath("es/ac3_51_448k.ac3")));
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_THAT(run.err, HasSubstr("00007.clpi exists; pass --yes to replace it "));
  std::vector<uint8_t> kept;
  ASSERT_TRUE(ReadWholeFile(out / "00007.clpi", kept));
  EXPECT_EQ(kept, (std::vector<uint8_t>{1, 2, 3}));
  const Outcome missing = RunTessel("mux --out " + Quoted(out / "none") + " x.ac3");
  EXPECT_EQ(missing.exit_code, 2);
  EXPECT_THAT(missing.err, HasSubstr("does not exist"));
}

}  // namespace
}  // namespace tessel
