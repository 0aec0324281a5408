#include "formats/sound.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "formats/field_access.h"
#include "platform/files.h"
#include "support/test_support.h"

namespace tessel {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

std::string DumpText(const SoundFile& record) {
  DumpArchive archive;
  record.Dump("", archive);
  return archive.text();
}

std::vector<uint8_t> ReadPath(const std::filesystem::path& path) {
  std::vector<uint8_t> data;
  std::string error;
  EXPECT_TRUE(ReadWholeFile(path, data, &error)) << error;
  return data;
}

void WritePath(const std::filesystem::path& path, const std::vector<uint8_t>& data) {
  std::string error;
  ASSERT_TRUE(WriteWholeFile(path, data, &error)) << error;
}

// The field of a sound file that byte `at` lies in, located with the record read from the file.
std::string FieldAt(const SoundFile& record, size_t at, uint8_t was, uint8_t now) {
  static constexpr struct {
    size_t end;
    const char* name;
  } kFixed[] = {{4, "TypeIndicator"},          {8, "VersionNumber"},
                {12, "SoundDataStartAddress"}, {16, "ExtensionDataStartAddress"},
                {40, "reserved (header)"},     {44, "SoundIndex Length"},
                {45, "reserved (SoundIndex)"}, {46, "NumberOfSoundEntries"}};
  for (const auto& field : kFixed) {
    if (at < field.end) return field.name;
  }
  const size_t entries_end = 46 + 10 * record.SoundIndex.size();
  if (at < entries_end) {
    const size_t entry = (at - 46) / 10 + 1;
    const size_t offset = (at - 46) % 10;
    const char* name = offset == 0   ? "ChannelConfiguration/SamplingFrequency"
                       : offset == 1 ? (((was ^ now) & 0xC0) ? "BitsPerSample" : "reserved bits")
                       : offset < 6  ? "SoundDataStartAddress"
                                     : "SoundDataStartLength";
    return "SoundEntry " + std::to_string(entry) + " " + name;
  }
  if (record.ExtensionDataStartAddress != 0 && at >= record.ExtensionDataStartAddress) {
    return "ExtensionData";
  }
  for (size_t i = 0; i < record.SoundIndex.size(); ++i) {
    const SSoundEntry& entry = record.SoundIndex[i];
    const size_t start = record.SoundDataStartAddress + entry.SoundDataStartAddress;
    if (at >= start && at < start + entry.SoundDataStartLength) {
      return "SoundEntry " + std::to_string(i + 1) + " data";
    }
  }
  return "padding";
}

// The names of the fields in which `written` differs from `original`, each once.
std::set<std::string> DifferingFields(const SoundFile& record, const std::vector<uint8_t>& original,
                                      const std::vector<uint8_t>& written) {
  std::set<std::string> fields;
  if (original.size() != written.size()) fields.insert("file size");
  for (size_t i = 0; i < std::min(original.size(), written.size()); ++i) {
    if (original[i] != written[i]) fields.insert(FieldAt(record, i, original[i], written[i]));
  }
  return fields;
}

bool IsZeroedField(const std::string& field) {
  return field == "reserved (header)" || field == "reserved (SoundIndex)" || field == "padding" ||
         field.ends_with(" reserved bits");
}

// What an independent reader reports for each fixture.
struct SoundCase {
  const char* file;
  int entries;
  uint64_t pcm_bytes;
};

std::string FixtureName(const testing::TestParamInfo<SoundCase>& param) {
  std::string name = param.param.file;
  name.resize(name.find('.'));
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
}

class SoundFixtureTest : public testing::TestWithParam<SoundCase> {};

TEST_P(SoundFixtureTest, ReadsTheSameFromFileAndBuffer) {
  const SoundCase& c = GetParam();
  const std::filesystem::path path = test::DataPath(std::string("sound/") + c.file);
  SoundFile from_file;
  SoundFile from_buffer;
  std::string error;
  ASSERT_TRUE(from_file.ReadFile(path, &error)) << error;
  ASSERT_TRUE(from_buffer.Read(ReadPath(path), &error)) << error;
  EXPECT_EQ(DumpText(from_file), DumpText(from_buffer));

  ASSERT_EQ(static_cast<int>(from_file.SoundIndex.size()), c.entries);
  uint64_t pcm = 0;
  for (const SSoundEntry& entry : from_file.SoundIndex) {
    EXPECT_EQ(entry.ChannelConfiguration, 3);
    EXPECT_EQ(entry.SamplingFrequency, 1);
    EXPECT_EQ(entry.BitsPerSample, 1);
    pcm += entry.SoundDataStartLength;
  }
  EXPECT_EQ(pcm, c.pcm_bytes);
  EXPECT_THAT(DumpText(from_file), HasSubstr("  ChannelConfiguration: 3(Stereo)\n"
                                             "  SamplingFrequency: 1(48K)\n"
                                             "  BitsPerSample: 1(16 bit)\n"));
}

// write(read(x)) equals x except in zeroed fields, and read(write(read(x))) dumps as x does.
TEST_P(SoundFixtureTest, RoundTrips) {
  const std::filesystem::path source = test::DataPath(std::string("sound/") + GetParam().file);
  test::TempDir dir;
  const std::filesystem::path copy = dir / "Sound.bdmv";
  SoundFile record;
  std::string error;
  ASSERT_TRUE(record.ReadFile(source, &error)) << error;
  const SoundFile as_read = record;
  ASSERT_TRUE(record.WriteFile(copy, SoundDataFromFile(source, record), &error)) << error;

  const std::vector<uint8_t> original = ReadPath(source);
  const std::vector<uint8_t> written = ReadPath(copy);
  for (const std::string& field : DifferingFields(as_read, original, written)) {
    EXPECT_TRUE(IsZeroedField(field)) << "differs in " << field;
  }
  SoundFile reread;
  ASSERT_TRUE(reread.ReadFile(copy, &error)) << error;
  EXPECT_EQ(DumpText(reread), DumpText(as_read));
  EXPECT_EQ(DumpText(record), DumpText(as_read));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, SoundFixtureTest,
                         testing::Values(SoundCase{"conan-halloween-disc1.bdmv", 1, 499232},
                                         SoundCase{"conan-zero.bdmv", 1, 344444},
                                         SoundCase{"hdcookbook-bookmenu.bdmv", 10, 1390080}),
                         FixtureName);

TEST(SoundTest, RoundTripNamesTheZeroedFieldsThatDiffer) {
  std::vector<uint8_t> file = test::ReadData("sound/conan-zero.bdmv");
  file[20] = 0xAA;   // header reserved
  file[44] = 0x01;   // SoundIndex reserved
  file[47] |= 0x15;  // reserved bits after BitsPerSample
  test::TempDir dir;
  WritePath(dir / "in.bdmv", file);
  SoundFile record;
  std::string error;
  ASSERT_TRUE(record.ReadFile(dir / "in.bdmv", &error)) << error;
  const SoundFile as_read = record;
  ASSERT_TRUE(
      record.WriteFile(dir / "out.bdmv", SoundDataFromFile(dir / "in.bdmv", record), &error))
      << error;
  EXPECT_THAT(
      DifferingFields(as_read, file, ReadPath(dir / "out.bdmv")),
      ElementsAre("SoundEntry 1 reserved bits", "reserved (SoundIndex)", "reserved (header)"));
}

// A sound file with the given 2-byte attribute pairs, `data_size` bytes of data per entry (valued
// by entry number) and an optional extension data container.
std::vector<uint8_t> MakeSound(const std::vector<std::pair<uint8_t, uint8_t>>& attributes,
                               uint32_t data_size, const std::vector<uint8_t>& extension = {}) {
  ByteWriter out;
  out.Bytes(reinterpret_cast<const uint8_t*>("BCLK0200"), 8);
  const size_t data_address = out.Reserve(4);
  const size_t extension_address = out.Reserve(4);
  out.Zeros(24);
  out.U32(attributes.empty() ? 0 : static_cast<uint32_t>(2 + 10 * attributes.size()));
  out.U8(0);
  out.U8(static_cast<uint8_t>(attributes.size()));
  for (size_t i = 0; i < attributes.size(); ++i) {
    out.U8(attributes[i].first);
    out.U8(attributes[i].second);
    out.U32(static_cast<uint32_t>(i * data_size));
    out.U32(data_size);
  }
  out.PatchU32(data_address, static_cast<uint32_t>(out.pos()));
  for (size_t i = 0; i < attributes.size(); ++i) {
    for (uint32_t j = 0; j < data_size; ++j) out.U8(static_cast<uint8_t>(i + 1));
  }
  if (!extension.empty()) {
    out.PatchU32(extension_address, static_cast<uint32_t>(out.pos()));
    out.Bytes(extension);
  }
  return out.Take();
}

TEST(SoundTest, ReadsAttributesAndDumpsTheirTexts) {
  const std::vector<uint8_t> extension = {0, 0, 0, 4, 1, 2, 3, 4};
  SoundFile record;
  std::string error;
  ASSERT_TRUE(record.Read(MakeSound({{0x31, 0x40}, {0x1F, 0xFF}}, 4, extension), &error)) << error;
  ASSERT_EQ(record.SoundIndex.size(), 2u);
  EXPECT_EQ(record.ExtensionData, extension);
  EXPECT_EQ(DumpText(record),
            "TypeIndicator: BCLK\n"
            "VersionNumber: 0200\n"
            "SoundDataStartAddress: 66\n"
            "ExtensionDataStartAddress: 74\n"
            "SoundIndex: \n"
            " Length: 22\n"
            " NumberOfSoundEntries: 2\n"
            " SoundEntry 1:\n"
            "  ChannelConfiguration: 3(Stereo)\n"
            "  SamplingFrequency: 1(48K)\n"
            "  BitsPerSample: 1(16 bit)\n"
            "  SoundDataStartAddress: 0\n"
            "  SoundDataStartLength: 4\n"
            " SoundEntry 2:\n"
            "  ChannelConfiguration: 1(Mono)\n"
            "  SamplingFrequency: 15(Reserved)\n"
            "  BitsPerSample: 3(Reserved)\n"
            "  SoundDataStartAddress: 4\n"
            "  SoundDataStartLength: 4\n"
            "ExtensionData: \n"
            " Length: 4\n");

  ASSERT_TRUE(record.Read(MakeSound({}, 0), &error)) << error;
  EXPECT_THAT(record.SoundIndex, IsEmpty());
  EXPECT_THAT(record.ExtensionData, IsEmpty());
  EXPECT_THAT(DumpText(record), HasSubstr("SoundIndex: \n Length: 0\n"));
}

TEST(SoundTest, RefusesBadFiles) {
  const std::vector<uint8_t> good = MakeSound({{0x31, 0x40}, {0x31, 0x40}}, 8, {0, 0, 0, 0});
  const size_t extension = good.size() - 4;
  struct Case {
    const char* what;
    size_t at;
    std::vector<uint8_t> bytes;
    size_t size;  // the file is cut to this size
    const char* error;
  } cases[] = {
      {"39 bytes", 0, {}, 39, "fewer than its 40-byte header"},
      {"other type", 0, {'B', 'C', 'L', 'X'}, good.size(), "\"BCLX\", not \"BCLK\""},
      {"no entries with a length", 45, {0}, good.size(), "NumberOfSoundEntries is 0"},
      {"index length too short", 40, {0, 0, 0, 12}, good.size(), "Length 12 is too short"},
      {"index past the end", 40, {0, 0, 0x10, 0}, good.size(), "SoundIndex at 40"},
      {"entry data past the end", 62, {0, 0, 0, 0x20}, good.size(), "SoundEntry 2: its data at 74"},
      {"entry address past the end", 58, {0xFF, 0, 0, 0}, good.size(), "SoundEntry 2: its data"},
      {"sound data start past the end", 8, {0, 1, 0, 0}, good.size(), "SoundEntry 1: its data"},
      {"extension past the end", 12, {0, 0, 1, 0}, good.size(), "ExtensionData at 256"},
      {"extension length past the end", extension, {0, 0, 0, 1}, good.size(), "ExtensionData at"},
      {"extension length top bit", extension, {0x80, 0, 0, 0}, good.size(), "top bit"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> file = good;
    std::copy(c.bytes.begin(), c.bytes.end(), file.begin() + static_cast<ptrdiff_t>(c.at));
    file.resize(c.size);
    SoundFile record;
    std::string error;
    EXPECT_FALSE(record.Read(file, &error));
    EXPECT_THAT(error, HasSubstr(c.error));
    EXPECT_THAT(record.SoundIndex, IsEmpty());
  }
  SoundFile record;
  std::string error;
  EXPECT_TRUE(record.Read(good, &error)) << error;
}

TEST(SoundTest, WritesAddressesFromTheDataItWrites) {
  test::TempDir dir;
  SoundFile record;
  record.SoundIndex.resize(2);
  record.SoundIndex[0].SoundDataStartAddress = 999;  // stale values are recomputed
  const std::vector<uint8_t> sizes = {100, 50};
  const auto provider = [&sizes](size_t i, std::vector<uint8_t>& data, std::string*) {
    data.assign(sizes[i], static_cast<uint8_t>(0xA0 + i));
    return true;
  };
  std::string error;
  ASSERT_TRUE(record.WriteFile(dir / "Sound.bdmv", provider, &error)) << error;
  EXPECT_EQ(record.SoundDataStartAddress, 66u);
  EXPECT_EQ(record.ExtensionDataStartAddress, 0u);
  EXPECT_EQ(record.SoundIndex[0].SoundDataStartAddress, 0u);
  EXPECT_EQ(record.SoundIndex[1].SoundDataStartAddress, 100u);
  EXPECT_EQ(record.SoundIndex[1].SoundDataStartLength, 50u);

  const std::vector<uint8_t> written = ReadPath(dir / "Sound.bdmv");
  ASSERT_EQ(written.size(), 66u + 150u);
  EXPECT_EQ(written[65], 50);  // the last byte of the index
  EXPECT_EQ(written[66], 0xA0);
  EXPECT_EQ(written[166], 0xA1);
  SoundFile reread;
  ASSERT_TRUE(reread.Read(written, &error)) << error;
  EXPECT_EQ(DumpText(reread), DumpText(record));

  // Extension data goes after the sound data; once removed, its address is 0 again.
  record.ExtensionData = {0, 0, 0, 4, 1, 2, 3, 4};
  ASSERT_TRUE(record.WriteFile(dir / "Sound.bdmv", provider, &error)) << error;
  EXPECT_EQ(record.ExtensionDataStartAddress, 216u);
  ASSERT_TRUE(reread.ReadFile(dir / "Sound.bdmv", &error)) << error;
  EXPECT_EQ(reread.ExtensionData, record.ExtensionData);
  reread.ExtensionData.clear();
  ASSERT_TRUE(
      reread.WriteFile(dir / "Sound.bdmv", SoundDataFromFile(dir / "Sound.bdmv", reread), &error))
      << error;
  EXPECT_EQ(reread.ExtensionDataStartAddress, 0u);
  EXPECT_EQ(ReadPath(dir / "Sound.bdmv"), written);
}

// A write that fails leaves the destination, its folder and the record as they were.
TEST(SoundTest, FailedWritesChangeNothing) {
  test::TempDir dir;
  const std::filesystem::path source = test::DataPath("sound/hdcookbook-bookmenu.bdmv");
  const std::filesystem::path destination = dir / "Sound.bdmv";
  const std::vector<uint8_t> before = {'o', 'l', 'd'};
  SoundFile read;
  std::string error;
  ASSERT_TRUE(read.ReadFile(source, &error)) << error;

  SoundFile too_many;
  too_many.SoundIndex.resize(SoundFile::kMaxEntries + 1);
  SoundFile pointing_outside = read;
  pointing_outside.SoundIndex[9].SoundDataStartAddress += 1;
  struct Case {
    const char* what;
    SoundFile record;
    SoundDataProvider provider;
    const char* error;
  } cases[] = {
      {"more than 128 entries", too_many, nullptr, "129 sound entries"},
      {"provider fails", read,
       [](size_t i, std::vector<uint8_t>& data, std::string* why) {
         data.assign(10, 1);
         *why = "cannot read it";
         return i < 3;
       },
       "SoundEntry 4: cannot read it"},
      {"provider gives no data", read,
       [](size_t, std::vector<uint8_t>&, std::string*) { return true; },
       "SoundEntry 1: no sound data"},
      {"entry data outside the source", read, SoundDataFromFile(source, pointing_outside),
       "SoundEntry 10: its data at 1244307 (145920 bytes) lies outside the file"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    WritePath(destination, before);
    const std::string dump_before = DumpText(c.record);
    EXPECT_FALSE(c.record.WriteFile(destination, c.provider, &error));
    EXPECT_THAT(error, HasSubstr(c.error));
    EXPECT_EQ(ReadPath(destination), before);
    EXPECT_EQ(DumpText(c.record), dump_before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
  }
}

TEST(SoundTest, ReportsFileErrors) {
  test::TempDir dir;
  SoundFile record;
  std::string error;
  EXPECT_FALSE(record.ReadFile(dir / "missing.bdmv", &error));
  EXPECT_THAT(error, HasSubstr("missing.bdmv: "));
  record.SoundIndex.resize(1);
  EXPECT_FALSE(record.WriteFile(
      dir / "missing" / "Sound.bdmv",
      [](size_t, std::vector<uint8_t>& data, std::string*) {
        data.assign(4, 0);
        return true;
      },
      &error));
  EXPECT_THAT(error, HasSubstr("Sound.bdmv: "));
}

// The data of the file being replaced is still there while the new one is written.
TEST(SoundTest, RewritesAFileInPlace) {
  test::TempDir dir;
  const std::vector<uint8_t> original = test::ReadData("sound/hdcookbook-bookmenu.bdmv");
  WritePath(dir / "Sound.bdmv", original);
  SoundFile record;
  std::string error;
  ASSERT_TRUE(record.ReadFile(dir / "Sound.bdmv", &error)) << error;
  std::swap(record.SoundIndex[0], record.SoundIndex[9]);
  ASSERT_TRUE(
      record.WriteFile(dir / "Sound.bdmv", SoundDataFromFile(dir / "Sound.bdmv", record), &error))
      << error;
  const std::vector<uint8_t> written = ReadPath(dir / "Sound.bdmv");
  ASSERT_EQ(written.size(), original.size());
  // The last entry's data (now first) follows the index, and the first entry's closes the file.
  EXPECT_TRUE(std::equal(original.end() - 145920, original.end(), written.begin() + 146));
  EXPECT_TRUE(
      std::equal(original.begin() + 146, original.begin() + 146 + 138240, written.end() - 138240));
}

// Every truncation and a few thousand byte flips of every fixture give a clean failure or a record
// that dumps; under the sanitizers any read outside the buffer would stop the test.
TEST(SoundTest, SurvivesTruncationsAndBitFlips) {
  std::mt19937 random(20261211);
  for (const auto& entry : std::filesystem::directory_iterator(test::DataPath("sound"))) {
    SCOPED_TRACE(entry.path().filename().string());
    std::vector<uint8_t> file = test::ReadData("sound/" + entry.path().filename().string());
    SoundFile record;
    std::string error;
    for (size_t size = 0; size < file.size(); ++size) {
      // The last entry's data ends the file, so every cut leaves it pointing outside.
      if (record.Read(std::span(file).first(size), nullptr)) ADD_FAILURE() << size;
    }
    for (int i = 0; i < 3000; ++i) {
      // Flips where the structure is: the header, the index and the first bytes of the data.
      const size_t at = random() % std::min<size_t>(file.size(), 256);
      const uint8_t old = file[at];
      file[at] = static_cast<uint8_t>(random());
      if (record.Read(file, &error)) {
        for (const SSoundEntry& sound : record.SoundIndex) {
          EXPECT_LE(uint64_t{record.SoundDataStartAddress} + sound.SoundDataStartAddress +
                        sound.SoundDataStartLength,
                    file.size());
        }
        DumpText(record);
      } else {
        EXPECT_FALSE(error.empty());
      }
      file[at] = old;
    }
  }
}

}  // namespace
}  // namespace tessel
