#include "formats/field_access.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

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

// Every length field refuses a body one byte longer than it can count; the largest that fits is
// stored exactly. A refused length leaves the writer failed, and nothing more is written.
TEST(ByteWriter, LengthThatDoesNotFitFailsTheWriter) {
  struct Case {
    const char* what;
    size_t (ByteWriter::*begin)();
    size_t width;
    uint64_t largest;
    bool (*end)(ByteWriter&, size_t);
  };
  const Case cases[] = {
      {"8-bit", &ByteWriter::BeginLength8, 1, 0xFF,
       [](ByteWriter& w, size_t at) { return w.EndLength8(at); }},
      {"16-bit", &ByteWriter::BeginLength16, 2, 0xFFFF,
       [](ByteWriter& w, size_t at) { return w.EndLength16(at); }},
      {"12 bits of 16", &ByteWriter::BeginLength16, 2, 0xFFF,
       [](ByteWriter& w, size_t at) { return w.EndLengthBits(at, 12); }},
  };
  for (const Case& c : cases) {
    for (uint64_t body : {c.largest, c.largest + 1}) {
      ByteWriter w;
      const size_t at = (w.*c.begin)();
      w.Zeros(static_cast<size_t>(body));
      const bool fits = body == c.largest;
      EXPECT_EQ(c.end(w, at), fits) << c.what << " " << body;
      EXPECT_EQ(w.ok(), fits) << c.what;
      uint64_t stored = 0;
      for (size_t i = 0; i < c.width; ++i) stored = stored << 8 | w.buffer()[i];
      EXPECT_EQ(stored, fits ? body : 0) << c.what << ": never cut down";
      const size_t size = w.size();
      w.U32(0x01020304);
      EXPECT_EQ(w.size(), fits ? size + 4 : size) << c.what << ": a failed writer writes nothing";
    }
  }
}

TEST(ByteWriter, NarrowLengthKeepsTheFlagsBesideIt) {
  ByteWriter w;
  const size_t at = w.Reserve(2);
  w.PatchU8(at, 0xF0);
  w.Zeros(0x123);
  ASSERT_TRUE(w.EndLengthBits(at, 12));
  EXPECT_EQ(w.buffer()[0], 0xF1);
  EXPECT_EQ(w.buffer()[1], 0x23);
}

TEST(ByteWriter, FixedSpanFailsPastItsEndAndZeroesSkippedBytes) {
  std::array<uint8_t, 8> span;
  span.fill(0xEE);
  ByteWriter w(span);
  w.U16(0x4711);
  w.Seek(4);
  w.U8(0x01);
  EXPECT_TRUE(w.ok());
  EXPECT_EQ(w.size(), 5u);
  EXPECT_EQ(w.bytes().size(), 5u);
  EXPECT_TRUE(w.buffer().empty());  // nothing of its own
  const std::array<uint8_t, 8> written = {0x47, 0x11, 0x00, 0x00, 0x01, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(span, written);

  w.U32(0x02030405);  // one byte short
  EXPECT_FALSE(w.ok());
  EXPECT_EQ(span, written) << "a write that does not fit leaves the span as it was";
  w.U8(0x06);
  EXPECT_FALSE(w.ok()) << "the failure is sticky";
  EXPECT_EQ(w.pos(), 5u);
}

TEST(ByteWriter, TakeStartsAfresh) {
  ByteWriter w;
  w.U8(1);
  w.Fail();
  w.U8(2);
  EXPECT_EQ(w.Take(), std::vector<uint8_t>{1});
  EXPECT_TRUE(w.ok());
  w.U8(3);
  EXPECT_EQ(w.Take(), std::vector<uint8_t>{3});
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
