#include "platform/file_copy.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/files.h"

namespace tessel {
namespace {

// The buffer of the last resort; a fixed size whatever the file's.
constexpr size_t kBufferSize = 1u << 20;

class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() { Close(); }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int get() const { return fd_; }
  // The result of close(), which is where some file systems report a failed write.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return fd < 0 || close(fd) == 0;
  }

 private:
  int fd_;
};

class CopyJob {
 public:
  CopyJob(int in, int out, uint64_t size, const ProgressCallback& progress,
          const SCopyOptions& options)
      : in_(in), out_(out), size_(size), progress_(progress), options_(options) {}

  // Moves the data; cancelled or failed (errno_ and error_path_ say why).
  JobResult Run(SCopyStats& stats);
  int error_number() const { return errno_; }
  bool failed_on_source() const { return on_source_; }

 private:
  bool TryReflink();
  JobResult CopySegments();
  JobResult CopyData(uint64_t begin, uint64_t end);
  bool CopyChunk(uint64_t offset, uint64_t length);
  bool RangeCopy(uint64_t offset, uint64_t length);
  bool BufferCopy(uint64_t offset, uint64_t length);
  bool Fail(int error_number, bool on_source) {
    errno_ = error_number;
    on_source_ = on_source;
    return false;
  }

  int in_;
  int out_;
  uint64_t size_;
  const ProgressCallback& progress_;
  SCopyOptions options_;
  bool range_copy_ = true;
  CopyMethod used_ = CopyMethod::kRangeCopy;
  uint64_t data_bytes_ = 0;
  std::vector<uint8_t> buffer_;
  int errno_ = 0;
  bool on_source_ = false;
};

JobResult CopyJob::Run(SCopyStats& stats) {
  range_copy_ = options_.method != CopyMethod::kBuffer;
  used_ = range_copy_ ? CopyMethod::kRangeCopy : CopyMethod::kBuffer;
  JobResult result = JobResult::kDone;
  if (options_.method == CopyMethod::kAuto && TryReflink()) {
    used_ = CopyMethod::kReflink;
    data_bytes_ = size_;
    if (!ReportPosition(progress_, 100)) result = JobResult::kCancelled;
  } else {
    result = CopySegments();
  }
  stats.method = used_;
  stats.data_bytes = data_bytes_;
  return result;
}

bool CopyJob::TryReflink() {
  return size_ > 0 && ioctl(out_, FICLONE, in_) == 0;
}

// Walks the data segments between the holes, so that a sparse file stays sparse; where the
// file system cannot tell holes, the whole file is one segment.
JobResult CopyJob::CopySegments() {
  uint64_t offset = 0;
  while (offset < size_) {
    const off_t data = lseek(in_, static_cast<off_t>(offset), SEEK_DATA);
    if (data < 0 && errno == ENXIO) break;
    const uint64_t begin = data < 0 ? offset : static_cast<uint64_t>(data);
    const off_t hole = data < 0 ? -1 : lseek(in_, data, SEEK_HOLE);
    const uint64_t end = hole < 0 ? size_ : std::min<uint64_t>(static_cast<uint64_t>(hole), size_);
    if (end <= begin) break;
    const JobResult result = CopyData(begin, end);
    if (result != JobResult::kDone) return result;
    offset = end;
  }
  if (ftruncate(out_, static_cast<off_t>(size_)) != 0) {
    Fail(errno, false);
    return JobResult::kFailed;
  }
  if (offset < size_ && !ReportPosition(progress_, 100)) return JobResult::kCancelled;
  return JobResult::kDone;
}

JobResult CopyJob::CopyData(uint64_t begin, uint64_t end) {
  const uint64_t chunk = std::max<uint64_t>(options_.chunk_size, 1);
  for (uint64_t offset = begin; offset < end;) {
    const uint64_t length = std::min(chunk, end - offset);
    if (!CopyChunk(offset, length)) return JobResult::kFailed;
    offset += length;
    data_bytes_ += length;
    if (!ReportPosition(progress_, PercentOf(offset, size_))) return JobResult::kCancelled;
  }
  return JobResult::kDone;
}

bool CopyJob::CopyChunk(uint64_t offset, uint64_t length) {
  if (range_copy_) return RangeCopy(offset, length);
  return BufferCopy(offset, length);
}

bool CopyJob::RangeCopy(uint64_t offset, uint64_t length) {
  while (length > 0) {
    loff_t in_offset = static_cast<loff_t>(offset);
    loff_t out_offset = static_cast<loff_t>(offset);
    const ssize_t n = copy_file_range(in_, &in_offset, out_, &out_offset, length, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)) {
      // Not between these two file systems: the buffer takes over from here.
      range_copy_ = false;
      used_ = CopyMethod::kBuffer;
      return BufferCopy(offset, length);
    }
    if (n < 0) return Fail(errno, false);
    if (n == 0) return Fail(EIO, true);  // the source got shorter while it was copied
    offset += static_cast<uint64_t>(n);
    length -= static_cast<uint64_t>(n);
  }
  return true;
}

bool CopyJob::BufferCopy(uint64_t offset, uint64_t length) {
  buffer_.resize(kBufferSize);
  while (length > 0) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(length, buffer_.size()));
    const ssize_t got = pread(in_, buffer_.data(), want, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Fail(errno, true);
    if (got == 0) return Fail(EIO, true);
    for (ssize_t written = 0; written < got;) {
      const ssize_t n = pwrite(out_, buffer_.data() + written, static_cast<size_t>(got - written),
                               static_cast<off_t>(offset) + written);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return Fail(errno, false);
      written += n;
    }
    offset += static_cast<uint64_t>(got);
    length -= static_cast<uint64_t>(got);
  }
  return true;
}

JobResult Failed(const std::filesystem::path& path, int error_number, std::string* error) {
  if (error) *error = FileErrorText(path, error_number);
  return JobResult::kFailed;
}

// Finishes the scratch file: the source's times, then the close that may report a late error.
bool Finish(ScopedFd& out, const struct stat& source_status) {
  const struct timespec times[2] = {source_status.st_atim, source_status.st_mtim};
  if (futimens(out.get(), times) != 0) return false;
  return out.Close();
}

}  // namespace

std::filesystem::path CopyScratchPath(const std::filesystem::path& target) {
  return target.parent_path() / ("." + target.filename().string() + ".part");
}

JobResult CopyFile(const std::filesystem::path& source, const std::filesystem::path& target,
                   const ProgressCallback& progress, std::string* error,
                   const SCopyOptions& options, SCopyStats* stats) {
  ScopedFd in(open(source.c_str(), O_RDONLY | O_CLOEXEC));
  if (in.get() < 0) return Failed(source, errno, error);
  struct stat status {};
  if (fstat(in.get(), &status) != 0) return Failed(source, errno, error);
  if (!S_ISREG(status.st_mode))
    return Failed(source, S_ISDIR(status.st_mode) ? EISDIR : EINVAL, error);

  const std::filesystem::path scratch = CopyScratchPath(target);
  if (unlink(scratch.c_str()) != 0 && errno != ENOENT) return Failed(target, errno, error);
  ScopedFd out(
      open(scratch.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, status.st_mode & 0777));
  if (out.get() < 0) return Failed(target, errno, error);

  CopyJob job(in.get(), out.get(), static_cast<uint64_t>(status.st_size), progress, options);
  SCopyStats local;
  JobResult result = job.Run(stats ? *stats : local);
  int error_number = job.error_number();
  const std::filesystem::path* failed_path = job.failed_on_source() ? &source : &target;
  if (result == JobResult::kDone && !Finish(out, status)) {
    result = JobResult::kFailed;
    error_number = errno;
    failed_path = &target;
  }
  if (result == JobResult::kDone && rename(scratch.c_str(), target.c_str()) != 0) {
    result = JobResult::kFailed;
    error_number = errno;
  }
  if (result == JobResult::kDone) return result;
  out.Close();
  unlink(scratch.c_str());
  if (result == JobResult::kFailed) return Failed(*failed_path, error_number, error);
  return result;
}

}  // namespace tessel
