#include "formats/field_access.h"

#include <gtest/gtest.h>

#include <array>

namespace tessel {
namespace {

constexpr std::array<uint8_t, 11> kBytes = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC,
                                            0xDE, 0xF0, 0x01, 0x02, 0x03};

TEST(ByteReader, ReadsBigEndianFields) {
  ByteReader r(kBytes);
  EXPECT_EQ(r.U8(), 0x12);
  EXPECT_EQ(r.U16(), 0x3456);
  EXPECT_EQ(r.U24(), 0x789ABCu);
  EXPECT_EQ(r.U32(), 0xDEF00102u);
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.remaining(), 1u);
}

TEST(ByteReader, ReadPastEndFailsStickyAndYieldsZeros) {
  ByteReader r(std::span<const uint8_t>(kBytes).first(3));
  EXPECT_EQ(r.U16(), 0x1234);
  EXPECT_EQ(r.U16(), 0);  // only one byte left
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.U8(), 0);  // the byte that was there is not read after a failure
  uint8_t out[4] = {1, 1, 1, 1};
  r.Bytes(out);
  EXPECT_EQ(out[0] | out[1] | out[2] | out[3], 0);
  EXPECT_EQ(r.remaining(), 0u);
}

TEST(ByteReader, SubCursorBoundsALengthPrefixedRecord) {
  ByteReader r(kBytes);
  ByteReader body = r.Sub(4);
  EXPECT_EQ(body.U32(), 0x12345678u);
  EXPECT_EQ(body.U8(), 0);  // cannot run into the parent's next bytes
  EXPECT_FALSE(body.ok());
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.U8(), 0x9A);

  ByteReader overlong = r.Sub(100);
  EXPECT_FALSE(overlong.ok());
  EXPECT_FALSE(r.ok());
}

TEST(ByteReader, SliceAndSeekRejectOffsetsOutsideTheSpan) {
  struct Case {
    size_t offset, size;
    bool ok;
  };
  for (const Case c : {Case{0, 11, true}, Case{11, 0, true}, Case{10, 2, false}, Case{12, 0, false},
                       Case{SIZE_MAX, 2, false}}) {
    ByteReader r(kBytes);
    ByteReader s = r.Slice(c.offset, c.size);
    EXPECT_EQ(s.ok(), c.ok) << c.offset << "+" << c.size;
    EXPECT_EQ(r.ok(), c.ok);
  }
  ByteReader r(kBytes);
  r.Seek(11);
  EXPECT_TRUE(r.ok());
  r.Seek(12);
  EXPECT_FALSE(r.ok());
}

TEST(ByteReader, VectorDoesNotAllocateForAnImpossibleCount) {
  ByteReader r(kBytes);
  EXPECT_TRUE(r.Vector(SIZE_MAX / 2).empty());
  EXPECT_FALSE(r.ok());
}

TEST(ByteWriter, GrowsZeroFilledAndPatchesLengths) {
  ByteWriter w;
  const size_t length = w.BeginLength32();
  w.U16(0xABCD);
  w.Zeros(3);
  w.U8(0x7F);
  w.EndLength32(length);
  const std::vector<uint8_t> expected = {0, 0, 0, 6, 0xAB, 0xCD, 0, 0, 0, 0x7F};
  EXPECT_EQ(w.buffer(), expected);

  w.Seek(20);  // skipping ahead leaves zeros
  w.U8(1);
  EXPECT_EQ(w.size(), 21u);
  EXPECT_EQ(w.buffer()[15], 0);
}

TEST(ByteWriter, ShortLengthFields) {
  ByteWriter w;
  const size_t l16 = w.BeginLength16();
  const size_t l8 = w.BeginLength8();
  w.U24(0x010203);
  w.EndLength8(l8);
  w.EndLength16(l16);
  const std::vector<uint8_t> expected = {0, 4, 3, 1, 2, 3};
  EXPECT_EQ(w.buffer(), expected);
}

TEST(BitReader, ReadsAcrossByteBoundaries) {
  const uint8_t data[] = {0b10110011, 0b01011100};
  BitReader r(data);
  EXPECT_EQ(r.Bits(3), 0b101u);
  EXPECT_EQ(r.Bits(8), 0b10011010u);  // straddles the boundary
  EXPECT_EQ(r.Bits(5), 0b11100u);
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.Bits(1), 0u);
  EXPECT_FALSE(r.ok());
}

TEST(BitReader, ExpGolombCodes) {
  // ue: 1 -> 0, 010 -> 1, 011 -> 2, 00100 -> 3; se of 00101 (k=4) -> -2.
  BitWriter w;
  for (const auto& [value, bits] : std::vector<std::pair<uint32_t, unsigned>>{
           {1, 1}, {0b010, 3}, {0b011, 3}, {0b00100, 5}, {0b00101, 5}}) {
    w.Bits(value, bits);
  }
  w.AlignToByte();
  BitReader r(w.bytes());
  EXPECT_EQ(r.Ue(), 0u);
  EXPECT_EQ(r.Ue(), 1u);
  EXPECT_EQ(r.Ue(), 2u);
  EXPECT_EQ(r.Ue(), 3u);
  EXPECT_EQ(r.Se(), -2);
  EXPECT_TRUE(r.ok());
}

TEST(BitReader, OverlongExpGolombPrefixFails) {
  const uint8_t zeros[8] = {};
  BitReader r(zeros);
  EXPECT_EQ(r.Ue(), 0u);
  EXPECT_FALSE(r.ok());
}

TEST(CharField, StopsAtTheFirstZeroAndPadsOnStore) {
  uint8_t raw[5] = {'e', 'n', 'g', 0, 'x'};
  EXPECT_EQ(CharField(raw), "eng");
  SetCharField(raw, "00001");
  EXPECT_EQ(CharField(raw), "00001");
  SetCharField(raw, "ab");
  EXPECT_EQ(raw[2], 0);
  EXPECT_EQ(raw[4], 0);
}

}  // namespace
}  // namespace tessel
