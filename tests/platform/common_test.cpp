#include "platform/common.h"

#include <gtest/gtest.h>

namespace tessel {
namespace {

TEST(SizeText, Boundaries) {
  struct Case {
    uint64_t packets;
    const char* text;
  };
  // kilobytes = packets * 0.1875 (truncated); MB above 1024 KB; GB above 1024 MB.
  const Case cases[] = {
      {0, ""},
      {1, "0KB"},
      {6, "1KB"},
      {5461, "1023KB"},        // 1023.9 KB
      {5462, "1.00MB"},        // 1024 KB
      {5592405, "1024.00MB"},  // 1048575 KB: below 1024 MB, printed rounded
      {5592000, "1023.93MB"},  // 1048500 KB
      {5592406, "1024.00MB"},  // exactly 1024 MB is not above it
      {5592411, "1.00GB"},     // 1048577 KB
      {134217728, "24.00GB"},
  };
  for (const Case& c : cases) EXPECT_EQ(SizeText(c.packets), c.text) << c.packets;
}

TEST(TimeText, HoursAreNotLimited) {
  EXPECT_EQ(TimeText(0), "00:00:00:000");
  EXPECT_EQ(TimeText(3723004), "01:02:03:004");
  EXPECT_EQ(TimeText(100ull * 3600 * 1000 + 59999), "100:00:59:999");
  EXPECT_EQ(FrameTimeText(1, 2, 3, 4), "01:02:03:04");
}

TEST(FileNames, FiveDigitNumbers) {
  EXPECT_EQ(NumberedFileName(7, "m2ts"), "00007.m2ts");
  EXPECT_EQ(NumberedFileName(12345, "clpi"), "12345.clpi");
  EXPECT_EQ(FileNumberFromName("00001"), 1);
  EXPECT_EQ(FileNumberFromName("1"), -1);
  EXPECT_EQ(FileNumberFromName("abcde"), -1);
}

}  // namespace
}  // namespace tessel
