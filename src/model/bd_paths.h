// Folder and file naming of a BDMV tree, shared by loading, building and the size estimate, and
// the two text helpers of folder listings (the listing order and the disc's display name).
//
// Built paths always use the canonical upper-case names. A copied disc may carry other cases
// (`bdmv/playlist/...`), so whatever opens an existing file first maps the built path onto the
// names that really exist with ResolveNoCase.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessel {

// One ordered table of names; each group is a contiguous run so callers can iterate over it.
enum class BdName : int {
  // project sub-folders
  kDisc,
  kTemp,
  // disc sub-folders
  kBdmv,
  kCertificate,
  // folders inside BDMV
  kStream,
  kClipinf,
  kPlaylist,
  kBdjo,
  kJar,
  kAuxdata,
  kMeta,
  kBackup,
  // folder inside STREAM
  kSsif,
  // file titles
  kIndex,
  kMovieObject,
  kSound,
  // extensions
  kBdmvExt,
  kMplsExt,
  kClpiExt,
  kM2tsExt,
};

inline constexpr std::array<const char*, 20> kBdNames = {
    "DISC",        "TEMP",  "BDMV",    "CERTIFICATE", "STREAM", "CLIPINF", "PLAYLIST",
    "BDJO",        "JAR",   "AUXDATA", "META",        "BACKUP", "SSIF",    "index",
    "MovieObject", "Sound", "bdmv",    "mpls",        "clpi",   "m2ts"};

constexpr const char* BdNameText(BdName name) {
  return kBdNames[static_cast<size_t>(name)];
}

// An inclusive run of the name table.
struct BdNameRange {
  BdName first;
  BdName last;
};

inline constexpr BdNameRange kProjectFolders{BdName::kDisc, BdName::kTemp};
inline constexpr BdNameRange kDiscFolders{BdName::kBdmv, BdName::kCertificate};
inline constexpr BdNameRange kBdmvFolders{BdName::kStream, BdName::kBackup};
// Copied as they are by the build and counted by the size estimate.
inline constexpr BdNameRange kExtraFolders{BdName::kBdjo, BdName::kMeta};
// Mirrored into BACKUP by the build.
inline constexpr BdNameRange kBackupFolders{BdName::kClipinf, BdName::kJar};

inline constexpr int kMaxFileNumber = 99999;
// The playlist number that asks PlaylistPath for the search pattern instead of a file.
inline constexpr int kPlaylistPattern = -1;

// Path builders. Each takes the BDMV folder (a trailing '/' is appended in place when missing)
// and builds the full path into `out`. They return false and leave `out` alone for an empty
// folder or a number outside 0..99999 (a negative number would print as "-0001").
bool ClipInfoPath(std::string& folder, int number, bool backup, std::string& out);
bool PlaylistPath(std::string& folder, int number, std::string& out);
bool StreamPath(std::string& folder, int number, std::string& out);
bool IndexPath(std::string& folder, bool backup, std::string& out);
bool MovieObjectPath(std::string& folder, bool backup, std::string& out);
bool SoundPath(std::string& folder, std::string& out);
// `R/DISC` for 1 and `R/TEMP` for 2 below the project root `R`; any other index is refused.
bool ProjectFolderPath(std::string& root, int which, std::string& out);

// Maps every component of `path` after its first `fixed` characters onto an existing entry of the
// same name without regard to case. Components that do not exist are kept as written, so the
// result names the file an open will then fail on.
std::string ResolveNoCase(const std::string& path, size_t fixed);

// The BDMV folder for a folder the user picked: the folder itself when it is called BDMV (in any
// case) or holds no BDMV sub-folder, else that sub-folder. Ends with '/'; empty for empty input.
std::string FindBdmvFolder(std::string_view folder);

// The order of file listings: case-insensitive, except that texts of different lengths whose
// common prefix ends in digits compare by the decimal values from there ("a9" < "a10").
// Negative, zero or positive like strcmp.
int NaturalCompare(std::string_view a, std::string_view b);

// The display name of a disc: the name of the folder that contains the BDMV folder, or of the
// folder itself when it has another name.
std::string DiscNameFromPath(std::string_view folder);

}  // namespace tessel
