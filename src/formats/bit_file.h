// Buffered bit-exact reader (and writer) over data of any size, in 256 KiB blocks. It reads a file
// by its path or any byte source (memory for tests and fuzzing).
//
// Failures are reported only through return values and the two flags: the read-failure flag is
// set at the end of the data or on a read error, the write-failure flag on a short write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

#include "platform/byte_source.h"
#include "platform/file_handle.h"

namespace tessel {

class BitFile {
 public:
  static constexpr size_t kBufferSize = 0x40000;

  BitFile() = default;
  ~BitFile();
  BitFile(const BitFile&) = delete;
  BitFile& operator=(const BitFile&) = delete;

  // Opens for reading and reads the first block; fails on an empty or unreadable file.
  bool Open(const std::filesystem::path& path);
  // The same over a source, read from its first byte; the source must outlive the reading.
  bool Open(ByteSource& source);
  // Creates (or truncates) a file for writing.
  bool Create(const std::filesystem::path& path);
  // In writing mode, flushes the filled part of the buffer unless a write failed; then closes.
  // Returns false when any write failed.
  bool Close();
  bool is_open() const { return source_ != nullptr || out_.is_open(); }

  // Reads n <= 32 bits, most significant first, right-aligned into `value`.
  bool ReadBits(unsigned n, uint32_t& value);
  bool SkipBits(uint64_t n);
  // Aligns to the next byte boundary, then reads up to `count` bytes; returns how many it read.
  size_t ReadBytes(uint8_t* out, size_t count);
  // The next 16 bits without consuming them; at the end of the data it fails and sets the
  // read-failure flag, leaving everything else as it was.
  bool Peek16(uint32_t& value);

  // Writing mode: appends n bits of `value` (n <= 32) / n zero bits.
  bool WriteBits(uint32_t value, unsigned n);
  bool PadBits(unsigned n) { return PadZeros(n); }

  // Bits consumed (reading) or produced (writing) since the start of the file.
  uint64_t bit_count() const { return bit_count_; }
  uint64_t byte_offset() const { return bit_count_ / 8; }
  bool byte_aligned() const { return bits_left_ == 8; }
  bool read_failed() const { return read_failed_; }
  bool write_failed() const { return write_failed_; }

  // Fast path for scanners: the valid bytes of the buffer from the current (byte-aligned)
  // position, refilling first when none are left; empty at the end of the file.
  std::span<const uint8_t> Window();
  // Consumes n bytes of the current window (n <= Window().size()).
  void Advance(size_t n);

 private:
  bool StartReading();
  bool Refill();  // reads the next block when the buffer is used up
  // Keeps the unread bytes and tops the buffer up; false when fewer than `need` are then there.
  bool Fill(size_t need);
  bool PadZeros(unsigned n);
  void StoreByte(uint8_t b);
  void Reset(bool writing);

  ByteSource* source_ = nullptr;
  std::unique_ptr<FileByteSource> owned_;  // the source of Open(path)
  FileHandle out_;                         // writing mode
  bool writing_ = false;
  std::vector<uint8_t> buffer_;
  uint8_t assembling_ = 0;  // writing mode: the byte being assembled
  size_t pos_ = 0;          // position in the buffer
  unsigned bits_left_ = 8;  // bits left in the current byte
  size_t valid_ = 0;        // valid bytes in the buffer
  uint64_t bit_count_ = 0;
  bool read_failed_ = false;
  bool write_failed_ = false;
};

}  // namespace tessel
