// One clip of the disc (CClpiObject) and the list of clips (CCofObject).
//
// A clip is a numbered transport stream of STREAM with the clip information of the same number.
// CClpiObject holds the parsed clip information and the editing state that starts from it when
// the disc is loaded: the tracks the clip came with, its time range and its source timing.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "formats/clpi.h"
#include "model/named_object.h"
#include "model/track_kinds.h"
#include "mux/raw_track.h"
#include "platform/common.h"
#include "platform/progress.h"

namespace tessel {

class CMplsObject;

// Timing of a clip's stream, laid out like the multiplexer's result record: the rate in bytes per
// second, then 27 MHz values.
struct SClipTiming {
  uint32_t rate = 0;
  uint64_t presentation_start = 0;
  uint64_t presentation_end = 0;
  uint64_t frame_duration = 0;
  uint64_t first_video_pts = 0;
  uint64_t last_video_pts = 0;
  uint64_t first_packet_time = 0;
  uint64_t end_packet_time = 0;
  uint64_t end_margin[2] = {};
};

class CClpiObject : public CNamedObject, public Clpi {
 public:
  static constexpr uint32_t kToEnd = 0xFFFFFFFF;

  std::unique_ptr<CNamedObject> CreateSame() const override;

  // Parses a whole clip information file; false when it does not parse.
  bool Parse(std::span<const uint8_t> file);
  // The editing state of a freshly loaded clip: every original track kept, no cut, the time range
  // of the first STC sequence and the source timing from the clip information.
  void InitState();

  // "MainTS for a MainPath of Movie", the only clips the user may edit.
  bool IsMovieClip() const;
  uint32_t PacketCount() const;
  int TrackCount() const { return static_cast<int>(original_tracks.size()); }
  std::span<const StreamInfo> Streams() const;

  // ---- editing ----
  // Every edit that reaches the playlists passes through the playlists that use this clip in the
  // current playlist list. Operations that analyse a file change nothing when an analysis fails
  // or is cancelled (copies for the playlists included).

  STrackAuthor Author() const { return {STrackAuthor::Kind::kClip, id()}; }

  // Keep flags of original tracks; a change of a track other than the primary video reaches the
  // playlists' visibility. True when a flag of this clip changed.
  bool SetKeepAt(int index, bool keep);
  bool SetKeepByPid(uint16_t pid, bool keep);
  bool SetKeepAll(bool keep);

  // Analyses the file and appends it as a primary new track with a copy in every playlist that
  // uses the clip; null when the analysis failed or was cancelled (`result`: 1 cancelled, 2
  // failed). The caller gives the track its order position (AddTrackCommand does).
  SRawTrack* AddNewTrack(const std::filesystem::path& path, const ProgressCallback& progress,
                         int* result = nullptr);
  // Appends an analysed track as AddNewTrack does; null (and nothing changed) when a playlist's
  // copy could not be made.
  SRawTrack* AddCreatedTrack(std::unique_ptr<SRawTrack> track);
  // Analyses the file and makes it the replacement of `original` (unkept, linked both ways, its
  // order position), with copies linked in the playlists; null when nothing changed.
  SRawTrack* ReplaceTrack(SRipTrack& original, const std::filesystem::path& path, bool primary,
                          const ProgressCallback& progress, int* result = nullptr);
  SRawTrack* ReplaceWithTrack(SRipTrack& original, std::unique_ptr<SRawTrack> track);
  // Removes the new track of the path with the playlists' copies of it. Only its author may:
  // this clip is told "The track can only be deleted by the original author!", a playlist is
  // refused silently. True when deleted.
  bool DeleteNewTrack(const std::filesystem::path& path, const STrackAuthor& requester);
  // The language (a row of the language table) of the new track of the path and of its copies.
  void SetNewTrackLanguage(const std::filesystem::path& path, int language);
  // The delay of a new track in milliseconds (kept in ticks); not passed to the playlists.
  void SetNewTrackDelay(int index, int32_t delay_ms);
  // Clearing the primary video track clears every original track. True when a flag changed.
  bool SetCleared(int index, bool cleared);
  // The cut at the entry point nearest to `t` (90 kHz after the start time); returns the new
  // offset. A time past the last entry point takes that entry; an empty map acts as the end.
  int64_t SetInPoint(int64_t t);
  int64_t SetOutPoint(int64_t t);
  // Writes every kept original track into its own file in `folder` (empty: the stream's folder).
  JobResult DemuxTracks(const std::filesystem::path& folder, const ProgressCallback& progress);

  // Whether the clip must be rebuilt.
  bool IsModified() const;
  // The primary video is kept exactly when no new primary video replaces it; a replaced kept
  // picture-in-picture video is unkept. True when a keep flag changed.
  bool UpdateVideoFlags();
  // The track rules before a build: 0, or 2 after one message (or a question not answered Yes).
  int CheckBeforeBuild();
  // Whether a seamless join with `other` may be built; questions are asked while `ask` is set
  // and a Yes clears it.
  bool SeamlessCheck(const CClpiObject& other, bool& ask) const;
  // Kept original tracks and new tracks in output order.
  std::vector<const SMuxTrack*> OutputTracks() const;
  // Offers a new track of this clip to every playlist that uses it but the causing one (this clip
  // or a playlist, which has `causing_count` new tracks of the kind); false when a copy could not
  // be made (some copies may have been made).
  bool PropagateNewTrack(const SRawTrack& track, const SRipTrack* replaced,
                         const STrackAuthor& causing, int causing_count);
  // The new track of the path (not an empty placeholder); null when none.
  SRawTrack* FindNewTrack(const std::filesystem::path& path) const;

  std::vector<int> seamless_predecessors;
  std::vector<int> seamless_successors;
  uint8_t built = 0;
  uint64_t start_time = 0;      // 90 kHz, first STC sequence (twice a 32-bit 45 kHz value)
  uint64_t end_time = 0;        // 90 kHz
  uint8_t frame_rate_code = 0;  // of the primary video stream
  SClipTiming source_timing;
  SClipTiming output_timing;
  std::string clpi_path;
  std::string stream_path;
  SRipTracks original_tracks;
  SRawTracks new_tracks;  // added from elementary-stream files
  uint32_t in_point = 0;  // source packet numbers of the cut
  uint32_t out_point = kToEnd;
  int64_t in_offset = 0;  // 90 kHz after the start time
  int64_t out_offset = 0;

 private:
  // Every playlist of the current list that uses this clip.
  std::vector<CMplsObject*> RelatedPlaylistObjects() const;
  void ResetPacketCounts();
  int OwnCount(const SRawTrack& track) const;
  int64_t CutAt(int64_t t, uint32_t& point) const;
};

// The list of clips of a disc, named by string 5064 ("M2ts(s)").
class CCofObject : public CNamedPtrArray<CClpiObject> {
 public:
  CCofObject();
  std::unique_ptr<CNamedObject> CreateSame() const override;

  // Appends an empty clip whose id is the last clip's id + 1 (0 for an empty list), named
  // "%s#%d" from string 5066 ("M2ts") and that id; returns it.
  CClpiObject* AddNewClip();

  // The first clip in list order whose id is `number`; null for -1 or an unknown number.
  CClpiObject* FindClip(int number) const;
};

// The clip list of the loaded disc, reachable from every playlist; null when no disc is loaded.
CCofObject* CurrentClips();
void SetCurrentClips(CCofObject* clips);

}  // namespace tessel
