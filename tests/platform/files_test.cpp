#include "platform/files.h"

#include <gtest/gtest.h>

#include "platform/format.h"
#include "platform/progress.h"
#include "platform/prompt.h"
#include "support/test_support.h"

namespace tessel {
namespace {

TEST(Files, FindChildIgnoresCaseAndPrefersAnExactMatch) {
  test::TempDir dir;
  std::filesystem::create_directories(dir / "bdmv/playlist");
  EXPECT_EQ(FindChildNoCase(dir.path(), "BDMV"), dir / "bdmv");
  EXPECT_FALSE(FindChildNoCase(dir.path(), "STREAM"));
  std::filesystem::create_directories(dir / "BDMV");
  EXPECT_EQ(FindChildNoCase(dir.path(), "BDMV"), dir / "BDMV");
}

TEST(Files, EnumerateByPatternSortedAndCaseBlind) {
  test::TempDir dir;
  for (const char* name : {"00002.MPLS", "00001.mpls", "notes.txt", "00003.mpls.bak"}) {
    ASSERT_TRUE(WriteWholeFile(dir / name, {1}));
  }
  std::filesystem::create_directories(dir / "sub.mpls");
  const auto found = EnumerateFolder(dir.path(), "*.mpls");
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].filename(), "00001.mpls");
  EXPECT_EQ(found[1].filename(), "00002.MPLS");
  EXPECT_EQ(EnumerateFolder(dir.path(), "*.mpls", /*folders=*/true).size(), 1u);
}

TEST(Files, WildcardMatching) {
  EXPECT_TRUE(WildcardMatchNoCase("*.m2ts", "00001.M2TS"));
  EXPECT_TRUE(WildcardMatchNoCase("0000?.*", "00001.clpi"));
  EXPECT_FALSE(WildcardMatchNoCase("*.m2ts", "00001.m2ts.tmp"));
  EXPECT_TRUE(WildcardMatchNoCase("*", ""));
  EXPECT_FALSE(WildcardMatchNoCase("?", ""));
}

TEST(Files, ReadWholeFileReportsThePathOnFailure) {
  test::TempDir dir;
  std::vector<uint8_t> data = {9};
  std::string error;
  EXPECT_FALSE(ReadWholeFile(dir / "missing.bin", data, &error));
  EXPECT_TRUE(data.empty());
  EXPECT_NE(error.find("missing.bin"), std::string::npos);
  ASSERT_TRUE(WriteWholeFile(dir / "big.bin", std::vector<uint8_t>(100, 7)));
  EXPECT_FALSE(ReadWholeFile(dir / "big.bin", data, &error, /*max_size=*/99));
  EXPECT_TRUE(ReadWholeFile(dir / "big.bin", data, &error));
  EXPECT_EQ(data.size(), 100u);
}

TEST(Files, TrailingSlash) {
  EXPECT_EQ(WithTrailingSlash("/a/b"), "/a/b/");
  EXPECT_EQ(WithTrailingSlash("/a/b//"), "/a/b/");
  EXPECT_EQ(WithTrailingSlash("/"), "/");
}

TEST(Format, NoLengthLimit) {
  const std::string long_text(5000, 'x');
  EXPECT_EQ(Format("%s#%d", long_text.c_str(), 3).size(), 5002u);
  EXPECT_EQ(Format("%s#%d", "M2ts", 13), "M2ts#13");
}

TEST(Prompt, ScopedPromptRecordsAndAnswersScriptedQuestions) {
  test::ScopedRecordingPrompt prompt;
  prompt.Script(PromptAnswer::kYes);
  ShowMessage("File missing: 00001.m2ts ! ");
  EXPECT_EQ(AskUser("Continue? ", PromptButtons::kYesNoCancel), PromptAnswer::kYes);
  EXPECT_EQ(AskUser("Again? ", PromptButtons::kYesNoCancel), PromptAnswer::kCancel);
  EXPECT_EQ(prompt.messages(),
            (std::vector<std::string>{"File missing: 00001.m2ts ! ", "Continue? ", "Again? "}));
}

TEST(Progress, NullCallbackContinuesAndRecordsCarryTheirKind) {
  EXPECT_TRUE(ReportPosition(nullptr, 5));
  std::vector<ProgressRecord> seen;
  ProgressCallback cb = [&](const ProgressRecord& r) {
    seen.push_back(r);
    return seen.size() < 2;
  };
  EXPECT_TRUE(ReportTitle(cb, "Parsing"));
  EXPECT_FALSE(ReportMessage(cb, "line"));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].kind, ProgressKind::kTitle);
  EXPECT_EQ(seen[1].message, "line");
  EXPECT_EQ(PercentOf(1, 3), 33);
  EXPECT_EQ(PercentOf(5, 0), 0);
  EXPECT_EQ(PercentOf(7, 5), 100);
}

}  // namespace
}  // namespace tessel
