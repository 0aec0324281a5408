#include "formats/ext_data.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "formats/mpls.h"
#include "support/test_support.h"

namespace tessel {
namespace {

using ::testing::ElementsAre;

SExtDataEntry MakeEntry(uint16_t id1, uint16_t id2, std::vector<uint8_t> data) {
  SExtDataEntry entry;
  entry.ExtDataEntry_ID1 = id1;
  entry.ExtDataEntry_ID2 = id2;
  entry.data = std::move(data);
  return entry;
}

std::vector<uint8_t> Written(const ExtensionData& container) {
  ByteWriter w;
  const size_t size = container.Write(&w);
  EXPECT_EQ(size, w.size());
  EXPECT_EQ(container.Write(nullptr), size);
  return w.Take();
}

ExtensionData ReadBack(const std::vector<uint8_t>& bytes) {
  ExtensionData container;
  ByteReader r(bytes);
  EXPECT_TRUE(container.Read(r));
  EXPECT_EQ(r.remaining(), 0u);
  return container;
}

TEST(ExtensionData, EntriesArePaddedToFourBytesAndKeptUnchanged) {
  ExtensionData container;
  container.entries.push_back(MakeEntry(0x0002, 0x0002, {1, 2, 3, 4, 5}));
  container.entries.push_back(MakeEntry(0x1234, 0x0001, {9, 8, 7, 6, 5, 4, 3, 2}));
  const std::vector<uint8_t> bytes = Written(container);

  ASSERT_EQ(bytes.size(), 12u + 24 + 8 + 8);
  EXPECT_THAT(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 12),
              ElementsAre(0, 0, 0, 48, 0, 0, 0, 36, 0, 0, 0, 2));
  // Entry table: identifiers, start address, length.
  EXPECT_THAT(std::vector<uint8_t>(bytes.begin() + 12, bytes.begin() + 36),
              ElementsAre(0, 2, 0, 2, 0, 0, 0, 36, 0, 0, 0, 5,  //
                          0x12, 0x34, 0, 1, 0, 0, 0, 44, 0, 0, 0, 8));
  EXPECT_THAT(std::vector<uint8_t>(bytes.begin() + 36, bytes.end()),
              ElementsAre(1, 2, 3, 4, 5, 0, 0, 0, 9, 8, 7, 6, 5, 4, 3, 2));

  const ExtensionData back = ReadBack(bytes);
  ASSERT_EQ(back.entries.size(), 2u);
  EXPECT_EQ(back.entries[0].data, container.entries[0].data);
  EXPECT_EQ(back.entries[1].data, container.entries[1].data);
  EXPECT_EQ(Written(back), bytes);
}

TEST(ExtensionData, EmptyContainerIsAZeroLength) {
  const std::vector<uint8_t> bytes = Written(ExtensionData());
  EXPECT_THAT(bytes, ElementsAre(0, 0, 0, 0));
  EXPECT_TRUE(ReadBack(bytes).entries.empty());
}

TEST(ExtensionData, EntryOutsideTheContainerFailsTheRead) {
  ExtensionData container;
  container.entries.push_back(MakeEntry(1, 1, {1, 2, 3, 4}));
  std::vector<uint8_t> bytes = Written(container);
  bytes[23] = 5;  // ExtDataLength 5: one byte past the container
  ExtensionData back;
  ByteReader r(bytes);
  EXPECT_FALSE(back.Read(r));
}

SPipMetaData PipMetadata(std::initializer_list<int> entries_per_block) {
  SPipMetaData pip;
  uint16_t item = 0;
  for (int n : entries_per_block) {
    PipMetadataBlock block;
    block.header.RefPlayItemId = item++;
    block.header.TimelineType = 1;
    for (int j = 0; j < n; ++j) {
      block.entries.push_back({27000000u + j, 91, 558, 1});
    }
    pip.blocks.push_back(block);
  }
  return pip;
}

TEST(SPipMetaData, BlocksFollowTheHeadersAndEachHeaderPointsAtItsBlock) {
  SPipMetaData pip = PipMetadata({3, 1});
  pip.blocks[0].header.IsLumaKey = true;
  pip.blocks[0].header.UpperLimitLumaKey = 0x20;
  pip.blocks[1].header.UpperLimitLumaKey = 0x30;  // not stored: no luma key
  ByteWriter w;
  EXPECT_EQ(pip.Write(&w), pip.Write(nullptr));
  const std::vector<uint8_t>& b = w.buffer();
  const size_t headers_end = 6 + 14 * 2;
  ASSERT_EQ(b.size(), headers_end + (2 + 24) + (2 + 8));
  auto u32 = [&b](size_t at) { return b[at] << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3]; };
  EXPECT_EQ(u32(0), static_cast<int>(b.size()) - 4);
  EXPECT_EQ(u32(6 + 10), static_cast<int>(headers_end));
  EXPECT_EQ(u32(20 + 10), static_cast<int>(headers_end + 26));
  EXPECT_EQ(b[6 + 4], 0x18);  // timeline type 1, luma key
  EXPECT_EQ(b[6 + 7], 0x20);
  EXPECT_EQ(b[20 + 7], 0);
  // HorPos 91, VerPos 558, scale 1 packed into 12 + 12 + 4 + 4 bits.
  EXPECT_THAT(std::vector<uint8_t>(b.begin() + headers_end + 6, b.begin() + headers_end + 10),
              ElementsAre(0x05, 0xB2, 0x2E, 0x10));

  SPipMetaData back;
  ASSERT_TRUE(back.Read(b));
  ASSERT_EQ(back.blocks.size(), 2u);
  EXPECT_EQ(back.blocks[0].entries.size(), 3u);
  EXPECT_EQ(back.blocks[0].header.UpperLimitLumaKey, 0x20);
  EXPECT_EQ(back.blocks[1].header.UpperLimitLumaKey, 0);
  EXPECT_EQ(back.blocks[0].entries[2].PipTimeStamp, 27000002u);
  EXPECT_EQ(back.blocks[0].entries[2].PipVerPos, 558);
}

TEST(ExtensionData, StorePipMetadataAppendsOrReplacesInPlace) {
  ExtensionData container;
  container.entries.push_back(MakeEntry(0x0003, 0x0005, {1, 2, 3, 4}));
  container.StorePipMetadata(PipMetadata({1}));
  ASSERT_EQ(container.entries.size(), 2u);
  EXPECT_EQ(container.entries[1].ExtDataEntry_ID1, 1);
  EXPECT_EQ(container.entries[1].data.size(), 6u + 14 + 2 + 8);

  container.entries.push_back(MakeEntry(0x1000, 0x0001, {0}));
  container.StorePipMetadata(PipMetadata({2, 2}));
  ASSERT_EQ(container.entries.size(), 3u);
  EXPECT_EQ(container.entries[1].data.size(), 6u + 28 + 2 * (2 + 16));
  auto record = CreateRecord(container.entries[1]);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(static_cast<SPipMetaData&>(*record).blocks.size(), 2u);

  EXPECT_TRUE(container.RemovePipMetadata());
  EXPECT_FALSE(container.RemovePipMetadata());
  EXPECT_EQ(container.entries.size(), 2u);
}

TEST(SKavoToolData, StringsAreScrambledWithTheRepeatingKey) {
  SKavoToolData tool;
  tool.Descriptor = "ABCDEF";
  ByteWriter w;
  EXPECT_EQ(tool.Write(&w), 2u + 7 + 6);
  const std::vector<uint8_t>& b = w.buffer();
  EXPECT_EQ(b[0], 7);
  EXPECT_EQ(b[1], 'C' ^ 'Q');
  EXPECT_EQ(b[5], 'a' ^ 'Q');  // byte 4 uses key byte 0 again
  EXPECT_EQ(b[8], 6);
  EXPECT_THAT(std::vector<uint8_t>(b.begin() + 9, b.end()),
              ElementsAre('A' ^ 'Q', 'B' ^ 'W', 'C' ^ 'M', 'D' ^ 'T', 'E' ^ 'Q', 'F' ^ 'W'));
  SKavoToolData back;
  ASSERT_TRUE(back.Read(b));
  EXPECT_EQ(back.Company, "Corvane");
  EXPECT_EQ(back.Descriptor, "ABCDEF");
}

TEST(SPartMeta, WritesCountAndLengthAndDumpsDifferences) {
  SPartMeta part;
  part.values = {100, 250, 1000};
  ByteWriter w;
  EXPECT_EQ(part.Write(&w), 20u);
  EXPECT_THAT(std::vector<uint8_t>(w.buffer().begin(), w.buffer().begin() + 8),
              ElementsAre(0, 0, 0, 16, 0, 0, 0, 3));
  SPartMeta back;
  ASSERT_TRUE(back.Read(w.buffer()));
  DumpArchive archive;
  back.Dump("", archive);
  EXPECT_EQ(archive.text(),
            "Length: 16\nPart Count: 3\n 0: 100, 100\n 1: 250, 150\n 2: 1000, 750\n");
}

// Records of other formats plug into the factory by registration.
class TestRecord : public SExtDataBase {
 public:
  bool Read(std::span<const uint8_t> data) override { return data.size() == 2; }
  void Dump(std::string_view prefix, DumpArchive& archive) const override {
    archive.Text(prefix, "Test", "yes");
  }
};

TEST(ExtDataFactory, KnowsBuiltInPairsAndRegisteredOnes) {
  EXPECT_EQ(CreateRecord(MakeEntry(0x0009, 0x0009, {1, 2})), nullptr);
  RegisterExtDataRecord(0x0009, 0x0009, []() -> std::unique_ptr<SExtDataBase> {
    return std::make_unique<TestRecord>();
  });
  EXPECT_NE(CreateRecord(MakeEntry(0x0009, 0x0009, {1, 2})), nullptr);
  EXPECT_EQ(CreateRecord(MakeEntry(0x0009, 0x0009, {1})), nullptr);  // its data do not read
  EXPECT_NE(CreateRecord(MakeEntry(0x1000, 0x0001, {0, 0})), nullptr);
}

TEST(ExtensionData, PictureInPictureFixtureReadsAndDumps) {
  const std::vector<uint8_t> file = test::ReadData("mpls/pip_terminator2.mpls");
  Mpls mpls;
  ASSERT_TRUE(mpls.Read(file));
  ASSERT_TRUE(mpls.ext_data.has_value());
  const SExtDataEntry* entry = mpls.ext_data->FindEntry(1, 1);
  ASSERT_NE(entry, nullptr);
  auto record = CreateRecord(*entry);
  ASSERT_NE(record, nullptr);
  const auto& pip = static_cast<const SPipMetaData&>(*record);
  ASSERT_EQ(pip.blocks.size(), mpls.play_items.size());
  EXPECT_EQ(pip.blocks[0].entries.size(), 9u);
  EXPECT_EQ(pip.blocks[0].entries[2].PipHorPos, 91);

  // Storing the record again reproduces the entry's bytes.
  const std::vector<uint8_t> before = entry->data;
  mpls.ext_data->StorePipMetadata(pip);
  EXPECT_EQ(mpls.ext_data->FindEntry(1, 1)->data, before);
}

}  // namespace
}  // namespace tessel
