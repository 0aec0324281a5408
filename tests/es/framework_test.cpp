// The parser framework: choice of parser, result messages, the stream info file and its reuse.
#include <sys/time.h>

#include <cmath>
#include <fstream>

#include <gtest/gtest.h>

#include "es/ac3.h"
#include "es/parser_base.h"
#include "es/stream_info.h"
#include "support/es_builders.h"
#include "support/test_support.h"
#include "ts/crc32.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;

fs::path CopyFixture(const test::TempDir& dir, const std::string& fixture, const std::string& as) {
  const fs::path target = dir / as;
  fs::copy_file(test::DataPath("es/" + fixture), target, fs::copy_options::overwrite_existing);
  return target;
}

void SetModificationTime(const fs::path& path, time_t seconds) {
  const struct timeval times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(utimes(path.c_str(), times), 0);
}

std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct ChoiceCase {
  const char* fixture;
  const char* name;  // the file's name in the scratch folder
  int result;
  uint8_t coding_type;
  const char* message;
};

// Extension first, then every parser's own check of the content.
TEST(ParserChoice, ExtensionThenContent) {
  const ChoiceCase cases[] = {
      {"ac3_20_192k.ac3", "plain.ac3", 0, coding::kAc3, ""},
      {"ac3_20_192k.ac3", "named-as-wave.wav", 0, coding::kAc3, ""},  // LPCM says "not mine"
      {"ac3_20_192k.ac3", "no-extension", 0, coding::kAc3, ""},
      {"lpcm_20_16bit_48k.wav", "audio.bin", 0, coding::kLpcm, ""},
      {"pgs_128x64_libpgs-js.sup", "subtitle.dat", 0, coding::kPg, ""},
      {"lpcm_10_16bit_48k.wav", "mono.wav", 19, 0, "Wrong channel count! "},
      {"ac3_20_192k_44k.ac3", "rate.ac3", 17, 0, "Wrong sample rate! "},
      {"pgs_128x64_libpgs-js.LICENSE", "license.ac3", 2, 0, "Unknown file format! "},
  };
  for (const ChoiceCase& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const fs::path source = CopyFixture(dir, c.fixture, c.name);
    CStreamInfo info;
    std::string message = "stale";
    EXPECT_EQ(ParseElementaryFile(source, info, message, nullptr), c.result);
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(fs::exists(StreamInfoPath(source)), c.result == 0);
    if (c.result == 0) {
      EXPECT_EQ(info.header.streamCodingType, c.coding_type);
    }
  }
}

// Every parser gives the same result and the same stored bytes whether it reads a file into a
// stream info file or memory into memory (the source time aside, which memory does not have).
TEST(ParserChoice, MemoryAndFileGiveTheSameStreamInfo) {
  const char* const fixtures[] = {
      "ac3_51_448k.ac3",          "eac3_ac3_20.ac3",
      "dts_51_768k.dts",          "truehd_51.thd",
      "lpcm_51_24bit_48k.wav",    "pgs_1080_eng.sup",
      "video/h264_1080i_tff.264", "video/mpeg2_480i.m2v",
      "vc1/vc1_1080i_fields.vc1",
      "lpcm_10_16bit_48k.wav",  // refused: both ways alike
  };
  constexpr size_t kSourceTimeAt = SSifHeader::kSize - 8;
  for (const char* fixture : fixtures) {
    SCOPED_TRACE(fixture);
    test::TempDir dir;
    const fs::path source = CopyFixture(dir, fixture, fs::path(fixture).filename().string());
    const std::vector<uint8_t> bytes = test::ReadData(std::string("es/") + fixture);
    for (auto& parser : CreateParsers()) {
      CStreamInfo on_disk;
      ASSERT_TRUE(on_disk.Create(dir / "file.dsi"));
      const int from_file = parser->Parse(source, on_disk, nullptr);
      MemoryByteSource memory(bytes);
      CStreamInfo in_memory;
      in_memory.CreateInMemory();
      EXPECT_EQ(parser->Parse(memory, in_memory, nullptr), from_file);
      if (from_file != parse_result::kOk) continue;
      on_disk.Close();
      std::vector<uint8_t> stored = ReadBytes(dir / "file.dsi");
      const auto* sink = dynamic_cast<const MemoryByteSink*>(in_memory.sink());
      ASSERT_NE(sink, nullptr);
      ASSERT_EQ(stored.size(), sink->bytes().size());
      // The source time and with it the checksum differ.
      std::vector<uint8_t> kept = sink->bytes();
      for (std::vector<uint8_t>* image : {&stored, &kept}) {
        std::fill_n(image->begin() + kSourceTimeAt, 8, 0);
        std::fill_n(image->begin() + 4, 4, 0);
      }
      EXPECT_EQ(stored, kept);
    }
  }
}

TEST(ParserChoice, ProgressNamesTheFileAndCancelStops) {
  test::TempDir dir;
  const fs::path source = CopyFixture(dir, "ac3_20_192k.ac3", "a.ac3");
  std::vector<ProgressRecord> records;
  CStreamInfo info;
  std::string message;
  ASSERT_EQ(ParseElementaryFile(source, info, message,
                                [&](const ProgressRecord& r) {
                                  records.push_back(r);
                                  return true;
                                }),
            0);
  ASSERT_GE(records.size(), 3u);
  EXPECT_EQ(records[0].kind, ProgressKind::kMessage);
  EXPECT_EQ(records[0].message, source.string());
  EXPECT_EQ(records[1].kind, ProgressKind::kTitle);
  EXPECT_EQ(records[1].title, "Parsing");
  EXPECT_EQ(records.back().kind, ProgressKind::kPosition);
  EXPECT_EQ(records.back().position, 100);

  // A cancel during the analysis ends it with 1, no message and no stream info file. Progress
  // comes every 5 MiB, so the stream must be longer than that.
  const std::vector<uint8_t> frames = test::ReadData("es/ac3_51_640k.ac3");
  std::vector<uint8_t> long_stream;
  while (long_stream.size() < 6u << 20) {
    long_stream.insert(long_stream.end(), frames.begin(), frames.end());
  }
  test::WriteFile(source, long_stream);
  int positions = 0;
  CStreamInfo completed;
  ASSERT_EQ(ParseElementaryFile(source, completed, message,
                                [&](const ProgressRecord& r) {
                                  positions += r.kind == ProgressKind::kPosition;
                                  return true;
                                }),
            0);
  EXPECT_EQ(positions, 2);  // at 5 MiB and at the end
  completed.Close();
  CStreamInfo cancelled;
  EXPECT_EQ(ParseElementaryFile(
                source, cancelled, message,
                [](const ProgressRecord& r) { return r.kind != ProgressKind::kPosition; }),
            1);
  EXPECT_EQ(message, "");
  EXPECT_FALSE(fs::exists(StreamInfoPath(source)));
}

TEST(ResultMessages, EveryCodeHasItsText) {
  EXPECT_STREQ(ParseResultMessage(0), "Parse sucessfully! ");
  EXPECT_STREQ(ParseResultMessage(6), "Read file erorr! ");
  EXPECT_STREQ(ParseResultMessage(31), "Wrong entry point posistion! ");
  EXPECT_STREQ(ParseResultMessage(45), "Wrong extention mode! ");
  EXPECT_STREQ(ParseResultMessage(46), "");
  for (int code = 0; code <= 45; ++code) {
    const std::string text = ParseResultMessage(code);
    EXPECT_EQ(text.substr(text.size() - 2), "! ") << code;
  }
}

// Written, reused while the source is unchanged, rebuilt when the source changed or the file is
// damaged.
TEST(StreamInfoFile, ReuseRule) {
  test::TempDir dir;
  const fs::path source = CopyFixture(dir, "ac3_20_192k.ac3", "a.ac3");
  SetModificationTime(source, 1700000000);
  EXPECT_EQ(CheckStreamInfo(source), StreamInfoState::kMissingOrStale);
  {
    CStreamInfo info;
    std::string message;
    ASSERT_EQ(ParseElementaryFile(source, info, message, nullptr), 0);
  }
  const fs::path sif = StreamInfoPath(source);
  EXPECT_EQ(sif.filename(), "a.ac3.dsi");
  EXPECT_EQ(CheckStreamInfo(source), StreamInfoState::kCurrent);

  CStreamInfo reread;
  ASSERT_TRUE(OpenStreamInfo(reread, source, false));
  EXPECT_EQ(reread.header.sourceTime, 1700000000);
  EXPECT_EQ(reread.header.auCount, 32u);
  ASSERT_NE(reread.record, nullptr);
  reread.Close();

  // The source changed after the analysis (newer, or older by a second): rebuild.
  for (time_t t : {1700000001, 1699999999}) {
    SetModificationTime(source, t);
    EXPECT_EQ(CheckStreamInfo(source), StreamInfoState::kMissingOrStale) << t;
  }
  SetModificationTime(source, 1700000000);
  EXPECT_EQ(CheckStreamInfo(source), StreamInfoState::kCurrent);

  // Damaged files: bad magic, no units, no bytes, cut inside the record.
  const std::vector<uint8_t> good = ReadBytes(sif);
  auto damaged = [&](size_t at, uint8_t value, size_t keep) {
    std::vector<uint8_t> bytes = good;
    bytes[at] = value;
    bytes.resize(keep);
    test::WriteFile(sif, bytes);
    return CheckStreamInfo(source);
  };
  EXPECT_EQ(damaged(0, 'X', good.size()), StreamInfoState::kMissingOrStale);
  std::vector<uint8_t> zero_units = good;
  std::fill(zero_units.begin() + 9, zero_units.begin() + 13, 0);
  test::WriteFile(sif, zero_units);
  EXPECT_EQ(CheckStreamInfo(source), StreamInfoState::kMissingOrStale);
  std::vector<uint8_t> zero_size = good;
  std::fill(zero_size.begin() + 41, zero_size.begin() + 49, 0);
  test::WriteFile(sif, zero_size);
  EXPECT_EQ(CheckStreamInfo(source), StreamInfoState::kMissingOrStale);
  std::vector<uint8_t> bad_duration = good;
  std::fill(bad_duration.begin() + 13, bad_duration.begin() + 21, 0xFF);  // a NaN
  test::WriteFile(sif, bad_duration);
  EXPECT_EQ(CheckStreamInfo(source), StreamInfoState::kMissingOrStale);
  EXPECT_EQ(damaged(0, 'R', 60), StreamInfoState::kMissingOrStale);
  EXPECT_EQ(damaged(0, 'R', 0), StreamInfoState::kMissingOrStale);
  EXPECT_EQ(damaged(0, 'R', good.size()), StreamInfoState::kCurrent);

  std::string error;
  EXPECT_EQ(CheckStreamInfo(dir / "missing.ac3", &error), StreamInfoState::kSourceError);
  EXPECT_NE(error.find("missing.ac3"), std::string::npos);
}

// A folder where nothing can be created (procfs refuses even root) sends the file to the
// temporary folder under the same name.
TEST(StreamInfoFile, UnwritableFolderUsesTemporaryFolder) {
  const fs::path source = "/proc/version";
  if (!fs::exists(source)) GTEST_SKIP() << "no procfs";
  CStreamInfo info;
  ASSERT_TRUE(OpenStreamInfo(info, source, true));
  EXPECT_EQ(info.path(), TemporaryStreamInfoPath(source));
  EXPECT_EQ(info.path().filename(), "version.dsi");
  info.CloseAndDelete();
}

// The layout of a stream info file, checked byte by byte: little-endian, no padding.
TEST(StreamInfoFile, LittleEndianLayout) {
  test::TempDir dir;
  const fs::path source = CopyFixture(dir, "ac3_20_192k.ac3", "layout.ac3");
  SetModificationTime(source, 0x65536F00);
  CStreamInfo info;
  std::string message;
  ASSERT_EQ(ParseElementaryFile(source, info, message, nullptr), 0);
  info.Close();
  const std::vector<uint8_t> expected = {
      'R',  'S',  'I',  'F',                     // magic
      0,    0,    0,    0,                       // checksum, compared below
      0x81,                                      // streamCodingType: AC-3
      32,   0,    0,    0,                       // auCount: 32 frames of 768 bytes
      0,    0,    0,    0,    0, 0, 0x40, 0x40,  // auDuration: 32.0 ms (double)
      0x00, 0xEE, 0x02, 0x00,                    // bitRate: 192000
      0,    0,    0,    0,                       // bitRate2
      0,    0,    0,    0,                       // reserved
      0,    0,    0,    0,                       // startOffset
      78,   0,    0,    0,                       // auTableOffset: 57 + 21
      0x00, 0x60, 0,    0,    0, 0, 0,    0,     // totalSize: 24576
      0x00, 0x6F, 0x53, 0x65, 0, 0, 0,    0,     // sourceTime
      1,    0,    0,    0,                       // record version 1
      0,                                         // sample_rate_code: 48 kHz
      8,                                         // bsid
      20,                                        // frmsizecod: 192 kbit/s
      0,                                         // surround_mode
      0,                                         // bsmod
      2,    2,                                   // acmod, num_channels: 2/0
      0,    0,    0,    0,                       // full_svc, mainid, priority, asvcflags
      0,    1,                                   // E-AC-3 present, AC-3 present
      0x00, 0x03, 0,    0,                       // frame size: 768
  };
  std::vector<uint8_t> stored = ReadBytes(StreamInfoPath(source));
  ASSERT_EQ(stored.size(), expected.size());
  // The checksum is the section CRC-32 of the whole file with its own four bytes as zero.
  const uint32_t checksum = Crc32Mpeg2(expected);
  EXPECT_EQ(stored[4] | stored[5] << 8 | stored[6] << 16 | uint32_t{stored[7]} << 24, checksum);
  std::fill_n(stored.begin() + 4, 4, 0);
  EXPECT_EQ(stored, expected);
}

// Entries are computed for AC-3; an index equal to the count has none.
TEST(StreamInfoFile, GetAuBounds) {
  test::TempDir dir;
  const fs::path source = CopyFixture(dir, "ac3_51_448k.ac3", "a.ac3");
  CStreamInfo info;
  std::string message;
  ASSERT_EQ(ParseElementaryFile(source, info, message, nullptr), 0);
  const uint32_t count = info.header.auCount;
  ASSERT_TRUE(info.GetAu(count - 1));
  EXPECT_FALSE(info.GetAu(count));
}

// Stored entries of a hand-made file: random access search on flag 0x20000.
TEST(StreamInfoFile, RandomAccessSearch) {
  test::TempDir dir;
  CStreamInfo info;
  ASSERT_TRUE(info.Create(dir / "ra.dsi"));
  info.CreateRecord(coding::kPg);
  const uint32_t random_access[] = {2, 6, 10};
  LeWriter entries;
  for (uint32_t i = 0; i < 12; ++i) {
    SAuEntry e;
    e.size = 10;
    e.offset = i * 10;
    for (uint32_t r : random_access) {
      if (r == i) e.flags = au_flag::kRandomAccess;
    }
    e.Write(entries);
  }
  info.header.auCount = 12;
  info.header.totalSize = 120;
  ASSERT_TRUE(info.WriteHeaderAndRecord());
  ASSERT_TRUE(info.Append(entries.bytes()));

  struct Case {
    uint32_t index;
    uint32_t after;
    int64_t before;
    uint32_t nearest;
  };
  const Case cases[] = {
      {0, 2, -1, 2},  // nothing before: the later point
      {2, 2, 2, 2},   // itself
      {4, 6, 2, 6},   // a tie goes to the later point
      {5, 6, 2, 6},     {7, 10, 6, 6},
      {11, 12, 10, 12},  // nothing after: the count stands for the later point, and wins the tie
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    EXPECT_EQ(info.FindRandomAccessAfter(c.index), c.after);
    EXPECT_EQ(info.FindRandomAccessBefore(c.index), c.before);
    EXPECT_EQ(info.NearestRandomAccess(c.index), c.nearest);
  }
  EXPECT_EQ(info.FindRandomAccessAfter(12), 12u);
  EXPECT_EQ(info.GetAu(11)->offset, 110u);
  EXPECT_FALSE(info.GetAu(12));
}

// Entries of a table larger than one read block come back whole and in place, in either order,
// from the writing object and from the file opened again.
TEST(StreamInfoFile, EntriesAcrossReadBlocks) {
  struct Case {
    const char* name;
    uint32_t count;
    uint32_t padding;  // bytes after each entry (a larger stride)
  };
  const Case cases[] = {
      {"one block", 100, 0},
      {"several blocks", 10000, 0},
      {"padded stride", 5000, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    CStreamInfo writer;
    ASSERT_TRUE(writer.Create(dir / "t.dsi"));
    writer.CreateRecord(coding::kPg);
    writer.header.auCount = c.count;
    writer.header.totalSize = uint64_t{c.count} * 7;
    LeWriter table;
    for (uint32_t i = 0; i < c.count; ++i) {
      SAuEntry e;
      e.size = 7;
      e.offset = uint64_t{i} * 7 + (uint64_t{1} << 33);
      e.flags = i % 3 == 0 ? au_flag::kRandomAccess : 0;
      e.dts = i * 3600;
      e.pts = e.dts + 1;
      e.extra = ~i;
      e.Write(table);
      for (uint32_t k = 0; k < c.padding; ++k) table.U8(0xEE);
    }
    ASSERT_TRUE(writer.WriteHeaderAndRecord());
    ASSERT_TRUE(writer.Append(table.bytes()));
    CStreamInfo reader;
    ASSERT_TRUE(reader.Open(dir / "t.dsi"));
    for (const CStreamInfo* info : {&writer, &reader}) {
      for (int64_t i = c.count - 1; i >= 0; i -= 997) {  // backwards, then forwards
        const auto e = info->GetAu(static_cast<uint32_t>(i));
        ASSERT_TRUE(e);
        EXPECT_EQ(e->offset, uint64_t(i) * 7 + (uint64_t{1} << 33));
        EXPECT_EQ(e->extra, ~static_cast<uint32_t>(i));
      }
      for (uint32_t i = 0; i < c.count; ++i) {
        const auto e = info->GetAu(i);
        ASSERT_TRUE(e);
        ASSERT_EQ(e->pts, i * 3600 + 1);
      }
      EXPECT_FALSE(info->GetAu(c.count));
      EXPECT_EQ(info->FindRandomAccessBefore(c.count / 2 + 1) % 3, 0);
    }
  }
}

// Constant-rate time stamps: trunc(n x duration x 90 + 131070), wrapping in 32 bits.
TEST(StreamInfoFile, ConstantRateTimes) {
  EXPECT_EQ(ConstantRateTime(0, 32.0), 131070u);
  EXPECT_EQ(ConstantRateTime(3, 32.0), 131070u + 3 * 2880);
  EXPECT_EQ(ConstantRateTime(1, 1000.0 / 1200), 131070u + 75);
  EXPECT_EQ(ConstantRateTime(2, 512 * 1000.0 / 48000), 131070u + 1920);
  EXPECT_EQ(ConstantRateTime(1, 4294967296.0 / 90), 131070u);  // one full turn of the clock
  EXPECT_EQ(ConstantRateTime(1, std::nan("")), 0u);
  EXPECT_EQ(ConstantRateTime(1, -1e12), 0u);
}

TEST(StreamInfoFile, PresentationTypeRule) {
  struct Case {
    int core, extension;
    uint8_t type;
  };
  const Case cases[] = {{1, 0, 1},  {1, 2, 0}, {2, 0, 3}, {2, 2, 3},
                        {2, 6, 12}, {0, 0, 0}, {3, 0, 6}, {5, 5, 6}};
  for (const Case& c : cases) {
    EXPECT_EQ(PresentationTypeFromChannels(c.core, c.extension), c.type)
        << c.core << "+" << c.extension;
  }
}

}  // namespace
}  // namespace tessel
