#include "mux/rip_track.h"

#include <algorithm>
#include <cstring>

#include "formats/field_access.h"
#include "formats/tables.h"
#include "platform/common.h"
#include "platform/format.h"
#include "platform/prompt.h"
#include "platform/string_table.h"
#include "ts/psi.h"
#include "ts/ts_packet.h"

namespace tessel {
namespace {

constexpr uint64_t kTimeMask = (1ull << 33) - 1;
constexpr size_t kScanChunkSize = 0x600000;
constexpr int64_t kFindTolerance = 5;
constexpr int64_t kAudioKeyPointSpacing = 45000;

// Position of `needle` in `bytes`, or bytes.size().
size_t Find(std::span<const uint8_t> bytes, std::span<const uint8_t> needle) {
  const auto it = std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end());
  return static_cast<size_t>(it - bytes.begin());
}

bool Contains(std::span<const uint8_t> bytes, std::initializer_list<uint8_t> needle) {
  return Find(bytes, std::span(needle.begin(), needle.size())) < bytes.size();
}

// An SPS and an access unit delimiter, each after a 4-byte start code, before the first slice.
bool AvcUnitStartsSequence(std::span<const uint8_t> es) {
  bool sps = false;
  bool aud = false;
  for (size_t i = 0; i + 4 < es.size(); ++i) {
    if (es[i] != 0 || es[i + 1] != 0 || es[i + 2] != 1) continue;
    const uint8_t type = es[i + 3] & 0x1F;
    const bool four_byte = i > 0 && es[i - 1] == 0;
    if (type == 1 || type == 5) break;
    if (four_byte && type == 7) sps = true;
    if (four_byte && type == 9) aud = true;
  }
  return sps && aud;
}

// The unit type the scan notes from the first packet of a unit.
uint32_t UnitType(uint8_t coding_type, std::span<const uint8_t> es) {
  switch (coding_type) {
    case coding::kPg:
    case coding::kIg: {
      if (es.empty()) return 0;
      uint32_t type = es[0];
      if ((es[0] == segment_type::kPresentationComposition ||
           es[0] == segment_type::kInteractiveComposition) &&
          es.size() > 10) {
        type |= static_cast<uint32_t>(es[10]) << rip_au::kCompositionStateShift;
      }
      if (es[0] == segment_type::kPresentationComposition && es.size() > 13 && es[13] == 0)
        type |= rip_au::kEmptyComposition;
      return type;
    }
    case coding::kMpeg2Video:
      return Contains(es, {0, 0, 1, 0xB3}) ? rip_au::kSequenceStart : 0;
    case coding::kH264:
    case coding::kMvc:
      return AvcUnitStartsSequence(es) ? rip_au::kSequenceStart : 0;
    case coding::kVc1:
      return Contains(es, {0, 0, 1, 0x0F}) ? rip_au::kSequenceStart : 0;
    default:
      return 0;
  }
}

void CloseUnit(STrackAuCollector& c) {
  if (!c.unit) return;
  SRipAu& unit = *c.unit;
  for (const uint64_t n : c.packets) {
    if (!unit.ranges.empty() && unit.ranges.back().last + 1 == n) {
      unit.ranges.back().last = n;
    } else {
      unit.ranges.push_back({n, n});
    }
  }
  unit.size = c.packets.size() * kSourcePacketSize;
  c.track->units.push_back(std::move(unit));
  c.unit.reset();
  c.packets.clear();
}

void ResetTracks(std::span<SRipTrack* const> tracks, int mode) {
  for (SRipTrack* track : tracks) {
    track->packet_count = 0;
    if (mode == 1) track->units.clear();
  }
}

// The 5 bytes of a PTS or DTS at `at` get a new value; prefix and marker bits stay.
void PatchTimestamp(uint8_t* at, uint64_t value) {
  ByteWriter out;
  WriteTimestamp(out, {static_cast<uint8_t>(at[0] >> 4), value & kTimeMask});
  std::memcpy(at, out.buffer().data(), 5);
}

}  // namespace

uint64_t SRipAu::PacketCount() const {
  uint64_t n = 0;
  for (const SPacketRange& r : ranges) n += r.last - r.first + 1;
  return n;
}

std::string SRipTrack::DisplayName() const {
  const std::string where =
      clip_number >= 0 ? Format("%05d.M2TS, 0x%04X", clip_number, pid) : Format("0x%04X", pid);
  const char* name = CodingTypeName(CodingType());
  const std::string type = Format("%s(0x%02X)", name ? name : "unknown", CodingType());
  const std::string text = StreamDescription(attributes.Values(), true);
  return Format("%s, %s, %s", where.c_str(), type.c_str(), text.c_str());
}

std::optional<ESI> SRipTrack::MakeEsi() const {
  if (!esi) return std::nullopt;
  ESI copy = *esi;
  copy.ElementaryPid = static_cast<uint16_t>(output_pid);
  return copy;
}

void SRipTrack::SetLanguage(std::string_view code) {
  language = LanguageRow(code);
  tessel::SetLanguage(attributes, code);
  if (esi && esi->Language && code.size() == 3) {
    std::copy(code.begin(), code.end(), esi->Language->Language.begin());
  }
}

std::vector<std::unique_ptr<CStdBase>> SRipTrack::CreateBufferModels() const {
  std::vector<std::unique_ptr<CStdBase>> models;
  const bool known_format = attributes.VideoFormat == 1 || attributes.VideoFormat == 2 ||
                            attributes.VideoFormat == 3 || attributes.VideoFormat == 7;
  const bool stream_gave = profile != 0 && level != 0;
  auto video = [&](std::unique_ptr<CStdBase> model, int from_stream, int fallback) {
    if (stream_gave) {
      model->SetLevel(from_stream, primary);
    } else if (known_format) {
      model->SetLevel(fallback, primary);
    }
    models.push_back(std::move(model));
  };
  auto secondary = [&](std::unique_ptr<CStdBase> model) {
    model->SetPrimary(false);
    models.push_back(std::move(model));
  };
  switch (CodingType()) {
    case coding::kMpeg2Video:
      video(std::make_unique<CMpeg2Std>(), profile * 16 + level, 0x48);
      break;
    case coding::kH264:
      video(std::make_unique<CAvcStd>(), level, 30);
      break;
    case coding::kVc1:
      video(std::make_unique<CVc1Std>(), level, 2);
      break;
    case coding::kLpcm: {
      auto lpcm = std::make_unique<CLpcmStd>();
      lpcm->SetSamplingFrequency(attributes.SamplingFrequency);
      models.push_back(std::move(lpcm));
      break;
    }
    case coding::kAc3:
      models.push_back(std::make_unique<CAc3Std>());
      break;
    case coding::kDts:
      models.push_back(std::make_unique<CDtsStd>());
      break;
    case coding::kTrueHd:
      models.push_back(std::make_unique<CAc3Std>());
      models.push_back(std::make_unique<CMlpStd>());
      break;
    case coding::kEac3:
      models.push_back(std::make_unique<CAc3Std>());
      models.push_back(std::make_unique<CDdpStd>());
      break;
    case coding::kDtsHd:
    case coding::kDtsHdXll:
      models.push_back(std::make_unique<CDtsStd>());
      models.push_back(std::make_unique<CDtsHdStd>());
      break;
    case coding::kPg:
      models.push_back(std::make_unique<CPgStd>());
      break;
    case coding::kIg:
      models.push_back(std::make_unique<CIgStd>());
      break;
    case coding::kTextSubtitle:
      models.push_back(std::make_unique<CTxtStStd>());
      break;
    case coding::kEac3Secondary:
      secondary(std::make_unique<CDdpStd>());
      break;
    case coding::kDtsHdSecondary:
      secondary(std::make_unique<CDtsHdStd>());
      break;
    default:
      break;
  }
  return models;
}

int SRipTrack::FindUnitAtTime(int start, int64_t time) const {
  const int count = static_cast<int>(units.size());
  if (time == 0) return 0;
  if (count == 0 || start < 0 || start >= count) return -1;
  if (time == -1 || time >= static_cast<int64_t>(units.back().pts)) return count - 1;
  auto pts = [&](int i) { return static_cast<int64_t>(units[i].pts); };
  if (IsVideoCodingType(CodingType())) {
    int before = -1;
    for (int i = start; i < count; ++i) {
      if (!(units[i].type & rip_au::kSequenceStart)) continue;
      if (std::abs(pts(i) - time) <= kFindTolerance) return i;
      if (pts(i) < time) {
        before = i;
        continue;
      }
      if (before >= 0 && time - pts(before) < pts(i) - time) return before;
      return i;
    }
    return before;
  }
  if (IsAudioCodingType(CodingType())) {
    for (int i = start; i < count; ++i) {
      if (pts(i) + kFindTolerance >= time) return i;
    }
    return -1;
  }
  if (IsGraphicsCodingType(CodingType())) {
    for (int i = start; i < count; ++i) {
      const uint8_t type = units[i].SegmentType();
      if ((type == segment_type::kPresentationComposition ||
           type == segment_type::kInteractiveComposition) &&
          !units[i].ClearsScreen() && pts(i) >= time) {
        return i;
      }
    }
  }
  return -1;
}

void SRipTrack::ApplyTimeShift(int64_t shift) {
  const int64_t total = shift + std::max<int32_t>(delay, 0);
  for (SRipAu& unit : units) {
    unit.pts = static_cast<uint64_t>(static_cast<int64_t>(unit.pts) + total) & kTimeMask;
    if (unit.dts != 0) {
      unit.dts = static_cast<uint64_t>(static_cast<int64_t>(unit.dts) + total) & kTimeMask;
    }
  }
}

void SRipTrack::ReadProfileAndLevel() {
  profile = 0;
  level = 0;
  if (units.empty() || units[0].ranges.empty() || !file_) return;
  uint8_t packet[kSourcePacketSize];
  if (file_->ReadAt(units[0].ranges[0].first * kSourcePacketSize, packet) !=
      static_cast<int64_t>(kSourcePacketSize)) {
    return;
  }
  SPacketView view;
  SPesTimes times;
  size_t es_offset = 0;
  if (!ViewPacket(packet + kTpExtraHeaderSize, view) || !view.unit_start ||
      !ReadPesStart(view.payload, times, es_offset)) {
    return;
  }
  const std::span<const uint8_t> es = view.payload.subspan(es_offset);
  auto after = [&](std::initializer_list<uint8_t> code) -> std::span<const uint8_t> {
    const size_t at = Find(es, std::span(code.begin(), code.size()));
    return at < es.size() ? es.subspan(at + code.size()) : std::span<const uint8_t>();
  };
  switch (CodingType()) {
    case coding::kMpeg2Video:
      if (auto ext = after({0, 0, 1, 0xB5}); ext.size() >= 2 && (ext[0] >> 4) == 1) {
        const uint8_t pl = static_cast<uint8_t>((ext[0] & 0x0F) << 4 | ext[1] >> 4);
        profile = (pl >> 4) & 7;
        level = pl & 0x0F;
      }
      break;
    case coding::kH264:
      if (auto sps = after({0, 0, 1, 0x67}); sps.size() >= 3) {
        profile = sps[0];
        level = sps[2];
      }
      break;
    case coding::kVc1:
      if (auto seq = after({0, 0, 1, 0x0F}); !seq.empty()) {
        profile = static_cast<uint8_t>(seq[0] >> 6) + 1;  // 0 stays "unknown"
        level = static_cast<uint8_t>((seq[0] >> 3) & 7);
      }
      break;
    default:
      break;
  }
}

bool SRipTrack::Prepare(CByteSource& file, uint32_t new_pid, std::string& message) {
  file_ = &file;
  new_pid_ = new_pid;
  output_pid = new_pid;
  finished_ = true;
  current_ = -1;
  key_points.clear();
  last_audio_key_pts_ = -1;
  if (CreateBufferModels().empty()) {
    message = Format("%s: no buffer model for stream type 0x%02X, the track cannot be kept",
                     DisplayName().c_str(), CodingType());
    return false;
  }
  const bool video = IsVideoCodingType(CodingType());
  if (cleared && !(video && primary)) return true;
  if (video) ReadProfileAndLevel();
  // A track whose PID never occurred sends nothing.
  if (units.empty()) return true;
  first_unit_ = 0;
  last_unit_ = static_cast<int>(units.size()) - 1;
  if (cleared) {
    // A cleared primary video keeps its first second, so that the clip still starts with a
    // picture.
    const int k = FindUnitAtTime(0, static_cast<int64_t>(units[0].pts) + 90000);
    if (k < 0) return true;
    last_unit_ = k - 1;
    if (last_unit_ < first_unit_) return true;
  }
  current_ = first_unit_ - 1;
  finished_ = false;
  return NextUnit();
}

std::optional<KEY_POINT_INFO> SRipTrack::KeyPointOf(int index) {
  const SRipAu& unit = units[index];
  const int32_t ordinal = index - first_unit_;
  const uint8_t type = CodingType();
  bool key = false;
  if (IsVideoCodingType(type)) {
    key = unit.type & rip_au::kSequenceStart;
  } else if (IsAudioCodingType(type)) {
    key = last_audio_key_pts_ < 0 ||
          static_cast<int64_t>(unit.pts) >= last_audio_key_pts_ + kAudioKeyPointSpacing;
    if (key) last_audio_key_pts_ = static_cast<int64_t>(unit.pts);
  } else if (IsGraphicsCodingType(type)) {
    key = (unit.SegmentType() == segment_type::kPresentationComposition ||
           unit.SegmentType() == segment_type::kInteractiveComposition) &&
          unit.CompositionState() != 0;
  }
  if (!key) return std::nullopt;
  KEY_POINT_INFO point;
  point.Ordinal = ordinal;
  point.Pts = unit.pts;
  return point;
}

bool SRipTrack::NextUnit() {
  if (finished_) return false;
  ++current_;
  unit_key_point_.reset();
  if (current_ > last_unit_ || current_ >= static_cast<int>(units.size())) {
    finished_ = true;
    return false;
  }
  const SRipAu& unit = units[current_];
  // Range by range: only this PID's packets are held, never the span between them.
  unit_bytes_.resize(unit.PacketCount() * kSourcePacketSize);
  size_t at = 0;
  for (const SPacketRange& r : unit.ranges) {
    const size_t n = (r.last - r.first + 1) * kSourcePacketSize;
    if (file_->ReadAt(r.first * kSourcePacketSize, std::span(unit_bytes_.data() + at, n)) !=
        static_cast<int64_t>(n)) {
      finished_ = true;
      return false;
    }
    at += n;
  }
  packet_pos_ = 0;
  unit_key_point_ = KeyPointOf(current_);
  if (unit_key_point_) key_points.push_back(*unit_key_point_);
  return true;
}

const SRipAu* SRipTrack::CurrentUnit() const {
  if (finished_ || current_ < 0 || current_ >= static_cast<int>(units.size())) return nullptr;
  return &units[current_];
}

bool SRipTrack::UnitPriority() const {
  return unit_bytes_.size() >= kSourcePacketSize && (unit_bytes_[kTpExtraHeaderSize + 1] & 0x20);
}

bool SRipTrack::NextPacket(uint8_t (&packet)[192], uint32_t& payload) {
  const SRipAu* unit = CurrentUnit();
  if (!unit || packet_pos_ + kSourcePacketSize > unit_bytes_.size()) return false;
  std::memcpy(packet, unit_bytes_.data() + packet_pos_, kSourcePacketSize);
  packet_pos_ += kSourcePacketSize;
  uint8_t* ts = packet + kTpExtraHeaderSize;
  ts[1] = static_cast<uint8_t>((ts[1] & 0x40) | (output_priority_ ? 0x20 : 0) |
                               ((new_pid_ >> 8) & 0x1F));
  ts[2] = static_cast<uint8_t>(new_pid_);
  SPacketView view;
  if (!ViewPacket(ts, view)) {
    payload = 0;
    return true;
  }
  payload = static_cast<uint32_t>(view.payload.size());
  if (!view.unit_start || view.payload.size() < 9) return true;
  uint8_t* pes = ts + (kTransportPacketSize - view.payload.size());
  if (pes[0] != 0 || pes[1] != 0 || pes[2] != 1 || !PesHasOptionalHeader(pes[3])) return true;
  const uint8_t flags = pes[7] >> 6;
  if ((flags & 2) && view.payload.size() >= 14) PatchTimestamp(pes + 9, unit->pts);
  if (flags == 3 && view.payload.size() >= 19) PatchTimestamp(pes + 14, unit->dts);
  return true;
}

// ---- the multiplexer's side ----

namespace {

// Whether an audio frame at the start of a PES payload is the base part of a two-part stream:
// an AC-3 frame (bsid up to 10) or a DTS core frame. Nothing when the frame does not tell.
std::optional<bool> BaseByFrame(uint8_t coding_type, std::span<const uint8_t> es) {
  if (es.size() < 6) return std::nullopt;
  switch (coding_type) {
    case coding::kTrueHd:
    case coding::kEac3:
      if (es[0] == 0x0B && es[1] == 0x77) return (es[5] >> 3) <= 10;
      if (coding_type == coding::kTrueHd && es.size() >= 8 && es[4] == 0xF8 && es[5] == 0x72 &&
          es[6] == 0x6F && es[7] == 0xBA) {
        return false;
      }
      return std::nullopt;
    case coding::kDtsHd:
    case coding::kDtsHdXll:
      if (es[0] == 0x7F && es[1] == 0xFE && es[2] == 0x80 && es[3] == 0x01) return true;
      if (es[0] == 0x64 && es[1] == 0x58 && es[2] == 0x20 && es[3] == 0x25) return false;
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

}  // namespace

const uint8_t* SRipAuCursor::NextPacket(uint64_t& bytes_left, uint32_t& payload) {
  std::memset(packet, 0, sizeof(packet));
  if (!track->NextPacket(packet, payload)) return nullptr;
  bytes_left = track->unit_bytes_.size() - track->packet_pos_;
  return packet;
}

KEY_POINT_INFO* SRipAuCursor::KeyPoint() {
  return track->unit_key_point_ && !track->key_points.empty() ? &track->key_points.back() : nullptr;
}

void SRipAuCursor::SetTransportPriority(bool priority) {
  track->SetOutputPriority(priority);
}

void SRipTrack::CreateStd() {
  std::vector<std::unique_ptr<CStdBase>> models = CreateBufferModels();
  if (!models.empty()) main_model = std::move(models[0]);
  if (models.size() > 1) second_model = std::move(models[1]);
}

bool SRipTrack::Prepare() {
  SMuxTrack::Prepare();
  cursor_ = SRipAuCursor{};
  cursor_.track = this;
  previous_extension_ = false;
  first_au = SFirstAuInfo{};
  if (!source_file) {
    ShowMessage(Format("%s: no source stream to read from", DisplayName().c_str()));
    return false;
  }
  std::string message;
  if (!Prepare(*source_file, output_pid, message)) {
    ShowMessage(message);
    return false;
  }
  if (!CurrentUnit()) {
    finished = true;
    return true;
  }
  if (!LoadCursor()) return false;
  first_au = ComputeFirstAuInfo();
  return true;
}

SFirstAuInfo SRipTrack::ComputeFirstAuInfo() const {
  SFirstAuInfo info;
  info.pts = cursor_.pts;
  info.dts = cursor_.dts != 0 ? cursor_.dts : cursor_.pts;
  uint64_t packets = 0;
  if (IsGraphicsCodingType(CodingType())) {
    // The whole first display set must be in the buffer before it is decoded.
    for (int i = current_; i <= last_unit_; ++i) {
      packets += units[i].PacketCount();
      if (units[i].SegmentType() == segment_type::kEnd) break;
    }
  } else {
    packets = units[current_].PacketCount();
  }
  info.packets = static_cast<uint32_t>(std::min<uint64_t>(packets, UINT32_MAX));
  return info;
}

bool SRipTrack::IsExtensionUnit() const {
  if (!second_model) return false;
  const bool priority = UnitPriority();
  if (unit_bytes_.size() >= kSourcePacketSize) {
    SPacketView view;
    SPesTimes times;
    size_t es_offset = 0;
    if (ViewPacket(unit_bytes_.data() + kTpExtraHeaderSize, view) && view.unit_start &&
        ReadPesStart(view.payload, times, es_offset)) {
      if (const auto base = BaseByFrame(CodingType(), view.payload.subspan(es_offset))) {
        return !*base;
      }
    }
  }
  // The frame does not tell: the first unit goes by its priority, later ones alternate while
  // the priority stays set.
  if (!priority) return true;
  return current_ != first_unit_ && !previous_extension_;
}

bool SRipTrack::LoadCursor() {
  const SRipAu* unit = CurrentUnit();
  if (unit->pts > UINT32_MAX || unit->dts > UINT32_MAX || unit->size > UINT32_MAX) {
    ShowMessage(Format("Wrong AU's start time: DTS(%llu), PTS(%llu) ",
                       static_cast<unsigned long long>(unit->dts),
                       static_cast<unsigned long long>(unit->pts)));
    return false;
  }
  cursor_.flags = unit->type;
  cursor_.pts = static_cast<uint32_t>(unit->pts);
  cursor_.dts = unit->dts != unit->pts ? static_cast<uint32_t>(unit->dts) : 0;
  cursor_.size = static_cast<uint32_t>(unit_bytes_.size());
  bytes_left = cursor_.size;
  const bool ext = IsExtensionUnit();
  cursor_.base = !ext;
  if (second_model) SetOutputPriority(!ext);
  previous_extension_ = ext;
  FeedModels(cursor_, ext);
  ++current_index;
  return true;
}

bool SRipTrack::NextAu() {
  if (!NextUnit()) {
    finished = true;
    return true;
  }
  return LoadCursor();
}

void SRipTrack::Release() {
  SMuxTrack::Release();
  unit_bytes_.clear();
  unit_bytes_.shrink_to_fit();
  finished_ = true;
}

bool SRipTrack::IsGraphicsStart() const {
  if (!IsGraphicsCodingType(CodingType())) return true;
  const SRipAu* unit = CurrentUnit();
  if (!unit) return false;
  const uint8_t segment = unit->SegmentType();
  return segment == segment_type::kPresentationComposition ||
         segment == segment_type::kInteractiveComposition;
}

double SRipTrack::FrameDurationMs() const {
  if (!IsVideoCodingType(CodingType())) return 0;
  return tessel::FrameDurationMs(attributes.FrameRate);
}

uint32_t SRipTrack::FrameDuration90k() const {
  return static_cast<uint32_t>(FrameDurationMs() * 90);
}

void SRipTrack::FillClipAttributes(StreamInfo& info) const {
  info = StreamInfo{};
  info.CodingInfo = attributes;
  info.StreamPID = static_cast<uint16_t>(output_pid);
}

void SRipTrack::FillEsi(ESI& out) const {
  if (std::optional<ESI> copy = MakeEsi()) {
    out = *copy;
    return;
  }
  SMuxTrack::FillEsi(out);
}

void SRipTrack::GatherKeyPoints() {
  ep_entry.StreamPid = static_cast<uint16_t>(output_pid);
  ep_entry.KeyPoints = key_points;
}

void TrimGraphicsUnits(SRipTrack& track) {
  std::vector<SRipAu>& units = track.units;
  int from = -1;
  for (int i = static_cast<int>(units.size()) - 1; i >= 0; --i) {
    const uint8_t type = units[i].SegmentType();
    if ((type == segment_type::kPresentationComposition ||
         type == segment_type::kInteractiveComposition) &&
        units[i].ClearsScreen()) {
      from = i;
      break;
    }
  }
  // Without a clearing composition there is no display set the cut could be sure of.
  if (from < 0) return;
  for (size_t i = static_cast<size_t>(from); i < units.size(); ++i) {
    if (units[i].SegmentType() != segment_type::kEnd) continue;
    for (size_t j = i + 1; j < units.size(); ++j) track.packet_count -= units[j].PacketCount();
    units.resize(i + 1);
    return;
  }
}

namespace {

class CScanner {
 public:
  CScanner(std::span<SRipTrack* const> tracks, int mode, SScanResult& result)
      : mode_(mode), result_(result), by_pid_(0x2000, nullptr) {
    for (SRipTrack* track : tracks) {
      auto& c = map_[track->pid];
      if (c.track) continue;
      c.track = track;
      by_pid_[track->pid] = &c;
    }
  }

  void Packet(const uint8_t* source_packet, uint64_t offset) {
    const uint8_t* ts = source_packet + kTpExtraHeaderSize;
    const uint16_t id = static_cast<uint16_t>((ts[1] & 0x1F) << 8 | ts[2]);
    if (mode_ == 1 && id == pid::kPmt) return Pmt(ts);
    STrackAuCollector* c = by_pid_[id];
    if (!c || !CarriesPesHeader(id)) return;
    SRipTrack& track = *c->track;
    if (mode_ == 0 || !track.keep) {
      ++track.packet_count;
      return;
    }
    SPacketView view;
    if (!ViewPacket(ts, view)) {
      result_.damage.push_back({offset, id, "adaptation field runs past the packet"});
      return;
    }
    SPesTimes times;
    size_t es_offset = 0;
    if (view.unit_start && ReadPesStart(view.payload, times, es_offset) && times.pts) {
      CloseUnit(*c);
      c->unit.emplace();
      c->unit->pts = *times.pts;
      c->unit->dts = times.dts.value_or(*times.pts);
      c->unit->type = UnitType(track.CodingType(), view.payload.subspan(es_offset));
      if (!result_.first_pts) result_.first_pts = *times.pts;
      if (IsVideoCodingType(track.CodingType()) && !result_.first_video_pts) {
        result_.first_video_pts = *times.pts;
      }
    }
    // Packets before the PID's first PES start belong to no unit.
    if (!c->unit) return;
    ++track.packet_count;
    c->packets.push_back(offset / kSourcePacketSize);
  }

  void Finish() {
    for (auto& [id, c] : map_) {
      CloseUnit(c);
      if (mode_ == 1 && c.track->CodingType() == coding::kPg) TrimGraphicsUnits(*c.track);
      if (pmt_) {
        result_.program_descriptor = pmt_->PrivateProgramDescriptor;
        for (const ESI& esi : pmt_->Streams) {
          if (esi.ElementaryPid == id) c.track->esi = esi;
        }
      }
    }
  }

 private:
  void Pmt(const uint8_t* ts) {
    if (pmt_) return;
    pmt_assembler_.Feed(PacketPayload(std::span(ts, kTransportPacketSize)), ts[1] & 0x40,
                        [this](std::span<const uint8_t> section) {
                          PMT pmt;
                          if (!pmt_ && SectionCrcOk(section) && ReadPmt(section, pmt)) pmt_ = pmt;
                        });
  }

  int mode_;
  SScanResult& result_;
  CTrackAuMap map_;
  std::vector<STrackAuCollector*> by_pid_;
  SectionAssembler pmt_assembler_;
  std::optional<PMT> pmt_;
};

}  // namespace

JobResult ScanClip(std::span<SRipTrack* const> tracks, CByteSource& file, const std::string& path,
                   int mode, uint64_t first, uint64_t end, const ProgressCallback& progress,
                   SScanResult& result) {
  result = SScanResult{};
  const uint64_t packets = file.Size() / kSourcePacketSize;
  end = std::min(end, packets);
  if (first >= packets || first >= end) {
    result.message =
        Format("%s: packets %llu to %llu are not in the file (%llu packets)", path.c_str(),
               static_cast<unsigned long long>(first), static_cast<unsigned long long>(end),
               static_cast<unsigned long long>(packets));
    return JobResult::kFailed;
  }
  ResetTracks(tracks, mode);
  CScanner scanner(tracks, mode, result);
  const std::string title = LoadString(1108);
  ReportTitle(progress, title);
  ReportMessage(progress, Format("%s %s", title.c_str(), path.c_str()));
  ReportPosition(progress, 0);
  const uint64_t begin = first * kSourcePacketSize;
  CPacketReader reader(file, begin, end * kSourcePacketSize, kScanChunkSize, &result.damage);
  reader.set_chunk_hook(
      [&](uint64_t done) { return ReportPosition(progress, PercentOf(done, file.Size())); });
  const uint8_t* packet = nullptr;
  uint64_t offset = 0;
  while (reader.Next(packet, offset)) scanner.Packet(packet, offset);
  if (reader.cancelled()) {
    ResetTracks(tracks, mode);
    return JobResult::kCancelled;
  }
  scanner.Finish();
  ReportPosition(progress, 100);
  return JobResult::kDone;
}

}  // namespace tessel
