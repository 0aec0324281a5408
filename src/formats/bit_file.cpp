#include "formats/bit_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tessel {
namespace {

ssize_t ReadFully(int fd, uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::read(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return done ? static_cast<ssize_t>(done) : -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

}  // namespace

BitFile::~BitFile() {
  Close();
}

bool BitFile::Open(const std::filesystem::path& path) {
  Close();
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return false;
  writing_ = false;
  buffer_.assign(kBufferSize, 0);
  pos_ = 0;
  bits_left_ = 8;
  bit_count_ = 0;
  read_failed_ = write_failed_ = false;
  const ssize_t n = ReadFully(fd_, buffer_.data(), kBufferSize);
  if (n <= 0) {
    Close();
    return false;
  }
  valid_ = static_cast<size_t>(n);
  return true;
}

bool BitFile::Create(const std::filesystem::path& path) {
  Close();
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) return false;
  writing_ = true;
  buffer_.assign(kBufferSize, 0);
  pos_ = valid_ = 0;
  bits_left_ = 8;
  assembling_ = 0;
  bit_count_ = 0;
  read_failed_ = write_failed_ = false;
  return true;
}

bool BitFile::Close() {
  if (fd_ < 0) return !write_failed_;
  if (writing_ && !write_failed_ && pos_ > 0) {
    if (::write(fd_, buffer_.data(), pos_) != static_cast<ssize_t>(pos_)) write_failed_ = true;
  }
  ::close(fd_);
  fd_ = -1;
  buffer_.clear();
  buffer_.shrink_to_fit();
  return !write_failed_;
}

bool BitFile::Refill() {
  if (pos_ < valid_) return true;
  if (read_failed_ || fd_ < 0 || writing_) {
    read_failed_ = true;
    return false;
  }
  const ssize_t n = ReadFully(fd_, buffer_.data(), kBufferSize);
  if (n <= 0) {
    read_failed_ = true;
    return false;
  }
  valid_ = static_cast<size_t>(n);
  pos_ = 0;
  return true;
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
  if (read_failed_ || writing_ || fd_ < 0) return false;
  const off_t file_pos = ::lseek(fd_, 0, SEEK_CUR);
  const std::vector<uint8_t> saved = buffer_;
  const size_t pos = pos_, valid = valid_;
  const unsigned bits_left = bits_left_;
  const uint64_t bit_count = bit_count_;
  const bool ok = ReadBits(16, value);
  buffer_ = saved;
  pos_ = pos;
  valid_ = valid;
  bits_left_ = bits_left;
  bit_count_ = bit_count;
  ::lseek(fd_, file_pos, SEEK_SET);
  return ok;
}

bool BitFile::Peek8Bytes(uint8_t (&out)[8]) {
  if (read_failed_ || writing_ || fd_ < 0) return false;
  const off_t file_pos = ::lseek(fd_, 0, SEEK_CUR);
  const std::vector<uint8_t> saved = buffer_;
  const size_t pos = pos_, valid = valid_;
  const unsigned bits_left = bits_left_;
  const uint64_t bit_count = bit_count_;
  const bool ok = ReadBytes(out, 8) == 8;
  buffer_ = saved;
  pos_ = pos;
  valid_ = valid;
  bits_left_ = bits_left;
  bit_count_ = bit_count;
  ::lseek(fd_, file_pos, SEEK_SET);
  return ok;
}

void BitFile::StoreByte(uint8_t b) {
  if (write_failed_) return;
  buffer_[pos_++] = b;
  if (pos_ == kBufferSize) {
    if (::write(fd_, buffer_.data(), pos_) != static_cast<ssize_t>(pos_)) write_failed_ = true;
    pos_ = 0;
  }
}

bool BitFile::WriteBits(uint32_t value, unsigned n) {
  if (!writing_ || fd_ < 0 || n > 32) return false;
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
