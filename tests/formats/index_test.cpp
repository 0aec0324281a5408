#include "formats/index.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "formats/field_access.h"
#include "support/test_support.h"

namespace tessel {
namespace {

std::string Describe(const TI& entry) {
  return entry.IsHdmv() ? "HDMV " + std::to_string(entry.MovieObject)
                        : "BD-J " + CharField(entry.BDJO_FileName);
}

// What an independent reader reports for each fixture.
struct IndexCase {
  const char* file;
  const char* version;
  int titles;
  int hdmv_titles;
  const char* first_playback;
  const char* top_menu;
  bool extension_data;
};

std::string FixtureName(const testing::TestParamInfo<IndexCase>& param) {
  std::string name = param.param.file;
  name.resize(name.find('.'));
  for (char& ch : name) {
    if (ch == '-') ch = '_';
  }
  return name;
}

class IndexFixtureTest : public testing::TestWithParam<IndexCase> {};

TEST_P(IndexFixtureTest, ReadsAndDumps) {
  const IndexCase& c = GetParam();
  const std::vector<uint8_t> file = test::ReadData(std::string("index/") + c.file);
  IndexFile index;
  std::string error;
  ASSERT_TRUE(index.Read(file, &error)) << error;

  EXPECT_EQ(CharField(index.TypeIndicator), "INDX");
  EXPECT_EQ(CharField(index.VersionNumber), c.version);
  ASSERT_EQ(static_cast<int>(index.Titles.size()), c.titles);
  int hdmv = 0;
  for (const TI& title : index.Titles) {
    hdmv += title.IsHdmv();
    // The field of the other object kind keeps its default.
    if (title.IsHdmv()) {
      EXPECT_EQ(CharField(title.BDJO_FileName), "00000");
    } else {
      EXPECT_EQ(title.MovieObject, 0xFFFF);
    }
  }
  EXPECT_EQ(hdmv, c.hdmv_titles);
  EXPECT_EQ(Describe(index.FirstPlayback), c.first_playback);
  EXPECT_EQ(Describe(index.TopMenu), c.top_menu);
  EXPECT_EQ(!index.ExtensionData.empty(), c.extension_data);
  if (!c.extension_data) {
    EXPECT_EQ(index.ExtensionDataStartAddress, 0u);
  }

  DumpArchive archive;
  index.Dump("", archive);
  EXPECT_EQ(archive.text().rfind("TypeIndicator: INDX\n", 0), 0u);
  EXPECT_NE(archive.text().find(" Title Count: " + std::to_string(c.titles) + "\n"),
            std::string::npos);
  EXPECT_EQ(archive.text().find("ExtensionData: \n") != std::string::npos, c.extension_data);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, IndexFixtureTest,
    testing::Values(
        IndexCase{"bdjsdk.bdmv", "0100", 1, 0, "HDMV 0", "HDMV 1", true},
        IndexCase{"bdjsdk-backup.bdmv", "0200", 1, 0, "BD-J 90000", "HDMV 0", false},
        IndexCase{"bdpl-disc1.bdmv", "0200", 9, 9, "HDMV 0", "HDMV 1", false},
        IndexCase{"bdpl-disc3.bdmv", "0200", 1, 1, "HDMV 0", "HDMV 1", false},
        IndexCase{"bdpl-disc4.bdmv", "0200", 2, 2, "HDMV 0", "HDMV 1", false},
        IndexCase{"bdpl-disc5.bdmv", "0300", 12, 12, "HDMV 0", "HDMV 1", true},
        IndexCase{"bdpl-disc6.bdmv", "0200", 6, 6, "HDMV 0", "HDMV 1", false},
        IndexCase{"bdpl-disc7.bdmv", "0200", 5, 5, "HDMV 0", "HDMV 1", false},
        IndexCase{"bdpl-disc10.bdmv", "0200", 4, 4, "HDMV 0", "HDMV 1", false},
        IndexCase{"bdpl-disc13.bdmv", "0200", 10, 10, "HDMV 0", "HDMV 1", false},
        IndexCase{"bdpl-disc16.bdmv", "0200", 8, 8, "HDMV 0", "HDMV 1", false},
        IndexCase{"conan-halloween-disc1.bdmv", "0200", 1, 1, "HDMV 0", "HDMV 1", false},
        IndexCase{"conan-halloween-disc2.bdmv", "0200", 15, 15, "HDMV 0", "HDMV 1", false},
        IndexCase{"discs.bdmv", "0200", 1, 1, "HDMV 2", "HDMV 1", false},
        IndexCase{"hdcookbook-bridgehead.bdmv", "0200", 2, 0, "BD-J 90000", "HDMV 0", false},
        IndexCase{"hdcookbook-vfstest.bdmv", "0200", 1, 0, "HDMV 0", "HDMV 0", false},
        IndexCase{"mayonaka-disc1.bdmv", "0200", 26, 26, "HDMV 0", "HDMV 1", false},
        IndexCase{"mayonaka-disc2.bdmv", "0200", 16, 16, "HDMV 0", "HDMV 1", false}),
    FixtureName);

// An index.bdmv with the given title entries and, when `extension` is not empty, that container
// after the table.
std::vector<uint8_t> MakeIndex(const std::vector<std::vector<uint8_t>>& titles,
                               const std::vector<uint8_t>& extension = {}) {
  ByteWriter out;
  out.Bytes(reinterpret_cast<const uint8_t*>("INDX0200"), 8);
  out.U32(78);
  const size_t extension_address = out.Reserve(4);
  out.Zeros(24);
  out.U32(34);
  out.Zeros(34);
  const size_t length = out.BeginLength32();
  const uint8_t first_playback[12] = {0x40, 0, 0, 0, 0x40, 0, 0, 5};
  const uint8_t top_menu[12] = {0x80, 0, 0, 0, 0xC0, 0, '1', '2', '3', '4', '5'};
  out.Bytes(first_playback, 12);
  out.Bytes(top_menu, 12);
  out.U16(static_cast<uint16_t>(titles.size()));
  for (const std::vector<uint8_t>& title : titles) out.Bytes(title);
  out.EndLength32(length);
  if (!extension.empty()) {
    out.PatchU32(extension_address, static_cast<uint32_t>(out.pos()));
    out.Bytes(extension);
  }
  return out.Take();
}

TEST(IndexTest, ReadsEntriesBitByBit) {
  const std::vector<uint8_t> file = MakeIndex({
      {0x40, 0, 0, 0, 0x40, 0, 0x12, 0x34, 0, 0, 0, 0},        // HDMV, access type 0
      {0x80, 0, 0, 0, 0x80, 0, '0', '0', '0', '0', '7', 0},    // BD-J
      {0x70, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0, 1, 9, 9, 9, 9},  // HDMV, access type 3, noise
  });
  IndexFile index;
  std::string error;
  ASSERT_TRUE(index.Read(file, &error)) << error;
  EXPECT_EQ(Describe(index.FirstPlayback), "HDMV 5");
  EXPECT_EQ(index.FirstPlayback.TitlePlaybackType, 1);
  EXPECT_EQ(Describe(index.TopMenu), "BD-J 12345");
  EXPECT_EQ(index.TopMenu.ObjectType, 2);
  EXPECT_EQ(index.TopMenu.TitlePlaybackType, 3);
  ASSERT_EQ(index.Titles.size(), 3u);

  EXPECT_EQ(index.Titles[0].ObjectType, 1);
  EXPECT_EQ(index.Titles[0].TitleAccessType, 0);
  EXPECT_EQ(index.Titles[0].TitlePlaybackType, 1);
  EXPECT_EQ(index.Titles[0].MovieObject, 0x1234);
  EXPECT_EQ(CharField(index.Titles[0].BDJO_FileName), "00000");

  EXPECT_EQ(index.Titles[1].ObjectType, 2);
  EXPECT_EQ(index.Titles[1].TitlePlaybackType, 2);
  EXPECT_EQ(CharField(index.Titles[1].BDJO_FileName), "00007");
  EXPECT_EQ(index.Titles[1].MovieObject, 0xFFFF);

  EXPECT_EQ(index.Titles[2].TitleAccessType, 3);
  EXPECT_EQ(index.Titles[2].MovieObject, 1);
  EXPECT_TRUE(index.ExtensionData.empty());
}

TEST(IndexTest, NewRecordAndFileWithoutOptionalPartsHaveTheDefaults) {
  const IndexFile fresh;
  EXPECT_EQ(CharField(fresh.TypeIndicator), "INDX");
  EXPECT_EQ(CharField(fresh.VersionNumber), "0200");
  EXPECT_EQ(fresh.AppInfoBDMV.Length, 0u);
  for (uint8_t b : fresh.AppInfoBDMV.ContentProviderUserData) EXPECT_EQ(b, 0);
  for (const TI* entry : {&fresh.FirstPlayback, &fresh.TopMenu}) {
    EXPECT_EQ(entry->ObjectType, 1);
    EXPECT_EQ(entry->TitlePlaybackType, 0);
    EXPECT_EQ(entry->MovieObject, 0xFFFF);
    EXPECT_EQ(CharField(entry->BDJO_FileName), "00000");
  }
  EXPECT_TRUE(fresh.Titles.empty());
  EXPECT_TRUE(fresh.ExtensionData.empty());

  // No titles, no extension data: reading a record that had both releases them.
  IndexFile index;
  std::string error;
  ASSERT_TRUE(index.Read(test::ReadData("index/bdjsdk.bdmv"), &error)) << error;
  ASSERT_FALSE(index.ExtensionData.empty());
  ASSERT_TRUE(index.Read(MakeIndex({}), &error)) << error;
  EXPECT_TRUE(index.Titles.empty());
  EXPECT_EQ(index.ExtensionDataStartAddress, 0u);
  EXPECT_TRUE(index.ExtensionData.empty());
}

TEST(IndexTest, KeepsTheExtensionDataRaw) {
  const std::vector<uint8_t> container = {0, 0, 0, 8, 1, 2, 3, 4, 5, 6, 7, 8};
  IndexFile index;
  std::string error;
  ASSERT_TRUE(index.Read(MakeIndex({}, container), &error)) << error;
  EXPECT_EQ(index.ExtensionData, container);
}

TEST(IndexTest, DumpsEveryField) {
  IndexFile index;
  std::string error;
  ASSERT_TRUE(index.Read(test::ReadData("index/bdjsdk.bdmv"), &error)) << error;
  DumpArchive archive;
  index.Dump("", archive);
  EXPECT_EQ(archive.text(),
            "TypeIndicator: INDX\n"
            "VersionNumber: 0100\n"
            "IndexsStartAddress: 78\n"
            "ExtensionDataStartAddress: 120\n"
            "AppInfoBDMV: \n"
            " Length: 34\n"
            " Flags: 0x0000\n"
            " ContentProviderUserData: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
            "00 00 00 00 00 00 00 00 00 00 00 00 00\n"
            "Indexes: \n"
            " Length: 38\n"
            " FirstPlayback: \n"
            "  ObjectType: 1(HDMV)\n"
            "  TitleAccessType: 0\n"
            "  HDMV_TitlePlaybackType: 0\n"
            "  MovieObject: 0\n"
            " TopMenu: \n"
            "  ObjectType: 1(HDMV)\n"
            "  TitleAccessType: 0\n"
            "  HDMV_TitlePlaybackType: 1\n"
            "  MovieObject: 1\n"
            " Title Count: 1\n"
            " Title 0: \n"
            "  ObjectType: 2(BD-J)\n"
            "  TitleAccessType: 0\n"
            "  BDJ_TitlePlaybackType: 2\n"
            "  BDJO_FileName: 00000\n"
            "ExtensionData: \n"
            " Length: 402\n");
}

TEST(IndexTest, RefusesFilesThatPointOutsideThemselves) {
  const std::vector<uint8_t> good =
      MakeIndex({{0x40, 0, 0, 0, 0x40, 0, 0, 1, 0, 0, 0, 0}}, {0, 0, 0, 4, 1, 2, 3, 4});
  const size_t indexes = 78;
  const size_t extension = good.size() - 8;
  struct Case {
    const char* what;
    size_t at;
    uint32_t value;  // stored as a 16-bit field at Title Count, else as a 32-bit one
    const char* error;
  } cases[] = {
      {"Indexes address past the end", 8, 5000, "Indexes at 5000"},
      {"Indexes length past the end", indexes, 0x7FFFFFFF, "Indexes at 78 with length"},
      {"Indexes shorter than its fixed part", indexes, 20, "length 20 is shorter"},
      {"titles past the block", indexes + 28, 2, "Title Count 2"},
      {"extension address past the end", 12, 5000, "ExtensionData at 5000"},
      {"extension length past the end", extension, 5, "ExtensionData at"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> file = good;
    ByteWriter patch;
    if (c.at == indexes + 28) {
      patch.U16(static_cast<uint16_t>(c.value));
    } else {
      patch.U32(c.value);
    }
    std::copy(patch.buffer().begin(), patch.buffer().end(),
              file.begin() + static_cast<ptrdiff_t>(c.at));
    IndexFile index;
    std::string error;
    EXPECT_FALSE(index.Read(file, &error));
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    EXPECT_TRUE(index.Titles.empty());
  }
  IndexFile index;
  std::string error;
  EXPECT_TRUE(index.Read(good, &error)) << error;
  EXPECT_FALSE(index.Read(std::span(good).first(77), &error));
}

// Every truncation and a few thousand byte flips of every fixture give a clean failure or a record
// that dumps; under the sanitizers any read outside the buffer would stop the test.
TEST(IndexTest, SurvivesTruncationsAndBitFlips) {
  std::mt19937 random(20261209);
  for (const auto& entry : std::filesystem::directory_iterator(test::DataPath("index"))) {
    SCOPED_TRACE(entry.path().filename().string());
    std::vector<uint8_t> file = test::ReadData("index/" + entry.path().filename().string());
    IndexFile index;
    std::string error;
    for (size_t size = 0; size < file.size(); ++size) {
      if (index.Read(std::span(file).first(size), &error)) {
        DumpArchive archive;
        index.Dump("", archive);
      }
    }
    for (int i = 0; i < 1000; ++i) {
      const size_t at = random() % file.size();
      const uint8_t old = file[at];
      file[at] = static_cast<uint8_t>(random());
      if (index.Read(file, &error)) {
        // The titles read fit in the file after the header, AppInfoBDMV and the fixed part.
        EXPECT_LE(78 + 30 + 12 * index.Titles.size(), file.size());
        if (i % 10 == 0) {
          DumpArchive archive;
          index.Dump("", archive);
        }
      } else {
        EXPECT_FALSE(error.empty());
      }
      file[at] = old;
    }
  }
}

}  // namespace
}  // namespace tessel
