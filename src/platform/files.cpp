#include "platform/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "platform/format.h"

namespace tessel {
namespace {

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::optional<FileStatus> GetFileStatus(const fs::path& path) {
  std::error_code ec;
  const fs::file_status st = fs::status(path, ec);
  if (ec || !fs::exists(st)) return std::nullopt;
  FileStatus out;
  out.is_directory = fs::is_directory(st);
  if (!out.is_directory) out.size = fs::file_size(path, ec);
  out.last_write = fs::last_write_time(path, ec);
  out.read_only = access(path.c_str(), W_OK) != 0;
  return out;
}

std::string FileErrorText(const fs::path& path, int error_number) {
  return Format("%s: %s", path.c_str(), std::strerror(error_number));
}

bool ReadWholeFile(const fs::path& path, std::vector<uint8_t>& data, std::string* error,
                   uint64_t max_size) {
  data.clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (error) *error = FileErrorText(path, errno ? errno : ENOENT);
    return false;
  }
  std::error_code ec;
  const uint64_t size = fs::file_size(path, ec);
  if (ec || size > max_size) {
    if (error) *error = FileErrorText(path, ec ? ec.value() : EFBIG);
    return false;
  }
  data.resize(static_cast<size_t>(size));
  if (size && !in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(size))) {
    if (error) *error = FileErrorText(path, EIO);
    data.clear();
    return false;
  }
  return true;
}

bool WriteWholeFile(const fs::path& path, const std::vector<uint8_t>& data, std::string* error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    if (error) *error = FileErrorText(path, errno ? errno : EACCES);
    return false;
  }
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  out.close();
  if (!out) {
    if (error) *error = FileErrorText(path, EIO);
    return false;
  }
  return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

bool WildcardMatchNoCase(std::string_view pattern, std::string_view name) {
  // Iterative match with back-tracking to the last '*'.
  size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || Lower(pattern[p]) == Lower(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::vector<fs::path> EnumerateFolder(const fs::path& folder, std::string_view pattern,
                                      bool folders) {
  std::vector<fs::path> out;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const bool is_dir = it->is_directory(ec);
    if (is_dir != folders) continue;
    if (WildcardMatchNoCase(pattern, it->path().filename().string())) out.push_back(it->path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::optional<fs::path> FindChildNoCase(const fs::path& folder, std::string_view name) {
  std::error_code ec;
  const fs::path exact = folder / fs::path(std::string(name));
  if (fs::exists(exact, ec)) return exact;
  std::optional<fs::path> found;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string child = it->path().filename().string();
    if (EqualsNoCase(child, name) && (!found || child < found->filename().string())) {
      found = it->path();
    }
  }
  return found;
}

fs::path TemporaryFolder() {
  std::error_code ec;
  fs::path folder = fs::temp_directory_path(ec);
  if (ec || !fs::is_directory(folder, ec)) folder = fs::path(P_tmpdir);
  return folder;
}

std::string WithTrailingSlash(const fs::path& folder) {
  std::string s = folder.string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  if (s.empty() || s.back() != '/') s.push_back('/');
  return s;
}

}  // namespace tessel
