// An open file descriptor with the reads and writes every reader of this program needs: whole
// reads that survive interruptions, 64-bit positional access and a hint for front-to-back scans.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace tessel {

class FileHandle {
 public:
  enum class Mode {
    kRead,
    kReadWrite,  // an existing file
    kCreate,     // read and write, created or emptied
    kWrite,      // write only, created or emptied
  };

  FileHandle() = default;
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  FileHandle(FileHandle&& other) noexcept;
  FileHandle& operator=(FileHandle&& other) noexcept;

  // False on failure, with the system's error number in error().
  bool Open(const std::filesystem::path& path, Mode mode = Mode::kRead);
  void Close();
  bool is_open() const { return fd_ >= 0; }
  int error() const { return error_; }

  // Size and last-modification time (seconds since 1970, UTC); 0 when they cannot be read.
  uint64_t Size();
  int64_t ModificationTime();
  bool IsRegularFile();

  // Reads from the current position until `n` bytes or the end of the file; -1 on an error.
  int64_t Read(uint8_t* out, size_t n);
  // Reads until `n` bytes or the end of the file from `offset`, leaving the position alone.
  int64_t ReadAt(uint64_t offset, uint8_t* out, size_t n);
  // Exactly `n` bytes at `offset`; false on an error or at the end of the file.
  bool ReadExactAt(uint64_t offset, uint8_t* out, size_t n) {
    return ReadAt(offset, out, n) == static_cast<int64_t>(n);
  }
  bool Write(const uint8_t* data, size_t n);
  bool WriteAt(uint64_t offset, const uint8_t* data, size_t n);
  bool Truncate(uint64_t size);
  bool Seek(uint64_t offset);
  // Tells the system the file will be read from front to back (larger read-ahead).
  void HintSequential();

 private:
  bool Fail();
  int fd_ = -1;
  int error_ = 0;
};

}  // namespace tessel
