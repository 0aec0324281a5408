#include "formats/dump.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace tessel {
namespace {

TEST(DumpArchive, EveryLineFormat) {
  DumpArchive ar;
  const std::string p = " ";
  const uint8_t reserved[8] = {0, 1, 2, 3, 0xA, 0xB, 0xC, 0xFF};
  const uint8_t lang[3] = {'e', 'n', 'g'};
  ar.Int(p, "Count", -3);
  ar.Uint(p, "Pts", 4294967295u);
  ar.Hex8(p, "Id", 0x0A);
  ar.Hex16(p, "Pid", 0x1011);
  ar.Chars(p, "Language", lang);
  ar.NameHex(p, "StreamCodingType", "AC-3", 0x81);
  ar.NameDec(p, "VideoFormat", "1080p", 6);
  ar.DecName(p, "ConnectionCondition", 5, "Seamless");
  ar.Heading(p, "StnTable");
  ar.HeadingTight(p, "EP_MAP");
  ar.Element(p, "PlayItem", 0);
  ar.ElementTight(p, "SubPath", 1);
  ar.ElementJoined(p, "KeyPoint", 2);
  ar.Ordinal(p, 3);
  ar.Pair(p, 4, 10, 20);
  ar.Reserved8(p, "Reserved", reserved);
  EXPECT_EQ(ar.text(),
            " Count: -3\n"
            " Pts: 4294967295\n"
            " Id: 0x0A\n"
            " Pid: 0x1011\n"
            " Language: eng\n"
            " StreamCodingType: AC-3(0x81)\n"
            " VideoFormat: 1080p(6)\n"
            " ConnectionCondition: 5(Seamless)\n"
            " StnTable: \n"
            " EP_MAP:\n"
            " PlayItem 0: \n"
            " SubPath 1:\n"
            " KeyPoint2:\n"
            "  3:\n"
            "  4: 10, 20\n"
            " Reserved: 0x00 01 02 03 0A 0B 0C FF\n");
  ASSERT_EQ(ar.lines().size(), 16u);
  EXPECT_EQ(ar.lines()[0].value, "-3");
  EXPECT_EQ(ar.lines()[0].numbers, std::vector<int64_t>{-3});
  // Numbers travel as numbers, not as text to parse back; hex and names stay text.
  EXPECT_EQ(ar.lines()[1].numbers, std::vector<int64_t>{4294967295});
  EXPECT_TRUE(ar.lines()[2].numbers.empty());
  EXPECT_TRUE(ar.lines()[5].numbers.empty());
  EXPECT_EQ(ar.lines()[14].numbers, (std::vector<int64_t>{10, 20}));
  EXPECT_EQ(ar.lines()[10].kind, DumpLine::Kind::kElement);
  EXPECT_EQ(ar.lines()[10].index, 0);
}

TEST(DumpArchive, NestedRecordsIndentOneBlankPerLevel) {
  DumpArchive ar;
  const std::string top;
  ar.Heading(top, "PlayList");
  const std::string level1 = Nested(top);
  ar.Int(level1, "NumberOfPlayItems", 1);
  ar.Element(level1, "PlayItem", 0);
  ar.Int(Nested(level1), "InTime", 0);
  EXPECT_EQ(ar.text(), "PlayList: \n NumberOfPlayItems: 1\n PlayItem 0: \n  InTime: 0\n");
  EXPECT_EQ(ar.lines()[3].depth, 2u);
}

TEST(DumpArchive, ArchiveOpenForLoadingReceivesNothing) {
  DumpArchive ar(/*loading=*/true);
  ar.Int("", "A", 1);
  ar.Heading("", "B");
  EXPECT_TRUE(ar.text().empty());
  EXPECT_TRUE(ar.lines().empty());
}

TEST(DumpArchive, CharacterFieldPrintsUpToTheFirstZero) {
  DumpArchive ar;
  const uint8_t name[5] = {'0', '0', '1', 0, '9'};
  ar.Chars("", "ClipInformationFileName", name);
  EXPECT_EQ(ar.text(), "ClipInformationFileName: 001\n");
}

}  // namespace
}  // namespace tessel
