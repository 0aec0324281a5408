#include "model/bd_disc.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "support/disc_builder.h"
#include "support/test_support.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;
using test::DiscBuilder;
using test::ItemParams;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

ItemParams Item(int clip, uint8_t connection = 1) {
  ItemParams item;
  item.clip = clip;
  item.connection = connection;
  return item;
}

std::vector<int> ClipIds(const CBDDisc& disc) {
  std::vector<int> ids;
  for (const auto& clip : disc.clips()->items()) ids.push_back(clip->id());
  return ids;
}

std::vector<std::string> PlaylistNames(const CBDDisc& disc) {
  std::vector<std::string> names;
  for (const auto& playlist : disc.playlists()->items()) {
    names.push_back(playlist->name() + "=" + std::to_string(playlist->id()));
  }
  return names;
}

struct FixtureDisc {
  const char* folder;
  std::vector<std::string> playlists;  // name=id
  std::vector<int> clips;
};

TEST(DiscOpen, EverySampleDiscOpens) {
  const FixtureDisc discs[] = {
      {"disc-simple", {"00000=0"}, {0}},
      {"disc-multiclip", {"00000=0", "00001=1"}, {0, 1, 2, 3}},
      {"disc-audio-zoo", {"00000=0"}, {0}},
      {"disc-mpeg2", {"00000=0"}, {0}},
      // The blank clip 01900 is used by no play item, so it is not loaded.
      {"disc-emptyplaylist", {"00000=0", "01900=1900"}, {0}},
  };
  for (const FixtureDisc& expected : discs) {
    SCOPED_TRACE(expected.folder);
    test::ScopedRecordingPrompt prompt;
    CBDDisc disc;
    ASSERT_TRUE(disc.Open(test::DataPath(std::string("discs/") + expected.folder)));
    EXPECT_THAT(prompt.messages(), IsEmpty());
    EXPECT_EQ(disc.name(), expected.folder);
    EXPECT_EQ(PlaylistNames(disc), expected.playlists);
    EXPECT_EQ(ClipIds(disc), expected.clips);
    EXPECT_EQ(disc.index()->name(), "index.bdmv");
    EXPECT_EQ(disc.movie_objects()->name(), "MovieObject.bdmv");
    EXPECT_EQ(disc.sound(), nullptr);
    EXPECT_FALSE(disc.stereoscopic());
    EXPECT_EQ(CurrentClips(), disc.clips());
    EXPECT_EQ(CurrentPlaylists(), disc.playlists());
  }
  // The lists are withdrawn with the disc that published them.
  EXPECT_EQ(CurrentClips(), nullptr);
  EXPECT_EQ(CurrentPlaylists(), nullptr);
}

TEST(DiscOpen, EmptyPlaylistWithStrayMarkOpens) {
  test::ScopedRecordingPrompt prompt;
  CBDDisc disc;
  ASSERT_TRUE(disc.Open(test::DataPath("discs/disc-emptyplaylist/BDMV")));
  const CMplsObject* empty = disc.playlists()->GetAt(1);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->play_items.size(), 0u);
  ASSERT_EQ(empty->marks.size(), 1u);
  EXPECT_EQ(empty->marks[0].RefToPlayItemID, 0xFFFF);
  EXPECT_THAT(empty->tracks, IsEmpty());
  EXPECT_EQ(PlaylistLabel(*empty), "01900, 00:00:00:000, 0 PI(s)");
}

TEST(DiscOpen, FolderGivenAsBdmvOrParentWithOrWithoutSlash) {
  const std::string root = test::DataPath("discs/disc-multiclip").string();
  for (const std::string& path : {root, root + "/", root + "/BDMV", root + "/BDMV/"}) {
    SCOPED_TRACE(path);
    CBDDisc disc;
    ASSERT_TRUE(disc.Open(path));
    EXPECT_EQ(disc.folder(), root + "/BDMV/");
    EXPECT_EQ(disc.name(), "disc-multiclip");
  }
}

TEST(DiscOpen, ClipInitialStateFromClipInformation) {
  CBDDisc disc;
  ASSERT_TRUE(disc.Open(test::DataPath("discs/disc-simple")));
  const CClpiObject* clip = disc.clips()->FindClip(0);
  ASSERT_NE(clip, nullptr);
  EXPECT_EQ(clip->name(), "00000");
  // STC sequence 27000000..27450450 at 45 kHz.
  EXPECT_EQ(clip->start_time, 54000000u);
  EXPECT_EQ(clip->end_time, 54900900u);
  EXPECT_EQ(clip->in_point, 0u);
  EXPECT_EQ(clip->out_point, CClpiObject::kToEnd);
  EXPECT_EQ(clip->in_offset, 0);
  EXPECT_EQ(clip->out_offset, 900900);
  EXPECT_EQ(clip->frame_rate_code, 1);  // 23.976
  EXPECT_EQ(clip->source_timing.rate, 6000000u);
  EXPECT_EQ(clip->source_timing.presentation_start, 54000000ull * 300);
  EXPECT_EQ(clip->source_timing.presentation_end, 54900900ull * 300);
  EXPECT_EQ(clip->source_timing.frame_duration, 1126125u);  // 1001/24 ms at 27 MHz
  EXPECT_EQ(clip->output_timing.frame_duration, clip->source_timing.frame_duration);
  EXPECT_EQ(clip->PacketCount(), 32032u);
  EXPECT_TRUE(fs::exists(clip->stream_path));
  EXPECT_TRUE(fs::exists(clip->clpi_path));

  std::vector<std::string> tracks;
  for (const auto& track : clip->original_tracks) {
    tracks.push_back(std::to_string(track->pid) + "/" + std::to_string(track->order) + "/" +
                     std::to_string(track->keep) + "/" + LanguageAt(track->language).code);
  }
  EXPECT_THAT(tracks, ElementsAre("4113/0/1/eng", "4352/1/1/eng", "4353/2/1/fra", "4608/3/1/eng"));
  EXPECT_EQ(ClipLabel(*clip), "00000.m2ts, 5.87MB, 4 track(s)");
}

TEST(DiscOpen, TitleRuleAndListingOrder) {
  test::TempDir dir;
  DiscBuilder builder(dir.path());
  builder.AddClip(0);
  for (const char* title : {"abcde", "00001", "1", "123456", "-0001"}) {
    builder.AddPlaylist(title, {Item(0)});
  }
  test::ScopedRecordingPrompt prompt;
  CBDDisc disc;
  ASSERT_TRUE(disc.Open(dir.path()));
  EXPECT_THAT(PlaylistNames(disc), ElementsAre("00001=1", "abcde=0"));
}

TEST(DiscOpen, SharedClipLoadedOnceAndUnreferencedClipSkipped) {
  test::TempDir dir;
  DiscBuilder builder(dir.path());
  for (int clip : {3, 4, 5}) builder.AddClip(clip);
  builder.AddPlaylist("00001", {Item(4), Item(3)});
  builder.AddPlaylist("00002", {Item(3)});
  CBDDisc disc;
  ASSERT_TRUE(disc.Open(dir.path()));
  EXPECT_THAT(ClipIds(disc), ElementsAre(3, 4));

  // The other loader takes every clip of the folder.
  CBDDisc all;
  std::string folder = builder.bdmv().string();
  ASSERT_TRUE(all.LoadAllClips(folder));
  EXPECT_THAT(ClipIds(all), ElementsAre(3, 4, 5));
}

TEST(DiscOpen, SeamlessLinks) {
  test::TempDir dir;
  DiscBuilder builder(dir.path());
  for (int clip : {1, 2}) builder.AddClip(clip);
  builder.AddPlaylist("00000", {Item(1), Item(2, 5), Item(2, 5)});
  CBDDisc disc;
  ASSERT_TRUE(disc.Open(dir.path()));
  const CClpiObject* one = disc.clips()->FindClip(1);
  const CClpiObject* two = disc.clips()->FindClip(2);
  EXPECT_THAT(one->seamless_predecessors, IsEmpty());
  EXPECT_THAT(one->seamless_successors, ElementsAre(2));
  EXPECT_THAT(two->seamless_predecessors, ElementsAre(1));
  EXPECT_THAT(two->seamless_successors, ElementsAre(2));
}

TEST(DiscOpen, LowerCaseFolderNames) {
  test::TempDir dir;
  DiscBuilder builder(dir.path(), /*lower_case_names=*/true);
  builder.AddClip(7);
  builder.AddPlaylist("00001", {Item(7)});
  fs::rename(builder.bdmv() / "index.bdmv", builder.bdmv() / "INDEX.BDMV");
  fs::create_directories(builder.bdmv() / "stream" / "ssif");
  CBDDisc disc;
  ASSERT_TRUE(disc.Open(dir.path()));
  EXPECT_THAT(ClipIds(disc), ElementsAre(7));
  EXPECT_EQ(disc.clips()->GetAt(0)->stream_path, (builder.bdmv() / "stream/00007.m2ts").string());
  EXPECT_EQ(disc.index()->path, (builder.bdmv() / "INDEX.BDMV").string());
  EXPECT_TRUE(disc.stereoscopic());
}

TEST(DiscOpen, TrackListHidesClipStreamsTheTableOmits) {
  test::TempDir dir;
  DiscBuilder builder(dir.path());
  builder.AddClip(0);
  ItemParams hidden = Item(0);
  hidden.hidden_pids = {0x1101};
  builder.AddPlaylist("00000", {hidden});
  CBDDisc disc;
  ASSERT_TRUE(disc.Open(dir.path()));
  const CMplsObject* playlist = disc.playlists()->GetAt(0);
  std::vector<std::string> tracks;
  for (const auto& track : playlist->tracks) {
    tracks.push_back(std::to_string(track->pid) + (track->keep ? " visible" : " hidden"));
  }
  EXPECT_THAT(tracks, ElementsAre("4113 visible", "4352 visible", "4608 visible", "4353 hidden"));
  EXPECT_THAT(playlist->initial_visibility, ElementsAre(true, true, true, false));
}

// Failures: each stops the whole open with one message.
struct FailureCase {
  const char* label;
  std::function<void(DiscBuilder&)> spoil;
  std::function<std::string(const DiscBuilder&)> message;
};

std::vector<uint8_t> Garbage() {
  return std::vector<uint8_t>(12, 0xFF);
}

TEST(DiscOpen, FailuresShowOneMessage) {
  const FailureCase cases[] = {
      {"missing stream", [](DiscBuilder& b) { fs::remove(b.Folder("STREAM") / "00003.m2ts"); },
       [](const DiscBuilder&) { return std::string("File missing: 00003.m2ts ! "); }},
      {"no playlist", [](DiscBuilder& b) { fs::remove(b.Folder("PLAYLIST") / "00001.mpls"); },
       [](const DiscBuilder&) { return std::string("has no corresponding mpls file! "); }},
      {"broken playlist", [](DiscBuilder& b) { b.WriteFile("PLAYLIST/00001.mpls", Garbage()); },
       [](const DiscBuilder& b) {
         return "Stream parse error:\n" + (b.Folder("PLAYLIST") / "00001.mpls").string();
       }},
      {"broken clip", [](DiscBuilder& b) { b.WriteFile("CLIPINF/00003.clpi", Garbage()); },
       [](const DiscBuilder& b) {
         return "Stream parse error:\n" + (b.Folder("CLIPINF") / "00003.clpi").string();
       }},
      {"broken index", [](DiscBuilder& b) { b.WriteFile("index.bdmv", Garbage()); },
       [](const DiscBuilder& b) {
         return "Stream parse error:\n" + (b.bdmv() / "index.bdmv").string();
       }},
      {"broken movie objects", [](DiscBuilder& b) { b.WriteFile("MovieObject.bdmv", Garbage()); },
       [](const DiscBuilder& b) {
         return "Stream parse error:\n" + (b.bdmv() / "MovieObject.bdmv").string();
       }},
      {"missing clip information",
       [](DiscBuilder& b) { fs::remove(b.Folder("CLIPINF") / "00003.clpi"); },
       [](const DiscBuilder& b) {
         return (b.Folder("CLIPINF") / "00003.clpi").string() + ": No such file or directory";
       }},
      {"missing index", [](DiscBuilder& b) { fs::remove(b.bdmv() / "index.bdmv"); },
       [](const DiscBuilder& b) {
         return (b.bdmv() / "index.bdmv").string() + ": No such file or directory";
       }},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.label);
    test::TempDir dir;
    DiscBuilder builder(dir.path());
    builder.AddClip(3);
    builder.AddPlaylist("00001", {Item(3)});
    c.spoil(builder);
    test::ScopedRecordingPrompt prompt;
    CBDDisc disc;
    EXPECT_FALSE(disc.Open(dir.path()));
    EXPECT_THAT(prompt.messages(), ElementsAre(c.message(builder)));
  }
}

TEST(DiscOpen, NoReferencedClip) {
  test::TempDir dir;
  DiscBuilder builder(dir.path());
  builder.AddPlaylist("00001", {});
  test::ScopedRecordingPrompt prompt;
  CBDDisc disc;
  EXPECT_FALSE(disc.Open(dir.path()));
  EXPECT_THAT(prompt.messages(), ElementsAre("has no corresponding clpi file ! "));

  // The loader that lists the folder fails the same way when no clip file qualifies.
  builder.WriteFile("CLIPINF/1.clpi", {});
  prompt.clear();
  std::string folder = builder.bdmv().string();
  EXPECT_FALSE(disc.LoadAllClips(folder));
  EXPECT_THAT(prompt.messages(), ElementsAre("has no corresponding clpi file ! "));
}

TEST(DiscOpen, SoundFileFoundWhateverItsCase) {
  test::TempDir dir;
  DiscBuilder builder(dir.path());
  builder.AddClip(0);
  builder.AddPlaylist("00000", {Item(0)});
  builder.WriteFile("auxdata/sound.bdmv",
                    test::ReadData("discs/retail/chaptertool-zero/BDMV/AUXDATA/sound.bdmv"));
  CBDDisc disc;
  ASSERT_TRUE(disc.Open(dir.path()));
  ASSERT_NE(disc.sound(), nullptr);
  EXPECT_EQ(disc.sound()->path, (builder.bdmv() / "auxdata/sound.bdmv").string());
  EXPECT_FALSE(disc.sound()->SoundIndex.empty());
}

TEST(DiscOpen, BrokenSoundFileIsIgnored) {
  test::TempDir dir;
  DiscBuilder builder(dir.path());
  builder.AddClip(0);
  builder.AddPlaylist("00000", {Item(0)});
  builder.WriteFile("AUXDATA/Sound.bdmv", Garbage());
  test::ScopedRecordingPrompt prompt;
  CBDDisc disc;
  ASSERT_TRUE(disc.Open(dir.path()));
  EXPECT_EQ(disc.sound(), nullptr);
  EXPECT_THAT(prompt.messages(), IsEmpty());
}

TEST(DiscOpen, ClearReleasesFilesButKeepsFolderAndName) {
  CBDDisc disc;
  ASSERT_TRUE(disc.Open(test::DataPath("discs/disc-simple")));
  const std::string folder = disc.folder();
  EXPECT_TRUE(disc.Clear());
  EXPECT_EQ(disc.clips(), nullptr);
  EXPECT_EQ(disc.playlists(), nullptr);
  EXPECT_EQ(disc.index(), nullptr);
  EXPECT_EQ(CurrentClips(), nullptr);
  EXPECT_EQ(disc.folder(), folder);
  EXPECT_EQ(disc.name(), "disc-simple");
  EXPECT_FALSE(disc.Clear());
}

TEST(DiscOpen, WritesNothingIntoTheSourceFolder) {
  test::TempDir dir;
  fs::copy(test::DataPath("discs/disc-multiclip"), dir.path(), fs::copy_options::recursive);
  const auto before = test::TreeSnapshot(dir.path());
  {
    CBDDisc disc;
    ASSERT_TRUE(disc.Open(dir.path()));
  }
  EXPECT_EQ(test::TreeSnapshot(dir.path()), before);
}

}  // namespace
}  // namespace tessel
