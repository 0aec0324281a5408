#include "platform/string_table.h"

#include <gtest/gtest.h>

#include <string>

namespace tessel {
namespace {

struct Expected {
  int id;
  const char* text;
};

class StringTableTest : public ::testing::TestWithParam<Expected> {};

TEST_P(StringTableTest, HoldsTheExactText) {
  EXPECT_EQ(std::string(LoadString(GetParam().id)), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Samples, StringTableTest,
    ::testing::Values(Expected{124, "Standard"}, Expected{156, "M2ts Tree"},
                      Expected{1108, "Parsing"}, Expected{1136, "Muxing"},
                      Expected{1892, "can only be added as secondary track! "},
                      Expected{5064, "M2ts(s)"}, Expected{5066, "M2ts"},
                      Expected{5071, "Stream parse error:\n%s"},
                      Expected{5073, "has no corresponding clpi file ! "}, Expected{9249, "Size"},
                      Expected{9440, "Congratulations! Your BD build  is completed successfully!"},
                      Expected{9442, "Build error, please check your project file!"},
                      Expected{9461, "Start: %s, End: %s, Total: %s "},
                      Expected{32782,
                               "Batch add tracks to m2ts using filename\nBatch add tracks"}));

// The named ids are the texts they are named after.
TEST(StringTable, NamedIdsHoldTheirTexts) {
  const Expected cases[] = {
      {string_id::kPlaylistList, "Mpls(s)"},
      {string_id::kClipList, "M2ts(s)"},
      {string_id::kPlaylist, "Mpls"},
      {string_id::kClip, "M2ts"},
      {string_id::kParseError, "Stream parse error:\n%s"},
      {string_id::kNoPlaylist, "has no corresponding mpls file! "},
      {string_id::kNoClip, "has no corresponding clpi file ! "},
  };
  for (const Expected& c : cases) EXPECT_STREQ(LoadString(c.id), c.text) << c.id;
}

TEST(StringTable, UnknownIdGivesEmptyText) {
  EXPECT_STREQ(LoadString(0), "");
  EXPECT_STREQ(LoadString(-1), "");
  EXPECT_STREQ(LoadString(5074), "");  // an id the table does not hold
  EXPECT_STREQ(LoadString(99999), "");
}

TEST(StringTable, EveryEntryIsFoundByItsId) {
  for (const StringEntry& entry : StringTable()) {
    EXPECT_EQ(LoadString(entry.id), entry.text) << entry.id;
  }
}

}  // namespace
}  // namespace tessel
