// What Build writes for a clip that keeps no track and for a playlist all of whose clips are
// empty: a short stream of program tables, clock references and null packets, its clip
// information, and a playlist of one play item over that clip. Made with the same writers as
// every other output, so any reader that takes our clips takes these.
#pragma once

#include <cstdint>
#include <vector>

namespace tessel {

inline constexpr uint32_t kEmptyClipPackets = 128;
// 45 kHz presentation range of the empty clip: it starts where our clips start and lasts 0.1 s.
inline constexpr uint32_t kEmptyClipStart = 27000000;
inline constexpr uint32_t kEmptyClipLength = 4500;

// The 128 source packets (24576 bytes) of the empty clip's stream.
std::vector<uint8_t> EmptyClipStream();
// The empty clip's information file.
std::vector<uint8_t> EmptyClipInfo();
// A playlist of one play item that plays the empty clip `clip` whole, with no streams; no play
// item for a negative number.
std::vector<uint8_t> EmptyPlaylist(int clip);

}  // namespace tessel
