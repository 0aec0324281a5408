#include "model/batch_add.h"

#include <gtest/gtest.h>

#include "model/bd_disc.h"
#include "support/test_support.h"

namespace tessel {
namespace {

struct NameCase {
  const char* name;
  BatchSkip skip;
  int clip;  // with kNone
};

TEST(BatchAddNames, MatchTable) {
  test::ScopedRecordingPrompt prompt;
  CBDDisc disc;
  ASSERT_TRUE(disc.Open(test::DataPath("discs/disc-multiclip").string()));
  // Clip 3 stands for a clip of another application type.
  disc.clips()->FindClip(3)->clip_info.ApplicationType = 2;
  const NameCase cases[] = {
      {"00001_eng.ac3", BatchSkip::kNone, 1},
      {"00001.ac3", BatchSkip::kNone, 1},
      {"1.ac3", BatchSkip::kNone, 1},
      {"00001_00002.ac3", BatchSkip::kNone, 1},
      {"00001_fre.ac3", BatchSkip::kNone, 1},
      {"00002_fre.264", BatchSkip::kNone, 2},
      {"000000000002.ac3", BatchSkip::kNone, 2},
      {"00000.thd", BatchSkip::kNone, 0},
      {"_00001.ac3", BatchSkip::kNoNumber, -1},
      {"00001a.ac3", BatchSkip::kNoNumber, -1},
      {"a00001.ac3", BatchSkip::kNoNumber, -1},
      {".ac3", BatchSkip::kNoNumber, -1},
      {"00009.ac3", BatchSkip::kNoSuchClip, -1},
      {"4294967297.ac3", BatchSkip::kNoSuchClip, -1},
      {"99999999999999999999_eng.ac3", BatchSkip::kNoSuchClip, -1},
      {"00003_eng.ac3", BatchSkip::kNotMovieClip, -1},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(c.name);
    const SBatchMatch match = MatchBatchFile(*disc.clips(), std::filesystem::path("dir") / c.name);
    EXPECT_EQ(match.skip, c.skip) << BatchSkipText(match.skip);
    if (c.skip == BatchSkip::kNone) {
      ASSERT_NE(match.clip, nullptr);
      EXPECT_EQ(match.clip->id(), c.clip);
    } else {
      EXPECT_EQ(match.clip, nullptr);
      EXPECT_STRNE(BatchSkipText(match.skip), "");
    }
  }
}

TEST(BatchAddNames, NumberTextAndValue) {
  EXPECT_EQ(BatchNumberText("x/00012_eng.ac3"), "00012");
  EXPECT_EQ(BatchNumberText("x/_00012.ac3"), "_00012");
  EXPECT_EQ(BatchNumberText("x/12"), "12");
  EXPECT_EQ(BatchClipNumber("00012"), 12);
  EXPECT_EQ(BatchClipNumber("99999"), 99999);
  EXPECT_EQ(BatchClipNumber("100000"), -1);
  EXPECT_EQ(BatchClipNumber("4294967297"), -1);
  EXPECT_EQ(BatchClipNumber(""), std::nullopt);
  EXPECT_EQ(BatchClipNumber("12a"), std::nullopt);
  EXPECT_EQ(BatchClipNumber("-1"), std::nullopt);
}

}  // namespace
}  // namespace tessel
