#include "model/clip_object.h"

#include <algorithm>
#include <cmath>

#include "formats/tables.h"
#include "model/edit_snapshot.h"
#include "model/playlist_object.h"
#include "mux/byte_io.h"
#include "mux/demux.h"
#include "platform/format.h"
#include "platform/prompt.h"
#include "platform/string_table.h"

namespace tessel {
namespace {

CCofObject* g_current_clips = nullptr;

constexpr uint64_t k27MHzPer90kHz = 300;
constexpr int64_t kShortestCut = 270000;  // 3 s at 90 kHz
constexpr uint16_t kFirstPipVideoPid = 0x1B00;
constexpr uint16_t kLastPipVideoPid = 0x1B1F;

bool IsPrimaryVideo(const SMuxTrack& track) {
  return track.primary && GetKind(track) == TrackKind::kVideo;
}

}  // namespace

std::unique_ptr<CNamedObject> CClpiObject::CreateSame() const {
  return std::make_unique<CClpiObject>();
}

bool CClpiObject::Parse(std::span<const uint8_t> file) {
  return Read(file, nullptr);
}

bool CClpiObject::IsMovieClip() const {
  return clip_info.ApplicationType == 1;
}

uint32_t CClpiObject::PacketCount() const {
  return clip_info.NumberOfSourcePackets;
}

std::span<const StreamInfo> CClpiObject::Streams() const {
  return program_info.Sequence.Streams;
}

void CClpiObject::InitState() {
  BuildOriginalTracks(Streams(), id(), original_tracks);
  // A clip without an STC sequence has no time range; it stays at zero rather than reading
  // past the list.
  start_time = end_time = 0;
  if (!sequence_info.StcInfos.empty()) {
    start_time = sequence_info.StcInfos.front().StartPTS * 2;
    end_time = sequence_info.StcInfos.front().EndPTS * 2;
  }
  in_point = 0;
  out_point = kToEnd;
  in_offset = 0;
  out_offset = static_cast<int64_t>(end_time) - static_cast<int64_t>(start_time);

  frame_rate_code = 0;
  for (const StreamInfo& stream : Streams()) {
    if (stream.StreamPID == kPrimaryVideoPid) {
      frame_rate_code = stream.CodingInfo.FrameRate;
      break;
    }
  }
  source_timing = SClipTiming{};
  source_timing.rate = clip_info.TsRecordingRate;
  source_timing.presentation_start = uint64_t{start_time} * k27MHzPer90kHz;
  source_timing.presentation_end = uint64_t{end_time} * k27MHzPer90kHz;
  source_timing.frame_duration =
      static_cast<uint64_t>(std::llround(FrameDurationMs(frame_rate_code) * 90 * 300));
  output_timing = source_timing;
}

// ---- editing ----

std::vector<CMplsObject*> CClpiObject::RelatedPlaylistObjects() const {
  std::vector<CMplsObject*> related;
  if (CPofObject* playlists = CurrentPlaylists()) {
    for (const auto& playlist : playlists->items()) {
      if (playlist->UsesClip(id())) related.push_back(playlist.get());
    }
  }
  return related;
}

bool CClpiObject::SetKeepAt(int index, bool keep) {
  if (index < 0 || index >= TrackCount()) return false;
  SRipTrack& track = *original_tracks[static_cast<size_t>(index)];
  if (track.pid != kPrimaryVideoPid) {
    for (CMplsObject* playlist : RelatedPlaylistObjects()) {
      playlist->ApplyClipKeep(id(), track.pid, keep);
    }
  }
  return SetFlag(track.keep, keep);
}

bool CClpiObject::SetKeepByPid(uint16_t pid, bool keep) {
  const SRipTrack* track = FindByPid(original_tracks, pid);
  for (int i = 0; i < TrackCount() && track; ++i) {
    if (original_tracks[static_cast<size_t>(i)].get() == track) return SetKeepAt(i, keep);
  }
  return false;
}

bool CClpiObject::SetKeepAll(bool keep) {
  bool changed = false;
  for (int i = 0; i < TrackCount(); ++i) changed = SetKeepAt(i, keep) || changed;
  return changed;
}

SRawTrack* CClpiObject::AddNewTrack(const std::filesystem::path& path,
                                    const ProgressCallback& progress, int* result) {
  std::unique_ptr<SRawTrack> track = SRawTrack::Create(path, true, progress, result);
  if (!track) return nullptr;
  SRawTrack* added = AddCreatedTrack(std::move(track));
  if (!added && result) *result = 2;
  return added;
}

int CClpiObject::OwnCount(const SRawTrack& track) const {
  return CountByKind(new_tracks, GetKind(track), track.primary != 0);
}

SRawTrack* CClpiObject::AddCreatedTrack(std::unique_ptr<SRawTrack> track) {
  CEditSnapshot snapshot;
  track->primary = 1;
  track->author = Author();
  SRawTrack* added = track.get();
  new_tracks.Append(std::move(track));
  if (!PropagateNewTrack(*added, nullptr, Author(), OwnCount(*added))) {
    snapshot.Restore();
    return nullptr;
  }
  UpdateVideoFlags();
  return added;
}

bool CClpiObject::PropagateNewTrack(const SRawTrack& track, const SRipTrack* replaced,
                                    const STrackAuthor& causing, int causing_count) {
  for (CMplsObject* playlist : RelatedPlaylistObjects()) {
    if (playlist->Author() == causing) continue;
    if (!playlist->OfferCopy(id(), track, replaced, causing, causing_count)) return false;
  }
  return true;
}

SRawTrack* CClpiObject::ReplaceTrack(SRipTrack& original, const std::filesystem::path& path,
                                     bool primary, const ProgressCallback& progress, int* result) {
  std::unique_ptr<SRawTrack> track = SRawTrack::Create(path, primary, progress, result);
  if (!track) return nullptr;
  SRawTrack* added = ReplaceWithTrack(original, std::move(track));
  if (!added && result) *result = 2;
  return added;
}

SRawTrack* CClpiObject::ReplaceWithTrack(SRipTrack& original, std::unique_ptr<SRawTrack> track) {
  CEditSnapshot snapshot;
  track->author = Author();
  SRawTrack* added = track.get();
  new_tracks.Append(std::move(track));
  UnlinkReplacement(original);
  original.replacement = added;
  added->replacement = &original;
  original.keep = 0;
  added->order = original.order;
  if (!PropagateNewTrack(*added, &original, Author(), OwnCount(*added))) {
    snapshot.Restore();
    return nullptr;
  }
  UpdateVideoFlags();
  return added;
}

SRawTrack* CClpiObject::FindNewTrack(const std::filesystem::path& path) const {
  return FindNewTrackByPath(new_tracks, path);
}

bool CClpiObject::DeleteNewTrack(const std::filesystem::path& path, const STrackAuthor& requester) {
  const int index = new_tracks.Find(path, false);
  if (index < 0) return false;
  SRawTrack& track = new_tracks[static_cast<size_t>(index)];
  if (track.author != requester) {
    if (requester == Author()) {
      ShowMessage("The track can only be deleted by the original author!");
    }
    return false;
  }
  const std::filesystem::path main_path = track.MainPath();
  for (CMplsObject* playlist : RelatedPlaylistObjects()) playlist->RemoveCopies(main_path);
  // The original it replaced stays unkept.
  new_tracks.Remove(static_cast<size_t>(index));
  return true;
}

void CClpiObject::SetNewTrackLanguage(const std::filesystem::path& path, int language) {
  SRawTrack* track = FindNewTrack(path);
  if (!track) return;
  track->SetLanguageCode(LanguageAt(language).code);
  for (CMplsObject* playlist : RelatedPlaylistObjects()) {
    playlist->SetCopyLanguage(path, language);
  }
}

void CClpiObject::SetNewTrackDelay(int index, int32_t delay_ms) {
  if (index < 0 || static_cast<size_t>(index) >= new_tracks.size()) return;
  const int64_t ticks = std::clamp<int64_t>(int64_t{delay_ms} * 90, INT32_MIN, INT32_MAX);
  new_tracks[static_cast<size_t>(index)].delay = static_cast<int32_t>(ticks);
}

bool CClpiObject::SetCleared(int index, bool cleared) {
  if (index < 0 || index >= TrackCount()) return false;
  SRipTrack& track = *original_tracks[static_cast<size_t>(index)];
  if (!cleared || !IsPrimaryVideo(track)) return SetFlag(track.cleared, cleared);
  bool changed = false;
  for (auto& each : original_tracks) changed = SetFlag(each->cleared, true) || changed;
  return changed;
}

void CClpiObject::ResetPacketCounts() {
  for (auto& track : original_tracks) track->packet_count = 0;
}

// The offset of the entry point nearest to the time and its packet in `point`; the end (and all
// ones) when there is no such entry or the time is at or past the end.
int64_t CClpiObject::CutAt(int64_t t, uint32_t& point) const {
  const int64_t duration = static_cast<int64_t>(end_time) - static_cast<int64_t>(start_time);
  const CSpeFolder& streams = cpi.ep_map.Entries;
  if (t >= duration || streams.empty() || streams.front().KeyPoints.empty()) {
    point = kToEnd;
    return duration;
  }
  const CKpiFolder& points = streams.front().KeyPoints;
  int nearest = NearestKeyPoint(points, start_time + static_cast<uint64_t>(t));
  if (nearest < 0) nearest = static_cast<int>(points.size()) - 1;
  const KEY_POINT_INFO& entry = points[static_cast<size_t>(nearest)];
  point = entry.SpnStart;
  return static_cast<int64_t>(entry.Pts) - static_cast<int64_t>(start_time);
}

int64_t CClpiObject::SetInPoint(int64_t t) {
  const int64_t before = in_offset;
  if (t <= 0) {
    in_point = 0;
    in_offset = 0;
  } else {
    in_offset = CutAt(t, in_point);
  }
  if (in_offset != before) ResetPacketCounts();
  return in_offset;
}

int64_t CClpiObject::SetOutPoint(int64_t t) {
  const int64_t before = out_offset;
  out_offset = CutAt(std::max<int64_t>(t, 0), out_point);
  if (out_offset != before) ResetPacketCounts();
  return out_offset;
}

JobResult CClpiObject::DemuxTracks(const std::filesystem::path& folder,
                                   const ProgressCallback& progress) {
  CFileSource source(stream_path);
  if (!source.ok()) {
    ShowMessage(source.error());
    return JobResult::kFailed;
  }
  std::vector<SRipTrack*> tracks;
  for (auto& track : original_tracks) tracks.push_back(track.get());
  SDemuxReport report;
  return DemuxClip(folder.string(), tracks, source, stream_path, progress, report);
}

bool CClpiObject::IsModified() const {
  if (new_tracks.size() > 0 || in_point != 0 || out_point < PacketCount()) return true;
  return std::any_of(original_tracks.begin(), original_tracks.end(),
                     [](const auto& track) { return !track->keep || track->cleared; });
}

bool CClpiObject::UpdateVideoFlags() {
  bool changed = false;
  if (SRipTrack* video = FindByPid(original_tracks, kPrimaryVideoPid)) {
    changed = SetFlag(video->keep, new_tracks.Count(IsVideoCodingType, true) == 0);
  }
  for (uint16_t pid = kFirstPipVideoPid; pid <= kLastPipVideoPid; ++pid) {
    SRipTrack* track = FindByPid(original_tracks, pid);
    if (track && track->replacement && track->keep) {
      track->keep = 0;
      changed = true;
    }
  }
  return changed;
}

int CClpiObject::CheckBeforeBuild() {
  built = 0;
  if (!IsMovieClip()) return 2;
  const bool any_kept = std::any_of(original_tracks.begin(), original_tracks.end(),
                                    [](const auto& track) { return track->keep != 0; });
  if (!any_kept && new_tracks.size() == 0) return 0;
  SKeptTracks kept;
  kept.primary_video = CountByKind(original_tracks, TrackKind::kVideo, true, true);
  kept.primary_audio = CountByKind(original_tracks, TrackKind::kAudio, true, true);
  kept.primary_pg = CountByKind(original_tracks, TrackKind::kPg, true, true);
  if (const int result = CheckNewTracks(id(), new_tracks, kept); result != 0) return result;
  if (in_point != 0 || out_point < PacketCount()) {
    if (out_offset < in_offset + kShortestCut) {
      ShowMessage(Format("%05d.m2ts: duration must be more than 3 second! ", id()));
      return 2;
    }
    if (new_tracks.size() > 0) {
      ShowMessage(Format("%05d.m2ts: cannot add new tracks in edit mode! ", id()));
      return 2;
    }
  }
  return 0;
}

std::vector<const SMuxTrack*> CClpiObject::OutputTracks() const {
  const std::vector<SMuxTrack*> added = new_tracks.Pointers();
  const std::vector<const SMuxTrack*> pointers(added.begin(), added.end());
  return OutputOrder(original_tracks, pointers);
}

bool CClpiObject::SeamlessCheck(const CClpiObject& other, bool& ask) const {
  const std::vector<const SMuxTrack*> mine = OutputTracks();
  const std::vector<const SMuxTrack*> theirs = other.OutputTracks();
  if (mine.size() != theirs.size() && ask) {
    const std::string text = Format(
        "Seamless error: track count of %05d.m2ts and %05d.m2ts\r\nare different! Ignore and "
        "continue to build? ",
        id(), other.id());
    if (AskUser(text, PromptButtons::kYesNoCancel) != PromptAnswer::kYes) return false;
    ask = false;
  }
  const size_t n = std::min(mine.size(), theirs.size());
  for (size_t i = 0; i < n && ask; ++i) {
    if (mine[i]->CodingType() == theirs[i]->CodingType()) continue;
    const std::string text = Format(
        "Seamless error: stream type of track %d in %05d.m2ts and %05d.m2ts\r\nare different !  "
        "Ignore and continue to build? ",
        static_cast<int>(i + 1), id(), other.id());
    if (AskUser(text, PromptButtons::kYesNoCancel) != PromptAnswer::kYes) return false;
    ask = false;
  }
  return true;
}

CCofObject::CCofObject() {
  set_name(LoadString(5064));
}

std::unique_ptr<CNamedObject> CCofObject::CreateSame() const {
  return std::make_unique<CCofObject>();
}

CClpiObject* CCofObject::AddNewClip() {
  const CClpiObject* last = GetAt(GetCount() - 1);
  const int32_t id = last != nullptr ? last->id() + 1 : 0;
  auto clip = std::make_unique<CClpiObject>();
  clip->set_id(id);
  clip->set_name(Format("%s#%d", LoadString(5066), id));
  CClpiObject* added = clip.get();
  Add(std::move(clip));
  return added;
}

CClpiObject* CCofObject::FindClip(int number) const {
  if (number < 0) return nullptr;
  for (const auto& clip : items()) {
    if (clip->id() == number) return clip.get();
  }
  return nullptr;
}

CCofObject* CurrentClips() {
  return g_current_clips;
}

void SetCurrentClips(CCofObject* clips) {
  g_current_clips = clips;
}

}  // namespace tessel
