// Damaged input to the analysis: elementary streams cut short or with bytes changed, read by every
// parser, and stream info files damaged beside an intact source. Each ends in a result code of
// the table; a success never claims a unit outside the input; a damaged stream info file is not
// taken as current, and analysing again gives what the first analysis gave.
#include <sys/time.h>

#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "es/parser_base.h"
#include "es/stream_info.h"
#include "support/es_builders.h"
#include "support/test_support.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;

const char* const kStreams[] = {
    "ac3_51_448k.ac3",          "eac3_ac3_20.ac3",
    "dts_51_768k.dts",          "truehd_51.thd",
    "lpcm_20_16bit_48k.wav",    "pgs_128x64_libpgs-js.sup",
    "video/h264_1080p_aud.264", "video/h264_720p_noaud_opengop.264",
    "video/mpeg2_480i.m2v",     "vc1/vc1_1080p_two_segments.vc1",
};

// Runs every parser over the bytes from memory; none may crash, and a success must stay inside.
void ParseEveryWay(const std::vector<uint8_t>& bytes) {
  for (auto& parser : CreateParsers()) {
    MemoryByteSource source(bytes);
    CStreamInfo info;
    info.CreateInMemory();
    const int result = parser->Parse(source, info, nullptr);
    ASSERT_GE(result, parse_result::kOk);
    ASSERT_LE(result, parse_result::kLast);
    if (result != parse_result::kOk) continue;
    ASSERT_GT(info.header.auCount, 0u);
    if (info.record->ComputesEntries()) continue;  // a cut last frame is allowed there
    EXPECT_TRUE(info.FitsSource(bytes.size()))
        << "coding type " << int(info.header.streamCodingType);
  }
}

TEST(StreamDamage, TruncatedAndChangedStreams) {
  for (const char* name : kStreams) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> good = test::ReadData(std::string("es/") + name);
    for (int k = 0; k < 20; ++k) {
      SCOPED_TRACE("cut at " + std::to_string(k));
      std::vector<uint8_t> cut(good.begin(), good.begin() + good.size() * k / 20);
      ParseEveryWay(cut);
    }
    std::mt19937 random(2024);
    for (int k = 0; k < 30; ++k) {
      SCOPED_TRACE("change " + std::to_string(k));
      std::vector<uint8_t> changed = good;
      // Half near the start, where the headers the probes read are.
      const size_t span = k % 2 ? changed.size() : std::min<size_t>(changed.size(), 512);
      changed[random() % span] ^= static_cast<uint8_t>(1 + random() % 255);
      ParseEveryWay(changed);
    }
  }
}

std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void SetTime(const fs::path& path) {
  const struct timeval times[2] = {{1700000000, 0}, {1700000000, 0}};
  ASSERT_EQ(utimes(path.c_str(), times), 0);
}

uint32_t U32At(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24;
}
void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> 8 * i);
}

struct SifDamage {
  const char* what;
  bool keep_checksum;  // false: the checksum field is zeroed, as in a file written elsewhere
  // Changes the file; false when it does not apply to this stream.
  bool (*apply)(std::vector<uint8_t>& bytes, uint64_t source_size);
};

constexpr size_t kTableOffsetAt = 37;

bool HasTable(const std::vector<uint8_t>& b) {
  return U32At(b, kTableOffsetAt) + SAuEntry::kSize <= b.size();
}

const SifDamage kSifDamages[] = {
    {"checksum flipped", true, [](auto& b, uint64_t) { return b[5] ^= 0x10, true; }},
    {"count flipped", true, [](auto& b, uint64_t) { return b[9] ^= 0x01, true; }},
    {"duration flipped", true, [](auto& b, uint64_t) { return b[19] ^= 0x40, true; }},
    {"bit rate flipped", true, [](auto& b, uint64_t) { return b[22] ^= 0x01, true; }},
    {"start offset flipped", true, [](auto& b, uint64_t) { return b[33] ^= 0x04, true; }},
    {"table offset flipped", true, [](auto& b, uint64_t) { return b[37] ^= 0x02, true; }},
    {"total size flipped", true, [](auto& b, uint64_t) { return b[42] ^= 0x01, true; }},
    {"attribute byte flipped", true,
     [](auto& b, uint64_t) { return b[SSifHeader::kSize + 1] ^= 0x01, true; }},
    {"entry time flipped", true,
     [](auto& b, uint64_t) {
       return HasTable(b) && (b[U32At(b, kTableOffsetAt) + 16] ^= 0x01, true);
     }},
    {"table cut by one byte", true,
     [](auto& b, uint64_t) { return HasTable(b) && (b.pop_back(), true); }},
    {"unchecked: table cut by 20 bytes", false,
     [](auto& b, uint64_t) { return HasTable(b) && (b.resize(b.size() - 20), true); }},
    {"unchecked: table cut by one entry", false,
     [](auto& b, uint64_t) {
       // A count that still divides the table: the last unit is gone, so is one count.
       return HasTable(b) && U32At(b, 9) > 1 && (b.resize(b.size() - SAuEntry::kSize), true);
     }},
    {"unchecked: unit outside the source", false,
     [](auto& b, uint64_t size) {
       return HasTable(b) && (PutU32(b, U32At(b, kTableOffsetAt) + 4, uint32_t(size)), true);
     }},
    {"unchecked: units out of order", false,
     [](auto& b, uint64_t) {
       const size_t table = U32At(b, kTableOffsetAt);
       if (U32At(b, 9) < 2 || table + 2 * SAuEntry::kSize > b.size()) return false;
       PutU32(b, table + 4, U32At(b, table + SAuEntry::kSize + 4) + 1);
       return true;
     }},
    {"unchecked: start outside the source", false,
     [](auto& b, uint64_t size) { return PutU32(b, 33, uint32_t(size + 1)), true; }},
};

TEST(StreamInfoDamage, DamagedFileIsAnalysedAgain) {
  for (const char* name : kStreams) {
    SCOPED_TRACE(name);
    test::TempDir dir;
    const fs::path source = dir / fs::path(name).filename().string();
    fs::copy_file(test::DataPath(std::string("es/") + name), source);
    SetTime(source);
    const uint64_t source_size = fs::file_size(source);
    std::string message;
    {
      CStreamInfo info;
      ASSERT_EQ(ParseElementaryFile(source, info, message, nullptr), 0) << message;
    }
    const fs::path sif = StreamInfoPath(source);
    const std::vector<uint8_t> good = ReadBytes(sif);
    ASSERT_EQ(CheckStreamInfo(source), StreamInfoState::kCurrent);
    std::vector<uint8_t> unchecked = good;
    PutU32(unchecked, 4, 0);
    test::WriteFile(sif, unchecked);
    EXPECT_EQ(CheckStreamInfo(source), StreamInfoState::kCurrent) << "no checksum, intact";

    for (const SifDamage& damage : kSifDamages) {
      SCOPED_TRACE(damage.what);
      std::vector<uint8_t> bytes = damage.keep_checksum ? good : unchecked;
      if (!damage.apply(bytes, source_size)) continue;
      test::WriteFile(sif, bytes);
      EXPECT_EQ(CheckStreamInfo(source), StreamInfoState::kMissingOrStale);
      CStreamInfo again;
      ASSERT_EQ(ParseElementaryFile(source, again, message, nullptr), 0) << message;
      again.Close();
      EXPECT_EQ(ReadBytes(sif), good);
      EXPECT_EQ(CheckStreamInfo(source), StreamInfoState::kCurrent);
    }
  }
}

}  // namespace
}  // namespace tessel
