// TrueHD/MLP and DTS/DTS-HD analysis: stored entries, flags, two-part streams, refusals.
#include <gtest/gtest.h>

#include "es/dts.h"
#include "es/mlp.h"
#include "es/parser_base.h"
#include "formats/field_access.h"
#include "support/es_builders.h"
#include "support/test_support.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;

struct Result {
  int code = -1;
  std::string message;
  std::unique_ptr<CStreamInfo> info = std::make_unique<CStreamInfo>();
  std::vector<SAuEntry> entries;
};

Result Analyse(const test::TempDir& dir, const std::vector<uint8_t>& bytes, const char* name) {
  test::WriteFile(dir / name, bytes);
  Result r;
  r.code = ParseElementaryFile(dir / name, *r.info, r.message, nullptr);
  for (uint32_t i = 0; r.code == 0 && i < r.info->header.auCount; ++i) {
    r.entries.push_back(*r.info->GetAu(i));
  }
  return r;
}

std::vector<uint8_t> Fixture(const char* name) {
  return test::ReadData(std::string("es/") + name);
}

// Offsets and sizes of the access units of a TrueHD file.
std::vector<std::pair<size_t, size_t>> TrueHdUnits(const std::vector<uint8_t>& d) {
  std::vector<std::pair<size_t, size_t>> units;
  for (size_t pos = 0; pos + 2 <= d.size();) {
    const size_t length = 2 * ((d[pos] & 0x0F) << 8 | d[pos + 1]);
    units.emplace_back(pos, length);
    pos += length;
  }
  return units;
}

TEST(MlpParser, TrueHdEntries) {
  test::TempDir dir;
  const auto bytes = Fixture("truehd_51.thd");
  const Result r = Analyse(dir, bytes, "a.thd");
  ASSERT_EQ(r.code, 0) << r.message;
  const auto units = TrueHdUnits(bytes);
  ASSERT_EQ(r.entries.size(), units.size());
  EXPECT_EQ(r.info->header.streamCodingType, coding::kTrueHd);
  EXPECT_NEAR(r.info->header.auDuration, 0.8333333, 1e-6);
  EXPECT_EQ(r.info->header.totalSize, bytes.size());
  for (size_t n = 0; n < units.size(); ++n) {
    const SAuEntry& e = r.entries[n];
    EXPECT_EQ(e.offset, units[n].first);
    EXPECT_EQ(e.size, units[n].second);
    EXPECT_EQ(e.pts, 131070 + 75 * n);  // 75 ticks per unit, exactly
    const bool major = bytes[e.offset + 4] == 0xF8 && bytes[e.offset + 5] == 0x72;
    EXPECT_EQ(e.flags, major ? 1u : 0u) << n;
  }
  const auto& record = static_cast<const MLP_HEADER_INFO&>(*r.info->record);
  EXPECT_EQ(record.format, MLP_HEADER_INFO::kFormatTrueHd);
  EXPECT_EQ(record.sample_rate_1, 48000u);
  EXPECT_EQ(record.samples_per_au, 40u);
  EXPECT_EQ(record.ChannelCount(), 6);
  EXPECT_EQ(r.info->header.bitRate, record.peak_data_rate);
  SStdSpec models[2];
  ASSERT_EQ(record.StdModels(models), 2);
  EXPECT_EQ(models[0].kind, StdKind::kAc3);
  EXPECT_EQ(models[1].kind, StdKind::kMlp);

  // The TrueHD presentation type follows the AC-3 part's: stereo core with more channels here.
  StreamAttributeValues values;
  values.presentation_type = 3;
  record.FillAttributes(values);
  EXPECT_EQ(values.coding_type, coding::kTrueHd);
  EXPECT_EQ(values.presentation_type, 12);
  EXPECT_EQ(values.sampling_frequency, 1);
}

TEST(MlpParser, DamagedAndOtherRates) {
  const auto good = Fixture("truehd_51.thd");
  const auto units = TrueHdUnits(good);
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    int result;
  };
  std::vector<Case> cases;
  {
    // Drop the first unit: the second has no major sync. Bytes 4..6 then are no sync either, so
    // no parser knows the file.
    std::vector<uint8_t> b(good.begin() + static_cast<std::ptrdiff_t>(units[1].first), good.end());
    cases.push_back({"no major sync first", b, 2});
  }
  {
    // A first unit with a major sync, then a unit without one: fine; but a zero length is not.
    auto b = good;
    b[units[3].first] &= 0xF0;
    b[units[3].first + 1] = 0;
    cases.push_back({"unit of length 0", b, 8});
  }
  {
    auto b = good;
    b.resize(b.size() - 5);  // the last unit runs past the end
    cases.push_back({"truncated last unit", b, 8});
  }
  {
    auto b = good;
    b[7] = 0xBC;  // unknown format byte
    cases.push_back({"unknown format", b, 8});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    const Result r = Analyse(dir, c.bytes, "t.thd");
    EXPECT_EQ(r.code, c.result);
    EXPECT_FALSE(fs::exists(StreamInfoPath(dir / "t.thd")));
  }
  // 96 kHz (rate code 1 in the major sync) gives sampling frequency code 14.
  auto b = good;
  b[8] = static_cast<uint8_t>((b[8] & 0x0F) | 0x10);
  test::TempDir dir;
  const Result r = Analyse(dir, b, "hi.thd");
  ASSERT_EQ(r.code, 0) << r.message;
  const auto& record = static_cast<const MLP_HEADER_INFO&>(*r.info->record);
  EXPECT_EQ(record.sample_rate_1, 96000u);
  EXPECT_EQ(record.samples_per_au, 80u);
  StreamAttributeValues values;
  values.presentation_type = 6;
  record.FillAttributes(values);
  EXPECT_EQ(values.sampling_frequency, 14);
}

// Core frames of the DTS fixture, one vector each.
std::vector<std::vector<uint8_t>> DtsCoreFrames(const char* name) {
  const auto d = Fixture(name);
  std::vector<std::vector<uint8_t>> frames;
  for (size_t pos = 0; pos + 64 <= d.size();) {
    SDtsFrameInfo info;
    const std::span<const uint8_t> head(&d[pos], 64);
    if (!ParseDtsCoreHeader(head, ClassifyDtsFrame(head), info)) break;
    frames.emplace_back(d.begin() + static_cast<std::ptrdiff_t>(pos),
                        d.begin() + static_cast<std::ptrdiff_t>(pos + info.frame_size));
    pos += info.frame_size;
  }
  return frames;
}

// An extension substream of `size` bytes with one asset, its extension sync after the header.
std::vector<uint8_t> Substream(uint32_t size, uint32_t extension_sync, uint32_t rate_code = 12,
                               uint32_t channels = 6) {
  constexpr uint32_t kHeader = 32;
  BitWriter w;
  w.Bits(0x64582025, 32);
  w.Bits(0, 8);                    // user defined
  w.Bits(0, 2);                    // substream index
  w.Bits(0, 1);                    // short size fields
  w.Bits(kHeader - 1, 8);          // header size
  w.Bits(size - 1, 16);            // frame size
  w.Bits(1, 1);                    // static fields
  w.Bits(0, 2);                    // reference clock
  w.Bits(0, 3);                    // frame duration code: 512 samples at 48 kHz
  w.Bits(0, 1);                    // no time stamp
  w.Bits(0, 3);                    // one presentation
  w.Bits(0, 3);                    // one asset
  w.Bits(1, 1);                    // active substream mask
  w.Bits(1, 8);                    // active asset mask
  w.Bits(0, 1);                    // no mixing metadata
  w.Bits(size - kHeader - 1, 16);  // asset size
  w.Bits(20, 9);                   // descriptor size
  w.Bits(0, 3);                    // asset index
  w.Bits(0, 3);                    // no type, language or text
  w.Bits(23, 5);                   // 24 bits
  w.Bits(rate_code, 4);            // max sample rate
  w.Bits(channels - 1, 8);         // total channels
  w.AlignToByte();
  std::vector<uint8_t> bytes = w.bytes();
  bytes.resize(kHeader, 0);
  test::Put32(bytes, extension_sync);
  bytes.resize(size, 0x11);
  return bytes;
}

constexpr uint32_t kXll = 0x41A29547, kLbr = 0x0A801921, kXbr = 0x655E315E;

TEST(DtsParser, CoreStream) {
  test::TempDir dir;
  const auto bytes = Fixture("dts_51_768k.dts");
  const auto frames = DtsCoreFrames("dts_51_768k.dts");
  const Result r = Analyse(dir, bytes, "a.dts");
  ASSERT_EQ(r.code, 0) << r.message;
  const SSifHeader& h = r.info->header;
  EXPECT_EQ(h.streamCodingType, coding::kDts);
  EXPECT_EQ(h.bitRate, 768000u);
  EXPECT_EQ(h.bitRate2, 0u);
  EXPECT_NEAR(h.auDuration, 10.6667, 1e-4);
  ASSERT_EQ(r.entries.size(), frames.size());
  uint64_t offset = 0;
  for (size_t k = 0; k < frames.size(); ++k) {
    EXPECT_EQ(r.entries[k].offset, offset);
    EXPECT_EQ(r.entries[k].size, frames[k].size());
    EXPECT_EQ(r.entries[k].pts, ConstantRateTime(k, h.auDuration));
    EXPECT_EQ(r.entries[k].flags, 0u);
    offset += frames[k].size();
  }
  EXPECT_EQ(r.entries[3].pts - r.entries[2].pts, 960u);
  const auto& record = static_cast<const CDTSSif&>(*r.info->record);
  EXPECT_EQ(record.PresentationType(), 6);
  EXPECT_EQ(record.SamplingFrequency(), 1);
  EXPECT_FALSE(record.IsSecondaryOnly());
}

// Core frames each followed by an extension substream.
std::vector<uint8_t> CoreWithExtension(uint32_t extension_sync, uint32_t rate_code = 12) {
  std::vector<uint8_t> bytes;
  for (const auto& frame : DtsCoreFrames("dts_51_768k.dts")) {
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    const auto ext = Substream(400, extension_sync, rate_code);
    bytes.insert(bytes.end(), ext.begin(), ext.end());
  }
  return bytes;
}

TEST(DtsParser, CoreWithLosslessExtension) {
  test::TempDir dir;
  const Result r = Analyse(dir, CoreWithExtension(kXll), "ma.dtshd");
  ASSERT_EQ(r.code, 0) << r.message;
  const SSifHeader& h = r.info->header;
  EXPECT_EQ(h.streamCodingType, coding::kDtsHdXll);
  EXPECT_EQ(h.bitRate2, 32000u);
  ASSERT_EQ(r.entries.size() % 2, 0u);
  for (size_t i = 0; i + 1 < r.entries.size(); i += 2) {
    EXPECT_EQ(r.entries[i].flags, 0u);
    EXPECT_EQ(r.entries[i + 1].flags, 1u);
    EXPECT_EQ(r.entries[i + 1].size, 400u);
    EXPECT_EQ(r.entries[i + 1].pts, r.entries[i].pts);
    EXPECT_EQ(r.entries[i + 1].offset, r.entries[i].offset + r.entries[i].size);
    EXPECT_EQ(r.entries[i].pts, ConstantRateTime(i / 2, h.auDuration));
  }
  const auto& record = static_cast<const CDTSSif&>(*r.info->record);
  ASSERT_TRUE(record.extension);
  EXPECT_EQ(record.extension->extension_type, dts_extension::kXll);
  SStdSpec models[2];
  ASSERT_EQ(record.StdModels(models), 2);
  EXPECT_EQ(models[0].kind, StdKind::kDts);
  EXPECT_EQ(models[1].kind, StdKind::kDtsHd);
  // The stream info record survives the trip through the file.
  CStreamInfo back;
  ASSERT_TRUE(OpenStreamInfo(back, dir / "ma.dtshd", false));
  EXPECT_TRUE(back.record->IsEqual(record));

  // Another extension at 96 kHz: DTS-HD other than lossless, 48K+96K.
  const Result hi = Analyse(dir, CoreWithExtension(kXbr, 13), "hi.dts");
  ASSERT_EQ(hi.code, 0) << hi.message;
  EXPECT_EQ(hi.info->header.streamCodingType, coding::kDtsHd);
  EXPECT_EQ(static_cast<const CDTSSif&>(*hi.info->record).SamplingFrequency(), 14);
}

TEST(DtsParser, SubstreamsAlone) {
  struct Case {
    uint32_t sync;
    int result;
  };
  for (const Case& c : {Case{kLbr, 0}, Case{kXll, 45}}) {
    SCOPED_TRACE(c.result);
    test::TempDir dir;
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 10; ++i) {
      const auto s = Substream(300, c.sync, 12, 2);
      bytes.insert(bytes.end(), s.begin(), s.end());
    }
    const Result r = Analyse(dir, bytes, "lbr.dts");
    ASSERT_EQ(r.code, c.result) << r.message;
    if (c.result != 0) continue;
    EXPECT_EQ(r.info->header.streamCodingType, coding::kDtsHdSecondary);
    EXPECT_TRUE(r.info->record->IsSecondaryOnly());
    EXPECT_EQ(r.entries.size(), 10u);
    EXPECT_EQ(r.entries[1].flags, 0u);
    EXPECT_EQ(r.entries[1].pts - r.entries[0].pts, 960u);
  }
}

// A DTS-HD file container: the stream starts at the first sync word after its chunks; trailing
// bytes without a sync word, and a frame cut off by the end of the file, add no entry.
TEST(DtsParser, FileContainer) {
  const auto frames = DtsCoreFrames("dts_51_768k.dts");
  std::vector<uint8_t> bytes = {'D', 'T', 'S', 'H', 'D', 'H', 'D', 'R', 0, 0, 0, 0,
                                0,   0,   0,   8,   1,   2,   3,   4,   5, 6, 7, 8};
  const size_t start = bytes.size();
  for (const auto& f : frames) bytes.insert(bytes.end(), f.begin(), f.end());
  const size_t complete = bytes.size();
  bytes.insert(bytes.end(), 50, 0x00);
  test::TempDir dir;
  const Result r = Analyse(dir, bytes, "c.dtshd");
  ASSERT_EQ(r.code, 0) << r.message;
  ASSERT_EQ(r.entries.size(), frames.size());
  EXPECT_EQ(r.entries[0].offset, start);
  EXPECT_EQ(r.entries.back().offset + r.entries.back().size, complete);

  bytes.resize(complete - 10);
  const Result cut = Analyse(dir, bytes, "cut.dtshd");
  ASSERT_EQ(cut.code, 0) << cut.message;
  EXPECT_EQ(cut.entries.size(), frames.size() - 1);
}

TEST(DtsParser, RefusedStreams) {
  const auto good = Fixture("dts_51_768k.dts");
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    int result;
  };
  std::vector<Case> cases;
  {
    auto b = good;
    b[8] = static_cast<uint8_t>((b[8] & ~0x3C) | 14 << 2);  // SFREQ 14: 96 kHz
    cases.push_back({"96 kHz core", b, 17});
  }
  {
    auto b = good;
    b[7] &= 0xF0;  // AMODE 1: dual mono
    b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x40);
    cases.push_back({"dual mono", b, 20});
  }
  {
    auto b = good;
    b[7] = static_cast<uint8_t>((b[7] & 0xF0) | 0x2);  // AMODE 10 (0b001010)
    b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);
    cases.push_back({"AMODE 10", b, 20});
  }
  cases.push_back({"first frame only", DtsCoreFrames("dts_51_768k.dts")[0], 8});
  cases.push_back({"63 bytes", std::vector<uint8_t>(good.begin(), good.begin() + 63), 4});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    const Result r = Analyse(dir, c.bytes, "t.dts");
    EXPECT_EQ(r.code, c.result);
    EXPECT_EQ(r.message, ParseResultMessage(c.result));
  }
}

}  // namespace
}  // namespace tessel

namespace tessel {
namespace {

// A 16-bit big-endian core frame in another of the four core layouts.
std::vector<uint8_t> ToLayout(const std::vector<uint8_t>& frame, bool packed, bool little) {
  std::vector<uint8_t> out;
  if (packed) {
    BitReader bits(frame);
    const size_t words = frame.size() * 8 / 14;
    for (size_t i = 0; i < words; ++i) {
      uint32_t w = static_cast<uint32_t>(bits.Bits(14));
      if (w & 0x2000) w |= 0xC000;  // the two spare bits repeat the sign
      test::Put16(out, w);
    }
  } else {
    out = frame;
  }
  if (little) {
    for (size_t i = 0; i + 1 < out.size(); i += 2) std::swap(out[i], out[i + 1]);
  }
  return out;
}

// Every core layout is read alike, across buffer boundaries, including a 14-bit sync word whose
// confirming bytes straddle the reader's 256 KiB block.
TEST(DtsParser, CoreLayouts) {
  const auto frames = DtsCoreFrames("dts_51_768k.dts");
  struct Case {
    const char* what;
    bool packed, little;
    uint32_t frame_bytes;
  };
  const Case cases[] = {{"14-bit big-endian", true, false, 1170},
                        {"14-bit little-endian", true, true, 1170},
                        {"16-bit little-endian", false, true, 1024}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // A container header sized so that frame 224's sync word ends 1 byte before the block end.
    std::vector<uint8_t> bytes = {'D', 'T', 'S', 'H', 'D', 'H', 'D', 'R'};
    const size_t start = c.packed ? 262143 - 4 - 224 * c.frame_bytes : 8;
    bytes.resize(start, 0);
    size_t count = 0;
    while (bytes.size() < 300 * 1024) {
      for (const auto& f : frames) {
        const auto converted = ToLayout(f, c.packed, c.little);
        ASSERT_EQ(converted.size(), c.frame_bytes);
        bytes.insert(bytes.end(), converted.begin(), converted.end());
        ++count;
      }
    }
    test::TempDir dir;
    const Result r = Analyse(dir, bytes, "layout.dts");
    ASSERT_EQ(r.code, 0) << r.message;
    ASSERT_EQ(r.entries.size(), count);
    for (size_t k = 0; k < count; ++k) {
      ASSERT_EQ(r.entries[k].offset, start + k * c.frame_bytes) << k;
      ASSERT_EQ(r.entries[k].size, c.frame_bytes);
    }
    const auto& record = static_cast<const CDTSSif&>(*r.info->record);
    EXPECT_EQ(record.first.word_format, c.packed ? 14 : 16);
    EXPECT_EQ(record.first.byte_order, c.little ? 0 : 1);
    EXPECT_EQ(record.first.sample_rate, 48000u);
    EXPECT_EQ(record.first.channels, 6);
  }
}

}  // namespace
}  // namespace tessel
