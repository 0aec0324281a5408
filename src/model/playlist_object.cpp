#include "model/playlist_object.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>
#include <set>

#include "model/clip_object.h"
#include "model/edit_snapshot.h"
#include "mux/byte_io.h"
#include "mux/demux.h"
#include "platform/common.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/prompt.h"
#include "platform/string_table.h"

namespace tessel {
namespace {

CPofObject* g_current_playlists = nullptr;

// The clip a sub-path entry names: the sub-play item's own clip for clip entry 0, else one of its
// multi-clip entries; -1 when the references point outside the playlist.
int SubPathClip(const Mpls& playlist, const StreamEntry& entry) {
  if (entry.RefToSubPathID >= playlist.sub_paths.size()) return -1;
  const SUB_PATH& path = playlist.sub_paths[entry.RefToSubPathID];
  if (path.items.empty()) return -1;
  const SUB_PLAY_ITEM& item = path.items.front();
  if (entry.RefToSubClipEntryID == 0) return item.ClipNumber();
  if (!item.multi_clip || entry.RefToSubClipEntryID > item.multi_clip->entries.size()) return -1;
  const auto& name =
      item.multi_clip->entries[entry.RefToSubClipEntryID - 1].ClipInformationFileName;
  return FileNumberFromName(std::string(std::begin(name), std::end(name)));
}

std::unique_ptr<SRipTrack> TrackFromEntry(const Mpls& playlist, const PRIMARY_STREAM_ENTRY& stream,
                                          int clip_number) {
  auto track = std::make_unique<SRipTrack>();
  track->entry = stream.Entry;
  track->pid = stream.Entry.Pid();
  track->sub_path = stream.Entry.Type == 2 ? 1 : 0;
  track->clip_number = track->sub_path ? SubPathClip(playlist, stream.Entry) : clip_number;
  static_cast<AttributeValues&>(track->attributes) = stream.Attributes;
  track->primary = IsSecondaryPid(track->pid) ? 0 : 1;
  if (const std::optional<std::string> language = GetLanguage(stream.Attributes)) {
    track->language = LanguageRow(*language);
  }
  track->keep = 1;
  return track;
}

}  // namespace

std::unique_ptr<CNamedObject> CMplsObject::CreateSame() const {
  return std::make_unique<CMplsObject>();
}

bool CMplsObject::Parse(std::span<const uint8_t> file) {
  return Read(file, nullptr);
}

void CMplsObject::BuildTrackList() {
  tracks.clear();
  initial_visibility.clear();
  if (play_items.empty()) return;
  const PLAY_ITEM& first = play_items.front();
  const int clip_number = first.ClipNumber();
  for (const StreamEntryList& list : first.stn.lists) {
    for (const auto& stream : list) tracks.push_back(TrackFromEntry(*this, *stream, clip_number));
  }
  const CCofObject* clips = CurrentClips();
  if (const CClpiObject* clip = clips ? clips->FindClip(clip_number) : nullptr) {
    SRipTracks clip_tracks;
    BuildOriginalTracks(clip->Streams(), clip_number, clip_tracks);
    for (auto& track : clip_tracks) {
      if (FindByPid(tracks, track->pid)) continue;
      track->keep = 0;
      tracks.push_back(std::move(track));
    }
  }
  for (size_t i = 0; i < tracks.size(); ++i) {
    tracks[i]->order = static_cast<int32_t>(i);
    initial_visibility.push_back(tracks[i]->keep != 0);
  }
}

// ---- editing ----

namespace {

constexpr int kStringVideoCount = 5075;
constexpr int64_t k27MHzPerMs = 27000;

void Link(SMuxTrack& original, SMuxTrack& replacement) {
  UnlinkReplacement(original);
  UnlinkReplacement(replacement);
  original.replacement = &replacement;
  replacement.replacement = &original;
}

int32_t ClampToInt32(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

// The length of a clip's first STC sequence in 90 kHz ticks.
int64_t ClipTicks(const CClpiObject* clip) {
  if (!clip || clip->end_time <= clip->start_time) return 0;
  return static_cast<int64_t>(clip->end_time - clip->start_time);
}

// Units of a stream that carries a frame as two units (a core and its extension).
int UnitsPerFrame(uint8_t coding_type) {
  return coding_type == coding::kEac3 || coding_type == coding::kDtsHd ||
                 coding_type == coding::kDtsHdXll
             ? 2
             : 1;
}

// A frame of the track at 27 MHz, an integer for every Blu-ray rate (1001/24 ms is 1126125).
int64_t Frame27(const SRawTrack& track) {
  return std::llround(track.FrameDurationMs() * k27MHzPerMs);
}

// The unit playing at a time (27 MHz): the first unit of the frame that holds the time.
int64_t UnitAt(int64_t time27, int64_t frame27, int per_frame) {
  if (frame27 <= 0 || time27 <= 0) return 0;
  return per_frame * (time27 / frame27);
}

void SetRange(SPipeSource& source, uint8_t unit, int64_t start, int64_t end) {
  source.range_unit = unit;
  source.range_start = ClampToInt32(start);
  source.range_end = ClampToInt32(end);
}

void SetEmptyRange(SPipeSource& source) {
  source.range_start = -1;
  source.range_end = -1;
}

// The random-access frame nearest to `frame`: itself, else the closer neighbour (the later one on
// a tie, the earlier one when none follows, the frame count when there is neither).
int64_t NearestRandomAccessFrame(const CStreamInfo& info, uint32_t frame) {
  const uint32_t count = info.header.auCount;
  if (frame >= count) return count;
  const uint32_t after = info.FindRandomAccessAfter(frame);
  if (after == frame) return frame;
  const int64_t before = info.FindRandomAccessBefore(frame);
  if (after >= count) return before >= 0 ? before : count;
  if (before < 0) return after;
  return frame - before < int64_t{after} - frame ? before : int64_t{after};
}

}  // namespace

bool CMplsObject::UsesClip(int number) const {
  const std::vector<int> clips = CollectClips();
  return number >= 0 && std::find(clips.begin(), clips.end(), number) != clips.end();
}

std::vector<CClpiObject*> CMplsObject::ItemClips() const {
  std::vector<CClpiObject*> clips;
  const CCofObject* list = CurrentClips();
  for (const PLAY_ITEM& item : play_items) {
    clips.push_back(list ? list->FindClip(item.ClipNumber()) : nullptr);
  }
  return clips;
}

void CMplsObject::ApplyClipKeep(int clip, uint16_t pid, bool keep) {
  for (auto& track : tracks) {
    if (track->clip_number == clip && track->pid == pid && !track->sub_path) {
      track->keep = keep ? 1 : 0;
      return;
    }
  }
}

bool CMplsObject::OfferCopy(int clip, const SRawTrack& track, const SRipTrack* replaced,
                            const STrackAuthor& causing, int causing_count) {
  SRipTrack* own = replaced ? FindByPid(tracks, replaced->pid) : nullptr;
  if (replaced && !own) return true;
  const bool plays_clip =
      std::any_of(play_items.begin(), play_items.end(),
                  [clip](const PLAY_ITEM& item) { return item.ClipNumber() == clip; });
  if (!plays_clip || new_tracks.Find(track.MainPath(), false) >= 0) return true;
  if (CountByKind(new_tracks, GetKind(track), track.primary != 0) >= causing_count) return true;
  if (own && !track.primary && GetKind(track) == TrackKind::kVideo && own->replacement) {
    return true;
  }
  std::unique_ptr<SRawTrack> copy = SRawTrack::FromSource(track.source);
  if (!copy) return false;
  copy->primary = track.primary;
  copy->source.range_start = -1;
  copy->keep = 1;
  copy->author = causing;
  copy->language = track.language;
  SRawTrack* added = copy.get();
  new_tracks.Append(std::move(copy));
  if (own) {
    Link(*own, *added);
    own->keep = 0;
    added->order = own->order;
  } else {
    added->order = static_cast<int32_t>(new_tracks.size() + tracks.size()) - 1;
  }
  UpdateVideoFlags();
  return true;
}

void CMplsObject::RemoveCopies(const std::filesystem::path& source) {
  bool removed = false;
  for (size_t i = new_tracks.size(); i-- > 0;) {
    const SRawTrack& track = new_tracks[i];
    if (track.IsPropagated() && !track.IsEmpty() &&
        EqualsNoCase(track.MainPath().string(), source.string())) {
      new_tracks.Remove(i);
      removed = true;
    }
  }
  if (removed) UpdateVideoFlags();
}

void CMplsObject::SetCopyLanguage(const std::filesystem::path& source, int language) {
  const int index = new_tracks.Find(source, false);
  if (index >= 0) new_tracks[static_cast<size_t>(index)].SetLanguageCode(LanguageAt(language).code);
}

bool CMplsObject::SetVisibleAt(int index, bool visible, bool also_in_clips) {
  if (index < 0 || static_cast<size_t>(index) >= tracks.size()) return false;
  SRipTrack& track = *tracks[static_cast<size_t>(index)];
  track.keep = visible ? 1 : 0;
  if (!also_in_clips || play_items.empty() ||
      track.clip_number != play_items.front().ClipNumber()) {
    return true;
  }
  const uint16_t pid = track.pid;
  for (CClpiObject* clip : ItemClips()) {
    if (clip) clip->SetKeepByPid(pid, visible);
  }
  return true;
}

namespace {

// The playlists of the current list that share a clip with a member of the set, recursively.
std::vector<CMplsObject*> ConnectedSet(CMplsObject& start) {
  std::vector<CMplsObject*> set = {&start};
  const CPofObject* playlists = CurrentPlaylists();
  if (!playlists) return set;
  std::set<int> clips;
  for (int clip : start.CollectClips()) clips.insert(clip);
  for (bool grew = true; grew;) {
    grew = false;
    for (const auto& playlist : playlists->items()) {
      if (std::find(set.begin(), set.end(), playlist.get()) != set.end()) continue;
      const std::vector<int> uses = playlist->CollectClips();
      if (std::none_of(uses.begin(), uses.end(), [&](int c) { return clips.count(c) > 0; })) {
        continue;
      }
      set.push_back(playlist.get());
      clips.insert(uses.begin(), uses.end());
      grew = true;
    }
  }
  return set;
}

// An entry's type and the two reference bytes after it.
bool SameReference(const StreamEntry& a, const StreamEntry& b) {
  if (a.Type != b.Type) return false;
  if (a.Type == 1) return a.RefToStreamPID_OfMainClip == b.RefToStreamPID_OfMainClip;
  if (a.Type == 2) {
    return a.RefToSubPathID == b.RefToSubPathID && a.RefToSubClipEntryID == b.RefToSubClipEntryID;
  }
  if (a.Type == 3) {
    return a.RefToSubPathID == b.RefToSubPathID &&
           (a.RefToStreamPID_OfMainClip >> 8) == (b.RefToStreamPID_OfMainClip >> 8);
  }
  return a.OtherBytes == b.OtherBytes;
}

}  // namespace

void CMplsObject::SetVisibleRelated(int index, bool visible) {
  if (index < 0 || static_cast<size_t>(index) >= tracks.size()) return;
  const StreamEntry entry = tracks[static_cast<size_t>(index)]->entry;
  for (CMplsObject* member : ConnectedSet(*this)) {
    for (size_t i = 0; i < member->tracks.size(); ++i) {
      const SRipTrack& track = *member->tracks[i];
      if (track.sub_path || !SameReference(track.entry, entry)) continue;
      member->SetVisibleAt(static_cast<int>(i), visible, true);
      break;
    }
  }
}

bool CMplsObject::SetVisibleAll(bool visible) {
  bool changed = false;
  for (auto& track : tracks) changed = SetFlag(track->keep, visible) || changed;
  return changed;
}

bool CMplsObject::SetClearedAt(int index, bool cleared) {
  if (index < 0 || static_cast<size_t>(index) >= tracks.size()) return false;
  SRipTrack& track = *tracks[static_cast<size_t>(index)];
  // The playlist's own record shows the state in its view.
  track.cleared = cleared ? 1 : 0;
  bool changed = false;
  for (CClpiObject* clip : ItemClips()) {
    SRipTrack* own = clip ? FindByPid(clip->original_tracks, track.pid) : nullptr;
    if (own) changed = SetFlag(own->cleared, cleared) || changed;
  }
  return changed;
}

// The segment of the track for each play item, cut by the lengths of the play items' clips.
std::optional<std::vector<SPipeSource>> CMplsObject::CutAcrossItems(const SRawTrack& track) const {
  const uint8_t type = track.CodingType();
  const TrackKind kind = GetKind(track);
  const int64_t frame27 = Frame27(track);
  std::unique_ptr<CPipe> pipe;
  const CStreamInfo* info = nullptr;
  if (kind == TrackKind::kVideo) {
    if (CreatePipe(track.source, nullptr, pipe) != 0 || !pipe->PrimaryReader()) return std::nullopt;
    info = &pipe->PrimaryReader()->info;
  }
  std::vector<SPipeSource> segments;
  int64_t elapsed_ms = 0;
  int64_t next = 0;
  for (const CClpiObject* clip : ItemClips()) {
    const int64_t duration_ms = ClipTicks(clip) / 90;
    SPipeSource segment = track.source;
    segment.graphics_time_base = 0;
    if (kind == TrackKind::kVideo) {
      const int64_t count = info->header.auCount;
      const int64_t wanted = frame27 > 0 ? next + duration_ms * k27MHzPerMs / frame27 : count;
      const int64_t end = count <= 1 || wanted >= count
                              ? count
                              : NearestRandomAccessFrame(*info, static_cast<uint32_t>(wanted));
      // The item that reaches the last frame takes the rest of the stream.
      if (count <= 1) {
        SetRange(segment, range_unit::kUnits, 0, 0);
      } else if (end >= count) {
        next >= count ? SetEmptyRange(segment) : SetRange(segment, range_unit::kUnits, next, 0);
      } else {
        SetRange(segment, range_unit::kUnits, next, end - 1);
      }
      next = std::max(next, end);
    } else if (kind == TrackKind::kPg) {
      SetRange(segment, range_unit::kMilliseconds, elapsed_ms, elapsed_ms + duration_ms);
      segment.graphics_time_base = ClampToInt32(-90 * elapsed_ms);
    } else if (type == coding::kDtsHd || type == coding::kDtsHdXll) {
      SetRange(segment, range_unit::kMilliseconds, elapsed_ms, elapsed_ms + duration_ms);
    } else {
      const int per_frame = UnitsPerFrame(type);
      const int64_t first = UnitAt(elapsed_ms * k27MHzPerMs, frame27, per_frame);
      const int64_t last = UnitAt((elapsed_ms + duration_ms) * k27MHzPerMs, frame27, per_frame) - 1;
      last < first ? SetEmptyRange(segment) : SetRange(segment, range_unit::kUnits, first, last);
    }
    segments.push_back(segment);
    elapsed_ms += duration_ms;
  }
  return segments;
}

bool CMplsObject::AddSegment(CClpiObject& clip, const SRawTrack& track, const SPipeSource& segment,
                             const SRipTrack* replaced, int own_count) {
  SRipTrack* original = nullptr;
  if (replaced) {
    original = FindByPid(clip.original_tracks, replaced->pid);
    if (!original || original->replacement) return true;
  }
  const TrackKind kind = GetKind(track);
  const bool primary = track.primary != 0;
  if (kind == TrackKind::kVideo && primary) {
    if (CountByKind(clip.new_tracks, kind, true) > 0) return true;
  } else if (kind == TrackKind::kVideo) {
    if (!original) return true;
  } else if (!original && CountByKind(clip.new_tracks, kind, primary) >= own_count) {
    return true;
  }
  std::unique_ptr<SRawTrack> created = SRawTrack::FromSource(segment);
  if (!created) return false;
  created->primary = track.primary;
  created->author = Author();
  if (kind != TrackKind::kVideo) created->language = track.language;
  SRawTrack* added = created.get();
  clip.new_tracks.Append(std::move(created));
  if (original) {
    Link(*original, *added);
    original->keep = 0;
    added->order = original->order;
  } else {
    added->order = static_cast<int32_t>(clip.new_tracks.size() + clip.original_tracks.size()) - 1;
  }
  if (kind == TrackKind::kVideo && primary) added->order = 0;
  if (!clip.PropagateNewTrack(*added, original, Author(), own_count)) return false;
  clip.UpdateVideoFlags();
  return true;
}

SRawTrack* CMplsObject::AddTrackAcrossClips(bool primary, SRipTrack* replaced,
                                            const std::filesystem::path& file,
                                            const ProgressCallback& progress, int* result) {
  std::unique_ptr<SRawTrack> track = SRawTrack::Create(file, primary, progress, result);
  if (!track) return nullptr;
  SRawTrack* added = SpreadTrack(std::move(track), replaced);
  if (!added && result) *result = 2;
  return added;
}

SRawTrack* CMplsObject::SpreadTrack(std::unique_ptr<SRawTrack> owned, SRipTrack* replaced) {
  if (play_items.empty()) return nullptr;
  CEditSnapshot snapshot;
  SRawTrack& track = *owned;
  track.author = Author();
  const TrackKind kind = GetKind(track);
  const bool primary = track.primary != 0;
  // Earlier copies of this kind give way to the track; they go once nothing can fail any more.
  std::vector<const SRawTrack*> stale;
  for (size_t i = 0; i < new_tracks.size(); ++i) {
    const SRawTrack& other = new_tracks[i];
    if (other.IsPropagated() && GetKind(other) == kind && (other.primary != 0) == primary) {
      stale.push_back(&other);
    }
  }
  new_tracks.Append(std::move(owned));
  const int own_count = CountByKind(new_tracks, kind, primary) - static_cast<int>(stale.size());
  const std::optional<std::vector<SPipeSource>> segments = CutAcrossItems(track);
  bool done = segments.has_value();
  const std::vector<CClpiObject*> clips = ItemClips();
  for (size_t i = 0; done && i < clips.size(); ++i) {
    if (clips[i]) done = AddSegment(*clips[i], track, (*segments)[i], replaced, own_count);
  }
  if (!done) {
    snapshot.Restore();
    return nullptr;
  }
  if (replaced) {
    Link(*replaced, track);
    replaced->keep = 0;
    track.order = replaced->order;
  }
  for (const SRawTrack* gone : stale) {
    for (size_t i = 0; i < new_tracks.size(); ++i) {
      if (&new_tracks[i] == gone) {
        new_tracks.Remove(i);
        break;
      }
    }
  }
  UpdateVideoFlags();
  return &track;
}

SRawTrack* CMplsObject::AddEmptyTrack(const std::filesystem::path& file,
                                      const ProgressCallback& progress, int* result) {
  std::unique_ptr<SRawTrack> owned = SRawTrack::Create(file, true, progress, result);
  if (!owned) return nullptr;
  if (GetKind(*owned) == TrackKind::kVideo) {
    ShowMessage("Can't add empty video track ! ");
    if (result) *result = 2;
    return nullptr;
  }
  SRawTrack& track = *owned;
  track.author = Author();
  track.empty_link = &track;
  const TrackKind kind = GetKind(track);
  for (size_t i = 0; i < new_tracks.size(); ++i) {
    const SRawTrack& other = new_tracks[i];
    if (GetKind(other) == kind && other.primary && other.author != Author()) {
      new_tracks.Remove(i);
      break;
    }
  }
  new_tracks.Append(std::move(owned));
  const int own_count = CountByKind(new_tracks, kind, true);
  for (CClpiObject* clip : ItemClips()) {
    if (!clip || CountByKind(clip->new_tracks, kind, true) >= own_count) continue;
    auto placeholder = std::make_unique<SRawTrack>();
    placeholder->empty_link = &track;
    placeholder->author = Author();
    placeholder->language = track.language;
    SRawTrack* added = placeholder.get();
    clip->new_tracks.Append(std::move(placeholder));
    added->order = static_cast<int32_t>(clip->new_tracks.size() + clip->original_tracks.size()) - 1;
    clip->UpdateVideoFlags();
  }
  return &track;
}

namespace {

void RemoveTrack(SRawTracks& list, const SRawTrack* track) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (&list[i] == track) {
      list.Remove(i);
      return;
    }
  }
}

}  // namespace

bool CMplsObject::DeleteNewTrack(const STrackAuthor& requester, int index) {
  if (index < 0 || static_cast<size_t>(index) >= new_tracks.size()) return false;
  SRawTrack* track = &new_tracks[static_cast<size_t>(index)];
  if (track->author != requester) {
    if (requester == Author()) {
      ShowMessage("The track can only be deleted by the original author !");
    }
    return false;
  }
  if (track->IsEmpty()) {
    for (CClpiObject* clip : ItemClips()) {
      if (!clip) continue;
      for (size_t i = clip->new_tracks.size(); i-- > 0;) {
        if (clip->new_tracks[i].empty_link == track) clip->new_tracks.Remove(i);
      }
    }
  } else if (!track->IsPropagated()) {
    const std::filesystem::path main_path = track->MainPath();
    for (CClpiObject* clip : ItemClips()) {
      if (clip) clip->DeleteNewTrack(main_path, Author());
    }
  }
  // The track it replaced stays invisible.
  RemoveTrack(new_tracks, track);
  return true;
}

void CMplsObject::SetNewTrackLanguage(int index, int language) {
  if (index < 0 || static_cast<size_t>(index) >= new_tracks.size()) return;
  SRawTrack& track = new_tracks[static_cast<size_t>(index)];
  track.SetLanguageCode(LanguageAt(language).code);
  if (track.IsEmpty()) return;
  const std::filesystem::path main_path = track.MainPath();
  for (CClpiObject* clip : ItemClips()) {
    if (clip) clip->SetNewTrackLanguage(main_path, language);
  }
}

// The segment of a track delayed by `delay` ticks for each play item, with the item's own delay.
std::vector<CMplsObject::SDelayedSegment> CMplsObject::CutDelayed(const SRawTrack& track,
                                                                  int32_t delay) const {
  std::vector<SDelayedSegment> segments;
  const uint8_t type = track.CodingType();
  const int64_t frame27 = Frame27(track);
  const int per_frame = UnitsPerFrame(type);
  const bool by_time = GetKind(track) == TrackKind::kPg;
  // Other streams move by whole frames: a delay shorter than a frame leaves them where they are.
  const int64_t frames = frame27 > 0 ? int64_t{delay} * 300 / frame27 : 0;
  const int64_t shift27 = by_time ? int64_t{delay} * 300 : frames * frame27;
  int64_t elapsed = 0;  // 90 kHz
  for (const PLAY_ITEM& item : play_items) {
    const int64_t length =
        item.OutTime > item.InTime ? 2 * (int64_t{item.OutTime} - item.InTime) : 0;
    SDelayedSegment segment{track.source, 0};
    const int64_t start27 = elapsed * 300 - shift27;
    const int64_t end27 = (elapsed + length) * 300 - shift27;
    elapsed += length;
    if (end27 <= 0) {
      SetEmptyRange(segment.source);
      segments.push_back(segment);
      continue;
    }
    if (start27 < 0) segment.delay = ClampToInt32(-start27 / 300);
    const int64_t from27 = std::max<int64_t>(start27, 0);
    if (by_time) {
      const int64_t from_ms = from27 / (300 * 90);
      SetRange(segment.source, range_unit::kMilliseconds, from_ms, end27 / (300 * 90));
      segment.source.graphics_time_base = ClampToInt32(-90 * from_ms);
    } else {
      const int64_t first = UnitAt(from27, frame27, per_frame);
      const int64_t last = UnitAt(end27, frame27, per_frame) - 1;
      last < first ? SetEmptyRange(segment.source)
                   : SetRange(segment.source, range_unit::kUnits, first, last);
    }
    segments.push_back(segment);
  }
  return segments;
}

void CMplsObject::SetNewTrackDelay(int index, int32_t delay) {
  if (index < 0 || static_cast<size_t>(index) >= new_tracks.size()) return;
  SRawTrack& track = new_tracks[static_cast<size_t>(index)];
  if (track.delay == delay) return;
  const std::vector<SDelayedSegment> segments = CutDelayed(track, delay);
  const std::vector<CClpiObject*> clips = ItemClips();
  // Every clip track is opened on its new range first, so that a failure changes nothing.
  std::vector<std::pair<SRawTrack*, std::unique_ptr<SRawTrack>>> reopened;
  for (size_t i = 0; i < clips.size() && i < segments.size(); ++i) {
    SRawTrack* own = clips[i] ? clips[i]->FindNewTrack(track.MainPath()) : nullptr;
    if (!own) continue;
    SPipeSource source = segments[i].source;
    source.language = own->source.language;
    std::unique_ptr<SRawTrack> opened = SRawTrack::FromSource(source);
    if (!opened) return;
    opened->delay = segments[i].delay;
    reopened.emplace_back(own, std::move(opened));
  }
  for (auto& [own, opened] : reopened) {
    own->source = opened->source;
    own->header = opened->header;
    own->record = std::move(opened->record);
    own->second_header = opened->second_header;
    own->second_record = std::move(opened->second_record);
    own->delay = opened->delay;
  }
  track.delay = delay;
}

bool CMplsObject::Reorder(std::span<const int> permutation) {
  const std::vector<const SMuxTrack*> rows = OutputTracks();
  std::vector<bool> seen(rows.size(), false);
  if (permutation.size() != rows.size()) return false;
  for (int row : permutation) {
    if (row < 0 || static_cast<size_t>(row) >= rows.size() || seen[static_cast<size_t>(row)]) {
      return false;
    }
    seen[static_cast<size_t>(row)] = true;
  }
  // Hidden tracks keep their places between the rows, so that showing one again puts it back
  // where it was.
  std::vector<SMuxTrack*> all;
  for (auto& t : tracks) all.push_back(t.get());
  for (SMuxTrack* t : new_tracks.Pointers()) all.push_back(t);
  std::stable_sort(all.begin(), all.end(), [](const SMuxTrack* a, const SMuxTrack* b) {
    return ComesBeforeInOutput(*a, *b);
  });
  size_t next_row = 0;
  for (SMuxTrack*& t : all) {
    if (!t->keep) continue;
    t = const_cast<SMuxTrack*>(rows[static_cast<size_t>(permutation[next_row++])]);
  }
  for (size_t i = 0; i < all.size(); ++i) {
    if (all[i]->order != static_cast<int32_t>(i)) reordered = true;
    all[i]->order = static_cast<int32_t>(i);
  }
  return true;
}

std::vector<const SMuxTrack*> CMplsObject::OutputTracks() const {
  const std::vector<SMuxTrack*> added = new_tracks.Pointers();
  const std::vector<const SMuxTrack*> pointers(added.begin(), added.end());
  return OutputOrder(tracks, pointers);
}

bool CMplsObject::IsModified() const {
  if (new_tracks.size() > 0 || reordered) return true;
  for (size_t i = 0; i < tracks.size(); ++i) {
    if (i >= initial_visibility.size() || (tracks[i]->keep != 0) != initial_visibility[i]) {
      return true;
    }
  }
  const CCofObject* clips = CurrentClips();
  for (int number : CollectClips()) {
    const CClpiObject* clip = clips ? clips->FindClip(number) : nullptr;
    if (clip && clip->IsModified()) return true;
  }
  return false;
}

bool CMplsObject::UpdateVideoFlags() {
  bool changed = false;
  if (SRipTrack* video = FindByPid(tracks, kPrimaryVideoPid)) {
    changed = SetFlag(video->keep, CountByKind(new_tracks, TrackKind::kVideo, true) == 0);
  }
  for (uint16_t pid = 0x1B00; pid <= 0x1B1F; ++pid) {
    SRipTrack* track = FindByPid(tracks, pid);
    if (track && track->replacement && track->keep) {
      track->keep = 0;
      changed = true;
    }
  }
  return changed;
}

namespace {

bool KeepsAnyTrack(const CClpiObject& clip) {
  return clip.new_tracks.size() > 0 ||
         std::any_of(clip.original_tracks.begin(), clip.original_tracks.end(),
                     [](const auto& track) { return track->keep != 0; });
}

}  // namespace

int CMplsObject::CheckBeforeBuild(bool& ask) const {
  if (CountByKind(tracks, TrackKind::kVideo, true, true) +
          CountByKind(new_tracks, TrackKind::kVideo, true) !=
      1) {
    ShowMessage(Format("%05d.mpls: %s", id(), LoadString(kStringVideoCount)));
    return 2;
  }
  const std::vector<CClpiObject*> clips = ItemClips();
  const int first = play_items.empty() ? -1 : play_items.front().ClipNumber();
  for (const auto& track : tracks) {
    if (!track->keep || track->clip_number != first) continue;
    for (const CClpiObject* clip : clips) {
      if (!clip || !KeepsAnyTrack(*clip)) continue;
      const SRipTrack* own = FindByPid(clip->original_tracks, track->pid);
      if (own && !own->keep) {
        ShowMessage(Format("%05d.mpls: track of %d was unchecked in %05d.m2ts", id(), track->pid,
                           clip->id()));
        return 2;
      }
    }
  }
  for (size_t i = 1; i < play_items.size(); ++i) {
    if (play_items[i].ConnectionCondition == connection_condition::kNonSeamless) continue;
    if (!clips[i] || !clips[i - 1]) continue;
    if (!clips[i]->SeamlessCheck(*clips[i - 1], ask)) return 2;
  }
  return 0;
}

bool CMplsObject::HasDistinctClips() const {
  if (play_items.size() < 2) return false;
  std::set<int> seen;
  for (const PLAY_ITEM& item : play_items) {
    if (!seen.insert(item.ClipNumber()).second) return false;
  }
  return true;
}

bool CMplsObject::IsAllEmpty() const {
  for (const CClpiObject* clip : ItemClips()) {
    if (clip && KeepsAnyTrack(*clip)) return false;
  }
  return true;
}

JobResult CMplsObject::DemuxTracks(const std::filesystem::path& folder,
                                   const ProgressCallback& progress) {
  if (play_items.empty()) return JobResult::kFailed;
  const std::string out =
      folder.empty() ? std::filesystem::path(path).parent_path().string() : folder.string();
  std::vector<SRipTrack*> visible;
  for (auto& track : tracks) {
    if (track->keep) visible.push_back(track.get());
  }
  CTrackInfoMap set;
  if (!CreateDemuxWriters(out, name(), visible, set)) return JobResult::kFailed;
  const std::vector<CClpiObject*> clips = ItemClips();
  for (size_t i = 0; i < play_items.size(); ++i) {
    if (!clips[i]) continue;
    CFileSource source(clips[i]->stream_path);
    if (!source.ok()) {
      ShowMessage(source.error());
      return JobResult::kFailed;
    }
    SDemuxReport report;
    const JobResult result = DemuxStreamFile(source, clips[i]->stream_path, set, progress, report);
    if (result != JobResult::kDone) return result;
    const PLAY_ITEM& item = play_items[i];
    if (item.OutTime > item.InTime) set.time_offset += 2 * (int64_t{item.OutTime} - item.InTime);
  }
  std::string error;
  if (!set.Finish(error)) {
    ShowMessage(error);
    return JobResult::kFailed;
  }
  return JobResult::kDone;
}

uint64_t CMplsObject::DurationMs() const {
  // 64-bit and without negative items, so that neither a long playlist nor a play item whose OUT
  // precedes its IN wraps around.
  uint64_t ticks45 = 0;
  for (const PLAY_ITEM& item : play_items) {
    if (item.OutTime > item.InTime) ticks45 += item.OutTime - item.InTime;
  }
  return Ticks45ToMs(ticks45);
}

uint64_t PlayItemDurationMs(const PLAY_ITEM& item) {
  return item.OutTime > item.InTime ? Ticks45ToMs(item.OutTime - item.InTime) : 0;
}

CPofObject::CPofObject() {
  set_name(LoadString(5063));
}

std::unique_ptr<CNamedObject> CPofObject::CreateSame() const {
  return std::make_unique<CPofObject>();
}

CMplsObject* CPofObject::AddNewPlaylist() {
  auto playlist = std::make_unique<CMplsObject>();
  playlist->set_name(Format("%s#%d", LoadString(5065), GetCount()));
  CMplsObject* added = playlist.get();
  Add(std::move(playlist));
  return added;
}

CPofObject* CurrentPlaylists() {
  return g_current_playlists;
}

void SetCurrentPlaylists(CPofObject* playlists) {
  g_current_playlists = playlists;
}

}  // namespace tessel
