#include "model/playlist_object.h"

#include <algorithm>
#include <optional>

#include "model/clip_object.h"
#include "platform/common.h"
#include "platform/format.h"
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
  track->attributes = stream.Attributes;
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
