#include "mux/pipe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "es/graphics.h"
#include "es/lpcm.h"
#include "es/parser_base.h"
#include "formats/tables.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/prompt.h"

namespace tessel {

namespace {

constexpr uint64_t kTimestampMask = 0x1FFFFFFFFull;         // 33 bits
constexpr uint32_t kAudioKeyPointGap = 45000;               // 0.5 s at 90 kHz
constexpr size_t kPayloadSpace = kTransportPacketSize - 4;  // after the 4-byte TS header
// Larger than any access unit a disc stream may carry; an entry claiming more is damaged, and
// the unit buffer must not follow it.
constexpr uint32_t kMaxUnitSize = 32u << 20;

bool IsTwoPartAudio(uint8_t type) {
  return type == coding::kEac3 || type == coding::kDtsHd || type == coding::kDtsHdXll;
}

bool IsDtsFamily(uint8_t type) {
  return type == coding::kDts || type == coding::kDtsHd || type == coding::kDtsHdXll ||
         type == coding::kDtsHdSecondary;
}

bool HasPesExtension(uint8_t type) {
  return (IsAudioCodingType(type) && type != coding::kLpcm) || type == coding::kVc1;
}

bool IsCompositionSegment(uint32_t flags) {
  const uint8_t segment = flags & 0xFF;
  return segment == segment_type::kPresentationComposition ||
         segment == segment_type::kInteractiveComposition;
}

uint32_t DtsOrPts(const SAuEntry& unit) {
  return unit.dts ? unit.dts : unit.pts;
}

uint32_t Shifted(uint32_t time, int64_t offset) {
  return time ? static_cast<uint32_t>(time + offset) : 0;
}

// The stream_id_extension of an audio unit; its packets carry transport_priority 1 with 0x71.
uint8_t AudioStreamIdExtension(uint8_t type, uint32_t flags) {
  switch (type) {
    case coding::kAc3:
    case coding::kDts:
      return 0x71;
    case coding::kEac3:
    case coding::kDtsHd:
    case coding::kDtsHdXll:
      return flags == 0 ? 0x71 : 0x72;
    default:
      return 0x72;
  }
}

uint8_t PtsDtsFlags(uint8_t type, const SAuEntry& unit) {
  const uint32_t picture = unit.flags & au_flag::kPictureTypeMask;
  switch (type) {
    case coding::kMpeg2Video:
      return picture == 1 || picture == 2 ? 3 : 2;
    case coding::kH264:
    case coding::kMvc:
      return unit.dts != unit.pts ? 3 : 2;
    case coding::kVc1:
      return picture == 1 || picture == 2 ? 3 : 2;
    case coding::kPg:
    case coding::kIg: {
      const uint8_t segment = unit.flags & 0xFF;
      return segment >= segment_type::kObject && segment <= segment_type::kInteractiveComposition
                 ? 3
                 : 2;
    }
    default:
      return 2;
  }
}

uint32_t PesPacketLength(uint8_t type, const SAuEntry& unit) {
  return unit.size + (type == coding::kLpcm ? 4 : 0) + (PtsDtsFlags(type, unit) == 3 ? 13 : 8) +
         (HasPesExtension(type) ? 3 : 0);
}

bool ReadFully(int fd, uint8_t* data, size_t size, uint64_t offset) {
  while (size > 0) {
    const ssize_t n = ::pread(fd, data, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = 0;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

constexpr size_t kReadAheadSize = 1u << 20;

// Reads the current unit into the buffer: small units through the read-ahead block, larger ones
// straight from the file. False on a read error or a file shorter than it was.
bool ReadUnitBytes(SEsReader& r) {
  const SAuEntry& unit = r.current;
  if (unit.size >= kReadAheadSize) {
    return ReadFully(r.source_fd, r.buffer.data(), unit.size, unit.offset);
  }
  const bool held =
      unit.offset >= r.block_offset && unit.offset + unit.size <= r.block_offset + r.block.size();
  if (!held) {
    const size_t n =
        static_cast<size_t>(std::min<uint64_t>(kReadAheadSize, r.source_size - unit.offset));
    r.block.resize(n);
    r.block_offset = unit.offset;
    if (!ReadFully(r.source_fd, r.block.data(), n, unit.offset)) {
      r.block.clear();
      return false;
    }
  }
  std::memcpy(r.buffer.data(), r.block.data() + (unit.offset - r.block_offset), unit.size);
  return true;
}

// A unit that cannot be read shows the file error (or, at the end of the file, the read error
// of the analysis) after the path.
void ReportReadError(const std::filesystem::path& path) {
  if (errno != 0) {
    ShowMessage(FileErrorText(path, errno));
  } else {
    ShowMessage(
        Format("%s\n%s", path.string().c_str(), ParseResultMessage(parse_result::kReadError)));
  }
}

void SwapLpcmSamples(SEsReader& r) {
  const auto* wave = dynamic_cast<const PCM_WAVE_FORMAT*>(r.info.record.get());
  if (!wave) return;
  uint8_t* p = r.buffer.data();
  const uint32_t size = r.current.size;
  if (wave->bits_per_sample == 16) {
    for (uint32_t i = 0; i + 1 < size; i += 2) std::swap(p[i], p[i + 1]);
  } else if (wave->bits_per_sample == 20 || wave->bits_per_sample == 24) {
    for (uint32_t i = 0; i + 2 < size; i += 3) std::swap(p[i], p[i + 2]);
  }
}

// Makes the parsers analyse a source whose stream info file is missing or stale; 0, 1 or 2.
int AnalyseSource(const std::filesystem::path& path, const ProgressCallback& progress) {
  std::string error;
  switch (CheckStreamInfo(path, &error)) {
    case StreamInfoState::kCurrent:
      return 0;
    case StreamInfoState::kSourceError:
      ShowMessage(error);
      return 2;
    case StreamInfoState::kMissingOrStale:
      break;
  }
  CStreamInfo info;
  std::string message;
  const int result = ParseElementaryFile(path, info, message, progress);
  if (result == parse_result::kCancelled) return 1;
  if (result != parse_result::kOk) {
    ShowMessage(Format("%s\n%s", path.string().c_str(), message.c_str()));
    return 2;
  }
  return 0;
}

int OpenSourceFile(SEsReader& r, const std::filesystem::path& path) {
  r.source_path = path;
  r.source_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (r.source_fd < 0 || ::fstat(r.source_fd, &st) != 0) {
    ShowMessage(FileErrorText(path, errno));
    return 2;
  }
  r.source_size = static_cast<uint64_t>(st.st_size);
  if (!OpenStreamInfo(r.info, path, false) || !r.info.record) {
    ShowMessage(
        Format("%s\n%s", path.string().c_str(), ParseResultMessage(parse_result::kOpenError)));
    return 2;
  }
  return 0;
}

// An index from a range value: milliseconds or units; negative values count from the first.
int64_t RangeIndex(const SEsReader& r, uint8_t unit, int64_t value) {
  if (value < 0) return 0;
  if (unit != range_unit::kMilliseconds || r.frame_duration() <= 0) return value;
  return std::llround(static_cast<double>(value) / r.frame_duration());
}

// The selected units of a graphics stream: whole display sets of a time range in ms.
void SelectGraphicsRange(SEsReader& r, const SSourceRange& range) {
  const uint32_t count = r.info.header.auCount;
  if (range.start == -1 && range.end == -1) {
    r.first = 1;
    r.last = 0;
    return;
  }
  int64_t start = std::max<int64_t>(range.start, 0);
  int64_t end = range.end;
  if (start == 0 && end == 0 && range.start_cut <= 0) {
    r.first = 0;
    r.last = count - 1;
    return;
  }
  start += range.start_cut / 90;
  constexpr uint64_t kLatest = std::numeric_limits<uint32_t>::max();
  const uint64_t end_time = end <= 0 ? kLatest : std::min<uint64_t>(uint64_t(end) * 90, kLatest);
  const uint64_t start_time = static_cast<uint64_t>(start) * 90;
  if (start_time > kLatest ||
      !FindDisplaySetRange(r.info, static_cast<uint32_t>(start_time),
                           static_cast<uint32_t>(end_time), r.first, r.last)) {
    r.first = 2;
    r.last = 1;
  }
}

// The selected units of any other stream, clamped into the stream: -1 to -1 or a start after
// the end select nothing.
void SelectUnitRange(SEsReader& r, const SSourceRange& range) {
  const uint32_t count = r.info.header.auCount;
  const int64_t last_index = int64_t{count} - 1;
  if (range.start == -1 && range.end == -1) {
    r.first = 1;
    r.last = 0;
    return;
  }
  const double frame = r.frame_duration();
  int64_t cut_units = 0;
  if (range.start_cut > 0 && frame > 0) {
    cut_units = std::llround(static_cast<double>(range.start_cut) / 90.0 / frame);
  }
  int64_t start = RangeIndex(r, range.unit, range.start);
  int64_t end = range.end == 0 ? -1 : RangeIndex(r, range.unit, range.end);
  if (IsTwoPartAudio(r.coding_type())) {
    // Two units per frame: the core, then its extension.
    cut_units *= 2;
    if (range.unit == range_unit::kMilliseconds) {
      start *= 2;
      if (end >= 0) end = end * 2 + 1;
    }
  }
  start += cut_units;
  if (end < 0 || end > last_index) end = last_index;
  if (start > end) {
    r.first = 1;
    r.last = 0;
    return;
  }
  r.first = static_cast<uint32_t>(start);
  r.last = static_cast<uint32_t>(end);
  if (!IsVideoCodingType(r.coding_type())) return;
  // Video starts and ends on whole GOPs.
  if (r.first != 0) r.first = r.info.NearestRandomAccess(r.first);
  if (r.last != static_cast<uint32_t>(last_index)) {
    const uint32_t next = r.info.NearestRandomAccess(r.last);
    if (next == 0) {
      r.first = 1;
      r.last = 0;
      return;
    }
    r.last = std::min<uint32_t>(next - 1, static_cast<uint32_t>(last_index));
  }
  if (r.first >= count || r.first > r.last) {
    r.first = 1;
    r.last = 0;
  }
}

void SetTimeOffset(SEsReader& r, const SSourceRange& range) {
  const uint8_t type = r.coding_type();
  r.time_offset = 0;
  if (type == coding::kPg) {
    r.time_offset = range.graphics_time_base;
  } else if (type != coding::kIg && !r.Empty()) {
    if (const auto unit = r.info.GetAu(r.first)) {
      r.time_offset = int64_t{kFirstAuTime} - unit->pts;
    }
  }
  r.renumber_compositions = type == coding::kPg && r.first != 0;
}

// Opens one file of a source into a reader; 0, 1 (cancelled) or 2 (failed, reported).
int OpenReader(SEsReader& r, const SSourceRange& range, const ProgressCallback& progress) {
  if (const int result = AnalyseSource(range.path, progress); result != 0) return result;
  if (const int result = OpenSourceFile(r, range.path); result != 0) return result;
  if (r.coding_type() == coding::kPg) {
    SelectGraphicsRange(r, range);
  } else {
    SelectUnitRange(r, range);
  }
  SetTimeOffset(r, range);
  r.next = r.first;
  return 0;
}

// Reads the next unit of the range into the reader's buffer; false at the end of the range and
// on a damaged entry or a read error (then `failed`, with the message shown).
bool ReadNextUnit(SEsReader& r, bool& failed) {
  r.has_current = false;
  r.left = 0;
  if (r.Empty() || r.next > r.last) {
    std::vector<uint8_t>().swap(r.buffer);
    std::vector<uint8_t>().swap(r.block);
    return false;
  }
  const auto entry = r.info.GetAu(r.next);
  // A unit of no bytes would pass for the end unit.
  const bool inside = entry && entry->size != 0 && entry->size <= kMaxUnitSize &&
                      entry->offset <= r.source_size &&
                      entry->size <= r.source_size - entry->offset;
  if (!inside) {
    errno = 0;
    ReportReadError(entry ? r.source_path : r.info.path());
    failed = true;
    return false;
  }
  r.current = *entry;
  if (r.buffer.size() < r.current.size) r.buffer.resize(r.current.size);
  if (!ReadUnitBytes(r)) {
    ReportReadError(r.source_path);
    failed = true;
    return false;
  }
  if (r.coding_type() == coding::kLpcm) SwapLpcmSamples(r);
  r.current.dts = Shifted(r.current.dts, r.time_offset);
  r.current.pts = Shifted(r.current.pts, r.time_offset);
  ++r.next;
  r.read_pos = 0;
  r.left = r.current.size;
  r.has_current = true;
  return true;
}

void PreparePes(SEsReader& r) {
  const uint8_t type = r.coding_type();
  PesHeader& pes = r.ts.Pes.emplace();
  if (type == coding::kMpeg2Video || type == coding::kH264 || type == coding::kMvc) {
    pes.StreamID = 0xE0;
  } else if (type == coding::kLpcm || IsGraphicsCodingType(type)) {
    pes.StreamID = 0xBD;
  } else if (type == coding::kTextSubtitle) {
    pes.StreamID = 0xBF;
  } else if (HasPesExtension(type)) {
    pes.StreamID = 0xFD;
    pes.Extension.emplace().Extension2 =
        std::vector<uint8_t>{type == coding::kVc1 ? uint8_t{0x55} : uint8_t{0x71}};
  }
  if (type == coding::kLpcm) {
    if (const auto* wave = dynamic_cast<const PCM_WAVE_FORMAT*>(r.info.record.get())) {
      const uint32_t payload = wave->UnitPayloadSize();
      r.lpcm_header = {
          static_cast<uint8_t>(payload >> 8), static_cast<uint8_t>(payload),
          static_cast<uint8_t>(wave->ChannelAssignment() << 4 | wave->SamplingFrequency()),
          static_cast<uint8_t>(wave->BitsCode() << 6)};
    }
  }
  r.pes_ready = true;
}

// Fills the PES header of the unit that starts in this packet.
void SetUnitHeader(SEsReader& r, int64_t time_offset, TransportPacket& ts) {
  const uint8_t type = r.coding_type();
  const SAuEntry& unit = r.current;
  PesHeader& pes = *ts.Pes;
  const uint32_t length = PesPacketLength(type, unit);
  pes.PES_PacketLength = length > 0xFFFF ? 0 : static_cast<uint16_t>(length);
  const bool with_dts = PtsDtsFlags(type, unit) == 3;
  pes.PTS = Timestamp{with_dts ? kPrefixPtsWithDts : kPrefixPtsOnly,
                      static_cast<uint64_t>(time_offset + unit.pts) & kTimestampMask};
  if (with_dts) {
    pes.DTS = Timestamp{kPrefixDts, static_cast<uint64_t>(time_offset + unit.dts) & kTimestampMask};
  } else {
    pes.DTS.reset();
  }
  if (IsAudioCodingType(type) && pes.Extension && pes.Extension->Extension2) {
    // The AC-3 core of a TrueHD pair is told apart from the TrueHD units on the same PID by its
    // own extension id; with 0x71 a demultiplexer takes it for TrueHD.
    const uint8_t extension = r.pair_core ? 0x76 : AudioStreamIdExtension(type, unit.flags);
    (*pes.Extension->Extension2)[0] = extension;
    ts.TransportPriority = extension != 0x72;
  }
  if (length < 178) StuffAdaptationField(ts, 178 - length);
}

}  // namespace

SSourceRange SPipeSource::RangeOf(const std::filesystem::path& file) const {
  return {file, range_unit, range_start, range_end, graphics_time_base, start_cut};
}

SEsReader::~SEsReader() {
  if (source_fd >= 0) ::close(source_fd);
}

uint32_t PacketsForUnit(uint8_t coding_type, const SAuEntry& unit) {
  int64_t room = unit.dts == unit.pts ? 170 : 165;
  if (coding_type == coding::kLpcm) room -= 4;
  if (HasPesExtension(coding_type)) room -= 3;
  if (unit.size <= room) return 1;
  return static_cast<uint32_t>(1 + (unit.size - room + kPayloadSpace - 1) / kPayloadSpace);
}

CPipe::~CPipe() = default;

void CPipe::Close() {
  key_points_.clear();
  last_key_point_.reset();
  esi_.reset();
  end_unit_.reset();
}

bool CPipe::IsMultiplexed() {
  SEsReader* reader = PrimaryReader();
  return reader && reader->info.record && reader->info.record->IsMultiplexed();
}

bool CPipe::CurrentNotStarted() const {
  return reader_ && reader_->has_current && reader_->left == reader_->current.size;
}

uint32_t CPipe::AuCount() const {
  return reader_ ? reader_->Count() : 0;
}

uint32_t CPipe::CopyPayload(uint8_t* out, uint32_t n) {
  if (!reader_ || !reader_->has_current || reader_->left < n) return 0;
  std::memcpy(out, reader_->buffer.data() + reader_->read_pos, n);
  reader_->read_pos += n;
  reader_->left -= n;
  return n;
}

const SAuEntry* CPipe::CurrentAu() const {
  if (reader_) return reader_->has_current ? &reader_->current : nullptr;
  return end_unit_ ? &*end_unit_ : nullptr;
}

uint32_t CPipe::BytesLeft() const {
  return reader_ && reader_->has_current ? reader_->left : 0;
}

void CPipe::FillClipAttributes(StreamCodingInfo& info) {
  SetLanguage(info, std::string_view(source_.language.data(), source_.language.size()));
  const uint8_t* isrc = source_.isrc.data();
  std::copy(isrc, isrc + 2, info.CountryCode);
  std::copy(isrc + 2, isrc + 5, info.CopyrightHolder);
  std::copy(isrc + 5, isrc + 7, info.RecordingYear);
  std::copy(isrc + 7, isrc + 12, info.RecordingNumber);
}

void CPipe::FillPlaylistAttributes(StreamAttributes& attributes) {
  SetLanguage(attributes, std::string_view(source_.language.data(), source_.language.size()));
}

const SAuEntry* CPipe::EndUnit() {
  reader_ = nullptr;
  if (end_sent_ || failed_ ||
      !(IsVideoCodingType(coding_type_) || IsAudioCodingType(coding_type_))) {
    end_unit_.reset();
    return nullptr;
  }
  end_sent_ = true;
  const auto frame = static_cast<uint32_t>(last_duration_ * 90);
  SAuEntry& end = end_unit_.emplace();
  end.dts = last_dts_ ? last_dts_ + frame : 0;
  end.pts = last_pts_ ? last_pts_ + frame : 0;
  return &end;
}

void CPipe::RememberCurrent() {
  if (!reader_ || !reader_->has_current) return;
  const uint8_t type = reader_->coding_type();
  if (!IsVideoCodingType(type) && !IsAudioCodingType(type)) return;
  last_dts_ = reader_->current.dts;
  last_pts_ = reader_->current.pts;
  last_duration_ = reader_->frame_duration();
}

bool CPipe::IsKeyUnit(SEsReader& r) {
  const uint8_t type = r.coding_type();
  const SAuEntry& unit = r.current;
  if (IsVideoCodingType(type)) {
    return (unit.flags & (au_flag::kSequenceHeader | au_flag::kRandomAccess)) ||
           (unit.flags & au_flag::kPictureTypeMask) == 1;
  }
  if (IsAudioCodingType(type)) {
    // A companion's units follow those of the base file; entries start in the base stream.
    if (&r == SecondaryReader()) return false;
    if (r.last_audio_key_pts && unit.pts < *r.last_audio_key_pts + kAudioKeyPointGap) {
      return false;
    }
    r.last_audio_key_pts = unit.pts;
    return true;
  }
  if (IsGraphicsCodingType(type)) {
    return IsCompositionSegment(unit.flags) && CompositionState(unit.flags) != 0;
  }
  return false;
}

void CPipe::AddKeyPoint(SEsReader& r, SPacketRequest& request) {
  KEY_POINT_INFO point;
  point.Ordinal = static_cast<int32_t>(r.next - r.first);
  point.Pts = static_cast<uint64_t>(request.time_offset + r.current.pts) & kTimestampMask;
  if (!last_key_point_ || last_key_point_->Ordinal != point.Ordinal ||
      last_key_point_->Pts != point.Pts) {
    key_points_.push_back(point);
    last_key_point_ = point;
  }
  request.key_point = &key_points_.back();
}

bool CPipe::WritePacket(SPacketRequest& request) {
  request.key_point = nullptr;
  request.payload = 0;
  SEsReader* r = reader_;
  if (!r || !r->has_current || r->left == 0 || !request.output) return false;
  if (!r->pes_ready) PreparePes(*r);
  TransportPacket& ts = r->ts;
  ts.PID = static_cast<uint16_t>(request.pid & 0x1FFF);
  ts.ContinuityCounter = continuity_counter_;
  ts.AdaptationFieldControl = 1;
  ts.Adaptation.reset();
  const bool start = r->left == r->current.size;
  ts.PayloadUnitStartIndicator = start;
  const bool lpcm = start && r->coding_type() == coding::kLpcm;
  if (start) {
    SetUnitHeader(*r, request.time_offset, ts);
    if (request.key_point_wanted && IsKeyUnit(*r)) AddKeyPoint(*r, request);
    if (r->renumber_compositions && IsCompositionSegment(r->current.flags) &&
        r->current.size >= 10) {
      r->buffer[8] = static_cast<uint8_t>(r->composition_number >> 8);
      r->buffer[9] = static_cast<uint8_t>(r->composition_number);
      ++r->composition_number;
    }
  } else if (r->left < kPayloadSpace) {
    StuffAdaptationField(ts, kPayloadSpace - r->left);
  }
  ByteWriter& w = r->header_writer;
  w.Seek(0);
  const size_t header = WriteTransportPacket(w, ts);
  const size_t extra = lpcm ? r->lpcm_header.size() : 0;
  if (header + extra >= kTransportPacketSize) return false;
  uint8_t* out = request.output;
  std::memcpy(out, w.buffer().data(), header);
  if (lpcm) std::memcpy(out + header, r->lpcm_header.data(), extra);
  const size_t room = kTransportPacketSize - header - extra;
  const uint32_t n = static_cast<uint32_t>(std::min<size_t>(room, r->left));
  if (n != room) return false;  // the header arithmetic and the unit disagree
  CopyPayload(out + header + extra, n);
  const size_t adaptation = ts.HasAdaptationField() ? ts.Adaptation->AdaptationFieldLength + 1 : 0;
  request.payload = static_cast<uint32_t>(kPayloadSpace - adaptation);
  continuity_counter_ = (continuity_counter_ + 1) & 0xF;
  return true;
}

// --- CFilePipe --------------------------------------------------------------------------------

int CFilePipe::Open(const SPipeSource& source, const ProgressCallback& progress) {
  source_ = source;
  primary_ = std::make_unique<SEsReader>();
  if (const int result = OpenReader(*primary_, source.RangeOf(source.path), progress); result) {
    return result;
  }
  if (!source.second_path.empty()) {
    secondary_ = std::make_unique<SEsReader>();
    const int result = OpenReader(*secondary_, source.RangeOf(source.second_path), progress);
    if (result) return result;
    primary_->pair_core = true;
  }
  reader_ = primary_.get();
  const SEsReader& main = secondary_ ? *secondary_ : *primary_;
  coding_type_ = main.coding_type();
  frame_duration_ = primary_->frame_duration();
  return 0;
}

bool CFilePipe::IsBaseSubStream() {
  if (secondary_) return reader_ == primary_.get();
  if (!reader_ || !reader_->has_current) return true;
  if (IsDtsFamily(reader_->coding_type())) return !(reader_->current.flags & 1);
  return true;
}

const SAuEntry* CFilePipe::NextAu() {
  if (!primary_) return nullptr;
  if (!started_) {
    started_ = true;
    ReadNextUnit(*primary_, failed_);
    if (secondary_ && !failed_) ReadNextUnit(*secondary_, failed_);
  } else if (reader_) {
    RememberCurrent();
    ReadNextUnit(*reader_, failed_);
  } else {
    return EndUnit();
  }
  if (failed_) {
    reader_ = nullptr;
    return nullptr;
  }
  const bool p = primary_->has_current;
  const bool s = secondary_ && secondary_->has_current;
  if (p && s) {
    reader_ = DtsOrPts(secondary_->current) < DtsOrPts(primary_->current) ? secondary_.get()
                                                                          : primary_.get();
  } else if (p || s) {
    reader_ = p ? primary_.get() : secondary_.get();
  } else {
    return EndUnit();
  }
  return &reader_->current;
}

SFirstAuInfo CFilePipe::FirstAuInfo() {
  SFirstAuInfo info = ReaderFirstAuInfo(*primary_);
  if (secondary_) info.packets += ReaderFirstAuInfo(*secondary_).packets;
  return info;
}

void CFilePipe::TimeRange(uint64_t& low, uint64_t& high) {
  ReaderTimeRange(*primary_, low, high);
}

uint32_t CFilePipe::FirstPresentationTime() {
  return ReaderFirstPresentationTime(*primary_);
}

void CFilePipe::FillClipAttributes(StreamCodingInfo& info) {
  StreamAttributeValues values;
  primary_->info.record->FillAttributes(values);
  if (secondary_) secondary_->info.record->FillAttributes(values);
  SetAttributeValues(info, values);
  CPipe::FillClipAttributes(info);
}

void CFilePipe::FillPlaylistAttributes(StreamAttributes& attributes) {
  StreamAttributeValues values;
  primary_->info.record->FillAttributes(values);
  if (secondary_) secondary_->info.record->FillAttributes(values);
  SetAttributeValues(attributes, values);
  CPipe::FillPlaylistAttributes(attributes);
}

const ESI& CFilePipe::BuildEsi(uint16_t pid) {
  ESI& esi = esi_.emplace();
  primary_->info.record->FillPmtStream(esi);
  if (secondary_) {
    secondary_->info.record->FillPmtStream(esi);
    esi.StreamType = secondary_->coding_type();
  }
  AddLanguage(esi);
  esi.ElementaryPid = pid;
  return esi;
}

uint64_t CFilePipe::TotalBytes() {
  return ReaderTotalBytes(*primary_) + (secondary_ ? ReaderTotalBytes(*secondary_) : 0);
}

// --- CFlPipe ----------------------------------------------------------------------------------

int CFlPipe::Open(const SPipeSource& source, const ProgressCallback& progress) {
  source_ = source;
  readers_.clear();
  for (const auto& file : source.file_list) {
    auto reader = std::make_unique<SEsReader>();
    if (const int result = OpenReader(*reader, source.RangeOf(file), progress); result) {
      return result;
    }
    readers_.push_back(std::move(reader));
  }
  if (readers_.empty()) return 2;
  current_file_ = 0;
  reader_ = readers_.front().get();
  coding_type_ = reader_->coding_type();
  frame_duration_ = reader_->frame_duration();
  return 0;
}

const SAuEntry* CFlPipe::NextAu() {
  if (!reader_) return EndUnit();
  RememberCurrent();
  while (!ReadNextUnit(*reader_, failed_)) {
    if (failed_ || current_file_ + 1 >= readers_.size()) {
      if (!failed_) return EndUnit();
      reader_ = nullptr;
      return nullptr;
    }
    reader_ = readers_[++current_file_].get();
  }
  return &reader_->current;
}

SFirstAuInfo CFlPipe::FirstAuInfo() {
  return ReaderFirstAuInfo(*readers_.front());
}

void CFlPipe::TimeRange(uint64_t& low, uint64_t& high) {
  ReaderTimeRange(*readers_[current_file_], low, high);
}

uint32_t CFlPipe::FirstPresentationTime() {
  return ReaderFirstPresentationTime(*readers_[current_file_]);
}

void CFlPipe::FillClipAttributes(StreamCodingInfo& info) {
  StreamAttributeValues values;
  readers_[current_file_]->info.record->FillAttributes(values);
  SetAttributeValues(info, values);
  CPipe::FillClipAttributes(info);
}

void CFlPipe::FillPlaylistAttributes(StreamAttributes& attributes) {
  StreamAttributeValues values;
  readers_[current_file_]->info.record->FillAttributes(values);
  SetAttributeValues(attributes, values);
  CPipe::FillPlaylistAttributes(attributes);
}

const ESI& CFlPipe::BuildEsi(uint16_t pid) {
  ESI& esi = esi_.emplace();
  readers_[current_file_]->info.record->FillPmtStream(esi);
  AddLanguage(esi);
  esi.ElementaryPid = pid;
  return esi;
}

uint64_t CFlPipe::TotalBytes() {
  uint64_t total = 0;
  for (const auto& reader : readers_) total += ReaderTotalBytes(*reader);
  return total;
}

// --- helpers over one reader ------------------------------------------------------------------

SFirstAuInfo CPipe::ReaderFirstAuInfo(SEsReader& r) {
  SFirstAuInfo info;
  if (r.Empty()) return info;
  const auto first = r.info.GetAu(r.first);
  if (!first) return info;
  const uint8_t type = r.coding_type();
  info.pts = Shifted(first->pts, r.time_offset);
  info.dts = DtsOrPts(*first) ? Shifted(DtsOrPts(*first), r.time_offset) : 0;
  info.packets = PacketsForUnit(type, *first);
  if (!IsGraphicsCodingType(type)) return info;
  // A display set goes out as a whole: its units up to the next composition.
  for (uint32_t i = r.first + 1; i <= r.last; ++i) {
    const auto unit = r.info.GetAu(i);
    if (!unit || IsCompositionSegment(unit->flags)) break;
    info.dts = std::min(info.dts, Shifted(DtsOrPts(*unit), r.time_offset));
    info.packets += PacketsForUnit(type, *unit);
  }
  return info;
}

void CPipe::ReaderTimeRange(SEsReader& r, uint64_t& low, uint64_t& high) {
  low = high = 0;
  if (r.Empty()) return;
  const uint8_t type = r.coding_type();
  const auto frame = static_cast<uint64_t>(r.frame_duration() * 90);
  if (IsAudioCodingType(type)) {
    const auto first = r.info.GetAu(r.first);
    const auto last = r.info.GetAu(r.last);
    if (!first || !last) return;
    low = Shifted(first->pts, r.time_offset);
    high = Shifted(last->pts, r.time_offset) + frame;
    return;
  }
  const bool video = IsVideoCodingType(type);
  bool any = false;
  for (uint32_t i = r.first; i <= r.last; ++i) {
    const auto unit = r.info.GetAu(i);
    if (!unit) break;
    if (!video && !IsCompositionSegment(unit->flags)) continue;
    const uint64_t pts = Shifted(unit->pts, r.time_offset);
    low = any ? std::min(low, pts) : pts;
    high = any ? std::max(high, pts) : pts;
    any = true;
  }
  if (video && any) high += frame;
}

uint32_t CPipe::ReaderFirstPresentationTime(SEsReader& r) {
  if (!IsVideoCodingType(r.coding_type()) || r.Empty()) return kFirstAuTime;
  const auto first = r.info.GetAu(r.first);
  if (!first) return kFirstAuTime;
  int64_t lowest = first->pts;
  for (uint32_t i = r.first + 1; i <= r.last && i < r.first + 9; ++i) {
    if (const auto unit = r.info.GetAu(i)) lowest = std::min<int64_t>(lowest, unit->pts);
  }
  return static_cast<uint32_t>(int64_t{kFirstAuTime} + lowest - first->pts);
}

uint64_t CPipe::ReaderTotalBytes(SEsReader& r) {
  if (r.Empty()) return 0;
  const auto first = r.info.GetAu(r.first);
  const auto last = r.info.GetAu(r.last);
  if (!first || !last || last->offset + last->size < first->offset) return 0;
  return last->offset + last->size - first->offset;
}

void CPipe::SetAttributeValues(AttributeValues& out, const StreamAttributeValues& values) {
  out.StreamCodingType = values.coding_type;
  out.VideoFormat = values.video_format;
  out.FrameRate = values.frame_rate;
  out.AspectRatio = values.aspect_ratio;
  out.CcFlag = values.cc_flag;
  out.AudioPresentationType = values.presentation_type;
  out.SamplingFrequency = values.sampling_frequency;
  out.CharacterCode = values.character_code;
}

void CPipe::AddLanguage(ESI& esi) const {
  if (IsVideoCodingType(coding_type_)) return;
  Iso639LanguageDescriptor& language = esi.Language.emplace();
  std::copy(source_.language.begin(), source_.language.end(), language.Language.begin());
  language.AudioType = 0;
}

// --- factory ----------------------------------------------------------------------------------

int CreatePipe(const SPipeSource& source, const ProgressCallback& progress,
               std::unique_ptr<CPipe>& pipe) {
  if (source.file_list.empty()) {
    pipe = std::make_unique<CFilePipe>();
  } else {
    pipe = std::make_unique<CFlPipe>();
  }
  const int result = pipe->Open(source, progress);
  if (result != 0) pipe.reset();
  return result;
}

}  // namespace tessel
