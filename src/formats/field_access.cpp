#include "formats/field_access.h"

#include <algorithm>
#include <cstring>

namespace tessel {

bool ByteReader::Take(size_t n) {
  if (!ok_ || data_.size() - pos_ < n) {
    ok_ = false;
    return false;
  }
  pos_ += n;
  return true;
}

uint8_t ByteReader::U8() {
  return Take(1) ? data_[pos_ - 1] : 0;
}

uint16_t ByteReader::U16() {
  if (!Take(2)) return 0;
  const uint8_t* p = data_.data() + pos_ - 2;
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

uint32_t ByteReader::U24() {
  if (!Take(3)) return 0;
  const uint8_t* p = data_.data() + pos_ - 3;
  return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
}

uint32_t ByteReader::U32() {
  if (!Take(4)) return 0;
  const uint8_t* p = data_.data() + pos_ - 4;
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

uint64_t ByteReader::U64() {
  const uint64_t high = U32();
  return high << 32 | U32();
}

void ByteReader::Bytes(uint8_t* out, size_t n) {
  if (Take(n)) {
    if (n) std::memcpy(out, data_.data() + pos_ - n, n);
  } else if (n) {
    std::memset(out, 0, n);
  }
}

std::vector<uint8_t> ByteReader::Vector(size_t n) {
  if (!Take(n)) return {};
  return {data_.begin() + static_cast<std::ptrdiff_t>(pos_ - n),
          data_.begin() + static_cast<std::ptrdiff_t>(pos_)};
}

void ByteReader::Skip(size_t n) {
  Take(n);
}

void ByteReader::Seek(size_t pos) {
  if (!ok_ || pos > data_.size()) {
    ok_ = false;
    return;
  }
  pos_ = pos;
}

ByteReader ByteReader::Sub(size_t n) {
  const size_t start = pos_;
  if (!Take(n)) {
    ByteReader failed;
    failed.ok_ = false;
    return failed;
  }
  return ByteReader(data_.subspan(start, n));
}

ByteReader ByteReader::Slice(size_t offset, size_t n) {
  if (!ok_ || offset > data_.size() || data_.size() - offset < n) {
    ok_ = false;
    ByteReader failed;
    failed.ok_ = false;
    return failed;
  }
  return ByteReader(data_.subspan(offset, n));
}

ByteReader ByteReader::From(size_t offset) {
  return Slice(offset, offset <= data_.size() ? data_.size() - offset : 0);
}

std::vector<uint8_t> ByteWriter::Take() {
  std::vector<uint8_t> out =
      is_fixed_ ? std::vector<uint8_t>(fixed_.begin(),
                                       fixed_.begin() + static_cast<std::ptrdiff_t>(used_))
                : std::exchange(buffer_, {});
  buffer_.clear();
  used_ = 0;
  pos_ = 0;
  ok_ = true;
  return out;
}

bool ByteWriter::Room(size_t end) {
  if (!ok_) return false;
  if (!is_fixed_) {
    if (end > buffer_.size()) buffer_.resize(end, 0);
    return true;
  }
  if (end > fixed_.size()) {
    ok_ = false;
    return false;
  }
  if (end > used_) {
    std::memset(fixed_.data() + used_, 0, end - used_);
    used_ = end;
  }
  return true;
}

size_t ByteWriter::Reserve(size_t n) {
  const size_t at = pos_;
  Zeros(n);
  return at;
}

void ByteWriter::U8(uint8_t v) {
  if (!Room(pos_ + 1)) return;
  data()[pos_++] = v;
}

void ByteWriter::U16(uint16_t v) {
  const uint8_t bytes[] = {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  Bytes(bytes, sizeof bytes);
}

void ByteWriter::U24(uint32_t v) {
  const uint8_t bytes[] = {static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                           static_cast<uint8_t>(v)};
  Bytes(bytes, sizeof bytes);
}

void ByteWriter::U32(uint32_t v) {
  const uint8_t bytes[] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                           static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  Bytes(bytes, sizeof bytes);
}

void ByteWriter::U64(uint64_t v) {
  uint8_t bytes[8];
  for (size_t i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(v >> (56 - 8 * i));
  Bytes(bytes, sizeof bytes);
}

void ByteWriter::Bytes(const uint8_t* bytes, size_t n) {
  if (!n || !Room(pos_ + n)) return;
  std::memcpy(data() + pos_, bytes, n);
  pos_ += n;
}

void ByteWriter::Zeros(size_t n) {
  Fill(0, n);
}

void ByteWriter::Fill(uint8_t value, size_t n) {
  if (!n || !Room(pos_ + n)) return;
  std::memset(data() + pos_, value, n);
  pos_ += n;
}

void ByteWriter::Seek(size_t pos) {
  if (Room(pos)) pos_ = pos;
}

void ByteWriter::PatchU8(size_t at, uint8_t v) {
  if (Room(at + 1)) data()[at] = v;
}

void ByteWriter::PatchU16(size_t at, uint16_t v) {
  PatchU8(at, static_cast<uint8_t>(v >> 8));
  PatchU8(at + 1, static_cast<uint8_t>(v));
}

void ByteWriter::PatchU32(size_t at, uint32_t v) {
  PatchU16(at, static_cast<uint16_t>(v >> 16));
  PatchU16(at + 2, static_cast<uint16_t>(v));
}

bool ByteWriter::EndLength(size_t at, size_t width, unsigned bits) {
  if (!ok_ || pos_ < at + width) return Require(false);
  const uint64_t length = pos_ - at - width;
  if (!Require(length < (uint64_t{1} << bits))) return false;
  if (width == 1) {
    PatchU8(at, static_cast<uint8_t>(length));
  } else if (width == 2) {
    // The high bits of a narrower field belong to the flags beside it.
    const uint16_t kept = static_cast<uint16_t>(data()[at] << 8 | data()[at + 1]);
    const uint16_t mask = static_cast<uint16_t>((uint32_t{1} << bits) - 1);
    PatchU16(at, static_cast<uint16_t>((kept & ~mask) | length));
  } else {
    PatchU32(at, static_cast<uint32_t>(length));
  }
  return ok_;
}

uint64_t BitReader::Bits(unsigned n) {
  if (n > 64 || !ok_ || bits_left() < n) {
    ok_ = false;
    return 0;
  }
  uint64_t value = 0;
  while (n > 0) {
    const size_t byte = static_cast<size_t>(bit_pos_ >> 3);
    const unsigned offset = static_cast<unsigned>(bit_pos_ & 7);
    const unsigned take = std::min(n, 8 - offset);
    const unsigned shift = 8 - offset - take;
    const uint64_t chunk = (data_[byte] >> shift) & ((1u << take) - 1);
    value = value << take | chunk;
    bit_pos_ += take;
    n -= take;
  }
  return value;
}

void BitReader::Skip(uint64_t n) {
  if (!ok_ || bits_left() < n) {
    ok_ = false;
    return;
  }
  bit_pos_ += n;
}

void BitReader::AlignToByte() {
  if (!byte_aligned()) Skip(8 - (bit_pos_ & 7));
}

uint32_t BitReader::Ue() {
  unsigned zeros = 0;
  while (ok_ && Bits(1) == 0) {
    if (++zeros > 31) {
      ok_ = false;
      return 0;
    }
  }
  if (!ok_) return 0;
  const uint64_t rest = Bits(zeros);
  return static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + rest);
}

int32_t BitReader::Se() {
  const uint32_t k = Ue();
  const int64_t magnitude = (int64_t{k} + 1) / 2;
  return static_cast<int32_t>((k & 1) ? magnitude : -magnitude);
}

void BitWriter::Bits(uint64_t value, unsigned n) {
  for (unsigned i = n; i-- > 0;) {
    if ((bit_pos_ & 7) == 0) bytes_.push_back(0);
    if ((value >> i) & 1) bytes_.back() |= static_cast<uint8_t>(0x80u >> (bit_pos_ & 7));
    ++bit_pos_;
  }
}

void BitWriter::AlignToByte() {
  if (bit_pos_ & 7) bit_pos_ += 8 - (bit_pos_ & 7);
}

std::string CharField(std::span<const uint8_t> raw) {
  const auto end = std::find(raw.begin(), raw.end(), uint8_t{0});
  return std::string(raw.begin(), end);
}

void SetCharField(std::span<uint8_t> field, std::string_view text) {
  std::fill(field.begin(), field.end(), uint8_t{0});
  std::copy_n(text.begin(), std::min(text.size(), field.size()), field.begin());
}

bool Failed(std::string* error, std::string text) {
  if (error) *error = std::move(text);
  return false;
}

std::string HexText(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 3);
  for (uint8_t b : bytes) {
    if (!text.empty()) text += ' ';
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
  }
  return text;
}

}  // namespace tessel
