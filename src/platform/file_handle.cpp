#include "platform/file_handle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace tessel {
namespace {

int OpenFlags(FileHandle::Mode mode) {
  switch (mode) {
    case FileHandle::Mode::kRead:
      return O_RDONLY;
    case FileHandle::Mode::kReadWrite:
      return O_RDWR;
    case FileHandle::Mode::kCreate:
      return O_RDWR | O_CREAT | O_TRUNC;
    case FileHandle::Mode::kWrite:
      return O_WRONLY | O_CREAT | O_TRUNC;
  }
  return O_RDONLY;
}

}  // namespace

FileHandle::FileHandle(FileHandle&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), error_(other.error_) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    error_ = other.error_;
  }
  return *this;
}

bool FileHandle::Fail() {
  error_ = errno;
  return false;
}

bool FileHandle::Open(const std::filesystem::path& path, Mode mode) {
  Close();
  error_ = 0;
  do {
    fd_ = ::open(path.c_str(), OpenFlags(mode) | O_CLOEXEC, 0644);
  } while (fd_ < 0 && errno == EINTR);
  return fd_ >= 0 || Fail();
}

void FileHandle::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

uint64_t FileHandle::Size() {
  struct stat st;
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return 0;
  return static_cast<uint64_t>(st.st_size);
}

int64_t FileHandle::ModificationTime() {
  struct stat st;
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return 0;
  return static_cast<int64_t>(st.st_mtime);
}

bool FileHandle::IsRegularFile() {
  struct stat st;
  return fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
}

int64_t FileHandle::Read(uint8_t* out, size_t n) {
  size_t done = 0;
  while (done < n) {
    const ssize_t got = ::read(fd_, out + done, n - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Fail(), -1;
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return static_cast<int64_t>(done);
}

int64_t FileHandle::ReadAt(uint64_t offset, uint8_t* out, size_t n) {
  size_t done = 0;
  while (done < n) {
    const ssize_t got = ::pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Fail(), -1;
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return static_cast<int64_t>(done);
}

bool FileHandle::Write(const uint8_t* data, size_t n) {
  while (n > 0) {
    const ssize_t put = ::write(fd_, data, n);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return Fail();
    data += put;
    n -= static_cast<size_t>(put);
  }
  return true;
}

bool FileHandle::WriteAt(uint64_t offset, const uint8_t* data, size_t n) {
  while (n > 0) {
    const ssize_t put = ::pwrite(fd_, data, n, static_cast<off_t>(offset));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return Fail();
    data += put;
    n -= static_cast<size_t>(put);
    offset += static_cast<uint64_t>(put);
  }
  return true;
}

bool FileHandle::Truncate(uint64_t size) {
  return ::ftruncate(fd_, static_cast<off_t>(size)) == 0 || Fail();
}

bool FileHandle::Seek(uint64_t offset) {
  return ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0 || Fail();
}

void FileHandle::HintSequential() {
  if (fd_ >= 0) ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

}  // namespace tessel
