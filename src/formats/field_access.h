// Bounds-checked big-endian access to records held in memory.
//
// ByteReader is a cursor over a byte span. A read past the end, or any other failed step, puts it
// into a failed state that never clears: every later read fails too and yields zeros, so a record
// reader may check ok() once at the end of a record and still never act on bytes outside the span.
//
// ByteWriter serialises into a growable buffer, or into a fixed span, that is zero-filled wherever
// nothing was written, so skipped and zeroed-reserved bytes come out as zero. It fails the same
// sticky way: a field that does not fit, or a write past a fixed span, fails every later step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace tessel {

class ByteReader {
 public:
  ByteReader() = default;
  explicit ByteReader(std::span<const uint8_t> data) : data_(data) {}

  bool ok() const { return ok_; }
  size_t pos() const { return pos_; }
  size_t size() const { return data_.size(); }
  size_t remaining() const { return ok_ ? data_.size() - pos_ : 0; }
  std::span<const uint8_t> data() const { return data_; }

  // Marks the cursor failed, for a value the reader finds inconsistent.
  void Fail() { ok_ = false; }
  // Fails unless `condition` holds; returns the condition.
  bool Require(bool condition) {
    if (!condition) ok_ = false;
    return condition;
  }

  uint8_t U8();
  uint16_t U16();
  uint32_t U24();
  uint32_t U32();
  uint64_t U64();
  // Copies n bytes; on failure fills `out` with zeros.
  void Bytes(uint8_t* out, size_t n);
  template <size_t N>
  void Bytes(uint8_t (&out)[N]) {
    Bytes(out, N);
  }
  // Copies n bytes into a vector after checking they exist (no allocation on failure).
  std::vector<uint8_t> Vector(size_t n);
  void Skip(size_t n);
  // Moves to an absolute offset within the span (the end itself is allowed).
  void Seek(size_t pos);
  // Whether at least n bytes are left.
  bool Has(size_t n) const { return ok_ && data_.size() - pos_ >= n; }

  // A cursor over the next n bytes; the parent moves past them. Fails both when short.
  ByteReader Sub(size_t n);
  // A cursor over [offset, offset + n) of this span, without moving; fails when outside.
  ByteReader Slice(size_t offset, size_t n);
  // A cursor over [offset, end) of this span.
  ByteReader From(size_t offset);

 private:
  bool Take(size_t n);  // checks and advances; false (and failed) when short

  std::span<const uint8_t> data_;
  size_t pos_ = 0;
  bool ok_ = true;
};

class ByteWriter {
 public:
  // A writer over a growing buffer of its own.
  ByteWriter() = default;
  // A writer over a fixed span (a packet, a slot of an output buffer): writing past its end
  // fails. Bytes skipped inside it are zeroed, as in a growing buffer.
  explicit ByteWriter(std::span<uint8_t> fixed) : fixed_(fixed), is_fixed_(true) {}

  // False after any failed step (a field that did not fit, a span overrun); it never clears, and
  // a failed writer writes nothing more, so a serialiser may check once at the end.
  bool ok() const { return ok_; }
  void Fail() { ok_ = false; }
  // Fails unless `condition` holds; returns the condition.
  bool Require(bool condition) {
    if (!condition) ok_ = false;
    return condition;
  }

  size_t pos() const { return pos_; }
  // Bytes in use: up to the furthest position written or skipped.
  size_t size() const { return is_fixed_ ? used_ : buffer_.size(); }
  // The bytes in use (of the own buffer or the fixed span).
  std::span<const uint8_t> bytes() const {
    return is_fixed_ ? std::span<const uint8_t>(fixed_.first(used_))
                     : std::span<const uint8_t>(buffer_);
  }
  // The own buffer of a growing writer (empty for a fixed one).
  const std::vector<uint8_t>& buffer() const { return buffer_; }
  // Hands over the bytes in use and starts afresh (the failure state included).
  std::vector<uint8_t> Take();

  void U8(uint8_t v);
  void U16(uint16_t v);
  void U24(uint32_t v);
  void U32(uint32_t v);
  void U64(uint64_t v);
  void Bytes(const uint8_t* data, size_t n);
  void Bytes(std::span<const uint8_t> data) { Bytes(data.data(), data.size()); }
  // Leaves n zero bytes.
  void Zeros(size_t n);
  // Leaves n bytes of the given value.
  void Fill(uint8_t value, size_t n);
  // Moves to an absolute position; the bytes in use grow (with zeros) as far as they must.
  void Seek(size_t pos);

  // Overwrites an already written field.
  void PatchU8(size_t at, uint8_t v);
  void PatchU16(size_t at, uint16_t v);
  void PatchU32(size_t at, uint32_t v);

  // Length fields: Begin* reserves the field and returns its position; End* stores the number of
  // bytes written after the field. A length that does not fit its field fails the writer (and
  // returns false) instead of being cut down.
  size_t BeginLength32() { return Reserve(4); }
  size_t BeginLength16() { return Reserve(2); }
  size_t BeginLength8() { return Reserve(1); }
  bool EndLength32(size_t at) { return EndLength(at, 4, 32); }
  bool EndLength16(size_t at) { return EndLength(at, 2, 16); }
  bool EndLength8(size_t at) { return EndLength(at, 1, 8); }
  // A length in the low `bits` bits of a 16-bit field whose high bits are already written (the
  // 12-bit lengths of program tables and their descriptor loops).
  bool EndLengthBits(size_t at, unsigned bits) { return EndLength(at, 2, bits); }
  // Reserves a field of n bytes (zero) to be patched later; returns its position.
  size_t Reserve(size_t n);

 private:
  // Makes [0, end) usable; false (and failed) when the writer has failed or a fixed span is short.
  bool Room(size_t end);
  uint8_t* data() { return is_fixed_ ? fixed_.data() : buffer_.data(); }
  bool EndLength(size_t at, size_t width, unsigned bits);

  std::vector<uint8_t> buffer_;
  std::span<uint8_t> fixed_;
  size_t used_ = 0;  // of a fixed span
  size_t pos_ = 0;
  bool is_fixed_ = false;
  bool ok_ = true;
};

// Bit cursor over a byte span, most significant bit first, with the same sticky failure as
// ByteReader. Used for bit-packed fields and for codec headers held in memory.
class BitReader {
 public:
  explicit BitReader(std::span<const uint8_t> data) : data_(data) {}

  bool ok() const { return ok_; }
  // Bits consumed so far.
  uint64_t position() const { return bit_pos_; }
  uint64_t bits_left() const { return ok_ ? data_.size() * 8 - bit_pos_ : 0; }
  bool byte_aligned() const { return (bit_pos_ & 7) == 0; }
  void Fail() { ok_ = false; }

  // Reads n bits (n <= 64) right-aligned; 0 and failed when fewer are left.
  uint64_t Bits(unsigned n);
  bool Flag() { return Bits(1) != 0; }
  void Skip(uint64_t n);
  void AlignToByte();
  // Unsigned and signed Exp-Golomb codes; a prefix longer than 31 zeros fails.
  uint32_t Ue();
  int32_t Se();

 private:
  std::span<const uint8_t> data_;
  uint64_t bit_pos_ = 0;
  bool ok_ = true;
};

// Appends bit fields most significant bit first.
class BitWriter {
 public:
  void Bits(uint64_t value, unsigned n);
  void Flag(bool v) { Bits(v ? 1 : 0, 1); }
  // Pads the last byte with zero bits.
  void AlignToByte();
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  uint64_t position() const { return bit_pos_; }

 private:
  std::vector<uint8_t> bytes_;
  uint64_t bit_pos_ = 0;
};

// A terminated copy of a fixed-size character field, for display.
std::string CharField(std::span<const uint8_t> raw);
template <size_t N>
std::string CharField(const uint8_t (&raw)[N]) {
  return CharField(std::span<const uint8_t>(raw, N));
}
// Stores text into a fixed-size character field (cut or zero-padded to the field's size).
void SetCharField(std::span<uint8_t> field, std::string_view text);

// Stores a reader's reason for failing (when one is wanted) and returns false.
bool Failed(std::string* error, std::string text);

// "0A 1B ...": raw bytes for display.
std::string HexText(std::span<const uint8_t> bytes);

}  // namespace tessel
