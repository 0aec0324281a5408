// The output folders of a build: the refusal of outputs that overlap the source, the project
// layout and its question, clean-ups that never reach through a link, and the files written for
// emptied clips and playlists, read back by independent readers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libbluray/bluray.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "model/build_folders.h"
#include "model/build_templates.h"
#include "platform/files.h"
#include "support/test_support.h"
#include "support/ts_conformance.h"
#include "support/ts_oracles.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;
using test::ScopedRecordingPrompt;
using test::TempDir;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

void Touch(const fs::path& path, const std::string& text = "x") {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(BuildFolders, OverlapByIdentity) {
  TempDir dir;
  fs::create_directories(dir / "disc/BDMV/STREAM");
  fs::create_directories(dir / "out/Tessel/DISC/BDMV/BACKUP");
  fs::create_directories(dir / "other");
  fs::create_directory_symlink(dir / "disc", dir / "link");
  struct Case {
    const char* name;
    fs::path a;
    fs::path b;
    bool overlap;
  };
  const Case cases[] = {
      {"same folder", dir / "disc/BDMV", dir / "disc/BDMV", true},
      {"output inside the source", dir / "disc/BDMV/STREAM/Tessel/DISC/BDMV", dir / "disc/BDMV",
       true},
      {"through ..", dir / "other/../disc/BDMV", dir / "disc/BDMV", true},
      {"through a link", dir / "link/BDMV", dir / "disc/BDMV", true},
      {"source in the output's backup", dir / "out/Tessel/DISC/BDMV",
       dir / "out/Tessel/DISC/BDMV/BACKUP", true},
      {"siblings", dir / "other/Tessel/DISC/BDMV", dir / "disc/BDMV", false},
      {"a common parent only", dir / "disc/Tessel/DISC/BDMV", dir / "disc/BDMV", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FoldersOverlap(c.a, c.b), c.overlap);
    EXPECT_EQ(FoldersOverlap(c.b, c.a), c.overlap);
  }
}

TEST(BuildFolders, PrepareCreatesTheLayout) {
  TempDir dir;
  ScopedRecordingPrompt prompt;
  const std::string root = ProjectRoot(dir.path().string());
  EXPECT_EQ(root, (dir / "Tessel/").string());
  EXPECT_EQ(OutputBdmvFolder(root), root + "DISC/BDMV/");
  ASSERT_EQ(PrepareOutputFolder(root), JobResult::kDone);
  EXPECT_THAT(prompt.entries(), IsEmpty());
  EXPECT_THAT(Names(root), ElementsAre("DISC", "TEMP"));
  EXPECT_THAT(Names(root + "DISC"), ElementsAre("BDMV", "CERTIFICATE"));
  EXPECT_THAT(Names(root + "DISC/BDMV"), ElementsAre("AUXDATA", "BACKUP", "BDJO", "CLIPINF", "JAR",
                                                     "META", "PLAYLIST", "STREAM"));
  EXPECT_THAT(Names(root + "DISC/BDMV/BACKUP"), ElementsAre("BDJO", "CLIPINF", "JAR", "PLAYLIST"));
  EXPECT_THAT(Names(root + "DISC/CERTIFICATE"), ElementsAre("BACKUP"));
}

TEST(BuildFolders, AnExistingRootIsOnlyReusedOnYes) {
  for (const PromptAnswer answer : {PromptAnswer::kNo, PromptAnswer::kCancel, PromptAnswer::kYes}) {
    TempDir dir;
    const std::string root = ProjectRoot(dir.path().string());
    Touch(root + "DISC/BDMV/BACKUP/old.txt");
    Touch(root + "DISC/BDMV/STREAM/00007.m2ts");
    ScopedRecordingPrompt prompt;
    prompt.Script(answer);
    const JobResult r = PrepareOutputFolder(root);
    ASSERT_EQ(prompt.entries().size(), 1u);
    EXPECT_EQ(prompt.entries()[0].text, root + "\n exists, overwrite ? ");
    EXPECT_TRUE(prompt.entries()[0].question);
    if (answer != PromptAnswer::kYes) {
      EXPECT_EQ(r, JobResult::kCancelled);
      EXPECT_TRUE(fs::exists(root + "DISC/BDMV/BACKUP/old.txt"));
      EXPECT_FALSE(fs::exists(root + "TEMP"));
      continue;
    }
    EXPECT_EQ(r, JobResult::kDone);
    // The backup is made anew; the build itself overwrites or removes the rest.
    EXPECT_THAT(Names(root + "DISC/BDMV/BACKUP"),
                ElementsAre("BDJO", "CLIPINF", "JAR", "PLAYLIST"));
    EXPECT_TRUE(fs::exists(root + "DISC/BDMV/STREAM/00007.m2ts"));
  }
}

TEST(BuildFolders, ARootBelowAFileCannotBeCreated) {
  TempDir dir;
  Touch(dir / "file");
  ScopedRecordingPrompt prompt;
  const std::string root = ProjectRoot((dir / "file").string());
  EXPECT_EQ(PrepareOutputFolder(root), JobResult::kFailed);
  EXPECT_THAT(prompt.messages(), ElementsAre("Cannot create " + root + " ! "));
}

TEST(BuildFolders, ChineseDesktopTexts) {
  TempDir dir;
  Touch(dir / "file");
  const char* lang = std::getenv("LANG");
  const std::string saved = lang ? lang : "";
  const char* all = std::getenv("LC_ALL");
  const std::string saved_all = all ? all : "";
  setenv("LC_ALL", "zh_CN.UTF-8", 1);
  ScopedRecordingPrompt prompt;
  const std::string root = ProjectRoot((dir / "file").string());
  EXPECT_EQ(PrepareOutputFolder(root), JobResult::kFailed);
  EXPECT_THAT(prompt.messages(), ElementsAre("创建失败: " + root + " ! "));
  if (all) {
    setenv("LC_ALL", saved_all.c_str(), 1);
  } else {
    unsetenv("LC_ALL");
  }
}

TEST(BuildFolders, DeletionNeverFollowsALink) {
  TempDir dir;
  Touch(dir / "outside/keep.txt");
  Touch(dir / "outside/sub/keep.txt");
  Touch(dir / "folder/a.txt");
  Touch(dir / "folder/sub/b.txt");
  fs::create_directory_symlink(dir / "outside", dir / "folder/linked");
  fs::create_directory_symlink(dir / "outside", dir / "folder/sub/linked");
  fs::create_symlink(dir / "outside/keep.txt", dir / "folder/file-link");
  EXPECT_TRUE(DeleteFolderContents(dir / "folder", false));
  EXPECT_THAT(Names(dir / "folder"), IsEmpty());
  EXPECT_TRUE(fs::exists(dir / "outside/keep.txt"));
  EXPECT_TRUE(fs::exists(dir / "outside/sub/keep.txt"));
  EXPECT_TRUE(DeleteFolderContents(dir / "folder", true));
  EXPECT_FALSE(fs::exists(dir / "folder"));
}

TEST(BuildFolders, StaleFilesGoLinksAndFoldersAreLeft) {
  TempDir dir;
  for (const char* name : {"00000.m2ts", "00002.m2ts", "00009.m2ts", "notes.txt", "00000.M2TS"}) {
    Touch(dir / "STREAM" / name);
  }
  fs::create_directories(dir / "STREAM/SSIF");
  Touch(dir / "elsewhere/00005.m2ts");
  fs::create_symlink(dir / "elsewhere/00005.m2ts", dir / "STREAM/00005.m2ts");
  ScopedRecordingPrompt prompt;
  EXPECT_EQ(RemoveStaleFiles(dir / "STREAM", BdName::kM2tsExt, {0, 2}), JobResult::kDone);
  EXPECT_THAT(Names(dir / "STREAM"), ElementsAre("00000.m2ts", "00002.m2ts", "SSIF"));
  EXPECT_TRUE(fs::exists(dir / "elsewhere/00005.m2ts"));
  EXPECT_THAT(prompt.entries(), IsEmpty());
}

// ---- what an emptied clip and playlist become ----

TEST(BuildTemplates, TheEmptyClipReadsEverywhere) {
  TempDir dir;
  const std::vector<uint8_t> stream = EmptyClipStream();
  EXPECT_EQ(stream.size(), 24576u);
  ASSERT_TRUE(WriteWholeFile(dir / "00000.m2ts", stream));
  ASSERT_TRUE(WriteWholeFile(dir / "00000.clpi", EmptyClipInfo()));
  const test::TsReport report = test::CheckTransportStream(dir / "00000.m2ts", dir / "00000.clpi");
  EXPECT_TRUE(report.ok()) << report.Text();
  EXPECT_EQ(report.packets, 128u);
  EXPECT_EQ(report.pcr_pid, 0x1001);
  EXPECT_GE(report.pat_count, 4u);

  TESSEL_SKIP_WITHOUT_LIBBLURAY();
  const std::optional<test::BdClip> clip = test::ReadClpiWithLibbluray(dir / "00000.clpi");
  ASSERT_TRUE(clip);
  EXPECT_EQ(clip->application_type, 1);
  EXPECT_EQ(clip->source_packets, 128u);
  ASSERT_EQ(clip->atc_sequences.size(), 1u);
  ASSERT_EQ(clip->atc_sequences[0].size(), 1u);
  EXPECT_EQ(clip->atc_sequences[0][0].presentation_start_time, kEmptyClipStart);
  EXPECT_EQ(clip->atc_sequences[0][0].presentation_end_time, kEmptyClipStart + kEmptyClipLength);
}

TEST(BuildTemplates, TheEmptyPlaylistOpensInLibbluray) {
  TESSEL_SKIP_WITHOUT_LIBBLURAY();
  TempDir dir;
  const fs::path bdmv = test::StageDisc("discs/disc-simple", dir.path());
  ASSERT_TRUE(WriteWholeFile(bdmv / "PLAYLIST/00000.mpls", EmptyPlaylist(0)));
  ASSERT_TRUE(WriteWholeFile(bdmv / "CLIPINF/00000.clpi", EmptyClipInfo()));
  ASSERT_TRUE(WriteWholeFile(bdmv / "STREAM/00000.m2ts", EmptyClipStream()));
  setenv("BD_DEBUG_MASK", "0", 1);
  BLURAY* bd = bd_open(dir.path().c_str(), nullptr);
  ASSERT_NE(bd, nullptr);
  BLURAY_TITLE_INFO* info = bd_get_playlist_info(bd, 0, 0);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->clip_count, 1u);
  EXPECT_EQ(info->clips[0].video_stream_count, 0);
  EXPECT_EQ(info->clips[0].audio_stream_count, 0);
  EXPECT_EQ(info->duration, uint64_t{kEmptyClipLength} * 2);
  bd_free_title_info(info);
  bd_close(bd);
  // A playlist whose play items are all gone has none.
  EXPECT_FALSE(EmptyPlaylist(-1).empty());
}

}  // namespace
}  // namespace tessel
