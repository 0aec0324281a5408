#include "formats/mpls.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

#include "support/test_support.h"

namespace tessel {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

Mpls ReadFixture(const std::string& name) {
  Mpls mpls;
  std::string error;
  EXPECT_TRUE(mpls.Read(test::ReadData("mpls/" + name), &error)) << error;
  return mpls;
}

std::string DumpOf(const Mpls& mpls) {
  DumpArchive archive;
  mpls.Dump("", archive);
  return archive.text();
}

PLAY_ITEM Item(const char* clip) {
  PLAY_ITEM item;
  SetCharField(item.ClipInformationFileName, clip);
  return item;
}

PLAY_MARK Mark(uint16_t item) {
  PLAY_MARK mark;
  mark.RefToPlayItemID = item;
  return mark;
}

TEST(Mpls, DumpOfAFixtureMatchesTheCheckedText) {
  // Checked by hand against the disc's description: one item of clip 00000 from 600 s for
  // 10.010 s (45 kHz), H.264 1080p 23.976, AC-3 5.1 eng, LPCM stereo fra, PG eng, a mark every 2 s.
  std::ifstream in(test::DataPath("mpls_dumps/disc-simple_00000.txt"));
  std::stringstream expected;
  expected << in.rdbuf();
  EXPECT_EQ(DumpOf(ReadFixture("disc-simple_00000.mpls")), expected.str());
}

TEST(Mpls, DumpShowsAnglesAndSubPathsInTheirLineFormats) {
  const std::string angles = DumpOf(ReadFixture("angle4.mpls"));
  EXPECT_THAT(angles, HasSubstr("  IsMultiAngle: 1\n"
                                "  ConnectionCondition: 5(Seamless with clean break (5))\n"));
  EXPECT_THAT(angles, HasSubstr("  StillMode: 0(No)\n"
                                "  NumberOfAngles: 4\n"
                                "  IsDifferentAudios: 0\n"
                                "  SeamlessAngleChange: 0\n"
                                "  AngleClipEntry 0: \n"
                                "   ClipInformationFileName: 00083\n"
                                "   ClipCodecIdentifier: M2TS\n"
                                "   RefToSTC_ID: 0x00\n"
                                "  AngleClipEntry 1: \n"));
  EXPECT_THAT(DumpOf(ReadFixture("pg5_still.mpls")),
              HasSubstr(" SubPath 0:\n"
                        "  Length: 36\n"
                        "  SubPathType: 3(IG menu)\n"
                        "  IsRepeatSubPath: 0\n"
                        "  NumberOfSubPlayItems: 1\n"
                        "  SubPlayItem 0:\n"
                        "   Length: 28\n"
                        "   ClipInformationFileName: 00003\n"
                        "   ClipCodecIdentifier: M2TS\n"
                        "   ConnectionCondition: 1(NonSeamless (1))\n"
                        "   IsMultiClipEntries: 0\n"
                        "   RefToSTC_ID: 0x00\n"
                        "   InTime: 27000000\n"
                        "   OutTime: 27001876\n"
                        "   SyncPlayItemID: 0x0000\n"
                        "   SyncStartPTS_OfPlayItem: 0\n"
                        "PlayListMarks: \n"));
}

TEST(Mpls, IsMultiAngleFollowsTheAngleDataHeld) {
  Mpls mpls = ReadFixture("angle4.mpls");
  auto it = std::find_if(mpls.play_items.begin(), mpls.play_items.end(),
                         [](const PLAY_ITEM& item) { return item.multi_angle.has_value(); });
  ASSERT_NE(it, mpls.play_items.end());
  ASSERT_EQ(it->multi_angle->entries.size(), 3u);

  // A copy of the item keeps every angle; written, it gives NumberOfAngles 4 again.
  const PLAY_ITEM copy = *it;
  ByteWriter w;
  copy.Write(w);
  const std::vector<uint8_t> with_angles = w.Take();
  EXPECT_EQ(with_angles[12] & 0x10, 0x10);
  EXPECT_EQ(with_angles[34], 4);
  EXPECT_THAT(std::vector<uint8_t>(with_angles.begin() + 36, with_angles.begin() + 41),
              ElementsAre('0', '0', '0', '8', '3'));

  it->multi_angle.reset();
  ByteWriter w2;
  it->Write(w2);
  EXPECT_EQ(w2.buffer()[12] & 0x10, 0);
  EXPECT_EQ(w2.size(), with_angles.size() - 2 - 3 * 10);
}

TEST(Mpls, SubPlayItemKeepsItsExtraClipsAndClearsTheAngleFlags) {
  Mpls mpls;
  mpls.play_items.push_back(Item("00001"));
  SUB_PATH path;
  SUB_PLAY_ITEM sub;
  sub.multi_clip.emplace();
  sub.multi_clip->angle_variant = false;
  sub.multi_clip->SeamlessAngleChange = true;  // has no meaning here and is not stored
  ANGLE_CLIP_ENTRY second;
  SetCharField(second.ClipInformationFileName, "00007");
  sub.multi_clip->entries.push_back(second);
  path.items.push_back(sub);
  mpls.sub_paths.push_back(path);

  const std::vector<uint8_t> bytes = mpls.Write();
  Mpls back;
  ASSERT_TRUE(back.Read(bytes));
  const SUB_PLAY_ITEM& item = back.sub_paths.at(0).items.at(0);
  ASSERT_TRUE(item.multi_clip.has_value());
  ASSERT_EQ(item.multi_clip->entries.size(), 1u);
  EXPECT_EQ(CharField(item.multi_clip->entries[0].ClipInformationFileName), "00007");
  EXPECT_FALSE(item.multi_clip->SeamlessAngleChange);
  EXPECT_EQ(back.Write(), bytes);
}

TEST(Mpls, WriterZeroesWhatItDoesNotKeep) {
  Mpls mpls;
  PLAY_ITEM still = Item("00001");
  still.StillMode = 1;
  still.StillTime = 300;
  PLAY_ITEM moving = Item("00002");
  moving.StillTime = 300;  // only meaningful with StillMode 1
  mpls.play_items = {still, moving};
  mpls.app_info.Length = 18;
  const std::vector<uint8_t> bytes = mpls.Write();

  EXPECT_THAT(std::vector<uint8_t>(bytes.begin() + 16, bytes.begin() + 20),
              ElementsAre(0, 0, 0, 0));
  EXPECT_THAT(std::vector<uint8_t>(bytes.begin() + 40, bytes.begin() + 44),
              ElementsAre(0, 0, 0, 14));
  Mpls back;
  ASSERT_TRUE(back.Read(bytes));
  EXPECT_EQ(back.play_items[0].StillTime, 300);
  const size_t second = 58 + 10 + back.play_items[0].Length + 2;
  EXPECT_THAT(std::vector<uint8_t>(bytes.begin() + second + 32, bytes.begin() + second + 34),
              ElementsAre(0, 0));
  EXPECT_FALSE(back.ext_data.has_value());
}

TEST(Mpls, RemoveClipDropsItsItemsAndRenumbersTheMarks) {
  Mpls mpls;
  mpls.play_items = {Item("00001"), Item("00002"), Item("00003")};
  mpls.marks = {Mark(0), Mark(1), Mark(2), Mark(2)};
  SUB_PATH path;
  SUB_PLAY_ITEM sub;
  SetCharField(sub.ClipInformationFileName, "00009");
  path.items.push_back(sub);
  mpls.sub_paths.push_back(path);

  const std::vector<uint8_t> before = mpls.Write();
  EXPECT_FALSE(mpls.RemoveClip(9));  // only a sub-play item plays it
  EXPECT_EQ(mpls.Write(), before);

  EXPECT_TRUE(mpls.RemoveClip(2));
  std::vector<int> clips, refs;
  for (const PLAY_ITEM& item : mpls.play_items) clips.push_back(item.ClipNumber());
  for (const PLAY_MARK& mark : mpls.marks) refs.push_back(mark.RefToPlayItemID);
  EXPECT_THAT(clips, ElementsAre(1, 3));
  EXPECT_THAT(refs, ElementsAre(0, 1, 1));
}

TEST(Mpls, ClipQueriesCoverAnglesAndSubPaths) {
  // Play items 00020, 00021, 00022 (second angle 00023), 00024; the menu sub-path plays 00012.
  Mpls mpls = ReadFixture("multiangle2.mpls");
  EXPECT_THAT(mpls.CollectClips(), ElementsAre(20, 21, 22, 23, 24, 12));
  EXPECT_THAT(mpls.FindClipUses(12), ElementsAre(ClipUse{0, 0}));
  EXPECT_THAT(mpls.FindClipUses(21), ElementsAre(ClipUse{-1, 1}));
  mpls.play_items[3] = mpls.play_items[1];
  EXPECT_THAT(mpls.FindClipUses(21), ElementsAre(ClipUse{-1, 1}, ClipUse{-1, 3}));
  EXPECT_THAT(mpls.CollectClips(), ElementsAre(20, 21, 22, 23, 12));
}

TEST(Mpls, PlaylistWithoutPlayItemsReads) {
  // A muxer's blank playlist: no play item, one mark on play item 0xFFFF.
  const Mpls mpls = ReadFixture("disc-emptyplaylist_01900.mpls");
  EXPECT_TRUE(mpls.play_items.empty());
  ASSERT_EQ(mpls.marks.size(), 1u);
  EXPECT_EQ(mpls.marks[0].RefToPlayItemID, 0xFFFF);
}

}  // namespace
}  // namespace tessel

namespace tessel {
namespace {

TEST(MplsDisplayTexts, CodesAndReservedValues) {
  struct Case {
    const char* (*text)(unsigned);
    unsigned code;
    const char* expected;
  };
  const Case cases[] = {
      {ConnectionConditionText, 1, "NonSeamless (1)"},
      {ConnectionConditionText, 5, "Seamless with clean break (5)"},
      {ConnectionConditionText, 6, "Seamless without break (6)"},
      {ConnectionConditionText, 4, "Reserved"},
      {ConnectionConditionText, 200, "Reserved"},
      {SubPathTypeText, 3, "IG menu"},
      {SubPathTypeText, 8, "3D Video"},
      {SubPathTypeText, 10, "Reserved"},
      {PlaybackTypeText, 1, "Sequential"},
      {PlaybackTypeText, 3, "Shuffle"},
      {PlaybackTypeText, 0, "Reserved"},
      {StillModeText, 2, "Infinite"},
      {MarkTypeText, 2, "LinkPoint"},
      {MarkTypeText, 3, "Reserved"},
  };
  for (const Case& c : cases) EXPECT_STREQ(c.text(c.code), c.expected) << c.code;
}

}  // namespace
}  // namespace tessel
