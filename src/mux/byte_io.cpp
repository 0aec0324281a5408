#include "mux/byte_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/files.h"

namespace tessel {

CFileSource::CFileSource(const std::filesystem::path& path)
    : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
    error_ = FileErrorText(path, errno);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    return;
  }
  size_ = static_cast<uint64_t>(st.st_size);
}

CFileSource::~CFileSource() {
  if (fd_ >= 0) ::close(fd_);
}

int64_t CFileSource::ReadAt(uint64_t offset, std::span<uint8_t> out) {
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t got =
        ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return static_cast<int64_t>(done);
}

int64_t CMemorySource::ReadAt(uint64_t offset, std::span<uint8_t> out) {
  if (offset >= bytes_.size()) return 0;
  const size_t n = std::min<uint64_t>(out.size(), bytes_.size() - offset);
  std::copy_n(bytes_.begin() + static_cast<ptrdiff_t>(offset), n, out.begin());
  return static_cast<int64_t>(n);
}

CFileSink::CFileSink(const std::filesystem::path& path)
    : path_(path), fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) {
  if (fd_ < 0) error_ = FileErrorText(path, errno);
}

CFileSink::~CFileSink() {
  if (fd_ >= 0) ::close(fd_);
}

bool CFileSink::WriteAt(uint64_t offset, std::span<const uint8_t> bytes) {
  if (fd_ < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put =
        ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      error_ = FileErrorText(path_, put < 0 ? errno : ENOSPC);
      return false;
    }
    done += static_cast<size_t>(put);
  }
  size_ = std::max(size_, offset + bytes.size());
  return true;
}

bool CFileSink::Append(std::span<const uint8_t> bytes) {
  return WriteAt(size_, bytes);
}

bool CMemorySink::Append(std::span<const uint8_t> bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return true;
}

bool CMemorySink::WriteAt(uint64_t offset, std::span<const uint8_t> bytes) {
  if (offset + bytes.size() > bytes_.size()) bytes_.resize(offset + bytes.size());
  std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<ptrdiff_t>(offset));
  return true;
}

}  // namespace tessel
