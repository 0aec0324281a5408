// AC-3 and E-AC-3 analysis: computed access units, the alternating form, refusals.
#include <fstream>

#include <gtest/gtest.h>

#include "es/ac3.h"
#include "es/parser_base.h"
#include "support/es_builders.h"
#include "support/test_support.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;

struct Analysed {
  int result = -1;
  std::string message;
  std::unique_ptr<CStreamInfo> info = std::make_unique<CStreamInfo>();
};

Analysed Analyse(const fs::path& path) {
  Analysed a;
  a.result = ParseElementaryFile(path, *a.info, a.message, nullptr);
  return a;
}

Analysed AnalyseBytes(const test::TempDir& dir, const std::vector<uint8_t>& bytes,
                      const char* name = "crafted.ac3") {
  test::WriteFile(dir / name, bytes);
  return Analyse(dir / name);
}

const AC3_AUDIO_DESCRIPTOR& Record(const Analysed& a) {
  return static_cast<const AC3_AUDIO_DESCRIPTOR&>(*a.info->record);
}

TEST(Ac3Parser, ConstantFramesGiveComputedUnits) {
  test::TempDir dir;
  fs::copy_file(test::DataPath("es/ac3_51_448k.ac3"), dir / "a.ac3");
  const Analysed a = Analyse(dir / "a.ac3");
  ASSERT_EQ(a.result, 0) << a.message;
  const SSifHeader& h = a.info->header;
  EXPECT_EQ(h.streamCodingType, coding::kAc3);
  EXPECT_EQ(h.bitRate, 448000u);
  EXPECT_EQ(h.bitRate2, 0u);
  EXPECT_DOUBLE_EQ(h.auDuration, 32.0);
  EXPECT_EQ(h.auCount, 57344u / 1792);
  EXPECT_EQ(h.totalSize, 57344u);
  EXPECT_EQ(Record(a).frame_size, 1792u);
  EXPECT_EQ(Record(a).acmod, 7);
  EXPECT_EQ(Record(a).PresentationType(), 6);
  for (uint32_t n : {0u, 1u, 17u, h.auCount - 1}) {
    const auto au = a.info->GetAu(n);
    ASSERT_TRUE(au);
    EXPECT_EQ(au->offset, 1792u * n);
    EXPECT_EQ(au->size, 1792u);
    EXPECT_EQ(au->pts, 131070 + 2880 * n);
    EXPECT_EQ(au->dts, au->pts);
    EXPECT_EQ(au->flags, 0u);
  }
  SStdSpec models[2];
  ASSERT_EQ(Record(a).StdModels(models), 1);
  EXPECT_EQ(models[0].kind, StdKind::kAc3);
}

TEST(Ac3Parser, EAc3AloneIsSecondaryOnly) {
  test::TempDir dir;
  fs::copy_file(test::DataPath("es/eac3_20_128k.eac3"), dir / "e.eac3");
  const Analysed a = Analyse(dir / "e.eac3");
  ASSERT_EQ(a.result, 0) << a.message;
  EXPECT_EQ(a.info->header.streamCodingType, coding::kEac3Secondary);
  EXPECT_TRUE(a.info->record->IsSecondaryOnly());
  EXPECT_EQ(a.info->header.bitRate, 128000u);  // frame words x 500
  SStdSpec models[2];
  ASSERT_EQ(a.info->record->StdModels(models), 1);
  EXPECT_EQ(models[0].kind, StdKind::kDdp);
  EXPECT_EQ(models[0].parameter, 0);
  EXPECT_FALSE(models[0].primary);
}

// Core and extension frames alternate; the pair shares one time stamp.
TEST(Ac3Parser, AlternatingCoreAndExtension) {
  struct Case {
    const char* file;
    uint32_t start_offset;
  };
  const uint32_t core = 768, extension = 512;  // 192 kbit/s AC-3, 128 kbit/s E-AC-3
  for (const Case& c : {Case{"ac3_eac3_20.ac3", 0}, Case{"eac3_ac3_20.ac3", extension}}) {
    SCOPED_TRACE(c.file);
    test::TempDir dir;
    fs::copy_file(test::DataPath(std::string("es/") + c.file), dir / "dd.ac3");
    const Analysed a = Analyse(dir / "dd.ac3");
    ASSERT_EQ(a.result, 0) << a.message;
    const SSifHeader& h = a.info->header;
    EXPECT_EQ(h.streamCodingType, coding::kEac3);
    EXPECT_EQ(h.startOffset, c.start_offset);
    EXPECT_EQ(h.bitRate, 192000u);
    EXPECT_EQ(h.bitRate2, 128000u);
    EXPECT_EQ(Record(a).frame_size, core + extension);
    EXPECT_EQ(h.auCount % 2, 0u);
    EXPECT_EQ(h.totalSize, (h.auCount / 2) * uint64_t{core + extension});
    EXPECT_FALSE(a.info->record->IsSecondaryOnly());
    for (uint32_t k : {0u, 1u, 9u}) {
      const auto first = a.info->GetAu(2 * k), second = a.info->GetAu(2 * k + 1);
      ASSERT_TRUE(first && second);
      EXPECT_EQ(first->offset, c.start_offset + k * (core + extension));
      EXPECT_EQ(first->size, core);
      EXPECT_EQ(first->flags, 0u);
      EXPECT_EQ(second->offset, first->offset + core);
      EXPECT_EQ(second->size, extension);
      EXPECT_EQ(second->flags, 1u);
      EXPECT_EQ(first->pts, 131070 + 2880 * k);
      EXPECT_EQ(second->pts, first->pts);
    }
    SStdSpec models[2];
    ASSERT_EQ(a.info->record->StdModels(models), 2);
    EXPECT_EQ(models[0].kind, StdKind::kAc3);
    EXPECT_EQ(models[1].kind, StdKind::kDdp);
    EXPECT_EQ(models[1].parameter, 1);
  }
}

std::vector<uint8_t> Fixture(const char* name) {
  return test::ReadData(std::string("es/") + name);
}

// Streams a disc cannot carry, made from real frames with one header field changed.
TEST(Ac3Parser, RefusedStreams) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    int result;
  };
  std::vector<Case> cases;
  auto ac3 = [] { return Fixture("ac3_20_192k.ac3"); };  // 768-byte frames
  auto eac3 = [] { return Fixture("eac3_20_128k.eac3"); };
  {
    auto b = ac3();
    b[5] = static_cast<uint8_t>((9 << 3) | (b[5] & 7));  // bsid 9
    cases.push_back({"bsid 9", b, 15});
  }
  cases.push_back({"44.1 kHz", Fixture("ac3_20_192k_44k.ac3"), 17});
  {
    auto b = ac3();
    b[4] = 0x40 | (b[4] & 0x3F);  // fscod 1
    cases.push_back({"fscod 1", b, 17});
  }
  {
    auto b = ac3();
    b[4] = 6;  // frmsizecod 6: 48 kbit/s
    cases.push_back({"48 kbit/s", b, 18});
  }
  {
    auto b = ac3();
    b[4] = 38;  // frmsizecod beyond the table
    cases.push_back({"frmsizecod 38", b, 18});
  }
  {
    auto b = ac3();
    b[6] &= 0x1F;  // acmod 0: dual mono
    cases.push_back({"AC-3 dual mono", b, 20});
  }
  {
    auto b = eac3();
    b[4] &= static_cast<uint8_t>(~(7 << 1));  // acmod 0
    cases.push_back({"E-AC-3 dual mono", b, 20});
  }
  {
    auto b = eac3();
    b[4] = static_cast<uint8_t>((b[4] & 0xCF) | (1 << 4));  // numblkscod 1: two blocks
    cases.push_back({"E-AC-3 two blocks", b, 21});
  }
  {
    auto b = ac3();
    const auto e = eac3();
    b.insert(b.begin() + 2 * 768, e.begin(), e.begin() + 512);  // 3rd frame E-AC-3
    cases.push_back({"first and third frame differ", b, 3});
  }
  {
    auto b = ac3();
    b[10 * 768] = 0;  // damaged sync of frame 10
    cases.push_back({"damaged sync", b, 8});
  }
  {
    auto b = ac3();
    auto higher = Fixture("ac3_51_448k.ac3");
    b.insert(b.end(), higher.begin(), higher.end());  // the bit rate changes
    cases.push_back({"bit rate change", b, 8});
  }
  {
    auto b = ac3();
    b.resize(1536);
    cases.push_back({"two frames only", b, 6});
  }
  {
    auto b = ac3();
    b.resize(768 * 2 + 4);  // third header shorter than 48 bits
    cases.push_back({"short header", b, 6});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    const Analysed a = AnalyseBytes(dir, c.bytes);
    EXPECT_EQ(a.result, c.result);
    EXPECT_EQ(a.message, ParseResultMessage(c.result));
    EXPECT_FALSE(fs::exists(StreamInfoPath(dir / "crafted.ac3")));
  }
}

// A last frame cut short counts when its sync word is complete; a lone byte does not.
TEST(Ac3Parser, TruncatedLastFrame) {
  const auto full = Fixture("ac3_20_192k.ac3");
  struct Case {
    size_t cut;
    uint32_t count;
  };
  for (const Case& c : {Case{100, 32}, Case{766, 32}, Case{767, 31}, Case{768, 31}}) {
    SCOPED_TRACE(c.cut);
    test::TempDir dir;
    std::vector<uint8_t> b(full.begin(), full.end() - static_cast<std::ptrdiff_t>(c.cut));
    const Analysed a = AnalyseBytes(dir, b);
    ASSERT_EQ(a.result, 0) << a.message;
    EXPECT_EQ(a.info->header.auCount, c.count);
  }
}

TEST(Ac3Descriptor, ProgramMapBytesRoundTrip) {
  AC3_AUDIO_DESCRIPTOR d;
  d.sample_rate_code = 0;
  d.bsid = 8;
  d.bit_rate_code = 15;
  d.surround_mode = 2;
  d.bsmod = 1;
  d.num_channels = 7;
  d.full_svc = 1;
  d.langcod = 9;
  const std::vector<uint8_t> bytes = d.DescriptorBytes();
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0x81, 4, 0x08, 15 << 2 | 2, 1 << 5 | 7 << 1 | 1, 9}));
  AC3_AUDIO_DESCRIPTOR back;
  ASSERT_TRUE(back.ReadDescriptor(bytes));
  EXPECT_EQ(back.bit_rate_code, 15);
  EXPECT_EQ(back.num_channels, 7);
  EXPECT_EQ(back.langcod, 9);
  EXPECT_FALSE(back.ReadDescriptor(std::vector<uint8_t>{0x81, 4, 0x08}));
}

}  // namespace
}  // namespace tessel
