#include "mux/raw_track.h"

#include <algorithm>
#include <cstring>

#include "es/graphics.h"
#include "es/video_sif.h"
#include "formats/tables.h"
#include "mux/std_models.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/prompt.h"
#include "platform/string_table.h"

namespace tessel {

namespace {

constexpr int kStringSecondaryOnly = 1892;
constexpr int kStringVideoCount = 5075;
constexpr int kStringAudioCount = 5076;
constexpr int kStringPgCount = 5077;

bool HasLanguage(uint8_t type) {
  return IsAudioCodingType(type) || type == coding::kPg;
}

// The three letters after the last '_' of a name like "movie_fra": a language when the table
// knows them, else "eng"; none without such a suffix.
std::optional<int> LanguageFromName(const std::filesystem::path& path) {
  const std::string stem = path.stem().string();
  if (stem.size() <= 3 || stem[stem.size() - 4] != '_') return std::nullopt;
  std::string code = stem.substr(stem.size() - 3);
  std::transform(code.begin(), code.end(), code.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return LanguageRow(code);
}

// The AC-3 core of a TrueHD pair is told apart from the TrueHD units on their shared PID by
// stream_id_extension 0x76: with the plain AC-3 value (0x71) a player's demultiplexer hands the
// core frames to the TrueHD decoder. Rewrites it in the first packet of a core unit.
void MarkTrueHdCore(uint8_t* ts) {
  size_t at = 4;
  if (ts[3] & 0x20) at += 1 + size_t{ts[4]};
  if (at + 9 > kTransportPacketSize) return;
  const uint8_t* pes = ts + at;
  if (pes[0] != 0 || pes[1] != 0 || pes[2] != 1 || pes[3] != 0xFD || !(pes[7] & 0x01)) return;
  size_t q = at + 9;
  if (pes[7] & 0x80) q += 5;
  if (pes[7] & 0x40) q += 5;
  if (q + 3 > kTransportPacketSize) return;
  const uint8_t flags = ts[q++];
  if (flags & 0x80) q += 16;
  if (flags & 0x40 && q < kTransportPacketSize) q += 1 + size_t{ts[q]};
  if (flags & 0x20) q += 2;
  if (flags & 0x10) q += 2;
  if (!(flags & 0x01) || q + 1 >= kTransportPacketSize) return;
  if (ts[q + 1] == 0x71) ts[q + 1] = 0x76;
}

}  // namespace

// ---- SRawAu ----

const uint8_t* SRawAu::NextPacket(uint64_t& bytes_left, uint32_t& payload) {
  CPipe* pipe = track->pipe.get();
  if (!pipe || pipe->BytesLeft() == 0) return nullptr;
  std::memset(packet, 0, sizeof(packet));
  request.output = packet + kTpExtraHeaderSize;
  request.key_point = nullptr;
  request.payload = 0;
  const bool unit_start = pipe->CurrentNotStarted();
  if (!pipe->WritePacket(request)) return nullptr;
  if (unit_start && pipe->SecondaryReader() && pipe->IsBaseSubStream()) {
    MarkTrueHdCore(request.output);
  }
  if (request.key_point) {
    track->key_points.push_back(*request.key_point);
    key_point = true;
  }
  bytes_left = pipe->BytesLeft();
  payload = request.payload;
  return packet;
}

KEY_POINT_INFO* SRawAu::KeyPoint() {
  return key_point && !track->key_points.empty() ? &track->key_points.back() : nullptr;
}

bool SRawAu::IsBaseSubStream() const {
  return track->pipe && track->pipe->IsBaseSubStream();
}

// ---- SRawTrack ----

bool SRawTrack::CopyFromPipe(const CPipe& open_pipe) {
  auto& opened = const_cast<CPipe&>(open_pipe);
  const SEsReader* primary_reader = opened.PrimaryReader();
  if (!primary_reader || !primary_reader->info.record) return false;
  header = primary_reader->info.header;
  record = primary_reader->info.record->Clone();
  if (const SEsReader* second = opened.SecondaryReader(); second && second->info.record) {
    second_header = second->info.header;
    second_record = second->info.record->Clone();
  } else {
    second_record.reset();
  }
  return true;
}

std::unique_ptr<SRawTrack> SRawTrack::Create(const std::filesystem::path& path, bool as_primary,
                                             const ProgressCallback& progress, int* result) {
  if (result) *result = 2;
  auto track = std::make_unique<SRawTrack>();
  std::string extension = path.extension().string();
  if (EqualsNoCase(extension, ".mlp") || EqualsNoCase(extension, ".thd")) {
    std::filesystem::path core = path;
    core.replace_extension(".ac3");
    if (!std::filesystem::exists(core)) {
      ShowMessage(
          Format("%s\r\n%s", path.string().c_str(), "Corresponding ac3 file doesn't exist! "));
      return nullptr;
    }
    track->source.path = core;
    track->source.second_path = path;
  } else {
    track->source.path = path;
  }
  std::unique_ptr<CPipe> pipe;
  const int opened = CreatePipe(track->source, progress, pipe);
  if (result) *result = opened;
  if (opened != 0 || !track->CopyFromPipe(*pipe)) return nullptr;
  pipe.reset();
  if (HasLanguage(track->CodingType())) {
    if (const std::optional<int> row = LanguageFromName(track->source.path)) {
      track->language = *row;
    }
  }
  track->SetLanguageCode(LanguageAt(track->language).code);
  if (as_primary && track->record->IsSecondaryOnly()) {
    ShowMessage(Format("%s\n%s", path.string().c_str(), LoadString(kStringSecondaryOnly)));
    if (result) *result = 2;
    return nullptr;
  }
  track->primary = as_primary ? 1 : 0;
  if (result) *result = 0;
  return track;
}

std::unique_ptr<SRawTrack> SRawTrack::FromSource(const SPipeSource& source) {
  auto track = std::make_unique<SRawTrack>();
  track->source = source;
  std::unique_ptr<CPipe> pipe;
  if (CreatePipe(track->source, nullptr, pipe) != 0 || !track->CopyFromPipe(*pipe)) return nullptr;
  track->language = LanguageRow(std::string_view(source.language.data(), 3));
  return track;
}

const std::filesystem::path& SRawTrack::MainPath() const {
  return source.second_path.empty() ? source.path : source.second_path;
}

std::string SRawTrack::LanguageCode() const {
  return LanguageAt(language).code;
}

void SRawTrack::SetLanguageCode(std::string_view code) {
  language = LanguageRow(code);
  std::memcpy(source.language.data(), LanguageAt(language).code, 3);
}

uint8_t SRawTrack::CodingType() const {
  if (empty_link && empty_link != this) return empty_link->CodingType();
  return second_record ? second_header.streamCodingType : header.streamCodingType;
}

void SRawTrack::CreateStd() {
  const SRawTrack& from = Effective();
  const CSifData* models_of = from.second_record ? from.second_record.get() : from.record.get();
  if (models_of) CreateStdModels(*models_of, primary != 0, main_model, second_model);
}

bool SRawTrack::Prepare() {
  SMuxTrack::Prepare();
  key_points.clear();
  has_current = false;
  if (IsEmpty()) {
    finished = true;
    return true;
  }
  SPipeSource opened = source;
  opened.start_cut = delay < 0 ? -int64_t{delay} : 0;
  if (CreatePipe(opened, nullptr, pipe) != 0) return false;
  time_offset = clip_base - int64_t{pipe->FirstPresentationTime()};
  au = SRawAu{};
  au.track = this;
  au.request.pid = output_pid;
  au.request.key_point_wanted = key_points_wanted;
  au.request.time_offset = time_offset + PositiveDelay();
  if (!NextAu()) return false;
  const SFirstAuInfo info = pipe->FirstAuInfo();
  const int64_t shift = time_offset + PositiveDelay();
  first_au.pts = static_cast<uint32_t>(info.pts + shift);
  first_au.dts = static_cast<uint32_t>(info.dts + shift);
  first_au.packets = info.packets;
  return true;
}

bool SRawTrack::NextAu() {
  const SAuEntry* entry = pipe ? pipe->NextAu() : nullptr;
  if (!entry) {
    has_current = false;
    finished = true;
    return true;
  }
  const int64_t shift = time_offset + PositiveDelay();
  const int64_t dts = entry->dts != 0 ? int64_t{entry->dts} + shift : 0;
  const int64_t pts = int64_t{entry->pts} + shift;
  if (dts < 0 || pts < 0 || dts > UINT32_MAX || pts > UINT32_MAX) {
    ShowMessage(Format("Wrong AU's start time: DTS(%u), PTS(%u), Start Offset(%llx) ", entry->dts,
                       entry->pts, static_cast<unsigned long long>(time_offset)));
    return false;
  }
  au.flags = entry->flags;
  au.dts = static_cast<uint32_t>(dts);
  au.pts = static_cast<uint32_t>(pts);
  au.size = entry->size;
  au.key_point = false;
  has_current = true;
  bytes_left = au.size;
  FeedModels(au, !pipe->IsBaseSubStream());
  if (au.size == 0) {
    finished = true;
  } else {
    ++current_index;
  }
  return true;
}

void SRawTrack::Release() {
  SMuxTrack::Release();
  pipe.reset();
  has_current = false;
}

bool SRawTrack::IsGraphicsStart() const {
  const uint8_t type = CodingType();
  if (!IsGraphicsCodingType(type)) return true;
  if (!has_current) return false;
  const uint8_t segment = au.flags & 0xFF;
  return segment == 0x16 || segment == 0x18;
}

double SRawTrack::FrameDurationMs() const {
  const SRawTrack& from = Effective();
  const uint8_t type = from.CodingType();
  if (IsGraphicsCodingType(type) && from.record) {
    StreamAttributeValues values;
    from.record->FillAttributes(values);
    return tessel::FrameDurationMs(values.frame_rate);
  }
  return from.header.auDuration;
}

uint32_t SRawTrack::FrameDuration90k() const {
  return static_cast<uint32_t>(FrameDurationMs() * 90);
}

void SRawTrack::FillClipAttributes(StreamInfo& info) const {
  info = StreamInfo{};
  const SRawTrack& from = Effective();
  if (pipe) {
    pipe->FillClipAttributes(info.CodingInfo);
  } else if (from.record) {
    StreamAttributeValues values;
    from.record->FillAttributes(values);
    info.CodingInfo.StreamCodingType = from.CodingType();
    info.CodingInfo.VideoFormat = values.video_format;
    info.CodingInfo.FrameRate = values.frame_rate;
    info.CodingInfo.AspectRatio = values.aspect_ratio;
    info.CodingInfo.AudioPresentationType = values.presentation_type;
    info.CodingInfo.SamplingFrequency = values.sampling_frequency;
    SetLanguage(info.CodingInfo, LanguageCode());
  }
  info.StreamPID = static_cast<uint16_t>(output_pid);
}

void SRawTrack::FillEsi(ESI& esi) const {
  if (pipe) {
    esi = pipe->BuildEsi(static_cast<uint16_t>(output_pid));
    return;
  }
  SMuxTrack::FillEsi(esi);
  if (!IsVideoCodingType(esi.StreamType) && language < kLanguageCount) {
    Iso639LanguageDescriptor descriptor;
    std::memcpy(descriptor.Language.data(), LanguageAt(language).code, 3);
    esi.Language = descriptor;
  }
}

uint64_t SRawTrack::TotalBytes() const {
  if (pipe) return pipe->TotalBytes();
  uint64_t total = 0;
  for (const auto* path : {&source.path, &source.second_path}) {
    if (path->empty()) continue;
    if (const auto status = GetFileStatus(*path)) total += status->size;
  }
  return total;
}

void SRawTrack::GatherKeyPoints() {
  ep_entry.StreamPid = static_cast<uint16_t>(output_pid);
  ep_entry.KeyPoints = key_points;
}

// ---- SRawTracks ----

std::unique_ptr<SRawTrack> SRawTracks::Take(size_t index) {
  std::unique_ptr<SRawTrack> track = std::move(tracks_[index]);
  tracks_.erase(tracks_.begin() + static_cast<std::ptrdiff_t>(index));
  return track;
}

bool SRawTracks::Add(const std::filesystem::path& path, bool as_primary,
                     const ProgressCallback& progress) {
  std::unique_ptr<SRawTrack> track = SRawTrack::Create(path, as_primary, progress);
  if (!track) return false;
  tracks_.push_back(std::move(track));
  return true;
}

bool SRawTracks::Add(const SPipeSource& source) {
  std::unique_ptr<SRawTrack> track = SRawTrack::FromSource(source);
  if (!track) return false;
  tracks_.push_back(std::move(track));
  return true;
}

int SRawTracks::Find(const std::filesystem::path& path, bool empty) const {
  for (size_t i = 0; i < tracks_.size(); ++i) {
    if (tracks_[i]->IsEmpty() == empty &&
        EqualsNoCase(tracks_[i]->MainPath().string(), path.string())) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

void SRawTracks::Remove(size_t index) {
  if (index >= tracks_.size()) return;
  UnlinkReplacement(*tracks_[index]);
  tracks_.erase(tracks_.begin() + static_cast<std::ptrdiff_t>(index));
}

int SRawTracks::Count(bool (*of_kind)(uint8_t), bool primary) const {
  return static_cast<int>(std::count_if(tracks_.begin(), tracks_.end(), [&](const auto& track) {
    return of_kind(track->CodingType()) && (track->primary != 0) == primary;
  }));
}

std::vector<SMuxTrack*> SRawTracks::Pointers() const {
  std::vector<SMuxTrack*> pointers;
  for (const auto& track : tracks_) pointers.push_back(track.get());
  return pointers;
}

// ---- track rules ----

namespace {

std::optional<SVideoDescriptor> DescriptorOf(const SRawTrack& track) {
  if (const auto* video = dynamic_cast<const CVideoSif*>(track.record.get())) {
    return SVideoDescriptor::FromVideo(*video);
  }
  if (const auto* graphics = dynamic_cast<const SGsSif*>(track.record.get())) {
    return graphics->video;
  }
  return std::nullopt;
}

int Refuse(int clip_number, const char* text) {
  ShowMessage(Format("%05d.m2ts: %s", clip_number, text));
  return 2;
}

}  // namespace

int CheckNewTracks(int clip_number, const SRawTracks& tracks, const SKeptTracks& kept) {
  const SRawTrack* video = nullptr;
  for (size_t i = 0; i < tracks.size(); ++i) {
    if (tracks[i].primary && IsVideoCodingType(tracks[i].CodingType())) video = &tracks[i];
  }
  if (kept.primary_video + tracks.Count(IsVideoCodingType, true) != 1) {
    return Refuse(clip_number, LoadString(kStringVideoCount));
  }
  if (const auto picture = video ? DescriptorOf(*video) : std::nullopt) {
    for (size_t i = 0; i < tracks.size(); ++i) {
      if (!tracks[i].primary || tracks[i].CodingType() != coding::kPg) continue;
      const auto subtitle = DescriptorOf(tracks[i]);
      if (!subtitle) continue;
      if (subtitle->frame_rate != picture->frame_rate) {
        return Refuse(clip_number, "Subtitle framerate conflicts with that of primary video!");
      }
      if (subtitle->width != picture->width || subtitle->height != picture->height) {
        return Refuse(clip_number, "Subtitle screen size conflicts with that of primary video!");
      }
    }
  }
  if (kept.primary_audio + tracks.Count(IsAudioCodingType, true) > 32) {
    return Refuse(clip_number, LoadString(kStringAudioCount));
  }
  const auto is_pg = [](uint8_t type) { return type == coding::kPg; };
  if (kept.primary_pg + tracks.Count(is_pg, true) > 32 &&
      AskUser(LoadString(kStringPgCount), PromptButtons::kYesNoCancel) != PromptAnswer::kYes) {
    return 2;
  }
  return 0;
}

}  // namespace tessel
