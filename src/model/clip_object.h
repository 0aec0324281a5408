// One clip of the disc (CClpiObject) and the list of clips (CCofObject).
//
// A clip is a numbered transport stream of STREAM with the clip information of the same number.
// CClpiObject holds the parsed clip information and the editing state that starts from it when
// the disc is loaded: the tracks the clip came with, its time range and its source timing.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "formats/clpi.h"
#include "model/named_object.h"
#include "model/track_kinds.h"
#include "mux/raw_track.h"

namespace tessel {

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

  std::vector<int> seamless_predecessors;
  std::vector<int> seamless_successors;
  uint8_t built = 0;
  uint32_t start_time = 0;      // 90 kHz, first STC sequence
  uint32_t end_time = 0;        // 90 kHz
  uint8_t frame_rate_code = 0;  // of the primary video stream
  SClipTiming source_timing;
  SClipTiming output_timing;
  std::string clpi_path;
  std::string stream_path;
  SRipTracks original_tracks;
  SRawTracks new_tracks;  // added from elementary-stream files
  uint32_t in_point = 0;  // source packet numbers of the cut
  uint32_t out_point = kToEnd;
  int32_t in_offset = 0;  // 90 kHz after the start time
  int32_t out_offset = 0;
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
