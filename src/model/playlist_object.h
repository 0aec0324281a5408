// One playlist of the disc (CMplsObject) and the list of playlists (CPofObject).
//
// CMplsObject holds the parsed playlist and the track list the user edits on the playlist level,
// built from the first play item's stream table when the disc is loaded.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "formats/mpls.h"
#include "model/named_object.h"
#include "model/track_kinds.h"
#include "mux/raw_track.h"
#include "platform/common.h"
#include "platform/progress.h"

namespace tessel {

class CClpiObject;

class CMplsObject : public CNamedObject, public Mpls {
 public:
  std::unique_ptr<CNamedObject> CreateSame() const override;

  // Parses a whole playlist file; false when it does not parse.
  bool Parse(std::span<const uint8_t> file);

  // The track list: one record per stream of the first play item's stream table, then, hidden,
  // every stream of the first play item's clip that the table does not list. Records the
  // visibility each track starts with. Needs the current clip list.
  void BuildTrackList();

  // The summed length of the play items in milliseconds.
  uint64_t DurationMs() const;

  // ---- editing ----
  // Edits that analyse files change nothing when an analysis (of a clip's segment or of a copy
  // for another playlist included) fails or is cancelled.

  STrackAuthor Author() const { return {STrackAuthor::Kind::kPlaylist, id()}; }

  // The visibility of a track; with `also_in_clips` (and a track of the first play item's clip)
  // every play item's clip keeps or drops its track of that PID as well. False for a bad index.
  bool SetVisibleAt(int index, bool visible, bool also_in_clips);
  // "Delete from related M2ts" (visible false) and "Cancel Delete" (true): in every playlist of
  // the connected set, the first main-path track naming the same stream, also in the clips.
  void SetVisibleRelated(int index, bool visible);
  // Every track's visibility, of this playlist only. True when a flag changed.
  bool SetVisibleAll(bool visible);
  // The cleared flag of the track's stream in every play item's clip. True when a clip changed.
  bool SetClearedAt(int index, bool cleared);
  // Analyses the file and cuts it into one segment per play item for the play items' clips
  // (replacing `replaced` when given); the playlist track, or null with nothing changed.
  SRawTrack* AddTrackAcrossClips(bool primary, SRipTrack* replaced,
                                 const std::filesystem::path& file,
                                 const ProgressCallback& progress, int* result = nullptr);
  SRawTrack* SpreadTrack(std::unique_ptr<SRawTrack> track, SRipTrack* replaced);
  // A track present for every play item with content only where the file has it; null (with
  // "Can't add empty video track ! " for video) when nothing changed.
  SRawTrack* AddEmptyTrack(const std::filesystem::path& file, const ProgressCallback& progress,
                           int* result = nullptr);
  // Only the author may delete: this playlist is told "The track can only be deleted by the
  // original author !", others are refused silently. True when deleted.
  bool DeleteNewTrack(const STrackAuthor& requester, int index);
  void SetNewTrackLanguage(int index, int language);
  // The delay in 90 kHz ticks; the track's source is cut again over the play items' clips.
  void SetNewTrackDelay(int index, int32_t delay);
  // Sets the order positions so that the output order becomes `permutation` of the current one
  // (entry i names the current row that moves to row i). False (nothing changed) when it is not
  // a permutation of the rows.
  bool Reorder(std::span<const int> permutation);

  bool IsModified() const;
  bool UpdateVideoFlags();
  // 0, or 2 after a message; the seamless questions share `ask` with every playlist of a build.
  int CheckBeforeBuild(bool& ask) const;
  // At least two play items and no clip twice.
  bool HasDistinctClips() const;
  // No play item, or no play item's clip keeps or adds a track.
  bool IsAllEmpty() const;
  // The visible tracks over every play item, one file per track in `folder` (empty: the
  // playlist's folder).
  JobResult DemuxTracks(const std::filesystem::path& folder, const ProgressCallback& progress);
  // Visible tracks and new tracks in output order.
  std::vector<const SMuxTrack*> OutputTracks() const;
  // The clip of each play item (null for one that is not loaded).
  std::vector<CClpiObject*> ItemClips() const;
  bool UsesClip(int number) const;

  // ---- how the edits of a clip reach this playlist ----
  // The main-path track of the clip's PID takes the clip's keep flag as its visibility.
  void ApplyClipKeep(int clip, uint16_t pid, bool keep);
  // A copy of a clip's new track added by `causing` (which has `causing_count` new tracks of its
  // kind and primary flag), linked to this playlist's track of the replaced PID when one is
  // given; nothing when the playlist does not qualify. False when the copy could not be made.
  bool OfferCopy(int clip, const SRawTrack& track, const SRipTrack* replaced,
                 const STrackAuthor& causing, int causing_count);
  // Removes the copies (not the playlist's own tracks) of the path.
  void RemoveCopies(const std::filesystem::path& source);
  void SetCopyLanguage(const std::filesystem::path& source, int language);

  std::string path;
  SRipTracks tracks;
  SRawTracks new_tracks;  // added from elementary-stream files
  std::vector<bool> initial_visibility;
  bool reordered = false;  // a reorder alone makes the playlist modified

 private:
  struct SDelayedSegment {
    SPipeSource source;
    int32_t delay = 0;  // 90 kHz, the part of the delay before the segment starts
  };
  std::optional<std::vector<SPipeSource>> CutAcrossItems(const SRawTrack& track) const;
  std::vector<SDelayedSegment> CutDelayed(const SRawTrack& track, int32_t delay) const;
  bool AddSegment(CClpiObject& clip, const SRawTrack& track, const SPipeSource& segment,
                  const SRipTrack* replaced, int own_count);
};

// The length of one play item in milliseconds; 0 when its OUT time precedes its IN time.
uint64_t PlayItemDurationMs(const PLAY_ITEM& item);

// The list of playlists of a disc, named by string 5063 ("Mpls(s)").
class CPofObject : public CNamedPtrArray<CMplsObject> {
 public:
  CPofObject();
  std::unique_ptr<CNamedObject> CreateSame() const override;

  // Appends an empty playlist named "%s#%d" from string 5065 ("Mpls") and the count before
  // the addition; its id stays -1 until loading sets it. Returns it.
  CMplsObject* AddNewPlaylist();
};

// The playlist list of the loaded disc; null when no disc is loaded.
CPofObject* CurrentPlaylists();
void SetCurrentPlaylists(CPofObject* playlists);

}  // namespace tessel
