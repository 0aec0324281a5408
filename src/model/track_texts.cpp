#include "model/track_texts.h"

#include "formats/stn.h"
#include "formats/tables.h"
#include "platform/format.h"

namespace tessel {

std::string TrackPidText(const SRipTrack& track) {
  return Format("0x%04X", track.pid);
}

std::string TrackCodecText(const SRipTrack& track) {
  const char* name = CodingTypeShortName(track.CodingType());
  return name ? name : Format("0x%02X", track.CodingType());
}

std::string TrackDescription(const SRipTrack& track) {
  return StreamDescription(track.attributes.Values(), true);
}

std::string TrackLanguage(const SRipTrack& track) {
  return GetLanguage(track.attributes).value_or("");
}

std::string TrackLine(const SRipTrack& track) {
  std::string line = TrackPidText(track) + ", " + TrackCodecText(track);
  const std::string description = TrackDescription(track);
  if (!description.empty()) line += ", " + description;
  return line;
}

}  // namespace tessel
