// The system's numbered texts (menu captions, messages, labels), compiled into the program.
#pragma once

#include <span>
#include <string_view>

namespace tessel {

struct StringEntry {
  int id;
  const char* text;
};

// Ids of the numbered strings that more than one place shows.
namespace string_id {
inline constexpr int kPlaylistList = 5063;  // "Mpls(s)"
inline constexpr int kClipList = 5064;      // "M2ts(s)"
inline constexpr int kPlaylist = 5065;      // "Mpls"
inline constexpr int kClip = 5066;          // "M2ts"
inline constexpr int kParseError = 5071;    // "Stream parse error:\n%s"
inline constexpr int kNoPlaylist = 5072;    // "has no corresponding mpls file! "
inline constexpr int kNoClip = 5073;        // "has no corresponding clpi file ! "
}  // namespace string_id

// The text of a numbered string; an empty text for an id the table does not hold.
const char* LoadString(int id);

// The whole table, ordered by id.
std::span<const StringEntry> StringTable();

}  // namespace tessel
