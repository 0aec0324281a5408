// The record every track of a new clip shares, whether its packets are copied from an existing
// clip or made from an elementary-stream file: the user's decisions and the output PID and
// order the multiplexer assigns, and the state the multiplexer keeps per track while it runs.
//
// The muxing operations answer "nothing" in the base, so a record that only carries editing
// state (a track a playlist names) needs none of them.
#pragma once

#include <cstdint>
#include <memory>

#include "formats/ep_map.h"
#include "formats/stn.h"
#include "formats/tables.h"
#include "mux/pipe.h"
#include "ts/esi.h"
#include "ts/tstd.h"

namespace tessel {

// One access unit as the multiplexer sees it; size 0 marks the end unit of a stream.
struct SAuBase {
  virtual ~SAuBase() = default;

  // The next 192-byte source packet of the unit with bytes 4..191 filled (the multiplexer writes
  // the TP_extra_header); `bytes_left` is what stays unsent after it. Null when nothing is left.
  virtual const uint8_t* NextPacket(uint64_t& /*bytes_left*/, uint32_t& /*payload*/) {
    return nullptr;
  }
  // The unit's entry point, once its first packet was made and it qualifies.
  virtual KEY_POINT_INFO* KeyPoint() { return nullptr; }
  // Whether the unit belongs to the base part of a two-part stream.
  virtual bool IsBaseSubStream() const { return false; }
  virtual void SetTransportPriority(bool /*priority*/) {}

  uint32_t flags = 0;
  uint32_t dts = 0;  // 90 kHz, 0 = none
  uint32_t pts = 0;  // 90 kHz
  uint32_t size = 0;
};

struct SMuxTrack {
  virtual ~SMuxTrack() = default;

  virtual uint8_t CodingType() const = 0;

  // --- muxing operations ---
  // Resets the muxing state and creates the buffer models; false when the track cannot be sent.
  virtual bool Prepare();
  // Frees what Prepare made.
  virtual void Release();
  // The current unit; null when finished.
  virtual SAuBase* CurrentAu() { return nullptr; }
  virtual SFirstAuInfo FirstAuInfo() const { return {}; }
  // Loads the next unit and feeds it to the buffer models; false on a failure (already shown).
  virtual bool NextAu() {
    finished = true;
    return true;
  }
  // Whether the current unit starts a graphics presentation (always true for other streams).
  virtual bool IsGraphicsStart() const { return true; }
  virtual uint32_t FrameDuration90k() const { return 0; }
  virtual double FrameDurationMs() const { return 0; }
  // The clip information record of the stream (PID and attributes).
  virtual void FillClipAttributes(StreamInfo& info) const;
  // The program map entry of the stream, with the output PID.
  virtual void FillEsi(ESI& esi) const;
  // Bytes of elementary data the track will send, for progress.
  virtual uint64_t TotalBytes() const { return 0; }
  // Moves the key points gathered while sending into `ep_entry`.
  virtual void GatherKeyPoints() {}
  // Creates `main_model` (and `second_model` for two-part streams).
  virtual void CreateStd() {}

  // Earliest time (27 MHz) the next packet may leave, from the second model when asked.
  uint64_t EarliestSendTime(bool second) const;
  // Feeds a newly loaded unit to the buffer models and sets the extension flag.
  void FeedModels(const SAuBase& unit, bool extension_unit);

  uint8_t keep = 1;                  // original: kept in the clip, or visible in a playlist
  uint8_t primary = 1;               // 0 for picture-in-picture video and secondary audio
  uint8_t sub_path = 0;              // a playlist entry that names a stream of a sub-path clip
  SMuxTrack* replacement = nullptr;  // kept in both directions, never owning
  int32_t order = 0;                 // position in the output stream order
  uint8_t original = 0;
  uint32_t output_pid = 0;
  int language = kDefaultLanguageRow;
  int32_t delay = 0;  // 90 kHz ticks

  // --- muxing state ---
  std::unique_ptr<CStdBase> main_model;
  std::unique_ptr<CStdBase> second_model;
  uint64_t next_send = 0;  // 27 MHz
  bool key_points_wanted = false;
  STREAM_PID_ENTRY ep_entry;
  int64_t first_index = 0;
  int64_t last_index = 0;
  int64_t current_index = -1;
  uint64_t bytes_left = 0;  // of the current unit
  bool finished = false;
  bool extension = false;  // the current unit feeds only the second model
  SFirstAuInfo first_au;
  uint32_t highest_dts = 0;
};

// Clears the replacement link of a track on both sides (before the track goes away).
inline void UnlinkReplacement(SMuxTrack& track) {
  if (track.replacement && track.replacement->replacement == &track) {
    track.replacement->replacement = nullptr;
  }
  track.replacement = nullptr;
}

}  // namespace tessel
