#include "formats/sound.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include "formats/field_access.h"
#include "formats/index.h"
#include "platform/file_handle.h"
#include "platform/files.h"
#include "platform/format.h"

namespace tessel {
namespace {

constexpr size_t kHeaderSize = 40;
constexpr size_t kIndexStart = kHeaderSize;
constexpr size_t kEntrySize = 10;
constexpr uint8_t kTypeIndicator[4] = {'B', 'C', 'L', 'K'};

// Texts of the attribute codes; any code past a table's end is reserved too.
constexpr std::string_view kChannelTexts[] = {"Reserved", "Mono", "Reserved", "Stereo", "Reserved"};
constexpr std::string_view kSamplingTexts[] = {"Reserved", "48K", "Reserved", "Reserved"};
constexpr std::string_view kBitsTexts[] = {"Reserved", "16 bit", "Reserved"};

template <size_t N>
std::string_view CodeText(const std::string_view (&texts)[N], uint8_t code) {
  return code < N ? texts[code] : "Reserved";
}

// Random access to the bytes of a sound file: a buffer or an open file.
class Source {
 public:
  virtual ~Source() = default;
  virtual uint64_t Size() const = 0;
  // The n bytes at `offset`, which the caller has checked to lie inside: a view of the source's
  // own memory, or read into `buffer`.
  virtual bool ReadAt(uint64_t offset, size_t n, std::vector<uint8_t>& buffer,
                      std::span<const uint8_t>& bytes, std::string* error) = 0;
};

class MemorySource final : public Source {
 public:
  explicit MemorySource(std::span<const uint8_t> data) : data_(data) {}
  uint64_t Size() const override { return data_.size(); }
  bool ReadAt(uint64_t offset, size_t n, std::vector<uint8_t>&, std::span<const uint8_t>& bytes,
              std::string*) override {
    bytes = data_.subspan(offset, n);
    return true;
  }

 private:
  std::span<const uint8_t> data_;
};

class FileSource final : public Source {
 public:
  FileSource(FileHandle& file, const std::filesystem::path& path)
      : file_(file), size_(file.Size()), path_(path) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, size_t n, std::vector<uint8_t>& buffer,
              std::span<const uint8_t>& bytes, std::string* error) override {
    buffer.resize(n);
    const int64_t got = file_.ReadAt(offset, buffer.data(), n);
    if (got < 0) return Failed(error, FileErrorText(path_, file_.error()));
    if (got != static_cast<int64_t>(n)) {
      return Failed(error, Format("%s: the file ended early", path_.c_str()));
    }
    bytes = buffer;
    return true;
  }

 private:
  FileHandle& file_;
  uint64_t size_;
  const std::filesystem::path& path_;
};

// The n bytes at `offset` of the part of the file named `what`; fails without reading (or
// allocating) when they do not lie inside the file.
bool Fetch(Source& in, uint64_t offset, uint64_t n, const char* what, std::vector<uint8_t>& buffer,
           std::span<const uint8_t>& bytes, std::string* error) {
  if (offset > in.Size() || in.Size() - offset < n) {
    if (!error) return false;  // a caller that wants no reason need not pay for formatting one
    return Failed(
        error, Format("%s at %llu (%llu bytes) lies outside the file (%llu bytes)", what,
                      static_cast<unsigned long long>(offset), static_cast<unsigned long long>(n),
                      static_cast<unsigned long long>(in.Size())));
  }
  return in.ReadAt(offset, static_cast<size_t>(n), buffer, bytes, error);
}

SSoundEntry ReadEntry(ByteReader& in) {
  SSoundEntry entry;
  const uint8_t coding = in.U8();
  entry.ChannelConfiguration = coding >> 4;
  entry.SamplingFrequency = coding & 0x0F;
  entry.BitsPerSample = in.U8() >> 6;
  entry.SoundDataStartAddress = in.U32();
  entry.SoundDataStartLength = in.U32();
  return entry;
}

void WriteEntry(const SSoundEntry& entry, ByteWriter& out) {
  out.U8(static_cast<uint8_t>((entry.ChannelConfiguration & 0x0F) << 4 |
                              (entry.SamplingFrequency & 0x0F)));
  out.U8(static_cast<uint8_t>((entry.BitsPerSample & 0x03) << 6));
  out.U32(entry.SoundDataStartAddress);
  out.U32(entry.SoundDataStartLength);
}

bool ReadHeader(Source& in, SoundFile& record, std::string* error) {
  if (in.Size() < kHeaderSize) {
    return Failed(error, Format("the file has %llu bytes, fewer than its %zu-byte header",
                                static_cast<unsigned long long>(in.Size()), kHeaderSize));
  }
  std::vector<uint8_t> buffer;
  std::span<const uint8_t> bytes;
  if (!Fetch(in, 0, kHeaderSize, "the header", buffer, bytes, error)) return false;
  ByteReader header(bytes);
  header.Bytes(record.TypeIndicator);
  if (std::memcmp(record.TypeIndicator, kTypeIndicator, 4) != 0) {
    return Failed(error, Format("the type indicator is \"%s\", not \"BCLK\"",
                                CharField(record.TypeIndicator).c_str()));
  }
  header.Bytes(record.VersionNumber);
  record.SoundDataStartAddress = header.U32();
  record.ExtensionDataStartAddress = header.U32();
  return true;
}

// Every entry's data must lie inside the file, or a copy of it would take bytes from elsewhere.
bool CheckEntryData(const SoundFile& record, uint64_t file_size, std::string* error) {
  for (size_t i = 0; i < record.SoundIndex.size(); ++i) {
    const SSoundEntry& entry = record.SoundIndex[i];
    const uint64_t start = uint64_t{record.SoundDataStartAddress} + entry.SoundDataStartAddress;
    if (start > file_size || file_size - start < entry.SoundDataStartLength) {
      if (!error) return false;
      return Failed(
          error, Format("SoundEntry %zu: its data at %llu (%u bytes) lies outside the "
                        "file (%llu bytes)",
                        i + 1, static_cast<unsigned long long>(start), entry.SoundDataStartLength,
                        static_cast<unsigned long long>(file_size)));
    }
  }
  return true;
}

bool ReadIndex(Source& in, SoundFile& record, std::string* error) {
  std::vector<uint8_t> buffer;
  std::span<const uint8_t> bytes;
  if (!Fetch(in, kIndexStart, 4, "SoundIndex", buffer, bytes, error)) return false;
  record.SoundIndexLength = ByteReader(bytes).U32();
  if (record.SoundIndexLength == 0) return true;
  if (!Fetch(in, kIndexStart + 4, 2, "SoundIndex", buffer, bytes, error)) return false;
  const uint8_t count = bytes[1];
  if (count == 0) {
    return Failed(error, Format("SoundIndex: NumberOfSoundEntries is 0 with Length %u",
                                record.SoundIndexLength));
  }
  if (record.SoundIndexLength < 2 + kEntrySize * count) {
    return Failed(error, Format("SoundIndex: Length %u is too short for %u entries",
                                record.SoundIndexLength, count));
  }
  if (!Fetch(in, kIndexStart, uint64_t{record.SoundIndexLength} + 4, "SoundIndex", buffer, bytes,
             error)) {
    return false;
  }
  ByteReader entries(bytes);
  entries.Skip(6);
  record.SoundIndex.reserve(count);
  for (uint8_t i = 0; i < count; ++i) record.SoundIndex.push_back(ReadEntry(entries));
  return CheckEntryData(record, in.Size(), error);
}

bool ReadExtension(Source& in, SoundFile& record, std::string* error) {
  const uint32_t address = record.ExtensionDataStartAddress;
  if (address == 0) return true;
  std::vector<uint8_t> buffer;
  std::span<const uint8_t> bytes;
  if (!Fetch(in, address, 4, "ExtensionData", buffer, bytes, error)) return false;
  const uint32_t length = ByteReader(bytes).U32();
  if (length & 0x80000000u) {
    return Failed(error, Format("ExtensionData at %u: its Length 0x%08X has the top bit set",
                                address, length));
  }
  if (!Fetch(in, address, uint64_t{length} + 4, "ExtensionData", buffer, bytes, error)) {
    return false;
  }
  record.ExtensionData.assign(bytes.begin(), bytes.end());
  return true;
}

bool Parse(Source& in, SoundFile& record, std::string* error) {
  record = SoundFile{};
  const bool read = ReadHeader(in, record, error) && ReadIndex(in, record, error) &&
                    ReadExtension(in, record, error);
  if (!read) record = SoundFile{};
  return read;
}

bool WriteAll(int fd, std::span<const uint8_t> bytes, const std::filesystem::path& path,
              std::string* error) {
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Failed(error, FileErrorText(path, n < 0 ? errno : EIO));
    done += static_cast<size_t>(n);
  }
  return true;
}

// A file created beside its destination and removed again unless committed by renaming it over the
// destination.
class PendingFile {
 public:
  explicit PendingFile(const std::filesystem::path& destination)
      : destination_(destination), name_(destination.string() + ".XXXXXX") {
    fd_ = ::mkstemp(name_.data());
    created_ = fd_ >= 0;
    open_errno_ = errno;
    if (created_) {
      const mode_t mask = ::umask(0);
      ::umask(mask);
      ::fchmod(fd_, 0666 & ~mask);
    }
  }
  ~PendingFile() {
    if (fd_ >= 0) ::close(fd_);
    if (created_ && !committed_) ::unlink(name_.c_str());
  }
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  int fd() const { return fd_; }
  bool Open(std::string* error) const {
    return fd_ >= 0 || Failed(error, FileErrorText(destination_, open_errno_));
  }
  bool Commit(std::string* error) {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 || ::rename(name_.c_str(), destination_.c_str()) != 0) {
      return Failed(error, FileErrorText(destination_, errno));
    }
    committed_ = true;
    return true;
  }

 private:
  const std::filesystem::path& destination_;
  std::string name_;
  int fd_ = -1;
  int open_errno_ = 0;
  bool created_ = false;
  bool committed_ = false;
};

// Writes each entry's data from `provider` after the placeholders, giving the entries the addresses
// and lengths of what was written; `offset` ends past the last byte of sound data.
bool WriteSoundData(int fd, uint64_t data_start, const SoundDataProvider& provider,
                    std::vector<SSoundEntry>& entries, uint64_t& offset,
                    const std::filesystem::path& path, std::string* error) {
  std::vector<uint8_t> data;
  for (size_t i = 0; i < entries.size(); ++i) {
    data.clear();
    std::string reason = "no sound data";
    if (!provider(i, data, &reason) || data.empty()) {
      return Failed(error, Format("SoundEntry %zu: %s", i + 1, reason.c_str()));
    }
    if (data_start + offset + data.size() > std::numeric_limits<uint32_t>::max()) {
      return Failed(error, "the sound data does not fit the 32-bit addresses of Sound.bdmv");
    }
    if (!WriteAll(fd, data, path, error)) return false;
    entries[i].SoundDataStartAddress = static_cast<uint32_t>(offset);
    entries[i].SoundDataStartLength = static_cast<uint32_t>(data.size());
    offset += data.size();
  }
  return true;
}

// The header and the SoundIndex, with the addresses and lengths already recomputed.
std::vector<uint8_t> HeadBytes(const SoundFile& record) {
  ByteWriter head;
  head.Bytes(record.TypeIndicator, sizeof record.TypeIndicator);
  head.Bytes(record.VersionNumber, sizeof record.VersionNumber);
  head.U32(record.SoundDataStartAddress);
  head.U32(record.ExtensionDataStartAddress);
  head.Zeros(24);
  head.U32(record.SoundIndexLength);
  head.U8(0);
  head.U8(static_cast<uint8_t>(record.SoundIndex.size()));
  for (const SSoundEntry& entry : record.SoundIndex) WriteEntry(entry, head);
  return head.Take();
}

}  // namespace

void SSoundEntry::Dump(std::string_view prefix, DumpArchive& archive) const {
  archive.DecName(prefix, "ChannelConfiguration", ChannelConfiguration,
                  CodeText(kChannelTexts, ChannelConfiguration));
  archive.DecName(prefix, "SamplingFrequency", SamplingFrequency,
                  CodeText(kSamplingTexts, SamplingFrequency));
  archive.DecName(prefix, "BitsPerSample", BitsPerSample, CodeText(kBitsTexts, BitsPerSample));
  archive.Int(prefix, "SoundDataStartAddress", SoundDataStartAddress);
  archive.Int(prefix, "SoundDataStartLength", SoundDataStartLength);
}

bool SoundFile::Read(std::span<const uint8_t> file, std::string* error) {
  MemorySource source(file);
  return Parse(source, *this, error);
}

bool SoundFile::ReadFile(const std::filesystem::path& path, std::string* error) {
  *this = SoundFile{};
  FileHandle file;
  if (!file.Open(path)) return Failed(error, FileErrorText(path, file.error()));
  FileSource source(file, path);
  return Parse(source, *this, error);
}

bool SoundFile::WriteFile(const std::filesystem::path& path, const SoundDataProvider& provider,
                          std::string* error) {
  const size_t count = SoundIndex.size();
  if (count > kMaxEntries) {
    return Failed(error, Format("%zu sound entries, more than %zu", count, kMaxEntries));
  }
  PendingFile out(path);
  if (!out.Open(error)) return false;
  // The header and the index are placeholders until the addresses are known.
  const uint64_t data_start = kHeaderSize + 6 + kEntrySize * count;
  if (!WriteAll(out.fd(), std::vector<uint8_t>(data_start, 0), path, error)) return false;

  std::vector<SSoundEntry> entries = SoundIndex;
  uint64_t offset = 0;
  if (!WriteSoundData(out.fd(), data_start, provider, entries, offset, path, error)) return false;

  uint64_t extension_start = 0;
  if (!ExtensionData.empty()) {
    extension_start = data_start + offset;
    if (extension_start > std::numeric_limits<uint32_t>::max()) {
      return Failed(error, "the extension data does not fit the 32-bit addresses of Sound.bdmv");
    }
    if (!WriteAll(out.fd(), ExtensionData, path, error)) return false;
  }

  SoundFile written = *this;
  written.SoundDataStartAddress = static_cast<uint32_t>(data_start);
  written.ExtensionDataStartAddress = static_cast<uint32_t>(extension_start);
  written.SoundIndexLength = count ? static_cast<uint32_t>(2 + kEntrySize * count) : 0;
  written.SoundIndex = std::move(entries);
  if (::lseek(out.fd(), 0, SEEK_SET) != 0) return Failed(error, FileErrorText(path, errno));
  if (!WriteAll(out.fd(), HeadBytes(written), path, error) || !out.Commit(error)) return false;
  *this = std::move(written);
  return true;
}

void SoundFile::Dump(std::string_view prefix, DumpArchive& archive) const {
  if (archive.IsLoading()) return;
  const std::string inner = Nested(prefix);
  const std::string entry = Nested(inner);
  archive.Chars(prefix, "TypeIndicator", TypeIndicator);
  archive.Chars(prefix, "VersionNumber", VersionNumber);
  archive.Int(prefix, "SoundDataStartAddress", SoundDataStartAddress);
  archive.Int(prefix, "ExtensionDataStartAddress", ExtensionDataStartAddress);
  archive.Heading(prefix, "SoundIndex");
  archive.Int(inner, "Length", SoundIndexLength);
  if (SoundIndexLength != 0) {
    archive.Int(inner, "NumberOfSoundEntries", static_cast<int64_t>(SoundIndex.size()));
    for (size_t i = 0; i < SoundIndex.size(); ++i) {
      archive.ElementTight(inner, "SoundEntry", static_cast<int>(i + 1));
      SoundIndex[i].Dump(entry, archive);
    }
  }
  if (!ExtensionData.empty()) DumpRawExtensionData(ExtensionData, prefix, archive);
}

SoundDataProvider SoundDataFromFile(const std::filesystem::path& source, const SoundFile& record) {
  struct Place {
    uint64_t offset;
    uint32_t length;
  };
  std::vector<Place> places;
  for (const SSoundEntry& entry : record.SoundIndex) {
    places.push_back({uint64_t{record.SoundDataStartAddress} + entry.SoundDataStartAddress,
                      entry.SoundDataStartLength});
  }
  return [source, places](size_t index, std::vector<uint8_t>& data, std::string* error) {
    if (index >= places.size()) return Failed(error, "the source file has no such sound entry");
    FileHandle file;
    if (!file.Open(source)) return Failed(error, FileErrorText(source, file.error()));
    FileSource in(file, source);
    std::span<const uint8_t> bytes;
    return Fetch(in, places[index].offset, places[index].length, "its data", data, bytes, error);
  };
}

}  // namespace tessel
