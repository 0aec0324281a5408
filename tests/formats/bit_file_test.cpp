#include "formats/bit_file.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/files.h"
#include "support/test_support.h"

namespace tessel {
namespace {

std::filesystem::path WriteFile(const test::TempDir& dir, const std::vector<uint8_t>& bytes) {
  const auto path = dir / "bits.bin";
  EXPECT_TRUE(WriteWholeFile(path, bytes));
  return path;
}

// Bytes whose value is their offset's low byte mixed with the block number, so a read from the
// wrong block shows.
std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i ^ (i >> 18) * 0x55);
  return bytes;
}

TEST(BitFile, OpenFailsOnMissingOrEmptyFile) {
  test::TempDir dir;
  BitFile f;
  EXPECT_FALSE(f.Open(dir / "missing"));
  EXPECT_FALSE(f.Open(WriteFile(dir, {})));
}

TEST(BitFile, PeekRestoresEverythingAndTheCounterMovesOnce) {
  test::TempDir dir;
  BitFile f;
  ASSERT_TRUE(f.Open(WriteFile(dir, {0xAB, 0xCD, 0xEF, 0x01})));
  uint32_t v = 0;
  ASSERT_TRUE(f.ReadBits(4, v));
  uint32_t peeked = 0;
  ASSERT_TRUE(f.Peek16(peeked));
  EXPECT_EQ(peeked, 0xBCDEu);
  EXPECT_EQ(f.bit_count(), 4u);
  ASSERT_TRUE(f.ReadBits(16, v));
  EXPECT_EQ(v, peeked);
  EXPECT_EQ(f.bit_count(), 20u);
}

// A peek where the buffered block ends sees the next block's bytes and changes nothing, from a
// file and from memory alike.
TEST(BitFile, PeekAcrossTheBlockEnd) {
  test::TempDir dir;
  const std::vector<uint8_t> bytes = Pattern(BitFile::kBufferSize + 10);
  const uint64_t block_bits = uint64_t{BitFile::kBufferSize} * 8;
  const uint64_t starts[] = {block_bits - 16, block_bits - 12, block_bits - 8,
                             block_bits - 3,  block_bits,      block_bits + 40};
  const auto path = WriteFile(dir, bytes);
  MemoryByteSource memory(bytes);
  for (const uint64_t start : starts) {
    SCOPED_TRACE(start);
    for (int from_memory = 0; from_memory < 2; ++from_memory) {
      BitFile f;
      ASSERT_TRUE(from_memory ? f.Open(memory) : f.Open(path));
      ASSERT_TRUE(f.SkipBits(start));
      uint32_t peeked = 0, read = 0;
      ASSERT_TRUE(f.Peek16(peeked));
      EXPECT_EQ(f.bit_count(), start);
      ASSERT_TRUE(f.ReadBits(16, read));
      EXPECT_EQ(peeked, read);
      ASSERT_TRUE(f.ReadBits(8, read));
      const uint64_t byte = (start + 16) / 8, shift = (start + 16) % 8;
      const uint32_t expected =
          (uint32_t{bytes[byte]} << 8 | bytes[byte + 1]) >> (8 - shift) & 0xFF;
      EXPECT_EQ(read, expected);
    }
  }
}

TEST(BitFile, UnalignedByteReadStraddlesTheBoundary) {
  test::TempDir dir;
  BitFile f;
  ASSERT_TRUE(f.Open(WriteFile(dir, {0b10110011, 0b01011100})));
  uint32_t v = 0;
  ASSERT_TRUE(f.ReadBits(3, v));
  ASSERT_TRUE(f.ReadBits(8, v));
  EXPECT_EQ(v, 0b10011010u);
}

TEST(BitFile, ReadBytesAlignsFirst) {
  test::TempDir dir;
  BitFile f;
  ASSERT_TRUE(f.Open(WriteFile(dir, {0xFF, 0x11, 0x22, 0x33})));
  uint32_t v = 0;
  ASSERT_TRUE(f.ReadBits(3, v));
  uint8_t out[2] = {};
  EXPECT_EQ(f.ReadBytes(out, 2), 2u);
  EXPECT_EQ(out[0], 0x11);
  EXPECT_EQ(out[1], 0x22);
  EXPECT_EQ(f.bit_count(), 24u);
}

TEST(BitFile, ReadsAcrossBlocksAndFailsAtTheEnd) {
  test::TempDir dir;
  const std::vector<uint8_t> bytes = Pattern(BitFile::kBufferSize * 2 + 100);
  BitFile f;
  ASSERT_TRUE(f.Open(WriteFile(dir, bytes)));
  ASSERT_TRUE(f.SkipBits((BitFile::kBufferSize - 1) * 8 + 4));
  uint32_t v = 0;
  ASSERT_TRUE(f.ReadBits(12, v));  // last nibble of block 0, first byte of block 1
  EXPECT_EQ(v, (bytes[BitFile::kBufferSize - 1] & 0xFu) << 8 | bytes[BitFile::kBufferSize]);

  std::vector<uint8_t> rest(bytes.size());
  const size_t got = f.ReadBytes(rest.data(), rest.size());
  EXPECT_EQ(got, bytes.size() - BitFile::kBufferSize - 1);
  EXPECT_TRUE(std::equal(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(got),
                         bytes.begin() + BitFile::kBufferSize + 1));
  EXPECT_TRUE(f.read_failed());
  EXPECT_FALSE(f.ReadBits(1, v));
  EXPECT_FALSE(f.Peek16(v));
}

TEST(BitFile, PeekAtTheEndLeavesTheFailureFlagSet) {
  test::TempDir dir;
  BitFile f;
  ASSERT_TRUE(f.Open(WriteFile(dir, {0x01})));
  uint32_t v = 0;
  EXPECT_FALSE(f.Peek16(v));
  EXPECT_TRUE(f.read_failed());
  EXPECT_EQ(f.bit_count(), 0u);
}

TEST(BitFile, WindowGivesTheBufferedBytes) {
  test::TempDir dir;
  const std::vector<uint8_t> bytes = Pattern(BitFile::kBufferSize + 10);
  BitFile f;
  ASSERT_TRUE(f.Open(WriteFile(dir, bytes)));
  size_t total = 0;
  for (auto w = f.Window(); !w.empty(); w = f.Window()) {
    EXPECT_EQ(w[0], bytes[total]);
    total += w.size();
    f.Advance(w.size());
  }
  EXPECT_EQ(total, bytes.size());
  EXPECT_EQ(f.byte_offset(), bytes.size());
}

TEST(BitFile, WritesBitsAndPadsAcrossFullBuffers) {
  test::TempDir dir;
  const auto path = dir / "out.bin";
  {
    BitFile f;
    ASSERT_TRUE(f.Create(path));
    ASSERT_TRUE(f.WriteBits(0b101, 3));
    ASSERT_TRUE(f.PadBits(5));
    for (size_t i = 0; i < BitFile::kBufferSize; ++i) ASSERT_TRUE(f.WriteBits(0xC3, 8));
    ASSERT_TRUE(f.WriteBits(0x1, 1));
    uint8_t unused[1];
    f.ReadBytes(unused, 0);  // writing mode: completes the byte with zero bits
    EXPECT_EQ(f.bit_count(), (BitFile::kBufferSize + 2) * 8);
    ASSERT_TRUE(f.Close());
  }
  std::vector<uint8_t> out;
  ASSERT_TRUE(ReadWholeFile(path, out));
  ASSERT_EQ(out.size(), BitFile::kBufferSize + 2);
  EXPECT_EQ(out.front(), 0xA0);
  EXPECT_EQ(out[1], 0xC3);
  EXPECT_EQ(out.back(), 0x80);
}

}  // namespace
}  // namespace tessel
