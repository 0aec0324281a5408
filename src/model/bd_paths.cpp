#include "model/bd_paths.h"

#include <algorithm>
#include <filesystem>

#include "platform/files.h"
#include "platform/format.h"

namespace tessel {
namespace {

const char* N(BdName name) {
  return BdNameText(name);
}

// Appends the separator in place; false for an empty folder, which names nothing.
bool PrepareFolder(std::string& folder) {
  if (folder.empty()) return false;
  if (folder.back() != '/') folder.push_back('/');
  return true;
}

bool ValidNumber(int number) {
  return number >= 0 && number <= kMaxFileNumber;
}

// "%s%s/%05d.%s": a numbered file inside one of the BDMV sub-folders.
bool NumberedPath(std::string& folder, BdName sub, int number, BdName ext, std::string& out) {
  if (!ValidNumber(number) || !PrepareFolder(folder)) return false;
  out = Format("%s%s/%05d.%s", folder.c_str(), N(sub), number, N(ext));
  return true;
}

// "%s%s.%s" or, for the backup copy, "%s%s/%s.%s".
bool DatabasePath(std::string& folder, BdName title, bool backup, std::string& out) {
  if (!PrepareFolder(folder)) return false;
  out = backup ? Format("%s%s/%s.%s", folder.c_str(), N(BdName::kBackup), N(title),
                        N(BdName::kBdmvExt))
               : Format("%s%s.%s", folder.c_str(), N(title), N(BdName::kBdmvExt));
  return true;
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

int CompareNoCase(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(Lower(a[i]));
    const auto y = static_cast<unsigned char>(Lower(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The decimal value of the leading digits, saturated so that long digit runs stay ordered.
int64_t LeadingValue(std::string_view text) {
  constexpr int64_t kCap = int64_t{1} << 40;
  int64_t value = 0;
  for (char c : text) {
    if (!IsDigit(c)) break;
    value = std::min(kCap, value * 10 + (c - '0'));
  }
  return value;
}

}  // namespace

bool ClipInfoPath(std::string& folder, int number, bool backup, std::string& out) {
  if (!backup) return NumberedPath(folder, BdName::kClipinf, number, BdName::kClpiExt, out);
  if (!ValidNumber(number) || !PrepareFolder(folder)) return false;
  out = Format("%s%s/%s/%05d.%s", folder.c_str(), N(BdName::kBackup), N(BdName::kClipinf), number,
               N(BdName::kClpiExt));
  return true;
}

bool PlaylistPath(std::string& folder, int number, std::string& out) {
  if (number != kPlaylistPattern) {
    return NumberedPath(folder, BdName::kPlaylist, number, BdName::kMplsExt, out);
  }
  if (!PrepareFolder(folder)) return false;
  out = Format("%s%s/*.%s", folder.c_str(), N(BdName::kPlaylist), N(BdName::kMplsExt));
  return true;
}

bool StreamPath(std::string& folder, int number, std::string& out) {
  return NumberedPath(folder, BdName::kStream, number, BdName::kM2tsExt, out);
}

bool IndexPath(std::string& folder, bool backup, std::string& out) {
  return DatabasePath(folder, BdName::kIndex, backup, out);
}

bool MovieObjectPath(std::string& folder, bool backup, std::string& out) {
  return DatabasePath(folder, BdName::kMovieObject, backup, out);
}

bool SoundPath(std::string& folder, std::string& out) {
  if (!PrepareFolder(folder)) return false;
  out = Format("%s%s/%s.%s", folder.c_str(), N(BdName::kAuxdata), N(BdName::kSound),
               N(BdName::kBdmvExt));
  return true;
}

bool ProjectFolderPath(std::string& root, int which, std::string& out) {
  if (which < 1 || which > 2 || !PrepareFolder(root)) return false;
  out = Format("%s%s", root.c_str(), N(which == 1 ? BdName::kDisc : BdName::kTemp));
  return true;
}

std::string ResolveNoCase(const std::string& path, size_t fixed) {
  fixed = std::min(fixed, path.size());
  std::string out = path.substr(0, fixed);
  size_t start = fixed;
  while (start < path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string_view part(path.data() + start, end - start);
    const fs::path parent = out.empty() ? fs::path(".") : fs::path(out);
    std::optional<fs::path> found;
    if (!part.empty()) found = FindChildNoCase(parent, part);
    out += found ? found->filename().string() : std::string(part);
    if (end < path.size()) out.push_back('/');
    start = end + 1;
  }
  return out;
}

std::string FindBdmvFolder(std::string_view folder) {
  if (folder.empty()) return {};
  std::string path = WithTrailingSlash(fs::path(std::string(folder)));
  const std::string last = fs::path(path.substr(0, path.size() - 1)).filename().string();
  if (EqualsNoCase(last, N(BdName::kBdmv))) return path;
  const std::optional<fs::path> child = FindChildNoCase(path, N(BdName::kBdmv));
  std::error_code ec;
  if (child && fs::is_directory(*child, ec)) return WithTrailingSlash(*child);
  return path;
}

int NaturalCompare(std::string_view a, std::string_view b) {
  const int plain = CompareNoCase(a, b);
  if (a.size() == b.size()) return plain;
  const size_t shorter = std::min(a.size(), b.size());
  if (shorter < 2) return plain;
  size_t pos = 0;
  while (pos < shorter - 1 && Lower(a[pos]) == Lower(b[pos])) ++pos;
  if (pos == 0 || !IsDigit(a[pos]) || !IsDigit(b[pos])) return plain;
  const int64_t va = LeadingValue(a.substr(pos));
  const int64_t vb = LeadingValue(b.substr(pos));
  if (va == 0 || vb == 0) return plain;
  return va < vb ? -1 : (va > vb ? 1 : 0);
}

std::string DiscNameFromPath(std::string_view folder) {
  std::string text(folder);
  if (!text.empty() && text.back() == '/') text.pop_back();
  // Drops "/BDMV"; the folder above it names the disc. A folder that holds the database files
  // under another name names the disc itself.
  const size_t last = text.rfind('/');
  const std::string_view last_name =
      std::string_view(text).substr(last == std::string::npos ? 0 : last + 1);
  if (EqualsNoCase(last_name, N(BdName::kBdmv))) text.resize(text.size() > 5 ? text.size() - 5 : 0);
  const size_t slash = text.rfind('/');
  if (slash == std::string::npos || slash + 1 == text.size()) return text;
  return text.substr(slash + 1);
}

}  // namespace tessel
