#include "formats/tables.h"

#include <cstring>
#include <set>
#include <string>

#include <gtest/gtest.h>

namespace tessel {
namespace {

TEST(CodingTypes, NamesAndExtensions) {
  EXPECT_STREQ(CodingTypeName(coding::kH264), "MPEG-4 AVC/h.264");
  EXPECT_STREQ(CodingTypeShortName(coding::kH264), "MPEG-4 AVC/H.264");
  EXPECT_STREQ(CodingTypeName(coding::kEac3Secondary), "Dolby Digital Plus (2nd Audio)");
  EXPECT_STREQ(CodingTypeShortName(coding::kEac3Secondary), "EAC-3");
  EXPECT_STREQ(CodingTypeShortName(coding::kPg), "PG(Subtitle)");
  EXPECT_STREQ(CodingTypeName(coding::kMvc), "MPEG-4 MVC");
  EXPECT_EQ(CodingTypeShortName(coding::kMvc), nullptr);
  EXPECT_EQ(CodingTypeName(0x00), nullptr);
  EXPECT_EQ(CodingTypeShortName(0xFF), nullptr);

  EXPECT_STREQ(DemuxExtension(coding::kMpeg2Video), ".m2v");
  EXPECT_STREQ(DemuxExtension(coding::kTrueHd), ".mlp");
  EXPECT_STREQ(DemuxExtension(coding::kDtsHdSecondary), ".dtshd");
  EXPECT_STREQ(DemuxExtension(coding::kTextSubtitle), ".tst");
  EXPECT_STREQ(DemuxExtension(coding::kMvc), "unknown");  // 0x20
  EXPECT_STREQ(DemuxExtension(0x42), "unknown");
}

TEST(CodingTypes, Classes) {
  for (int code = 0; code < 256; ++code) {
    const auto c = static_cast<uint8_t>(code);
    const bool video = code == 0x02 || code == 0x1B || code == 0x20 || code == 0xEA;
    const bool audio = (code >= 0x80 && code <= 0x86) || code == 0xA1 || code == 0xA2;
    EXPECT_EQ(IsVideoCodingType(c), video) << code;
    EXPECT_EQ(IsAudioCodingType(c), audio) << code;
    EXPECT_EQ(IsGraphicsCodingType(c), code == 0x90 || code == 0x91) << code;
    EXPECT_EQ(IsTextSubtitleCodingType(c), code == 0x92) << code;
    EXPECT_EQ(CodingTypeName(c) != nullptr, video || audio || (code >= 0x90 && code <= 0x92));
  }
}

TEST(AttributeTexts, RowsOfThePartAndReservedElsewhere) {
  EXPECT_STREQ(VideoFormatText(1), "480i");
  EXPECT_STREQ(VideoFormatText(7), "576p");
  EXPECT_STREQ(VideoFormatText(8), "Reserved");
  EXPECT_STREQ(FrameRateText(4), "29.97");
  EXPECT_STREQ(FrameRateText(5), "Reserved");
  EXPECT_STREQ(FrameRateText(15), "Reserved");
  EXPECT_STREQ(AspectRatioText(2), "4:3");
  EXPECT_STREQ(AspectRatioText(3), "16:9");
  EXPECT_STREQ(AspectRatioText(1), "Reserved");
  EXPECT_STREQ(AspectRatioText(9), "Reserved");
  EXPECT_STREQ(AudioPresentationTypeText(1), "Mono");
  EXPECT_STREQ(AudioPresentationTypeText(3), "Stereo");
  EXPECT_STREQ(AudioPresentationTypeText(6), "Multi");
  EXPECT_STREQ(AudioPresentationTypeText(12), "Multi");
  EXPECT_STREQ(AudioPresentationTypeText(14), "Reserved");
  EXPECT_STREQ(SamplingFrequencyText(1), "48K");
  EXPECT_STREQ(SamplingFrequencyText(4), "96K");
  EXPECT_STREQ(SamplingFrequencyText(5), "192K");
  EXPECT_STREQ(SamplingFrequencyText(12), "48K/96K+192K");
  EXPECT_STREQ(SamplingFrequencyText(14), "48K+96K");
  EXPECT_STREQ(SamplingFrequencyText(3), "Reserved");
  EXPECT_STREQ(SamplingFrequencyText(200), "Reserved");
}

TEST(FrameTiming, Tables) {
  EXPECT_DOUBLE_EQ(FrameDurationMs(1), 1001.0 / 24);
  EXPECT_DOUBLE_EQ(ExactFrameRate(1), 24000.0 / 1001);
  EXPECT_DOUBLE_EQ(NominalFrameRate(1), 23.976);
  EXPECT_DOUBLE_EQ(FrameDurationMs(3), 40);
  EXPECT_DOUBLE_EQ(FrameDurationMs(7), 1001.0 / 60);
  EXPECT_DOUBLE_EQ(NominalFrameRate(7), 59.94);
  for (uint8_t code : {0, 5, 8, 15}) {
    EXPECT_EQ(FrameDurationMs(code), 0) << int(code);
    EXPECT_EQ(ExactFrameRate(code), 0) << int(code);
    EXPECT_EQ(NominalFrameRate(code), 0) << int(code);
  }
}

TEST(KnownPids, Ranges) {
  for (uint16_t pid : {0x1011, 0x1012, 0x1100, 0x111F, 0x1200, 0x12FF, 0x1400, 0x141F, 0x1800,
                       0x1A00, 0x1A1F, 0x1B00, 0x1B1F}) {
    EXPECT_TRUE(IsKnownPid(pid)) << pid;
  }
  for (uint16_t pid : {0x0000, 0x0100, 0x1001, 0x1010, 0x1013, 0x1120, 0x1300, 0x1420, 0x1801,
                       0x1A20, 0x1B20, 0xFFFF}) {
    EXPECT_FALSE(IsKnownPid(pid)) << pid;
  }
}

TEST(Languages, RowsAndPeculiarities) {
  EXPECT_STREQ(LanguageAt(0).code, "aar");
  EXPECT_STREQ(LanguageAt(kLanguageCount - 1).code, "zun");
  EXPECT_STREQ(LanguageAt(kDefaultLanguageRow).code, "eng");
  EXPECT_STREQ(LanguageAt(kDefaultLanguageRow).name, "English");
  EXPECT_STREQ(LanguageAt(-5).code, "aar");  // clamped
  EXPECT_STREQ(LanguageAt(10000).code, "zun");

  EXPECT_STREQ(LanguageAt(LanguageRow("ang")).name, "Englisc English, Old (ca.450-1100)");
  EXPECT_STREQ(LanguageAt(LanguageRow("lus")).name, "lushai");
  EXPECT_STREQ(LanguageAt(LanguageRow("und")).name, "Undetermined");
  EXPECT_STREQ(LanguageAt(LanguageRow("vol")).name, "Volap\xA8\xB9k");
  for (int row = 0; row < kLanguageCount; ++row) {
    ASSERT_EQ(std::strlen(LanguageAt(row).code), 3u) << row;
    if (std::strcmp(LanguageAt(row).code, "vol") == 0) continue;
    for (const char* p = LanguageAt(row).name; *p; ++p) {
      EXPECT_LT(static_cast<unsigned char>(*p), 0x80) << LanguageAt(row).code;
    }
  }
}

// The four terminology codes that stand where their bibliographic codes would sort.
TEST(Languages, OutOfOrderRows) {
  auto code = [](int row) { return std::string(LanguageAt(row).code); };
  const int nld = LanguageRow("nld");
  EXPECT_EQ(code(nld - 1), "dum");
  EXPECT_EQ(code(nld + 1), "dyu");
  const int mkd = LanguageRow("mkd");
  EXPECT_EQ(code(mkd + 1), "mad");
  const int mri = LanguageRow("mri");
  EXPECT_EQ(code(mri + 1), "map");
  const int msa = LanguageRow("msa");
  EXPECT_EQ(code(msa + 1), "mdf");

  // Every other adjacent pair is in alphabetical order.
  std::set<std::string> out_of_order;
  for (int row = 1; row < kLanguageCount; ++row) {
    if (code(row - 1) >= code(row)) out_of_order.insert(code(row - 1) + ">" + code(row));
  }
  EXPECT_EQ(out_of_order, (std::set<std::string>{"nld>dyu", "mkd>mad", "mri>map", "msa>mdf"}));
}

TEST(Languages, LanguageRow) {
  EXPECT_EQ(LanguageRow("eng"), 125);
  EXPECT_EQ(LanguageRow("fre"), 125);  // the table holds "fra"
  EXPECT_EQ(LanguageRow("per"), 125);  // no Persian row
  EXPECT_EQ(LanguageRow("fas"), 125);
  EXPECT_EQ(LanguageRow("zxx"), 125);
  EXPECT_EQ(LanguageRow("zza"), 125);
  EXPECT_EQ(LanguageRow("ENG"), 125);
  EXPECT_EQ(LanguageRow("aar"), 0);
  EXPECT_EQ(LanguageRow("zun"), kLanguageCount - 1);
  EXPECT_STREQ(LanguageAt(LanguageRow("fra")).code, "fra");
  EXPECT_STREQ(LanguageAt(LanguageRow("alb")).code, "alb");
  EXPECT_EQ(LanguageRow("sqi"), 125);
  EXPECT_STREQ(LanguageAt(LanguageRow("deux")).code, "deu");  // the first three bytes
  EXPECT_EQ(LanguageRow("de"), 125);
  EXPECT_EQ(LanguageRow(""), 125);
  for (int row = 0; row < kLanguageCount; ++row) {
    EXPECT_EQ(LanguageRow(LanguageAt(row).code), row);
  }
}

TEST(Languages, LanguageRowAnyCode) {
  auto code = [](std::string_view text) {
    int row = LanguageRowAnyCode(text);
    return row < 0 ? std::string("-") : std::string(LanguageAt(row).code);
  };
  EXPECT_EQ(code("fre"), "fra");
  EXPECT_EQ(code("ger"), "deu");
  EXPECT_EQ(code("dut"), "nld");
  EXPECT_EQ(code("cze"), "ces");
  EXPECT_EQ(code("chi"), "zho");
  EXPECT_EQ(code("gre"), "ell");
  EXPECT_EQ(code("wel"), "cym");
  EXPECT_EQ(code("tib"), "bod");
  EXPECT_EQ(code("sqi"), "alb");
  EXPECT_EQ(code("hye"), "arm");
  EXPECT_EQ(code("eus"), "baq");
  EXPECT_EQ(code("mya"), "bur");
  EXPECT_EQ(code("fra"), "fra");
  EXPECT_EQ(code("alb"), "alb");
  EXPECT_EQ(code("FRE"), "fra");
  EXPECT_EQ(code("Ger"), "deu");
  EXPECT_EQ(code("ENG"), "eng");
  EXPECT_EQ(code("eng"), "eng");
  EXPECT_EQ(LanguageRowAnyCode("per"), -1);
  EXPECT_EQ(LanguageRowAnyCode("fas"), -1);
  EXPECT_EQ(LanguageRowAnyCode("xyz"), -1);
  EXPECT_EQ(LanguageRowAnyCode("en"), -1);
  EXPECT_EQ(LanguageRowAnyCode(""), -1);
}

TEST(Languages, DisplayOrder) {
  EXPECT_EQ(LanguageDisplayText(0), "ces (Czech)");
  EXPECT_EQ(LanguageDisplayText(3), "eng (English)");
  EXPECT_EQ(LanguageDisplayText(17), "aar (Afar)");
  EXPECT_EQ(LanguageDisplayPosition("eng"), 3);
  EXPECT_EQ(LanguageDisplayPosition("fre"), 3);
  EXPECT_EQ(LanguageDisplayPosition("per"), 3);
  EXPECT_EQ(LanguageDisplayPosition("ces"), 0);
  EXPECT_EQ(LanguageDisplayPosition("zho"), 16);
  EXPECT_EQ(LanguageDisplayPosition("aar"), 17);
  EXPECT_EQ(LanguageDisplayPosition("zun"), kLanguageCount - 1);

  const char* leading[] = {"ces", "deu", "nld", "eng", "fra", "ind", "ita", "jpn", "kor",
                           "nor", "por", "ron", "rus", "spa", "swe", "tha", "zho"};
  std::set<int> rows;
  int previous_rest = -1;
  for (int position = 0; position < kLanguageCount; ++position) {
    const int row = LanguageRowAtDisplayPosition(position);
    ASSERT_GE(row, 0);
    ASSERT_LT(row, kLanguageCount);
    EXPECT_TRUE(rows.insert(row).second) << "row shown twice: " << row;
    EXPECT_EQ(LanguageDisplayPosition(LanguageAt(row).code), position);
    if (position < 17) {
      EXPECT_STREQ(LanguageAt(row).code, leading[position]);
    } else {
      EXPECT_GT(row, previous_rest);  // the rest in row order
      previous_rest = row;
    }
  }
  EXPECT_EQ(rows.size(), static_cast<size_t>(kLanguageCount));
}

StreamAttributeValues Video(uint8_t format, uint8_t rate, uint8_t aspect, bool cc) {
  StreamAttributeValues v;
  v.coding_type = coding::kH264;
  v.video_format = format;
  v.frame_rate = rate;
  v.aspect_ratio = aspect;
  v.cc_flag = cc;
  return v;
}

StreamAttributeValues WithLanguage(uint8_t coding_type, const char* language) {
  StreamAttributeValues v;
  v.coding_type = coding_type;
  std::memcpy(v.language, language, 3);
  return v;
}

StreamAttributeValues Audio(uint8_t presentation, uint8_t frequency, const char* language) {
  StreamAttributeValues v = WithLanguage(coding::kAc3, language);
  v.presentation_type = presentation;
  v.sampling_frequency = frequency;
  return v;
}

StreamAttributeValues TextSubtitle(uint8_t character_code, const char* language) {
  StreamAttributeValues v = WithLanguage(coding::kTextSubtitle, language);
  v.character_code = character_code;
  return v;
}

struct DescriptionCase {
  const char* label;
  StreamAttributeValues attributes;
  bool with_language;
  const char* expected;
};

TEST(StreamDescription, Cases) {
  const DescriptionCase cases[] = {
      {"video with aspect", Video(6, 1, 3, false), true, "1080p, 23.976, 16:9"},
      {"video 4:3", Video(1, 4, 2, false), false, "480i, 29.97, 4:3"},
      {"video without aspect", Video(6, 1, 0, false), true, "1080p, 23.976"},
      {"video reserved aspect", Video(5, 7, 5, false), true, "720p, 59.94"},
      {"video with CC", Video(6, 1, 3, true), true, "1080p, 23.976, 16:9 CC"},
      {"video without aspect, CC", Video(4, 4, 0, true), false, "1080i, 29.97 CC"},
      {"audio with language", Audio(6, 1, "eng"), true, "Multi, 48K, eng"},
      {"audio without language", Audio(3, 4, "eng"), false, "Stereo, 96K, "},
      {"audio reserved codes", Audio(0, 0, "fra"), true, "Reserved, Reserved, fra"},
      {"PG with language", WithLanguage(coding::kPg, "deu"), true, "deu"},
      {"IG without language", WithLanguage(coding::kIg, "deu"), false, ""},
      {"text subtitle with language", TextSubtitle(1, "jpn"), true, "1, jpn"},
      {"text subtitle without language", TextSubtitle(1, "jpn"), false, ""},
      {"unknown coding type", WithLanguage(0x42, "eng"), true, ""},
  };
  for (const DescriptionCase& c : cases) {
    EXPECT_EQ(StreamDescription(c.attributes, c.with_language), c.expected) << c.label;
  }
}

}  // namespace
}  // namespace tessel
