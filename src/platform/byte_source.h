// Where an analysis reads its input and keeps its results: a file for the program, a block of
// memory for tests and fuzzing. The readers above run unchanged over either.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "platform/file_handle.h"

namespace tessel {

// Bytes delivered in order from the start.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to n bytes; 0 at the end of the data (or on a read error, see failed()).
  virtual size_t Read(uint8_t* out, size_t n) = 0;
  // Goes back to the first byte; false when that is not possible.
  virtual bool Rewind() = 0;
  // Total length when known (for progress and bounds), else 0.
  virtual uint64_t length() const = 0;
  virtual bool failed() const { return false; }
  // Last modification of the data in seconds since 1970 (UTC); 0 when it has none.
  virtual int64_t modification_time() const { return 0; }
};

class MemoryByteSource : public ByteSource {
 public:
  explicit MemoryByteSource(std::span<const uint8_t> data) : data_(data) {}
  size_t Read(uint8_t* out, size_t n) override;
  bool Rewind() override {
    pos_ = 0;
    return true;
  }
  uint64_t length() const override { return data_.size(); }

 private:
  std::span<const uint8_t> data_;
  size_t pos_ = 0;
};

class FileByteSource : public ByteSource {
 public:
  // Opens a regular file for a front-to-back read.
  bool Open(const std::filesystem::path& path);
  size_t Read(uint8_t* out, size_t n) override;
  bool Rewind() override;
  uint64_t length() const override { return length_; }
  bool failed() const override { return failed_; }
  int64_t modification_time() const override { return modification_time_; }

 private:
  FileHandle file_;
  uint64_t length_ = 0;
  int64_t modification_time_ = 0;
  bool failed_ = false;
};

// Bytes kept at offsets, read back and rewritten: the storage of a side file.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Exactly n bytes at `offset`; false when they are not all there.
  virtual bool ReadAt(uint64_t offset, uint8_t* out, size_t n) = 0;
  // Writes n bytes at `offset`, growing the data as needed.
  virtual bool WriteAt(uint64_t offset, const uint8_t* data, size_t n) = 0;
  // Ends the data at `size`.
  virtual bool Truncate(uint64_t size) = 0;
  virtual uint64_t length() const = 0;
};

class MemoryByteSink : public ByteSink {
 public:
  MemoryByteSink() = default;
  explicit MemoryByteSink(std::span<const uint8_t> data) : bytes_(data.begin(), data.end()) {}
  bool ReadAt(uint64_t offset, uint8_t* out, size_t n) override;
  bool WriteAt(uint64_t offset, const uint8_t* data, size_t n) override;
  bool Truncate(uint64_t size) override;
  uint64_t length() const override { return bytes_.size(); }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

class FileByteSink : public ByteSink {
 public:
  // An existing file (read only unless `writable`), or with `create` a new empty one.
  bool Open(const std::filesystem::path& path, bool create, bool writable = false);
  bool ReadAt(uint64_t offset, uint8_t* out, size_t n) override;
  bool WriteAt(uint64_t offset, const uint8_t* data, size_t n) override;
  bool Truncate(uint64_t size) override;
  // Kept up to date by every write, so that no read has to ask the system.
  uint64_t length() const override { return length_; }

 private:
  FileHandle file_;
  uint64_t length_ = 0;
};

}  // namespace tessel
