#include "es/stream_info.h"

#include <cmath>
#include <cstring>

#include "ts/crc32.h"

namespace tessel {
namespace {

// A record is small; a larger claim comes from a damaged file.
constexpr uint32_t kMaxRecordSize = 1 << 20;
constexpr uint64_t kChecksumAt = 4;
constexpr size_t kChecksumBlock = size_t{64} << 10;

}  // namespace

void LeWriter::U16(uint16_t v) {
  U8(static_cast<uint8_t>(v));
  U8(static_cast<uint8_t>(v >> 8));
}
void LeWriter::U32(uint32_t v) {
  U16(static_cast<uint16_t>(v));
  U16(static_cast<uint16_t>(v >> 16));
}
void LeWriter::U64(uint64_t v) {
  U32(static_cast<uint32_t>(v));
  U32(static_cast<uint32_t>(v >> 32));
}
void LeWriter::F64(double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  U64(bits);
}

bool LeReader::Take(size_t n) {
  if (!ok_ || data_.size() - pos_ < n) {
    ok_ = false;
    return false;
  }
  return true;
}
uint8_t LeReader::U8() {
  return Take(1) ? data_[pos_++] : 0;
}
uint16_t LeReader::U16() {
  if (!Take(2)) return 0;
  const uint16_t v = static_cast<uint16_t>(data_[pos_] | data_[pos_ + 1] << 8);
  pos_ += 2;
  return v;
}
uint32_t LeReader::U32() {
  if (!Take(4)) return 0;
  const uint32_t lo = U16();
  return lo | static_cast<uint32_t>(U16()) << 16;
}
uint64_t LeReader::U64() {
  if (!Take(8)) return 0;
  const uint64_t lo = U32();
  return lo | static_cast<uint64_t>(U32()) << 32;
}
double LeReader::F64() {
  const uint64_t bits = U64();
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}
void LeReader::Bytes(uint8_t* out, size_t n) {
  if (!Take(n)) {
    std::memset(out, 0, n);
    return;
  }
  std::memcpy(out, data_.data() + pos_, n);
  pos_ += n;
}
void LeReader::Skip(size_t n) {
  if (Take(n)) pos_ += n;
}

void SSifHeader::Write(LeWriter& out) const {
  out.Bytes({reinterpret_cast<const uint8_t*>(kMagic), 4});
  out.U32(checksum);
  out.U8(streamCodingType);
  out.U32(auCount);
  out.F64(auDuration);
  out.U32(bitRate);
  out.U32(bitRate2);
  out.U32(0);
  out.U32(startOffset);
  out.U32(auTableOffset);
  out.U64(totalSize);
  out.U64(static_cast<uint64_t>(sourceTime));
}

bool SSifHeader::Read(LeReader& in) {
  uint8_t magic[4];
  in.Bytes(magic, 4);
  checksum = in.U32();
  streamCodingType = in.U8();
  auCount = in.U32();
  auDuration = in.F64();
  bitRate = in.U32();
  bitRate2 = in.U32();
  in.Skip(4);
  startOffset = in.U32();
  auTableOffset = in.U32();
  totalSize = in.U64();
  sourceTime = static_cast<int64_t>(in.U64());
  return in.ok() && std::memcmp(magic, kMagic, 4) == 0;
}

void SAuEntry::Write(LeWriter& out) const {
  out.U32(size);
  out.U64(offset);
  out.U32(flags);
  out.U32(dts);
  out.U32(pts);
  out.U32(extra);
}

void SAuEntry::Read(LeReader& in) {
  size = in.U32();
  offset = in.U64();
  flags = in.U32();
  dts = in.U32();
  pts = in.U32();
  extra = in.U32();
}

uint32_t ConstantRateTime(uint64_t n, double au_duration_ms) {
  const double ticks = std::trunc(static_cast<double>(n) * au_duration_ms * 90 + kFirstAuTime);
  if (!std::isfinite(ticks) || ticks < 0) return 0;
  // Time stamps are held in 32 bits and wrap, as the 90 kHz clock of a stream does.
  return static_cast<uint32_t>(std::fmod(ticks, 4294967296.0));
}

double StreamDurationMs(const SSifHeader& header) {
  const uint8_t type = header.streamCodingType;
  const bool two_part =
      type == coding::kEac3 || type == coding::kDtsHd || type == coding::kDtsHdXll;
  return (two_part ? header.auCount / 2 : header.auCount) * header.auDuration;
}

uint8_t PresentationTypeFromChannels(int core, int extension) {
  if (core == 1) return extension == 0 ? 1 : 0;
  if (core == 2) return extension > 2 ? 12 : 3;
  if (core >= 3) return 6;
  return 0;
}

void CAudioSif::FillAttributes(StreamAttributeValues& values) const {
  values.coding_type = CodingType(true);
  values.presentation_type = PresentationType();
  values.sampling_frequency = SamplingFrequency();
}

CStreamInfo::~CStreamInfo() {
  Close();
}

bool CStreamInfo::Create(const std::filesystem::path& path) {
  Close();
  auto file = std::make_unique<FileByteSink>();
  if (!file->Open(path, true)) return false;
  sink_ = std::move(file);
  path_ = path;
  header = SSifHeader{};
  record.reset();
  return true;
}

void CStreamInfo::CreateInMemory() {
  Close();
  sink_ = std::make_unique<MemoryByteSink>();
  path_.clear();
  header = SSifHeader{};
  record.reset();
}

bool CStreamInfo::Open(const std::filesystem::path& path) {
  Close();
  auto file = std::make_unique<FileByteSink>();
  if (!file->Open(path, false)) return false;
  sink_ = std::move(file);
  path_ = path;
  return Load();
}

bool CStreamInfo::Open(std::unique_ptr<ByteSink> bytes) {
  Close();
  path_.clear();
  sink_ = std::move(bytes);
  return sink_ && Load();
}

bool CStreamInfo::Load() {
  uint8_t raw[SSifHeader::kSize];
  LeReader in(raw);
  const uint64_t length = sink_->length();
  bool ok = sink_->ReadAt(0, raw, sizeof raw) && header.Read(in) && header.IsValid() &&
            std::isfinite(header.auDuration) && header.auDuration >= 0 &&
            header.auTableOffset >= SSifHeader::kSize && header.auTableOffset <= length &&
            header.auTableOffset - SSifHeader::kSize <= kMaxRecordSize;
  if (ok) {
    std::vector<uint8_t> body(header.auTableOffset - SSifHeader::kSize);
    record = CreateSifRecord(header.streamCodingType);
    LeReader body_in(body);
    ok = record && sink_->ReadAt(SSifHeader::kSize, body.data(), body.size()) &&
         record->Read(body_in) && body_in.ok();
  }
  // Damage the structure cannot show (an attribute byte, a time stamp) shows here.
  ok = ok && (header.checksum == 0 || ComputeChecksum() == header.checksum);
  if (!ok) {
    Close();
    header = SSifHeader{};
    record.reset();
  }
  return ok;
}

void CStreamInfo::Close() {
  sink_.reset();
  DropAuBlock();
}

void CStreamInfo::CloseAndDelete() {
  Close();
  if (!path_.empty()) {
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
}

void CStreamInfo::CreateRecord(uint8_t coding_type) {
  header.streamCodingType = coding_type;
  record = CreateSifRecord(coding_type);
}

bool CStreamInfo::WriteHeaderAndRecord() {
  if (!sink_) return false;
  LeWriter body;
  if (record) record->Write(body);
  header.auTableOffset = static_cast<uint32_t>(SSifHeader::kSize + body.size());
  LeWriter out;
  header.Write(out);
  out.Bytes(body.bytes());
  DropAuBlock();
  return sink_->WriteAt(0, out.bytes().data(), out.size());
}

bool CStreamInfo::Append(std::span<const uint8_t> bytes) {
  return sink_ && sink_->WriteAt(sink_->length(), bytes.data(), bytes.size());
}

bool CStreamInfo::ReplaceFrom(uint64_t offset, std::span<const uint8_t> bytes) {
  DropAuBlock();
  return sink_ && sink_->WriteAt(offset, bytes.data(), bytes.size()) &&
         sink_->Truncate(offset + bytes.size());
}

std::optional<uint32_t> CStreamInfo::ComputeChecksum() const {
  const uint64_t length = sink_->length();
  std::vector<uint8_t> block(static_cast<size_t>(std::min<uint64_t>(length, kChecksumBlock)));
  uint32_t crc = 0xFFFFFFFFu;
  for (uint64_t at = 0; at < length;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(block.size(), length - at));
    if (!sink_->ReadAt(at, block.data(), n)) return std::nullopt;
    if (at == 0) std::fill_n(block.begin() + kChecksumAt, 4, uint8_t{0});
    crc = Crc32Mpeg2(std::span<const uint8_t>(block).first(n), crc);
    at += n;
  }
  // 0 stands for "no checksum".
  return crc == 0 ? 1 : crc;
}

bool CStreamInfo::Seal() {
  if (!sink_ || sink_->length() < SSifHeader::kSize) return false;
  const std::optional<uint32_t> crc = ComputeChecksum();
  if (!crc) return false;
  header.checksum = *crc;
  LeWriter out;
  out.U32(*crc);
  DropAuBlock();
  return sink_->WriteAt(kChecksumAt, out.bytes().data(), out.size());
}

bool CStreamInfo::FitsSource(uint64_t source_size) const {
  if (!sink_ || !record || header.auCount == 0 || header.startOffset > source_size) return false;
  if (record->ComputesEntries()) {
    // Computed units follow each other by construction; the last may be a frame cut off by the
    // end of the file, but it starts inside it.
    const std::optional<SAuEntry> last = GetAu(header.auCount - 1);
    return last && last->offset <= source_size;
  }
  const uint64_t end = record->EntriesEnd(FileLength());
  if (end > FileLength() || end <= header.auTableOffset) return false;
  if (!record->FitsFileLength(FileLength())) return false;
  const uint64_t table = end - header.auTableOffset;
  if (table % header.auCount != 0 || table / header.auCount < SAuEntry::kSize) return false;
  uint64_t previous = 0;
  for (uint32_t i = 0; i < header.auCount; ++i) {
    const std::optional<SAuEntry> entry = GetAu(i);
    if (!entry || entry->offset < previous || entry->offset > source_size ||
        entry->size > source_size - entry->offset) {
      return false;
    }
    previous = entry->offset;
  }
  return true;
}

uint64_t CStreamInfo::FileLength() const {
  return sink_ ? sink_->length() : 0;
}

bool CStreamInfo::LoadAuBlock(uint64_t offset, uint64_t stride) const {
  if (offset >= au_block_start_ && offset - au_block_start_ + SAuEntry::kSize <= au_block_.size()) {
    return true;
  }
  DropAuBlock();
  // Whole entries from the one holding `offset` back to the start of its block, so that a scan
  // in either direction stays inside what was read.
  const uint64_t per_block = std::max<uint64_t>(kAuBlockSize / stride, 1);
  const uint64_t first = (offset - header.auTableOffset) / stride / per_block * per_block;
  const uint64_t start = header.auTableOffset + first * stride;
  const uint64_t length = sink_->length();
  const uint64_t size = std::min(per_block * stride, length - std::min(length, start));
  if (offset - start + SAuEntry::kSize > size) return false;
  au_block_.resize(static_cast<size_t>(size));
  if (!sink_->ReadAt(start, au_block_.data(), au_block_.size())) {
    DropAuBlock();
    return false;
  }
  au_block_start_ = start;
  return true;
}

std::optional<SAuEntry> CStreamInfo::GetAu(uint32_t index) const {
  if (index >= header.auCount || !record || !sink_) return std::nullopt;
  if (record->ComputesEntries()) return record->ComputeEntry(header, index);
  const uint64_t end = record->EntriesEnd(FileLength());
  if (end <= header.auTableOffset) return std::nullopt;
  const uint64_t stride = (end - header.auTableOffset) / header.auCount;
  if (stride < SAuEntry::kSize) return std::nullopt;
  const uint64_t offset = header.auTableOffset + uint64_t{index} * stride;
  if (!LoadAuBlock(offset, stride)) return std::nullopt;
  LeReader in(std::span<const uint8_t>(au_block_).subspan(
      static_cast<size_t>(offset - au_block_start_), SAuEntry::kSize));
  SAuEntry entry;
  entry.Read(in);
  return entry;
}

bool CStreamInfo::IsRandomAccess(uint32_t index) const {
  const auto entry = GetAu(index);
  return entry && (entry->flags & au_flag::kRandomAccess);
}

uint32_t CStreamInfo::FindRandomAccessAfter(uint32_t index) const {
  const uint32_t count = header.auCount;
  if (count == 1) return 0;
  for (uint32_t i = index; i < count; ++i) {
    if (IsRandomAccess(i)) return i;
  }
  return count;
}

int64_t CStreamInfo::FindRandomAccessBefore(uint32_t index) const {
  if (header.auCount == 1) return 0;
  if (header.auCount == 0) return -1;
  for (int64_t i = std::min(index, header.auCount - 1); i >= 0; --i) {
    if (IsRandomAccess(static_cast<uint32_t>(i))) return i;
  }
  return -1;
}

uint32_t CStreamInfo::NearestRandomAccess(uint32_t index) const {
  if (header.auCount == 1) return 0;
  if (IsRandomAccess(index)) return index;
  const uint32_t after = FindRandomAccessAfter(index);
  const int64_t before = FindRandomAccessBefore(index);
  if (before < 0 || index - before >= static_cast<int64_t>(after) - index) return after;
  return static_cast<uint32_t>(before);
}

}  // namespace tessel
