// The build of a new disc: an unchanged disc comes out byte for byte with its backup mirror and
// libbluray reads it, a second build copies nothing again, the refusals and a declined overwrite
// touch nothing, a cancel at any point leaves the source alone and no torn clip, and a clip that
// keeps no track is written as the empty clip.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libbluray/bluray.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "model/bd_disc.h"
#include "model/build.h"
#include "model/build_folders.h"
#include "model/build_templates.h"
#include "platform/common.h"
#include "platform/string_table.h"
#include "support/cancel_after.h"
#include "support/test_support.h"
#include "support/ts_oracles.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;
using test::ScopedRecordingPrompt;
using test::TempDir;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

using Tree = std::map<std::string, std::string>;  // relative path -> contents ("/" for folders)

Tree ReadTree(const fs::path& root) {
  Tree tree;
  if (!fs::exists(root)) return tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string name = fs::relative(entry.path(), root).string();
    if (entry.is_directory()) {
      tree[name] = "/";
      continue;
    }
    std::ifstream in(entry.path(), std::ios::binary);
    tree[name] = std::string(std::istreambuf_iterator<char>(in), {});
  }
  return tree;
}

// Only the files of a tree, without the sub-tree `skip`.
Tree FilesOf(const Tree& tree, const std::string& skip = "") {
  Tree files;
  for (const auto& [name, data] : tree) {
    if (data != "/" && (skip.empty() || !name.starts_with(skip))) files[name] = data;
  }
  return files;
}

Tree Below(const Tree& tree, const std::string& prefix) {
  Tree out;
  for (const auto& [name, data] : tree) {
    if (name.starts_with(prefix)) out[name.substr(prefix.size())] = data;
  }
  return out;
}

bool LibblurayOpens(const fs::path& disc_root, bool titles) {
  setenv("BD_DEBUG_MASK", "0", 1);
  BLURAY* bd = bd_open(disc_root.c_str(), nullptr);
  if (!bd) return false;
  bool ok = true;
  if (titles) {
    BLURAY_TITLE_INFO* info = bd_get_playlist_info(bd, 0, 0);
    ok = info != nullptr && info->clip_count > 0;
    if (info) bd_free_title_info(info);
  }
  bd_close(bd);
  return ok;
}

// A disc copied into a scratch folder, opened.
struct StagedDisc {
  explicit StagedDisc(const std::string& name) {
    bdmv = test::StageDisc("discs/" + name, dir / "source");
    opened = disc.Open(bdmv.string());
  }
  TempDir dir;
  fs::path bdmv;
  CBDDisc disc;
  bool opened = false;
};

class UnchangedDisc : public ::testing::TestWithParam<const char*> {};

TEST_P(UnchangedDisc, ComesOutByteForByte) {
  ScopedRecordingPrompt prompt;
  StagedDisc staged(GetParam());
  ASSERT_TRUE(staged.opened);
  const Tree source = ReadTree(staged.bdmv);
  const fs::path chosen = staged.dir / "out";

  const SBuildReport first = RunBuildCommand(staged.disc, chosen.string(), nullptr, nullptr);
  ASSERT_EQ(first.result, JobResult::kDone) << first.final_message;
  EXPECT_THAT(first.rebuilt_clips, IsEmpty());
  EXPECT_THAT(first.written_playlists, IsEmpty());
  const fs::path root = chosen / "Tessel";
  const Tree out = ReadTree(root / "DISC/BDMV");
  // Every source file is there unchanged, but those of a clip no playlist plays (the disc does
  // not load it); the source's own mirror equals ours.
  const Tree out_files = FilesOf(out);
  for (const auto& [name, data] : FilesOf(source)) {
    SCOPED_TRACE(name);
    if (!out_files.contains(name)) {
      EXPECT_TRUE(name.find("CLIPINF/") != std::string::npos || name.starts_with("STREAM/"));
      EXPECT_EQ(staged.disc.clips()->FindClip(FileNumberFromName(fs::path(name).stem().string())),
                nullptr);
      continue;
    }
    EXPECT_TRUE(out_files.at(name) == data);
  }
  for (const auto& [name, data] : out_files) EXPECT_TRUE(source.contains(name)) << name;
  for (const auto& [name, data] : Below(FilesOf(out), "BACKUP/")) {
    EXPECT_TRUE(out.at(name) == data) << name;
  }
  EXPECT_FALSE(fs::exists(root / kIncompleteMarker));
  EXPECT_TRUE(ReadTree(staged.bdmv) == source);
  EXPECT_TRUE(LibblurayOpens(root / "DISC", std::string(GetParam()) != "disc-emptyplaylist"));
  EXPECT_THAT(prompt.messages().back(), HasSubstr(LoadString(9440)));

  // Again into the same folder: only the emptied mirror is filled again.
  prompt.Script(PromptAnswer::kYes);
  const SBuildReport second = RunBuildCommand(staged.disc, chosen.string(), nullptr, nullptr);
  ASSERT_EQ(second.result, JobResult::kDone);
  EXPECT_TRUE(ReadTree(root / "DISC/BDMV") == out);
  EXPECT_EQ(second.copied_files, Below(FilesOf(out), "BACKUP/").size());
}

INSTANTIATE_TEST_SUITE_P(Discs, UnchangedDisc,
                         ::testing::Values("disc-simple", "disc-multiclip", "disc-audio-zoo",
                                           "disc-mpeg2", "disc-emptyplaylist"),
                         [](const auto& param) {
                           std::string name = param.param;
                           std::erase(name, '-');
                           return name;
                         });

TEST(Build, RefusesAnOutputThatOverlapsTheSource) {
  ScopedRecordingPrompt prompt;
  TempDir dir;
  // A disc that is itself the output of an earlier build into `dir`.
  const fs::path bdmv = test::StageDisc("discs/disc-simple", dir / "Tessel/DISC");
  fs::create_directory_symlink(dir.path(), dir / "link");
  CBDDisc disc;
  ASSERT_TRUE(disc.Open(bdmv.string()));
  const Tree before = ReadTree(dir.path());
  for (const fs::path& chosen : {dir.path(), bdmv, bdmv / "STREAM", dir / "link"}) {
    SCOPED_TRACE(chosen);
    prompt.clear();
    const SBuildReport report = RunBuildCommand(disc, chosen.string(), nullptr, nullptr);
    EXPECT_EQ(report.result, JobResult::kFailed);
    EXPECT_THAT(prompt.messages(), ::testing::ElementsAre(LoadString(9474)));
    EXPECT_TRUE(ReadTree(dir.path()) == before);
  }
}

TEST(Build, DeclinedOverwriteTouchesNothing) {
  ScopedRecordingPrompt prompt;
  StagedDisc staged("disc-simple");
  ASSERT_TRUE(staged.opened);
  fs::create_directories(staged.dir / "out/Tessel");
  std::ofstream(staged.dir / "out/Tessel/keep.txt") << "mine";
  const Tree before = ReadTree(staged.dir.path());
  for (PromptAnswer answer : {PromptAnswer::kNo, PromptAnswer::kCancel}) {
    prompt.Script(answer);
    const SBuildReport report =
        RunBuildCommand(staged.disc, (staged.dir / "out").string(), nullptr, nullptr);
    EXPECT_EQ(report.result, JobResult::kCancelled);
    EXPECT_TRUE(ReadTree(staged.dir.path()) == before);
  }
}

TEST(Build, FailingCheckWritesNothing) {
  ScopedRecordingPrompt prompt;
  StagedDisc staged("disc-simple");
  ASSERT_TRUE(staged.opened);
  CClpiObject* clip = staged.disc.clips()->FindClip(0);
  ASSERT_NE(clip, nullptr);
  ASSERT_TRUE(clip->SetKeepByPid(0x1011, false));
  const SBuildReport report =
      RunBuildCommand(staged.disc, (staged.dir / "out").string(), nullptr, nullptr);
  EXPECT_EQ(report.result, JobResult::kFailed);
  EXPECT_THAT(prompt.messages(), ::testing::SizeIs(1));
  EXPECT_FALSE(fs::exists(staged.dir / "out"));
}

TEST(Build, OutputBelowAPlainFileFails) {
  ScopedRecordingPrompt prompt;
  StagedDisc staged("disc-simple");
  ASSERT_TRUE(staged.opened);
  std::ofstream(staged.dir / "plain") << "x";
  const SBuildReport report =
      RunBuildCommand(staged.disc, (staged.dir / "plain/out").string(), nullptr, nullptr);
  EXPECT_EQ(report.result, JobResult::kFailed);
  EXPECT_THAT(prompt.messages(), Contains(HasSubstr("Cannot create")));
}

TEST(Build, EveryTrackRemovedWritesTheEmptyClipAndPlaylist) {
  ScopedRecordingPrompt prompt;
  StagedDisc staged("disc-simple");
  ASSERT_TRUE(staged.opened);
  CClpiObject* clip = staged.disc.clips()->FindClip(0);
  ASSERT_NE(clip, nullptr);
  clip->SetKeepAll(false);
  const std::string root = ProjectRoot((staged.dir / "out").string());
  ASSERT_EQ(PrepareOutputFolder(root), JobResult::kDone);
  SBuildReport report;
  ASSERT_EQ(Build(staged.disc, OutputBdmvFolder(root), nullptr, &report), JobResult::kDone)
      << testing::PrintToString(prompt.messages());
  const fs::path out = OutputBdmvFolder(root);
  const Tree tree = ReadTree(out);
  const std::vector<uint8_t> stream = EmptyClipStream();
  const std::vector<uint8_t> info = EmptyClipInfo();
  const std::vector<uint8_t> playlist = EmptyPlaylist(0);
  EXPECT_EQ(tree.at("STREAM/00000.m2ts"), std::string(stream.begin(), stream.end()));
  EXPECT_EQ(tree.at("CLIPINF/00000.clpi"), std::string(info.begin(), info.end()));
  EXPECT_EQ(tree.at("PLAYLIST/00000.mpls"), std::string(playlist.begin(), playlist.end()));
  EXPECT_EQ(tree.at("BACKUP/PLAYLIST/00000.mpls"), tree.at("PLAYLIST/00000.mpls"));
  EXPECT_THAT(report.rebuilt_clips, ::testing::ElementsAre(0));
  EXPECT_TRUE(LibblurayOpens(fs::path(root) / "DISC", true));
  ResetClips(staged.disc);
}

// No partial clip and no scratch file anywhere in the output.
void ExpectNoTornFiles(const fs::path& out, const Tree& source) {
  for (const auto& [name, data] : FilesOf(ReadTree(out))) {
    EXPECT_FALSE(fs::path(name).filename().string().starts_with(".")) << name;
    if (name.starts_with("STREAM/")) {
      ASSERT_TRUE(source.contains(name)) << name;
      EXPECT_EQ(data, source.at(name)) << name;
    }
  }
}

TEST(Build, CancelAtAnyCallbackLeavesNoTornClip) {
  ScopedRecordingPrompt prompt;
  StagedDisc staged("disc-multiclip");
  ASSERT_TRUE(staged.opened);
  const Tree source = ReadTree(staged.bdmv);
  test::CancelAfter never(0);
  ASSERT_EQ(RunBuildCommand(staged.disc, (staged.dir / "full").string(), nullptr, never.callback())
                .result,
            JobResult::kDone);
  ASSERT_GT(never.calls(), 2);
  for (int n = 1; n <= never.calls(); ++n) {
    SCOPED_TRACE(n);
    prompt.clear();
    const fs::path chosen = staged.dir / ("cancel" + std::to_string(n));
    test::CancelAfter cancel(n);
    const SBuildReport report =
        RunBuildCommand(staged.disc, chosen.string(), nullptr, cancel.callback());
    EXPECT_EQ(report.result, JobResult::kCancelled);
    EXPECT_EQ(cancel.calls(), n);
    EXPECT_EQ(report.final_message, std::string(LoadString(9441)) + "  ");
    EXPECT_TRUE(fs::exists(chosen / "Tessel" / kIncompleteMarker));
    ExpectNoTornFiles(chosen / "Tessel/DISC/BDMV", source);
    EXPECT_TRUE(ReadTree(staged.bdmv) == source);
  }
}

}  // namespace
}  // namespace tessel

namespace tessel {
namespace {

// Clips that change are remultiplexed: the output PIDs follow the new order, the playlist names
// them, and independent readers take the result.
TEST(Build, ChangedClipIsRemultiplexedAndReadByIndependentReaders) {
  TESSEL_SKIP_WITHOUT_TOOL("ffprobe");
  TESSEL_SKIP_WITHOUT_LIBBLURAY();
  struct Case {
    const char* name;
    bool drop_ac3;
    bool add_ac3;
    std::vector<std::pair<uint16_t, uint8_t>> streams;  // PID, coding type
  };
  const std::vector<Case> cases = {
      {"AC-3 dropped: LPCM moves to 0x1100",
       true,
       false,
       {{0x1011, 0x1B}, {0x1100, 0x80}, {0x1200, 0x90}}},
      {"AC-3 added",
       false,
       true,
       {{0x1011, 0x1B}, {0x1100, 0x81}, {0x1101, 0x80}, {0x1102, 0x81}, {0x1200, 0x90}}},
      {"dropped and added",
       true,
       true,
       {{0x1011, 0x1B}, {0x1100, 0x80}, {0x1101, 0x81}, {0x1200, 0x90}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedRecordingPrompt prompt;
    StagedDisc staged("disc-simple");
    ASSERT_TRUE(staged.opened);
    CClpiObject* clip = staged.disc.clips()->FindClip(0);
    ASSERT_NE(clip, nullptr);
    if (c.drop_ac3) {
      ASSERT_TRUE(clip->SetKeepByPid(0x1100, false));
    }
    if (c.add_ac3) {
      const fs::path es = staged.dir / "dub.ac3";
      fs::copy_file(test::DataPath("es/ac3_20_192k.ac3"), es);
      SRawTrack* added = clip->AddNewTrack(es, nullptr);
      ASSERT_NE(added, nullptr);
      added->order = clip->TrackCount();
    }
    const std::string root = ProjectRoot((staged.dir / "out").string());
    ASSERT_EQ(PrepareOutputFolder(root), JobResult::kDone);
    const std::string out = OutputBdmvFolder(root);
    ASSERT_EQ(Build(staged.disc, out, nullptr), JobResult::kDone)
        << testing::PrintToString(prompt.messages());
    ResetClips(staged.disc);
    const auto read = test::ReadClpiWithLibbluray(fs::path(out) / "CLIPINF/00000.clpi");
    ASSERT_TRUE(read);
    ASSERT_EQ(read->programs.size(), 1u);
    std::vector<std::pair<uint16_t, uint8_t>> streams;
    for (const test::BdProgramStream& s : read->programs[0]) {
      streams.emplace_back(s.pid, s.coding_type);
    }
    EXPECT_EQ(streams, c.streams);
    EXPECT_EQ(fs::file_size(fs::path(out) / "STREAM/00000.m2ts") % 6144, 0u);
    // The fixture's stream is a short head of the clip (its PG has no packets yet), so ffprobe's
    // stream list is the check here; whole clips are decoded in the remux command's tests.
    std::vector<uint16_t> probed;
    for (const auto& s : test::ProbeStreams(fs::path(out) / "STREAM/00000.m2ts")) {
      if (probed.empty() || probed.back() != s.pid) probed.push_back(s.pid);
    }
    std::vector<uint16_t> pids;
    for (const auto& [pid, type] : c.streams) pids.push_back(pid);
    EXPECT_EQ(probed, pids);
    EXPECT_TRUE(LibblurayOpens(fs::path(root) / "DISC", true));
    // The rebuilt playlist names the new PIDs.
    CBDDisc built;
    ASSERT_TRUE(built.Open(out));
    std::vector<uint16_t> listed;
    for (const auto& track : built.playlists()->GetAt(0)->tracks) {
      if (track->keep) listed.push_back(track->pid);
    }
    EXPECT_EQ(listed, pids);
  }
}

}  // namespace
}  // namespace tessel
