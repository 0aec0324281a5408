// LPCM in WAVE files: format block, chunk scan, 5 ms units, refusals.
#include <gtest/gtest.h>

#include "es/lpcm.h"
#include "es/parser_base.h"
#include "support/es_builders.h"
#include "support/test_support.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;

struct Result {
  int code = -1;
  std::string message;
  std::unique_ptr<CStreamInfo> info = std::make_unique<CStreamInfo>();
  const PCM_WAVE_FORMAT& format() const {
    return static_cast<const PCM_WAVE_FORMAT&>(*info->record);
  }
};

Result AnalyseWav(const test::TempDir& dir, const test::WavParams& params) {
  test::WriteFile(dir / "t.wav", test::MakeWav(params));
  Result r;
  r.code = ParseElementaryFile(dir / "t.wav", *r.info, r.message, nullptr);
  return r;
}

TEST(LpcmParser, StereoSixteenBitUnits) {
  test::TempDir dir;
  test::WavParams params;
  params.data_bytes = 960 * 10 + 500;  // ten units and a partial one
  const Result r = AnalyseWav(dir, params);
  ASSERT_EQ(r.code, 0) << r.message;
  const SSifHeader& h = r.info->header;
  EXPECT_EQ(h.streamCodingType, coding::kLpcm);
  EXPECT_EQ(h.bitRate, 1536000u);
  EXPECT_DOUBLE_EQ(h.auDuration, 5.0);
  EXPECT_EQ(h.startOffset, 44u);
  EXPECT_EQ(h.totalSize, 9600u + 500);
  EXPECT_EQ(h.auCount, 10u);  // the partial unit is left out
  for (uint32_t n : {0u, 1u, 9u}) {
    const auto au = r.info->GetAu(n);
    ASSERT_TRUE(au);
    EXPECT_EQ(au->size, 960u);
    EXPECT_EQ(au->offset, 44u + 960 * n);
    EXPECT_EQ(au->pts, 131070 + 450 * n);
  }
  EXPECT_FALSE(r.info->GetAu(10));
  EXPECT_EQ(r.format().PresentationType(), 3);
  EXPECT_EQ(r.format().SamplingFrequency(), 1);
  EXPECT_EQ(r.format().ChannelAssignment(), 3);
  EXPECT_EQ(r.format().BitsCode(), 1);
}

// Layout variants of the header that must be read correctly.
TEST(LpcmParser, HeaderLayouts) {
  struct Case {
    const char* what;
    test::WavParams params;
    uint32_t start_offset;
  };
  test::WavParams list;
  list.list_chunk = true;  // odd-sized, padded
  test::WavParams eighteen;
  eighteen.cb_size = true;
  test::WavParams extensible;
  extensible.format_tag = 0xFFFE;
  extensible.channels = 6;
  extensible.bits = 24;
  extensible.valid_bits = 20;
  extensible.channel_mask = 0x3F;
  extensible.data_bytes = 18 * 240 * 3;
  test::WavParams short_data;
  short_data.data_bytes = 960 * 4;
  const Case cases[] = {
      {"LIST before data", list, 44 + 14},
      {"18-byte format chunk", eighteen, 46},
      {"extensible 20 in 24 bits", extensible, 68},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    const Result r = AnalyseWav(dir, c.params);
    ASSERT_EQ(r.code, 0) << r.message;
    EXPECT_EQ(r.info->header.startOffset, c.start_offset);
    EXPECT_EQ(r.info->header.totalSize, c.params.data_bytes);
    EXPECT_EQ(r.format().valid_bits_per_sample, c.params.valid_bits);
    // The record survives the trip through the stream info file.
    CStreamInfo back;
    ASSERT_TRUE(OpenStreamInfo(back, dir / "t.wav", false));
    EXPECT_TRUE(back.record->IsEqual(*r.info->record));
  }
  test::TempDir dir;
  const Result r = AnalyseWav(dir, extensible);
  EXPECT_EQ(r.format().ChannelAssignment(), 9);
  EXPECT_EQ(r.format().BitsCode(), 2);
  EXPECT_EQ(r.format().PresentationType(), 6);
}

// A data chunk that claims more than the file holds is cut to the file.
TEST(LpcmParser, DataSizeLimitedToFile) {
  test::TempDir dir;
  auto bytes = test::MakeWav(test::WavParams{});
  bytes[40] = 0xFF;  // data size 0x...FF
  bytes[41] = 0xFF;
  test::WriteFile(dir / "t.wav", bytes);
  CStreamInfo info;
  std::string message;
  ASSERT_EQ(ParseElementaryFile(dir / "t.wav", info, message, nullptr), 0);
  EXPECT_EQ(info.header.totalSize, 9600u);
  EXPECT_EQ(info.header.auCount, 10u);
}

TEST(LpcmParser, RefusedStreams) {
  struct Case {
    const char* what;
    test::WavParams params;
    int result;
  };
  std::vector<Case> cases;
  auto add = [&cases](const char* what, int result, auto change) {
    test::WavParams s;
    change(s);
    cases.push_back({what, s, result});
  };
  add("mono", 19, [](test::WavParams& s) { s.channels = 1; });
  add("three channels", 19, [](test::WavParams& s) { s.channels = 3; });
  add("8 channels at 192 kHz", 19, [](test::WavParams& s) {
    s.channels = 8;
    s.rate = 192000;
  });
  add("44.1 kHz", 17, [](test::WavParams& s) { s.rate = 44100; });
  add("8-bit", 16, [](test::WavParams& s) {
    s.bits = 8;
    s.valid_bits = 8;
  });
  add("24 in 32 bits", 16, [](test::WavParams& s) {
    s.format_tag = 0xFFFE;
    s.bits = 32;
    s.valid_bits = 24;
  });
  add("float", 2, [](test::WavParams& s) { s.format_tag = 3; });
  add("extensible block of 10", 2, [](test::WavParams& s) {
    s.format_tag = 0xFFFE;
    s.extension_size = 10;
  });
  add("valid bits above bits", 2, [](test::WavParams& s) {
    s.format_tag = 0xFFFE;
    s.valid_bits = 24;
  });
  add("no data chunk", 6, [](test::WavParams& s) {
    s.data_chunk = false;
    s.list_chunk = true;
  });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    const Result r = AnalyseWav(dir, c.params);
    EXPECT_EQ(r.code, c.result);
    EXPECT_EQ(r.message, ParseResultMessage(c.result));
    EXPECT_FALSE(fs::exists(StreamInfoPath(dir / "t.wav")));
  }
  // Six channels at 192 kHz are allowed and get the 192 kHz buffer model.
  test::TempDir dir;
  test::WavParams six;
  six.channels = 6;
  six.rate = 192000;
  six.data_bytes = 6 * 2 * 960;
  const Result r = AnalyseWav(dir, six);
  ASSERT_EQ(r.code, 0) << r.message;
  EXPECT_EQ(r.format().SamplingFrequency(), 5);
  SStdSpec models[2];
  ASSERT_EQ(r.info->record->StdModels(models), 1);
  EXPECT_EQ(models[0].kind, StdKind::kLpcm);
  EXPECT_EQ(models[0].parameter, 5);
}

}  // namespace
}  // namespace tessel
