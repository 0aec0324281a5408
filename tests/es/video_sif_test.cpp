// The shared video record: attribute rules, its on-disk form and the GOP table that ends the
// stored entries.
#include <gtest/gtest.h>

#include "es/graphics.h"
#include "es/video_sif.h"
#include "support/test_support.h"

namespace tessel {
namespace {

TEST(VideoRules, FormatFromHeight) {
  struct Case {
    uint32_t height;
    bool progressive;
    uint8_t format;
  };
  const Case cases[] = {{480, false, 1}, {480, true, 3},  {576, false, 2},  {576, true, 7},
                        {720, true, 5},  {720, false, 5}, {1080, false, 4}, {1088, true, 6},
                        {1080, true, 6}, {540, true, 9}};
  for (const Case& c : cases) {
    EXPECT_EQ(VideoFormatFromHeight(c.height, c.progressive, 9), c.format) << c.height;
  }
}

TEST(VideoRules, AllowedFrameRates) {
  // Rows: video formats 1..7; columns: frame-rate codes 1..7 (5 is never allowed).
  const char* const allowed[] = {
      "0001000",  // 480i
      "0010000",  // 576i
      "1101000",  // 480p
      "0011000",  // 1080i
      "1100011",  // 720p
      "1100000",  // 1080p
      "0010000",  // 576p
  };
  for (uint8_t format = 1; format <= 7; ++format) {
    for (uint8_t rate = 1; rate <= 7; ++rate) {
      EXPECT_EQ(FrameRateAllowed(format, rate), allowed[format - 1][rate - 1] == '1')
          << int(format) << "/" << int(rate);
    }
  }
  EXPECT_FALSE(FrameRateAllowed(0, 1));
  EXPECT_FALSE(FrameRateAllowed(8, 1));
  EXPECT_FALSE(FrameRateAllowed(6, 0));
}

TEST(VideoRules, AspectFromSampleAspectRatio) {
  struct Case {
    uint32_t index, width, height;
    uint8_t aspect;
  };
  const Case cases[] = {
      {1, 1920, 1080, 3}, {1, 1280, 720, 3}, {1, 640, 480, 2},    {1, 720, 576, 0},
      {2, 720, 576, 2},   {3, 720, 480, 2},  {4, 720, 576, 3},    {5, 540, 480, 2},
      {6, 352, 480, 2},   {7, 480, 480, 3},  {8, 352, 576, 3},    {10, 480, 576, 2},
      {12, 540, 576, 3},  {13, 528, 480, 3}, {14, 1920, 1080, 0}, {0, 1920, 1080, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AspectFromSar(c.index, c.width, c.height), c.aspect)
        << c.index << " " << c.width << "x" << c.height;
  }
}

class TestVideoSif : public CVideoSif {
 public:
  uint8_t VideoCodingType() const override { return coding::kH264; }
  std::unique_ptr<CSifData> Clone() const override { return std::make_unique<TestVideoSif>(*this); }
  int StdModels(SStdSpec (&models)[2]) const override {
    models[0] = {StdKind::kAvc, level, true};
    return 1;
  }
};

// Entries end where the GOP table starts; a record of version 1 is refused, and a format of 0
// is derived again when read.
TEST(VideoSif, EntriesAndGopTable) {
  test::TempDir dir;
  CStreamInfo info;
  ASSERT_TRUE(info.Create(dir / "v.dsi"));
  auto record = std::make_unique<TestVideoSif>();
  record->width = 1920;
  record->height = 1080;
  record->progressive = 1;
  record->video_format = 6;
  record->frame_rate_code = 1;
  record->gops = {GOP_INF{24, 0, 0, 5000, 131070, 135000}, GOP_INF{24, 24, 9000, 4000, 0, 0}};
  info.record = std::move(record);
  info.header.streamCodingType = coding::kH264;
  info.header.auCount = 3;
  info.header.totalSize = 300;
  LeWriter entries;
  for (uint32_t i = 0; i < 3; ++i) {
    SAuEntry e;
    e.size = 100;
    e.offset = 100 * i;
    e.flags = i == 0 ? au_flag::kRandomAccess | 1 : 2;
    e.Write(entries);
  }
  ASSERT_TRUE(WriteVideoStreamInfo(info, entries.bytes()));
  const auto& video = static_cast<const CVideoSif&>(*info.record);
  EXPECT_EQ(video.gop_count, 2u);
  EXPECT_EQ(video.gop_table_offset, info.header.auTableOffset + 3 * SAuEntry::kSize);
  EXPECT_EQ(info.FileLength(), video.gop_table_offset + 4 + 2 * GOP_INF::kDiskSize);
  ASSERT_TRUE(info.GetAu(2));
  EXPECT_EQ(info.GetAu(2)->offset, 200u);  // the stride ignores the GOP table
  EXPECT_EQ(info.FindRandomAccessAfter(1), 3u);
  EXPECT_TRUE(video.IsEqual(*video.Clone()));
  EXPECT_FALSE(video.IsSecondaryOnly());
  EXPECT_EQ(SVideoDescriptor::FromVideo(video).Text(), "1920x1080 23.976");

  LeWriter out;
  video.Write(out);
  TestVideoSif back;
  std::vector<uint8_t> bytes = out.bytes();
  bytes[6] = 0;  // video format 0: derived from the height again
  LeReader in(bytes);
  ASSERT_TRUE(back.Read(in));
  EXPECT_EQ(back.video_format, 6);
  EXPECT_EQ(back.gop_table_offset, video.gop_table_offset);
  bytes[0] = 1;  // version 1
  LeReader old(bytes);
  EXPECT_FALSE(back.Read(old));
}

}  // namespace
}  // namespace tessel
