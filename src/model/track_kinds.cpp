#include "model/track_kinds.h"

#include <algorithm>
#include <optional>
#include <string>

#include "ts/psi.h"

namespace tessel {

TrackKind KindOfCodingType(uint8_t coding_type) {
  if (IsVideoCodingType(coding_type)) return TrackKind::kVideo;
  if (IsAudioCodingType(coding_type)) return TrackKind::kAudio;
  if (coding_type == coding::kPg) return TrackKind::kPg;
  if (coding_type == coding::kIg) return TrackKind::kIg;
  return TrackKind::kOther;
}

bool IsSecondaryPid(uint16_t pid) {
  return (pid >= 0x1A00 && pid <= 0x1A1F) || (pid >= 0x1B00 && pid <= 0x1B1F);
}

TrackKind GetKind(const SMuxTrack& track) {
  return KindOfCodingType(track.CodingType());
}

SRipTrack* FindByPid(const SRipTracks& tracks, uint16_t pid) {
  for (const auto& track : tracks) {
    if (track->pid == pid && !track->sub_path) return track.get();
  }
  return nullptr;
}

int CountByKind(const SRipTracks& tracks, TrackKind kind, bool primary, bool kept_only) {
  return static_cast<int>(std::count_if(tracks.begin(), tracks.end(), [&](const auto& track) {
    return GetKind(*track) == kind && (track->primary != 0) == primary &&
           (!kept_only || track->keep);
  }));
}

int CountByKind(const SRawTracks& tracks, TrackKind kind, bool primary) {
  int count = 0;
  for (size_t i = 0; i < tracks.size(); ++i) {
    if (GetKind(tracks[i]) == kind && (tracks[i].primary != 0) == primary) ++count;
  }
  return count;
}

bool ComesBeforeInOutput(const SMuxTrack& a, const SMuxTrack& b) {
  if (a.order != b.order) return a.order < b.order;
  if (a.output_pid != b.output_pid) return a.output_pid < b.output_pid;
  return !a.original && b.original;
}

std::vector<const SMuxTrack*> OutputOrder(const SRipTracks& originals,
                                          std::span<const SMuxTrack* const> new_tracks) {
  std::vector<const SMuxTrack*> out;
  for (const auto& track : originals) {
    if (track->keep) out.push_back(track.get());
  }
  for (const SMuxTrack* track : new_tracks) {
    if (track->keep) out.push_back(track);
  }
  std::stable_sort(out.begin(), out.end(), [](const SMuxTrack* a, const SMuxTrack* b) {
    return ComesBeforeInOutput(*a, *b);
  });
  return out;
}

SRawTrack* FindNewTrackByPath(const SRawTracks& tracks, const std::filesystem::path& path) {
  const int index = tracks.Find(path, false);
  return index < 0 ? nullptr : &const_cast<SRawTracks&>(tracks)[static_cast<size_t>(index)];
}

void BuildOriginalTracks(std::span<const StreamInfo> streams, int32_t clip_number,
                         SRipTracks& tracks) {
  tracks.clear();
  for (const StreamInfo& stream : streams) {
    if (FindByPid(tracks, stream.StreamPID)) continue;
    auto track = std::make_unique<SRipTrack>();
    track->clip_number = clip_number;
    track->order = static_cast<int32_t>(tracks.size());
    track->attributes = stream.CodingInfo;
    track->pid = stream.StreamPID;
    track->entry.Type = 1;
    track->entry.RefToStreamPID_OfMainClip = stream.StreamPID;
    track->primary = IsSecondaryPid(stream.StreamPID) ? 0 : 1;
    if (const std::optional<std::string> language = GetLanguage(stream.CodingInfo)) {
      track->language = LanguageRow(*language);
    }
    tracks.push_back(std::move(track));
  }
  for (auto& track : tracks) track->keep = 1;
}

void BuildTracksFromPmt(const PMT& pmt, int32_t number, SRipTracks& tracks) {
  for (const ESI& esi : pmt.Streams) {
    if (FindByPid(tracks, esi.ElementaryPid)) continue;
    auto track = std::make_unique<SRipTrack>();
    track->clip_number = number;
    track->pid = esi.ElementaryPid;
    track->order = static_cast<int32_t>(tracks.size());
    track->attributes.StreamCodingType = esi.StreamType;
    if (esi.HdmvVideoRegistration) {
      track->attributes.VideoFormat = esi.HdmvVideoRegistration->VideoFormat;
      track->attributes.FrameRate = esi.HdmvVideoRegistration->FrameRate;
      track->attributes.AspectRatio = esi.HdmvVideoRegistration->AspectRatio;
    }
    if (esi.HdmvLpcmRegistration) {
      track->attributes.AudioPresentationType = esi.HdmvLpcmRegistration->AudioPresentationType;
      track->attributes.SamplingFrequency = esi.HdmvLpcmRegistration->SamplingFrequency;
    }
    if (esi.Language) {
      const auto& l = esi.Language->Language;
      SetLanguage(track->attributes, std::string(l.begin(), l.end()));
    }
    track->primary = IsSecondaryPid(track->pid) ? 0 : 1;
    track->esi = esi;
    tracks.push_back(std::move(track));
  }
}

}  // namespace tessel
