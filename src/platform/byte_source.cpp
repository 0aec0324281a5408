#include "platform/byte_source.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace tessel {

size_t MemoryByteSource::Read(uint8_t* out, size_t n) {
  n = std::min(n, data_.size() - pos_);
  if (n != 0) std::memcpy(out, data_.data() + pos_, n);
  pos_ += n;
  return n;
}

bool FileByteSource::Open(const std::filesystem::path& path) {
  failed_ = false;
  length_ = 0;
  if (!file_.Open(path) || !file_.IsRegularFile()) {
    file_.Close();
    return false;
  }
  length_ = file_.Size();
  modification_time_ = file_.ModificationTime();
  file_.HintSequential();
  return true;
}

size_t FileByteSource::Read(uint8_t* out, size_t n) {
  if (!file_.is_open()) return 0;
  const int64_t got = file_.Read(out, n);
  if (got < 0) {
    failed_ = true;
    return 0;
  }
  return static_cast<size_t>(got);
}

bool FileByteSource::Rewind() {
  failed_ = false;
  return file_.is_open() && file_.Seek(0);
}

bool MemoryByteSink::ReadAt(uint64_t offset, uint8_t* out, size_t n) {
  if (offset > bytes_.size() || bytes_.size() - offset < n) return false;
  if (n != 0) std::memcpy(out, bytes_.data() + offset, n);
  return true;
}

bool MemoryByteSink::WriteAt(uint64_t offset, const uint8_t* data, size_t n) {
  if (offset > std::numeric_limits<size_t>::max() - n) return false;
  const size_t end = static_cast<size_t>(offset) + n;
  if (end > bytes_.size()) bytes_.resize(end);
  if (n != 0) std::memcpy(bytes_.data() + offset, data, n);
  return true;
}

bool MemoryByteSink::Truncate(uint64_t size) {
  if (size > std::numeric_limits<size_t>::max()) return false;
  bytes_.resize(static_cast<size_t>(size));
  return true;
}

bool FileByteSink::Open(const std::filesystem::path& path, bool create, bool writable) {
  using Mode = FileHandle::Mode;
  const Mode mode = create ? Mode::kCreate : writable ? Mode::kReadWrite : Mode::kRead;
  length_ = 0;
  if (!file_.Open(path, mode)) return false;
  length_ = create ? 0 : file_.Size();
  return true;
}

bool FileByteSink::ReadAt(uint64_t offset, uint8_t* out, size_t n) {
  return file_.ReadExactAt(offset, out, n);
}

bool FileByteSink::WriteAt(uint64_t offset, const uint8_t* data, size_t n) {
  if (!file_.WriteAt(offset, data, n)) return false;
  length_ = std::max(length_, offset + n);
  return true;
}

bool FileByteSink::Truncate(uint64_t size) {
  if (!file_.Truncate(size)) return false;
  length_ = size;
  return true;
}

}  // namespace tessel
