// The texts every track list shows for an original track, shared by the application's lists and
// `tessel info --tracks`, so that both print the same words.
#pragma once

#include <string>

#include "model/track_kinds.h"

namespace tessel {

// "0x1100".
std::string TrackPidText(const SRipTrack& track);
// The short codec name ("AC-3"), or "0x%02X" of a coding type without a name.
std::string TrackCodecText(const SRipTrack& track);
// The stream description with its language ("Multi, 48K, eng"); empty when there is nothing.
std::string TrackDescription(const SRipTrack& track);
// The three-letter language of an audio or graphics stream; empty for the others.
std::string TrackLanguage(const SRipTrack& track);
// "0x1100, AC-3, Multi, 48K, eng": PID, codec and description joined.
std::string TrackLine(const SRipTrack& track);

}  // namespace tessel
