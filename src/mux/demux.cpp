#include "mux/demux.h"

#include <algorithm>
#include <cstring>
#include <system_error>

#include "es/lpcm.h"
#include "es/stream_info.h"
#include "formats/tables.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/prompt.h"
#include "platform/string_table.h"
#include "ts/ts_packet.h"

namespace tessel {
namespace {

constexpr uint64_t kTimeMask = (1ull << 33) - 1;
constexpr uint64_t kMaxChunkField = 0xFFFFFFFF;

void PutU32Be(uint8_t* out, uint32_t v) {
  out[0] = static_cast<uint8_t>(v >> 24);
  out[1] = static_cast<uint8_t>(v >> 16);
  out[2] = static_cast<uint8_t>(v >> 8);
  out[3] = static_cast<uint8_t>(v);
}

std::array<uint8_t, 4> RiffSize(uint64_t size) {
  const uint32_t v = RiffSizeField(size);
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

// What the 4-byte LPCM header of a PES packet says, decoded.
struct SLpcmLayout {
  uint16_t channels = 0;
  uint32_t rate = 0;
  uint16_t bytes_per_sample = 0;
  uint16_t valid_bits = 0;
  uint32_t mask = 0;
};

constexpr uint32_t kChannelMasks[12] = {0,     0,    0,    0x3,  0x7,  0x103,
                                        0x107, 0x33, 0x37, 0x3F, 0xF7, 0xFF};

std::optional<SLpcmLayout> DecodeLpcmHeader(const uint8_t (&h)[4], std::string& error) {
  const uint8_t assignment = h[2] >> 4;
  const uint8_t frequency = h[2] & 0x0F;
  const uint8_t bits = h[3] >> 6;
  SLpcmLayout l;
  if (assignment >= 1 && assignment <= 3) l.channels = 2;
  if (assignment >= 4 && assignment <= 7) l.channels = 4;
  if (assignment == 8 || assignment == 9) l.channels = 6;
  if (assignment == 10 || assignment == 11) l.channels = 8;
  l.rate = frequency == 1 ? 48000 : frequency == 4 ? 96000 : frequency == 5 ? 192000 : 0;
  l.bytes_per_sample = bits == 1 ? 2 : (bits == 2 || bits == 3) ? 3 : 0;
  l.valid_bits = bits == 1 ? 16 : bits == 2 ? 20 : 24;
  if (l.channels == 0 || l.rate == 0 || l.bytes_per_sample == 0) {
    error = Format(
        "LPCM header with unknown codes: channel assignment %u, sampling frequency %u, "
        "bits per sample %u",
        assignment, frequency, bits);
    return std::nullopt;
  }
  l.mask = kChannelMasks[assignment];
  return l;
}

// For each WAVE channel, the disc channel it comes from. The disc puts LFE last; a WAVE file
// orders its channels by mask bit, where LFE comes fourth.
std::vector<uint16_t> WaveChannelSources(uint8_t assignment, uint16_t channels) {
  std::vector<uint16_t> from(channels);
  for (uint16_t i = 0; i < channels; ++i) from[i] = i;
  if (assignment == 9) from = {0, 1, 2, 5, 3, 4};
  if (assignment == 11) from = {0, 1, 2, 7, 3, 4, 5, 6};
  return from;
}

bool IsDualCodingType(uint8_t type) {
  return type == coding::kTrueHd || type == coding::kEac3;
}

// Core (0) or extension (1) for the PES packet that starts with `es`: an AC-3 frame (bsid up to
// 10) is the core whatever its priority says; other frames go by transport_priority.
int PartOfUnit(std::span<const uint8_t> es, bool priority) {
  if (es.size() >= 6 && es[0] == 0x0B && es[1] == 0x77) return (es[5] >> 3) <= 10 ? 0 : 1;
  return priority ? 0 : 1;
}

std::unique_ptr<STrackFile> MakeWriter(uint8_t type, std::unique_ptr<CByteSink> sink,
                                       size_t buffer) {
  switch (type) {
    case coding::kLpcm:
      return std::make_unique<SPcmTrackFile>(std::move(sink), buffer);
    case coding::kAc3:
    case coding::kDts:
    case coding::kTrueHd:
    case coding::kEac3:
    case coding::kEac3Secondary:
    case coding::kDtsHdSecondary:
      return std::make_unique<SAudioTrackFile>(std::move(sink), buffer);
    case coding::kDtsHd:
    case coding::kDtsHdXll:
      return std::make_unique<SDtsHdTrackFile>(std::move(sink), buffer);
    case coding::kPg:
      return std::make_unique<SPgTrackFile>(std::move(sink), buffer);
    case coding::kIg:
      return std::make_unique<SIgTrackFile>(std::move(sink), buffer);
    default:
      return std::make_unique<STrackFile>(std::move(sink), buffer);
  }
}

// A 33-bit time relative to the stream file's base, taken as signed so that a time just before
// the base stays small and negative.
int64_t RelativeTime(uint64_t t, uint64_t base) {
  int64_t d = static_cast<int64_t>((t - base) & kTimeMask);
  if (d >= static_cast<int64_t>(1ull << 32)) d -= static_cast<int64_t>(1ull << 33);
  return d;
}

}  // namespace

uint32_t RiffSizeField(uint64_t size) {
  return static_cast<uint32_t>(std::min(size, kMaxChunkField));
}

STrackFile::STrackFile(std::unique_ptr<CByteSink> sink, size_t buffer_size)
    : sink_(std::move(sink)), capacity_(buffer_size) {
  buffer_.reserve(capacity_);
}

void STrackFile::Put(std::span<const uint8_t> bytes) {
  if (buffer_.size() + bytes.size() > capacity_ && !Flush()) return;
  if (bytes.size() > capacity_) {
    if (!sink_->Append(bytes)) Fail(sink_->error());
    written_ += bytes.size();
    return;
  }
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

bool STrackFile::Flush() {
  if (!buffer_.empty()) {
    if (!sink_->Append(buffer_)) Fail(sink_->error());
    written_ += buffer_.size();
    buffer_.clear();
  }
  return !failed();
}

void SPcmTrackFile::BeginUnit(const SPesTimes&, uint64_t, int64_t) {
  header_left_ = sizeof lpcm_header_;
}

void SPcmTrackFile::Payload(std::span<const uint8_t> bytes) {
  if (refused_) return;
  if (header_left_ > 0) {
    const size_t n = std::min(header_left_, bytes.size());
    std::memcpy(lpcm_header_ + (sizeof lpcm_header_ - header_left_), bytes.data(), n);
    header_left_ -= n;
    bytes = bytes.subspan(n);
    if (header_left_ == 0 && !started_ && !StartFile()) return;
  }
  if (!started_) return;
  pending_.insert(pending_.end(), bytes.begin(), bytes.end());
  Convert();
}

bool SPcmTrackFile::StartFile() {
  std::string error;
  const std::optional<SLpcmLayout> l = DecodeLpcmHeader(lpcm_header_, error);
  if (!l) {
    refused_ = true;
    Fail(error);
    return false;
  }
  started_ = true;
  assignment_ = lpcm_header_[2] >> 4;
  channels_ = l->channels;
  bytes_per_sample_ = l->bytes_per_sample;
  PCM_WAVE_FORMAT format;
  const bool extensible = assignment_ > 3;
  format.format_tag = extensible ? PCM_WAVE_FORMAT::kFormatExtensible : PCM_WAVE_FORMAT::kFormatPcm;
  format.channels = l->channels;
  format.samples_per_second = l->rate;
  format.block_align = static_cast<uint16_t>(l->channels * l->bytes_per_sample);
  format.average_bytes_per_second = l->rate * format.block_align;
  format.bits_per_sample = static_cast<uint16_t>(l->bytes_per_sample * 8);
  format.valid_bits_per_sample = l->valid_bits;
  format.channel_mask = l->mask;
  format.guid_data1 = 1;  // the PCM sub-format
  format.guid_data2 = 0;
  format.guid_data3 = 0x10;
  constexpr uint8_t kPcmGuidTail[8] = {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  std::memcpy(format.guid_data4, kPcmGuidTail, sizeof kPcmGuidTail);
  LeWriter fmt;
  format.Write(fmt);
  LeWriter out;
  out.Bytes(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>("RIFF"), 4));
  out.U32(0);
  out.Bytes(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>("WAVEfmt "), 8));
  out.U32(static_cast<uint32_t>(fmt.size()));
  out.Bytes(fmt.bytes());
  out.Bytes(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>("data"), 4));
  out.U32(0);
  data_start_ = out.size();
  Put(out.bytes());
  block_.resize(format.block_align);
  sources_ = WaveChannelSources(assignment_, channels_);
  return true;
}

void SPcmTrackFile::Convert() {
  const size_t block = block_.size();
  const size_t whole = pending_.size() / block * block;
  if (whole == 0) return;
  converted_.resize(whole);
  for (size_t at = 0; at < whole; at += block) {
    const uint8_t* in = pending_.data() + at;
    uint8_t* d = converted_.data() + at;
    for (uint16_t c = 0; c < channels_; ++c, d += bytes_per_sample_) {
      const uint8_t* s = in + sources_[c] * bytes_per_sample_;
      // Big-endian on the disc, little-endian in the file.
      for (uint16_t b = 0; b < bytes_per_sample_; ++b) d[b] = s[bytes_per_sample_ - 1 - b];
    }
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(whole));
  Put(converted_);
}

bool SPcmTrackFile::Finish() {
  if (!Flush() || !started_) return !failed();
  const uint64_t total = size();
  if (!sink().WriteAt(4, RiffSize(total - 8)) ||
      !sink().WriteAt(data_start_ - 4, RiffSize(total - data_start_))) {
    Fail(sink().error());
  }
  return !failed();
}

void SGraphicsTrackFile::BeginUnit(const SPesTimes& times, uint64_t time_base,
                                   int64_t time_offset) {
  auto time = [&](uint64_t t) { return RelativeTime(t, time_base) + time_offset; };
  if (!lift_) {
    const std::optional<uint64_t> first = times.dts ? times.dts : times.pts;
    const int64_t at = first ? time(*first) : 0;
    lift_ = at < kFirstAuTime ? kFirstAuTime - at : 0;
  }
  uint8_t header[10] = {magic_[0], magic_[1]};
  if (times.pts) PutU32Be(header + 2, static_cast<uint32_t>(time(*times.pts) + *lift_));
  if (times.dts) PutU32Be(header + 6, static_cast<uint32_t>(time(*times.dts) + *lift_));
  Put(header);
}

std::unique_ptr<CByteSink> CreateFileSink(const std::string& path, std::string& error) {
  auto sink = std::make_unique<CFileSink>(path);
  if (!sink->ok()) {
    error = sink->error();
    return nullptr;
  }
  return sink;
}

std::string DemuxFileName(const std::string& folder, const std::string& base, uint16_t pid,
                          const char* extension) {
  const std::string dir = folder.empty() ? std::string() : WithTrailingSlash(folder);
  const std::string stem = fs::path(base).stem().string();
  return Format("%s%s_%d%s", dir.c_str(), stem.c_str(), pid, extension);
}

bool CTrackInfoMap::Finish(std::string& error) {
  bool ok = true;
  for (auto& [pid, info] : tracks) {
    for (int i = 0; i < 2; ++i) {
      STrackFile* w = info.writers[i].get();
      if (!w) continue;
      if (!w->Finish() && ok) {
        error = w->error();
        ok = false;
      }
    }
    // A stream whose frames carry no core leaves its core file empty: it goes.
    if (info.writers[1] && info.writers[0] && info.writers[0]->size() == 0) {
      info.writers[0].reset();
      std::error_code ec;
      fs::remove(info.paths[0], ec);
      std::erase(created, info.paths[0]);
      info.paths[0].clear();
    }
  }
  return ok;
}

bool CreateDemuxWriters(const std::string& folder, const std::string& base,
                        std::span<SRipTrack* const> tracks, CTrackInfoMap& set,
                        const SinkFactory& factory) {
  std::vector<SRipTrack*> taken;
  size_t writer_count = 0;
  for (SRipTrack* track : tracks) {
    if (!track->keep || track->CodingType() == coding::kTextSubtitle) continue;
    if (set.tracks.count(track->pid)) continue;
    taken.push_back(track);
    writer_count += IsDualCodingType(track->CodingType()) ? 2 : 1;
  }
  const size_t buffer = std::clamp(kDemuxBufferBudget / std::max<size_t>(writer_count, 1),
                                   kWriterBufferMin, kWriterBufferMax);
  for (SRipTrack* track : taken) {
    const uint8_t type = track->CodingType();
    STrackInfo& info = set.tracks[track->pid];
    info.coding_type = type;
    info.display_name = track->DisplayName();
    const bool dual = IsDualCodingType(type);
    for (int i = 0; i < (dual ? 2 : 1); ++i) {
      const char* extension = dual && i == 0 ? DemuxExtension(coding::kAc3) : DemuxExtension(type);
      const std::string path = DemuxFileName(folder, base, track->pid, extension);
      std::string error;
      std::unique_ptr<CByteSink> sink = factory(path, error);
      if (!sink) {
        ShowMessage(error);
        set.tracks.erase(track->pid);
        return false;
      }
      set.created.push_back(path);
      info.paths[i] = path;
      info.writers[i] = MakeWriter(type, std::move(sink), buffer);
    }
  }
  return true;
}

namespace {

class CDemuxer {
 public:
  CDemuxer(CTrackInfoMap& set, SDemuxReport& report)
      : set_(set), report_(report), by_pid_(0x2000, nullptr) {
    for (auto& [pid, info] : set.tracks) {
      info.in_unit = false;
      info.last_cc = -1;
      by_pid_[pid & 0x1FFF] = &info;
    }
  }

  void Packet(const uint8_t* source_packet, uint64_t offset) {
    ++report_.packets;
    const uint8_t* ts = source_packet + kTpExtraHeaderSize;
    SPacketView view;
    const uint16_t id = static_cast<uint16_t>((ts[1] & 0x1F) << 8 | ts[2]);
    STrackInfo* info = by_pid_[id];
    if (!info && time_base_) return;
    if (!ViewPacket(ts, view)) {
      if (info) Damage(*info, offset, id, "adaptation field runs past the packet");
      return;
    }
    SPesTimes times;
    size_t es_offset = 0;
    const bool pes_start =
        view.unit_start && CarriesPesHeader(id) && ReadPesStart(view.payload, times, es_offset);
    // Graphics times count from the first PES time of the file, whatever stream it belongs to,
    // so that they stay 90 kHz values.
    if (pes_start && !time_base_ && times.pts) time_base_ = *times.pts;
    if (!info || view.payload.empty()) return;
    Continuity(*info, view, offset, id);
    std::span<const uint8_t> payload = view.payload;
    if (view.unit_start) {
      if (!pes_start) {
        Damage(*info, offset, id, "unparsable PES header");
        return;
      }
      payload = payload.subspan(es_offset);
      info->current = info->writers[1] ? PartOfUnit(payload, view.priority) : 0;
      info->in_unit = true;
      Writer(*info).BeginUnit(times, time_base_.value_or(0), set_.time_offset);
    } else if (!info->in_unit) {
      return;  // the rest of a PES packet that started before the file
    }
    Writer(*info).Payload(payload);
  }

 private:
  STrackFile& Writer(STrackInfo& info) { return *info.writers[info.current]; }

  void Damage(STrackInfo& info, uint64_t offset, uint16_t id, const char* what) {
    info.in_unit = false;
    report_.damage.push_back({offset, id, what});
  }

  // Counted on packets with payload only: packets with an adaptation field alone keep their
  // counter, and one repeated packet is allowed.
  void Continuity(STrackInfo& info, const SPacketView& view, uint64_t offset, uint16_t id) {
    const int cc = view.continuity_counter;
    if (info.last_cc >= 0 && !view.discontinuity && cc != info.last_cc &&
        cc != ((info.last_cc + 1) & 0x0F)) {
      report_.damage.push_back(
          {offset, id, Format("continuity counter %d after %d", cc, info.last_cc)});
    }
    info.last_cc = cc;
  }

  CTrackInfoMap& set_;
  SDemuxReport& report_;
  std::vector<STrackInfo*> by_pid_;
  std::optional<uint64_t> time_base_;
};

}  // namespace

JobResult DemuxStreamFile(CByteSource& source, const std::string& path, CTrackInfoMap& set,
                          const ProgressCallback& progress, SDemuxReport& report) {
  ReportTitle(progress, LoadString(1110));
  ReportMessage(progress, path);
  if (!ReportPosition(progress, 0)) return JobResult::kCancelled;
  CDemuxer demuxer(set, report);
  const uint64_t size = source.Size();
  CPacketReader reader(source, 0, size, kDemuxChunkSize, &report.damage);
  reader.set_chunk_hook(
      [&](uint64_t done) { return ReportPosition(progress, PercentOf(done, size)); });
  const uint8_t* packet = nullptr;
  uint64_t offset = 0;
  while (reader.Next(packet, offset)) demuxer.Packet(packet, offset);
  if (reader.cancelled()) return JobResult::kCancelled;
  for (auto& [pid, info] : set.tracks) {
    for (auto& writer : info.writers) {
      if (writer) writer->Flush();
    }
  }
  ReportPosition(progress, 100);
  return JobResult::kDone;
}

namespace {

void RemoveFiles(CTrackInfoMap& set) {
  for (auto& [pid, info] : set.tracks) {
    for (auto& writer : info.writers) writer.reset();
  }
  for (const std::string& path : set.created) {
    std::error_code ec;
    fs::remove(path, ec);
  }
  set.created.clear();
}

}  // namespace

JobResult DemuxClip(const std::string& folder, std::span<SRipTrack* const> tracks,
                    CByteSource& source, const std::string& path, const ProgressCallback& progress,
                    SDemuxReport& report, const SinkFactory& factory) {
  const std::string out_folder = folder.empty() ? fs::path(path).parent_path().string() : folder;
  const std::string base = fs::path(path).stem().string();
  CTrackInfoMap set;
  if (!CreateDemuxWriters(out_folder, base, tracks, set, factory)) {
    RemoveFiles(set);
    return JobResult::kFailed;
  }
  const JobResult result = DemuxStreamFile(source, path, set, progress, report);
  if (result != JobResult::kDone) {
    RemoveFiles(set);
    return result;
  }
  if (!set.Finish(report.error)) {
    ShowMessage(report.error);
    RemoveFiles(set);
    return JobResult::kFailed;
  }
  for (const auto& [pid, info] : set.tracks) {
    for (int i = 0; i < 2; ++i) {
      if (info.writers[i]) {
        report.files.push_back({info.paths[i], pid, info.display_name, info.writers[i]->size()});
      }
    }
  }
  return JobResult::kDone;
}

}  // namespace tessel
