// For every audio fixture, the attributes the analysis derives agree with what ffprobe, an
// independent reader, reports for the same file.
#include <cmath>

#include <gtest/gtest.h>

#include "es/ac3.h"
#include "es/dts.h"
#include "es/lpcm.h"
#include "es/mlp.h"
#include "es/parser_base.h"
#include "support/es_builders.h"
#include "support/test_support.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;

struct Fixture {
  const char* file;
  const char* codec;  // ffprobe's codec_name
  uint8_t coding_type;
};

const Fixture kFixtures[] = {
    {"ac3_10_96k.ac3", "ac3", coding::kAc3},
    {"ac3_20_192k.ac3", "ac3", coding::kAc3},
    {"ac3_51_448k.ac3", "ac3", coding::kAc3},
    {"ac3_51_640k.ac3", "ac3", coding::kAc3},
    {"eac3_20_128k.eac3", "eac3", coding::kEac3Secondary},
    {"eac3_51_384k.eac3", "eac3", coding::kEac3Secondary},
    {"ac3_eac3_20.ac3", "eac3", coding::kEac3},
    {"truehd_51.ac3", "ac3", coding::kAc3},
    {"lpcm_20_16bit_48k.wav", "pcm_s16le", coding::kLpcm},
    {"lpcm_20_24bit_96k.wav", "pcm_s24le", coding::kLpcm},
    {"lpcm_51_24bit_48k.wav", "pcm_s24le", coding::kLpcm},
    {"lpcm_51_16bit_96k.wav", "pcm_s16le", coding::kLpcm},
    {"lpcm_71_16bit_48k.wav", "pcm_s16le", coding::kLpcm},
    {"truehd_51.thd", "truehd", coding::kTrueHd},
    {"dts_51_768k.dts", "dts", coding::kDts},
    {"dts_20_768k.dts", "dts", coding::kDts},
};

uint8_t PresentationTypeOfChannels(int channels) {
  return channels == 1 ? 1 : channels == 2 ? 3 : 6;
}

uint8_t SamplingFrequencyOfRate(int rate) {
  return rate == 48000 ? 1 : rate == 96000 ? 4 : 5;
}

// Channels counted as ffprobe counts them (with the LFE channel).
int ChannelsOf(const CSifData& record) {
  if (const auto* lpcm = dynamic_cast<const PCM_WAVE_FORMAT*>(&record)) return lpcm->channels;
  if (const auto* dts = dynamic_cast<const CDTSSif*>(&record)) return dts->first.channels;
  if (const auto* mlp = dynamic_cast<const MLP_HEADER_INFO*>(&record)) return mlp->ChannelCount();
  return -1;
}

class FfprobeConformance : public testing::TestWithParam<Fixture> {};

TEST_P(FfprobeConformance, AttributesAgree) {
  if (!test::HaveFfprobe()) GTEST_SKIP() << "ffprobe is not installed";
  const Fixture& f = GetParam();
  test::TempDir dir;
  const fs::path path = dir / f.file;
  fs::copy_file(test::DataPath(std::string("es/") + f.file), path);
  auto probe = test::FfprobeStream(path);
  ASSERT_FALSE(probe.empty()) << "ffprobe could not read " << f.file;

  CStreamInfo info;
  std::string message;
  ASSERT_EQ(ParseElementaryFile(path, info, message, nullptr), 0) << message;
  const SSifHeader& h = info.header;
  EXPECT_EQ(probe["codec_name"], f.codec);
  EXPECT_EQ(h.streamCodingType, f.coding_type);

  const int channels = std::stoi(probe["channels"]);
  const int rate = std::stoi(probe["sample_rate"]);
  StreamAttributeValues values;
  if (h.streamCodingType == coding::kTrueHd) {
    // The presentation type of a TrueHD track comes from its AC-3 part; seed it as the
    // companion file of the same layout would.
    values.presentation_type = PresentationTypeOfChannels(channels);
  }
  info.record->FillAttributes(values);
  EXPECT_EQ(values.coding_type, f.coding_type);
  EXPECT_EQ(values.presentation_type, PresentationTypeOfChannels(channels));
  EXPECT_EQ(values.sampling_frequency, SamplingFrequencyOfRate(rate));
  if (const int ours = ChannelsOf(*info.record); ours >= 0) {
    EXPECT_EQ(ours, channels);
  }

  if (probe["bit_rate"] != "N/A") {
    EXPECT_EQ(h.bitRate, static_cast<uint32_t>(std::stoul(probe["bit_rate"])));
  }
  const double duration_ms = h.auCount * h.auDuration;
  if (h.streamCodingType == coding::kLpcm) {
    // ffprobe cuts PCM into packets of its own; compare the durations, which must agree to
    // within the 5 ms unit (a partial last unit is not counted).
    const double probed = std::stod(probe["duration"]) * 1000;
    EXPECT_LE(duration_ms, probed + 1e-6);
    EXPECT_GT(duration_ms, probed - 5);
    const auto& format = static_cast<const PCM_WAVE_FORMAT&>(*info.record);
    EXPECT_EQ(format.valid_bits_per_sample, std::stoi(probe["bits_per_sample"]));
  } else {
    EXPECT_EQ(h.auCount, std::stoul(probe["nb_read_frames"]));
    // In the alternating form ffprobe counts the E-AC-3 frames as time of their own (each is an
    // independent substream in this fixture), so only the frame count is compared.
    if (probe["duration"] != "N/A" && h.streamCodingType != coding::kEac3) {
      EXPECT_NEAR(duration_ms, std::stod(probe["duration"]) * 1000, h.auDuration);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AudioFixtures, FfprobeConformance, testing::ValuesIn(kFixtures),
                         [](const testing::TestParamInfo<Fixture>& param) {
                           std::string name = param.param.file;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace tessel
