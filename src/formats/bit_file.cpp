#include "formats/bit_file.h"

#include <algorithm>
#include <cstring>

namespace tessel {

BitFile::~BitFile() {
  Close();
}

void BitFile::Reset(bool writing) {
  writing_ = writing;
  buffer_.assign(kBufferSize, 0);
  pos_ = valid_ = 0;
  bits_left_ = 8;
  assembling_ = 0;
  bit_count_ = 0;
  read_failed_ = write_failed_ = false;
}

bool BitFile::Open(const std::filesystem::path& path) {
  Close();
  auto file = std::make_unique<FileByteSource>();
  if (!file->Open(path)) return false;
  owned_ = std::move(file);
  source_ = owned_.get();
  return StartReading();
}

bool BitFile::Open(ByteSource& source) {
  Close();
  if (!source.Rewind()) return false;
  source_ = &source;
  return StartReading();
}

bool BitFile::StartReading() {
  Reset(false);
  if (!Fill(1)) {
    Close();
    return false;
  }
  read_failed_ = false;
  return true;
}

bool BitFile::Create(const std::filesystem::path& path) {
  Close();
  if (!out_.Open(path, FileHandle::Mode::kWrite)) return false;
  Reset(true);
  return true;
}

bool BitFile::Close() {
  if (writing_ && out_.is_open() && !write_failed_ && pos_ > 0) {
    if (!out_.Write(buffer_.data(), pos_)) write_failed_ = true;
  }
  out_.Close();
  source_ = nullptr;
  owned_.reset();
  writing_ = false;
  buffer_.clear();
  buffer_.shrink_to_fit();
  return !write_failed_;
}

bool BitFile::Fill(size_t need) {
  if (valid_ - pos_ >= need) return true;
  if (read_failed_ || source_ == nullptr || writing_) return false;
  std::memmove(buffer_.data(), buffer_.data() + pos_, valid_ - pos_);
  valid_ -= pos_;
  pos_ = 0;
  while (valid_ < need) {
    const size_t got = source_->Read(buffer_.data() + valid_, buffer_.size() - valid_);
    if (got == 0) return false;
    valid_ += got;
  }
  return true;
}

bool BitFile::Refill() {
  if (pos_ < valid_) return true;
  if (Fill(1)) return true;
  read_failed_ = true;
  return false;
}

bool BitFile::ReadBits(unsigned n, uint32_t& value) {
  if (read_failed_ || n > 32 || writing_) return false;
  uint32_t v = 0;
  if (bits_left_ == 8 && n % 8 == 0) {
    for (unsigned i = 0; i < n / 8; ++i) {
      if (!Refill()) return false;
      v = v << 8 | buffer_[pos_];
      ++pos_;
      bit_count_ += 8;
    }
  } else {
    for (unsigned i = 0; i < n; ++i) {
      if (!Refill()) return false;
      const uint32_t bit = (buffer_[pos_] & (1u << (bits_left_ - 1))) ? 1 : 0;
      v = v << 1 | bit;
      ++bit_count_;
      if (--bits_left_ == 0) {
        bits_left_ = 8;
        ++pos_;
      }
    }
  }
  value = v;
  return true;
}

bool BitFile::SkipBits(uint64_t n) {
  if (read_failed_ || writing_) return false;
  // Finish the current byte bit by bit, then move by whole bytes across blocks.
  while (n > 0 && bits_left_ != 8) {
    uint32_t ignored;
    if (!ReadBits(1, ignored)) return false;
    --n;
  }
  uint64_t bytes = n / 8;
  while (bytes > 0) {
    if (!Refill()) return false;
    const size_t step = static_cast<size_t>(std::min<uint64_t>(bytes, valid_ - pos_));
    pos_ += step;
    bit_count_ += uint64_t{step} * 8;
    bytes -= step;
  }
  for (unsigned i = 0; i < n % 8; ++i) {
    uint32_t ignored;
    if (!ReadBits(1, ignored)) return false;
  }
  return true;
}

size_t BitFile::ReadBytes(uint8_t* out, size_t count) {
  if (writing_) {
    if (bits_left_ != 8) PadZeros(bits_left_);
    return 0;
  }
  if (bits_left_ != 8 && !SkipBits(bits_left_)) return 0;
  size_t done = 0;
  while (done < count) {
    if (!Refill()) break;
    const size_t step = std::min(count - done, valid_ - pos_);
    std::memcpy(out + done, buffer_.data() + pos_, step);
    pos_ += step;
    bit_count_ += uint64_t{step} * 8;
    done += step;
  }
  return done;
}

bool BitFile::Peek16(uint32_t& value) {
  if (read_failed_ || writing_ || source_ == nullptr) return false;
  // Sixteen bits from inside a byte touch three bytes.
  const size_t need = bits_left_ == 8 ? 2 : 3;
  if (!Fill(need)) {
    read_failed_ = true;
    return false;
  }
  const uint8_t* p = buffer_.data() + pos_;
  const uint32_t window = uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | (need == 3 ? p[2] : 0u);
  value = window >> (bits_left_ == 8 ? 8 : bits_left_) & 0xFFFF;
  return true;
}

void BitFile::StoreByte(uint8_t b) {
  if (write_failed_) return;
  buffer_[pos_++] = b;
  if (pos_ == kBufferSize) {
    if (!out_.Write(buffer_.data(), pos_)) write_failed_ = true;
    pos_ = 0;
  }
}

bool BitFile::WriteBits(uint32_t value, unsigned n) {
  if (!writing_ || !out_.is_open() || n > 32) return false;
  for (unsigned i = n; i-- > 0;) {
    assembling_ = static_cast<uint8_t>(assembling_ << 1 | ((value >> i) & 1));
    ++bit_count_;
    if (--bits_left_ == 0) {
      StoreByte(assembling_);
      assembling_ = 0;
      bits_left_ = 8;
    }
  }
  return !write_failed_;
}

bool BitFile::PadZeros(unsigned n) {
  for (unsigned i = 0; i < n; ++i) WriteBits(0, 1);
  return !write_failed_;
}

std::span<const uint8_t> BitFile::Window() {
  if (writing_ || bits_left_ != 8 || read_failed_) return {};
  if (pos_ >= valid_ && !Refill()) return {};
  return {buffer_.data() + pos_, valid_ - pos_};
}

void BitFile::Advance(size_t n) {
  n = std::min(n, valid_ - pos_);
  pos_ += n;
  bit_count_ += uint64_t{n} * 8;
}

}  // namespace tessel
