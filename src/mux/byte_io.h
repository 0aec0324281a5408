// Where the demultiplexer and the rip tracks read source packets from and write elementary
// streams to: a file in the program, memory in tests and the fuzzer. Offsets and sizes are
// 64-bit throughout, since clips pass 4 GiB.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tessel {

class CByteSource {
 public:
  virtual ~CByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Reads up to out.size() bytes at `offset`; fewer only at the end. -1 on a read error.
  virtual int64_t ReadAt(uint64_t offset, std::span<uint8_t> out) = 0;
};

class CByteSink {
 public:
  virtual ~CByteSink() = default;
  // Appends; false when the bytes could not be written (the text says why).
  virtual bool Append(std::span<const uint8_t> bytes) = 0;
  // Overwrites bytes already written (header fields patched at the end).
  virtual bool WriteAt(uint64_t offset, std::span<const uint8_t> bytes) = 0;
  virtual uint64_t Size() const = 0;
  virtual const std::string& error() const = 0;
};

class CFileSource : public CByteSource {
 public:
  explicit CFileSource(const std::filesystem::path& path);
  ~CFileSource() override;
  CFileSource(const CFileSource&) = delete;
  CFileSource& operator=(const CFileSource&) = delete;

  bool ok() const { return fd_ >= 0; }
  const std::string& error() const { return error_; }
  uint64_t Size() const override { return size_; }
  int64_t ReadAt(uint64_t offset, std::span<uint8_t> out) override;

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
  std::string error_;
};

class CMemorySource : public CByteSource {
 public:
  explicit CMemorySource(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  uint64_t Size() const override { return bytes_.size(); }
  int64_t ReadAt(uint64_t offset, std::span<uint8_t> out) override;

 private:
  std::span<const uint8_t> bytes_;
};

class CFileSink : public CByteSink {
 public:
  // Creates (or truncates) the file; check ok().
  explicit CFileSink(const std::filesystem::path& path);
  ~CFileSink() override;
  CFileSink(const CFileSink&) = delete;
  CFileSink& operator=(const CFileSink&) = delete;

  bool ok() const { return fd_ >= 0; }
  bool Append(std::span<const uint8_t> bytes) override;
  bool WriteAt(uint64_t offset, std::span<const uint8_t> bytes) override;
  uint64_t Size() const override { return size_; }
  const std::string& error() const override { return error_; }

 private:
  std::filesystem::path path_;
  int fd_ = -1;
  uint64_t size_ = 0;
  std::string error_;
};

class CMemorySink : public CByteSink {
 public:
  bool Append(std::span<const uint8_t> bytes) override;
  bool WriteAt(uint64_t offset, std::span<const uint8_t> bytes) override;
  uint64_t Size() const override { return bytes_.size(); }
  const std::string& error() const override { return error_; }
  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  std::string error_;
};

}  // namespace tessel
