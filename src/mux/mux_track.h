// The record every track of a new clip shares, whether its packets are copied from an existing
// clip or made from an elementary-stream file: the user's decisions and the output PID and
// order the multiplexer assigns.
#pragma once

#include <cstdint>

#include "formats/tables.h"

namespace tessel {

struct SMuxTrack {
  virtual ~SMuxTrack() = default;

  virtual uint8_t CodingType() const = 0;

  uint8_t keep = 1;                  // original: kept in the clip, or visible in a playlist
  uint8_t primary = 1;               // 0 for picture-in-picture video and secondary audio
  uint8_t sub_path = 0;              // a playlist entry that names a stream of a sub-path clip
  SMuxTrack* replacement = nullptr;  // kept in both directions, never owning
  int32_t order = 0;                 // position in the output stream order
  uint8_t original = 0;
  uint32_t output_pid = 0;
  int language = kDefaultLanguageRow;
  int32_t delay = 0;  // 90 kHz ticks
};

}  // namespace tessel
