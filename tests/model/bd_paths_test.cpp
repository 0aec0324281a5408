#include "model/bd_paths.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "support/test_support.h"

namespace tessel {
namespace {

using Builder = std::function<bool(std::string&, std::string&)>;

struct BuilderCase {
  const char* label;
  Builder build;
  const char* expected;  // for the folder "X/"; nullptr when the builder must refuse
};

const BuilderCase kBuilderCases[] = {
    {"clip info", [](auto& f, auto& o) { return ClipInfoPath(f, 1, false, o); },
     "X/CLIPINF/00001.clpi"},
    {"clip info backup", [](auto& f, auto& o) { return ClipInfoPath(f, 1, true, o); },
     "X/BACKUP/CLIPINF/00001.clpi"},
    {"playlist", [](auto& f, auto& o) { return PlaylistPath(f, 800, o); }, "X/PLAYLIST/00800.mpls"},
    {"playlist pattern", [](auto& f, auto& o) { return PlaylistPath(f, kPlaylistPattern, o); },
     "X/PLAYLIST/*.mpls"},
    {"stream", [](auto& f, auto& o) { return StreamPath(f, 7, o); }, "X/STREAM/00007.m2ts"},
    {"largest number", [](auto& f, auto& o) { return StreamPath(f, 99999, o); },
     "X/STREAM/99999.m2ts"},
    {"index", [](auto& f, auto& o) { return IndexPath(f, false, o); }, "X/index.bdmv"},
    {"index backup", [](auto& f, auto& o) { return IndexPath(f, true, o); }, "X/BACKUP/index.bdmv"},
    {"movie objects", [](auto& f, auto& o) { return MovieObjectPath(f, false, o); },
     "X/MovieObject.bdmv"},
    {"movie objects backup", [](auto& f, auto& o) { return MovieObjectPath(f, true, o); },
     "X/BACKUP/MovieObject.bdmv"},
    {"sound", [](auto& f, auto& o) { return SoundPath(f, o); }, "X/AUXDATA/Sound.bdmv"},
    {"project disc", [](auto& f, auto& o) { return ProjectFolderPath(f, 1, o); }, "X/DISC"},
    {"project temp", [](auto& f, auto& o) { return ProjectFolderPath(f, 2, o); }, "X/TEMP"},
    // Refusals: a six-digit number, a negative one, an unknown project folder.
    {"playlist 100000", [](auto& f, auto& o) { return PlaylistPath(f, 100000, o); }, nullptr},
    {"clip -2", [](auto& f, auto& o) { return ClipInfoPath(f, -2, false, o); }, nullptr},
    {"stream -1", [](auto& f, auto& o) { return StreamPath(f, -1, o); }, nullptr},
    {"project 0", [](auto& f, auto& o) { return ProjectFolderPath(f, 0, o); }, nullptr},
    {"project 3", [](auto& f, auto& o) { return ProjectFolderPath(f, 3, o); }, nullptr},
};

TEST(PathBuilders, BuildEveryNameOrRefuse) {
  for (const BuilderCase& c : kBuilderCases) {
    SCOPED_TRACE(c.label);
    std::string folder = "X";
    std::string out = "untouched";
    EXPECT_EQ(c.build(folder, out), c.expected != nullptr);
    EXPECT_EQ(out, c.expected ? c.expected : "untouched");
    // The caller's folder gets its separator in place.
    if (c.expected) {
      EXPECT_EQ(folder, "X/");
    }
  }
}

TEST(PathBuilders, EmptyFolderBuildsNothing) {
  for (const BuilderCase& c : kBuilderCases) {
    SCOPED_TRACE(c.label);
    std::string folder;
    std::string out = "untouched";
    EXPECT_FALSE(c.build(folder, out));
    EXPECT_EQ(out, "untouched");
    EXPECT_EQ(folder, "");
  }
}

TEST(PathBuilders, NameGroupsAreContiguousRuns) {
  EXPECT_STREQ(BdNameText(kExtraFolders.first), "BDJO");
  EXPECT_STREQ(BdNameText(kExtraFolders.last), "META");
  EXPECT_STREQ(BdNameText(kBackupFolders.first), "CLIPINF");
  EXPECT_STREQ(BdNameText(kBackupFolders.last), "JAR");
  EXPECT_STREQ(BdNameText(kBdmvFolders.last), "BACKUP");
  EXPECT_STREQ(BdNameText(BdName::kM2tsExt), "m2ts");
}

struct CompareCase {
  const char* a;
  const char* b;
  int sign;
};

TEST(NaturalCompare, OrdersListings) {
  const CompareCase cases[] = {
      {"00001.mpls", "00002.mpls", -1},
      {"ABCDE.MPLS", "abcde.mpls", 0},  // equal lengths: case-insensitive only
      {"a10", "a9", 1},                 // digits after a common prefix compare by value
      {"a9", "a10", -1},
      {"file2.txt", "file10.txt", -1},
      {"a1", "a10", -1},   // the walk stops at the shorter text's last position
      {"10", "9", -1},     // no common prefix: plain comparison
      {"a0", "a00", -1},   // a zero value falls back to the plain comparison
      {"b", "a10", 1},     // a shorter text of one character: plain comparison
      {"x1y", "X01y", 0},  // equal values compare equal
  };
  for (const CompareCase& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    const int result = NaturalCompare(c.a, c.b);
    EXPECT_EQ((result > 0) - (result < 0), c.sign);
  }
}

TEST(DiscNameFromPath, NamesTheFolderAboveBdmv) {
  const std::pair<const char*, const char*> cases[] = {
      {"/media/Movie/BDMV/", "Movie"},
      {"/media/Movie/BDMV", "Movie"},
      {"/media/Movie/bdmv/", "Movie"},
      {"Movie/BDMV/", "Movie"},
      {"BDMV", ""},
      {"", ""},
      {"/BDMV/", ""},
      {"/nav/disc3/", "disc3"},  // database files without a BDMV folder
  };
  for (const auto& [folder, name] : cases) {
    EXPECT_EQ(DiscNameFromPath(folder), name) << folder;
  }
}

void Touch(const std::filesystem::path& path) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path).put('x');
}

TEST(ResolveNoCase, MapsBuiltNamesOntoExistingOnes) {
  test::TempDir dir;
  Touch(dir / "bdmv/playlist/00001.MPLS");
  const std::string folder = dir.path().string() + "/bdmv/";
  EXPECT_EQ(ResolveNoCase(folder + "PLAYLIST/00001.mpls", folder.size()),
            folder + "playlist/00001.MPLS");
  // A missing name stays as built, so the open that follows reports it.
  EXPECT_EQ(ResolveNoCase(folder + "PLAYLIST/00002.mpls", folder.size()),
            folder + "playlist/00002.mpls");
  EXPECT_EQ(ResolveNoCase(folder + "CLIPINF/00001.clpi", folder.size()),
            folder + "CLIPINF/00001.clpi");
}

TEST(FindBdmvFolder, AcceptsTheFolderOrItsParent) {
  test::TempDir dir;
  Touch(dir / "Disc/bdmv/index.bdmv");
  Touch(dir / "Nav/index.bdmv");
  const std::string root = dir.path().string();
  EXPECT_EQ(FindBdmvFolder(root + "/Disc"), root + "/Disc/bdmv/");
  EXPECT_EQ(FindBdmvFolder(root + "/Disc/"), root + "/Disc/bdmv/");
  EXPECT_EQ(FindBdmvFolder(root + "/Disc/bdmv"), root + "/Disc/bdmv/");
  // A folder that holds the database files directly is taken as it is.
  EXPECT_EQ(FindBdmvFolder(root + "/Nav"), root + "/Nav/");
  EXPECT_EQ(FindBdmvFolder(""), "");
}

}  // namespace
}  // namespace tessel
