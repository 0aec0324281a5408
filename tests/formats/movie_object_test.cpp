#include "formats/movie_object.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "formats/field_access.h"
#include "support/test_support.h"

namespace tessel {
namespace {

// What an independent reader reports for each fixture.
struct MovieObjectCase {
  const char* file;
  const char* version;
  int objects;
  int commands;
  int most_commands;     // in one object
  int resume_intention;  // objects with the flag set
};

std::string FixtureName(const testing::TestParamInfo<MovieObjectCase>& param) {
  std::string name = param.param.file;
  name.resize(name.find('.'));
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
}

class MovieObjectFixtureTest : public testing::TestWithParam<MovieObjectCase> {};

TEST_P(MovieObjectFixtureTest, ReadsAndDumps) {
  const MovieObjectCase& c = GetParam();
  const std::vector<uint8_t> file = test::ReadData(std::string("movieobject/") + c.file);
  MovieObjectFile record;
  std::string error;
  ASSERT_TRUE(record.Read(file, &error)) << error;

  EXPECT_EQ(CharField(record.TypeIndicator), "MOBJ");
  EXPECT_EQ(CharField(record.VersionNumber), c.version);
  ASSERT_EQ(static_cast<int>(record.MovieObjects.size()), c.objects);
  int commands = 0;
  int most = 0;
  int resume = 0;
  for (const MOVIE_OBJECT& object : record.MovieObjects) {
    commands += static_cast<int>(object.NavCmds.size());
    most = std::max(most, static_cast<int>(object.NavCmds.size()));
    resume += object.ResumeIntentionFlag;
  }
  EXPECT_EQ(commands, c.commands);
  EXPECT_EQ(most, c.most_commands);
  EXPECT_EQ(resume, c.resume_intention);
  EXPECT_TRUE(record.ExtensionData.empty());

  // The commands are the file's bytes: the last one ends where MovieObjects ends.
  const CNavCmd& last = record.MovieObjects.back().NavCmds.back();
  EXPECT_TRUE(std::equal(last.begin(), last.end(), file.end() - 12));

  DumpArchive archive;
  record.Dump("", archive);
  EXPECT_EQ(archive.text().rfind("TypeIndicator: MOBJ\n", 0), 0u);
  EXPECT_EQ(std::count(archive.text().begin(), archive.text().end(), '\n'),
            6 + 5 * c.objects + c.commands);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, MovieObjectFixtureTest,
    testing::Values(MovieObjectCase{"bdjsdk.bdmv", "0200", 2, 612, 329, 2},
                    MovieObjectCase{"bdpl-disc1.bdmv", "0200", 11, 262, 52, 9},
                    MovieObjectCase{"bdpl-disc3.bdmv", "0200", 3, 82, 55, 1},
                    MovieObjectCase{"bdpl-disc4.bdmv", "0200", 4, 107, 54, 1},
                    MovieObjectCase{"bdpl-disc5.bdmv", "0300", 14, 189, 36, 12},
                    MovieObjectCase{"bdpl-disc6.bdmv", "0200", 8, 159, 52, 6},
                    MovieObjectCase{"bdpl-disc7.bdmv", "0200", 7, 142, 52, 5},
                    MovieObjectCase{"bdpl-disc9.bdmv", "0200", 4, 91, 52, 2},
                    MovieObjectCase{"bdpl-disc10.bdmv", "0200", 6, 125, 52, 4},
                    MovieObjectCase{"bdpl-disc13.bdmv", "0200", 12, 227, 52, 10},
                    MovieObjectCase{"bdpl-disc16.bdmv", "0200", 10, 262, 55, 8},
                    MovieObjectCase{"bdpl-disc18.bdmv", "0200", 6, 149, 52, 4},
                    MovieObjectCase{"bdpl-disc20.bdmv", "0200", 4, 101, 52, 2},
                    MovieObjectCase{"conan-halloween-disc1.bdmv", "0200", 3, 80, 34, 1},
                    MovieObjectCase{"conan-halloween-disc2.bdmv", "0200", 17, 237, 24, 15},
                    MovieObjectCase{"conan-zero.bdmv", "0200", 7, 117, 41, 3},
                    MovieObjectCase{"disc-emptyplaylist.bdmv", "0200", 3, 19, 9, 3},
                    MovieObjectCase{"discs.bdmv", "0200", 3, 19, 9, 3},
                    MovieObjectCase{"hdcookbook-bridgehead.bdmv", "0200", 2, 2, 1, 0},
                    MovieObjectCase{"mayonaka-disc1.bdmv", "0200", 28, 304, 12, 26},
                    MovieObjectCase{"mayonaka-disc2.bdmv", "0200", 18, 194, 12, 15}),
    FixtureName);

std::string DumpText(const MovieObjectFile& record) {
  DumpArchive archive;
  record.Dump("", archive);
  return archive.text();
}

// A MovieObject.bdmv whose objects are given as (flags byte, commands); each command is 12 bytes
// counting up from its object's first byte value.
std::vector<uint8_t> MakeMovieObjects(const std::vector<std::pair<uint8_t, int>>& objects,
                                      const std::vector<uint8_t>& extension = {}) {
  ByteWriter out;
  out.Bytes(reinterpret_cast<const uint8_t*>("MOBJ0200"), 8);
  const size_t extension_address = out.Reserve(4);
  for (uint8_t i = 0; i < 28; ++i) out.U8(i);  // reserved bytes, kept as read
  const size_t length = out.BeginLength32();
  out.U32(0xFFFFFFFF);
  out.U16(static_cast<uint16_t>(objects.size()));
  uint8_t value = 0;
  for (const auto& [flags, commands] : objects) {
    out.U8(flags);
    out.U8(0x5A);
    out.U16(static_cast<uint16_t>(commands));
    for (int i = 0; i < 12 * commands; ++i) out.U8(value++);
  }
  out.EndLength32(length);
  if (!extension.empty()) {
    out.PatchU32(extension_address, static_cast<uint32_t>(out.pos()));
    out.Bytes(extension);
  }
  return out.Take();
}

TEST(MovieObjectTest, ReadsFlagsCommandsAndEmptyObjects) {
  const std::vector<uint8_t> extension = {0, 0, 0, 4, 9, 8, 7, 6};
  const std::vector<uint8_t> file =
      MakeMovieObjects({{0xE0, 1}, {0x40, 0}, {0x9F, 2}, {0x20, 0}}, extension);
  MovieObjectFile record;
  std::string error;
  ASSERT_TRUE(record.Read(file, &error)) << error;
  ASSERT_EQ(record.MovieObjects.size(), 4u);
  struct Expected {
    int resume, menu, search, commands;
  } expected[] = {{1, 1, 1, 1}, {0, 1, 0, 0}, {1, 0, 0, 2}, {0, 0, 1, 0}};
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    const MOVIE_OBJECT& object = record.MovieObjects[i];
    EXPECT_EQ(object.ResumeIntentionFlag, expected[i].resume);
    EXPECT_EQ(object.MenuCallMask, expected[i].menu);
    EXPECT_EQ(object.TitleSearchMask, expected[i].search);
    EXPECT_EQ(static_cast<int>(object.NavCmds.size()), expected[i].commands);
  }
  // The object after an empty one starts right after its 4 bytes: its commands continue the
  // byte count where the first object's command stopped.
  EXPECT_EQ(record.MovieObjects[2].NavCmds[0][0], 12);
  EXPECT_EQ(record.MovieObjects[2].NavCmds[1][11], 35);
  EXPECT_EQ(record.Reserved[27], 27);
  EXPECT_EQ(record.ExtensionData, extension);
}

TEST(MovieObjectTest, DumpsEveryField) {
  MovieObjectFile record;
  std::string error;
  ASSERT_TRUE(record.Read(test::ReadData("movieobject/hdcookbook-bridgehead.bdmv"), &error))
      << error;
  DumpArchive archive;
  record.Dump("", archive);
  EXPECT_EQ(archive.text(),
            "TypeIndicator: MOBJ\n"
            "VersionNumber: 0200\n"
            "ExtensionDataStartAddress: 0\n"
            "MovieObjects: \n"
            " Length: 38\n"
            " MovieObject Count: 2\n"
            " MovieObject 0: \n"
            "  ResumeIntentionFlag: 0\n"
            "  MenuCallMask: 0\n"
            "  TitleSearchMask: 0\n"
            "  Command Count: 1\n"
            "  Command 0: 21 81 00 00 00 00 00 01 00 00 00 00\n"
            " MovieObject 1: \n"
            "  ResumeIntentionFlag: 0\n"
            "  MenuCallMask: 0\n"
            "  TitleSearchMask: 0\n"
            "  Command Count: 1\n"
            "  Command 0: 21 81 00 00 00 00 00 01 00 00 00 00\n");
}

TEST(MovieObjectTest, RefusesFilesThatPointOutsideThemselves) {
  const std::vector<uint8_t> good = MakeMovieObjects({{0x80, 2}, {0x00, 1}}, {0, 0, 0, 0});
  const size_t movie_objects = 40;
  const size_t extension = good.size() - 4;
  struct Case {
    const char* what;
    size_t at;
    int bytes;
    uint32_t value;
    const char* error;
  } cases[] = {
      {"MovieObjects length past the end", movie_objects, 4, 0x10000, "MovieObjects with length"},
      {"objects past the block", movie_objects + 8, 2, 0x3000, "MovieObject Count 12288"},
      {"commands past the block", movie_objects + 10 + 2, 2, 4, "MovieObject 0: Command Count 4"},
      {"last object's commands past the block", movie_objects + 10 + 28 + 2, 2, 2,
       "MovieObject 1: Command Count 2"},
      {"extension address past the end", 8, 4, 0x1000, "ExtensionData at 4096"},
      {"extension length past the end", extension, 4, 1, "ExtensionData at"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> file = good;
    for (int i = 0; i < c.bytes; ++i) {
      file[c.at + static_cast<size_t>(i)] =
          static_cast<uint8_t>(c.value >> (8 * (c.bytes - 1 - i)));
    }
    MovieObjectFile record;
    std::string error;
    EXPECT_FALSE(record.Read(file, &error));
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    EXPECT_TRUE(record.MovieObjects.empty());
  }
  MovieObjectFile record;
  std::string error;
  EXPECT_TRUE(record.Read(good, &error)) << error;
  EXPECT_FALSE(record.Read(std::span(good).first(39), &error));
  EXPECT_NE(error.find("header"), std::string::npos) << error;
}

// Every truncation and a few thousand byte flips of every fixture give a clean failure or a record
// that dumps; under the sanitizers any read outside the buffer would stop the test.
TEST(MovieObjectTest, SurvivesTruncationsAndBitFlips) {
  std::mt19937 random(20261210);
  for (const auto& entry : std::filesystem::directory_iterator(test::DataPath("movieobject"))) {
    SCOPED_TRACE(entry.path().filename().string());
    std::vector<uint8_t> file = test::ReadData("movieobject/" + entry.path().filename().string());
    MovieObjectFile record;
    std::string error;
    for (size_t size = 0; size < file.size(); ++size) {
      // Every object and command lies inside MovieObjects, so any cut before its end fails.
      EXPECT_FALSE(record.Read(std::span(file).first(size), &error)) << size;
    }
    for (int i = 0; i < 1000; ++i) {
      const size_t at = random() % file.size();
      const uint8_t old = file[at];
      file[at] = static_cast<uint8_t>(random());
      if (record.Read(file, &error)) {
        // What was read fits in the file: 10 bytes before the objects, 4 per object, 12 per
        // command.
        size_t size = 50;
        for (const MOVIE_OBJECT& object : record.MovieObjects)
          size += 4 + 12 * object.NavCmds.size();
        EXPECT_LE(size, file.size());
        if (i % 50 == 0) DumpText(record);
      } else {
        EXPECT_FALSE(error.empty());
      }
      file[at] = old;
    }
  }
}

}  // namespace
}  // namespace tessel
