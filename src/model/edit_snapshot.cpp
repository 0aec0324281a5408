#include "model/edit_snapshot.h"

#include "model/clip_object.h"
#include "model/playlist_object.h"

namespace tessel {

CEditSnapshot::CEditSnapshot() {
  if (CCofObject* clips = CurrentClips()) {
    for (const auto& clip : clips->items()) {
      Capture(clip->original_tracks);
      Capture(clip->new_tracks);
    }
  }
  if (CPofObject* playlists = CurrentPlaylists()) {
    for (const auto& playlist : playlists->items()) {
      Capture(playlist->tracks);
      Capture(playlist->new_tracks);
    }
  }
}

void CEditSnapshot::Capture(SRipTracks& tracks) {
  for (auto& track : tracks) {
    originals_.push_back({track.get(), track->keep, track->cleared, track->replacement,
                          track->order, track->packet_count});
  }
}

void CEditSnapshot::Capture(SRawTracks& tracks) {
  lists_.push_back({&tracks, tracks.size()});
  for (size_t i = 0; i < tracks.size(); ++i) {
    SRawTrack& t = tracks[i];
    new_tracks_.push_back({&t, t.keep, t.primary, t.replacement, t.order, t.language, t.delay,
                           t.author, t.source, t.empty_link});
  }
}

void CEditSnapshot::Restore() {
  for (const SListState& state : lists_) {
    while (state.list->size() > state.size) state.list->Remove(state.list->size() - 1);
  }
  for (const SOriginalState& s : originals_) {
    s.track->keep = s.keep;
    s.track->cleared = s.cleared;
    s.track->replacement = s.replacement;
    s.track->order = s.order;
    s.track->packet_count = s.packet_count;
  }
  for (const SNewState& s : new_tracks_) {
    SRawTrack& t = *s.track;
    t.keep = s.keep;
    t.primary = s.primary;
    t.replacement = s.replacement;
    t.order = s.order;
    t.language = s.language;
    t.delay = s.delay;
    t.author = s.author;
    t.source = s.source;
    t.empty_link = s.empty_link;
  }
}

}  // namespace tessel
