// File system helpers shared by every layer. Folder paths end with '/'.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessel {

namespace fs = std::filesystem;

// Largest file ReadWholeFile accepts; database files are far smaller.
inline constexpr uint64_t kMaxWholeFileSize = 64ull << 20;

struct FileStatus {
  uint64_t size = 0;
  fs::file_time_type last_write{};
  bool is_directory = false;
  bool read_only = false;
};

// The status of a file or folder; nothing when it does not exist.
std::optional<FileStatus> GetFileStatus(const fs::path& path);

// Reads a whole file into memory. On failure returns false and sets `error` to the platform's
// error text formatted with the path.
bool ReadWholeFile(const fs::path& path, std::vector<uint8_t>& data, std::string* error = nullptr,
                   uint64_t max_size = kMaxWholeFileSize);

// Writes `data` to a file, replacing it.
bool WriteWholeFile(const fs::path& path, const std::vector<uint8_t>& data,
                    std::string* error = nullptr);

// The error text for a failed operation on a path: "<path>: <system message>".
std::string FileErrorText(const fs::path& path, int error_number);

// The entries of a folder whose names match a pattern with '*' and '?' (case ignored), sorted by
// name. Files only unless `folders` is set, then folders only.
std::vector<fs::path> EnumerateFolder(const fs::path& folder, std::string_view pattern,
                                      bool folders = false);

// The child of `folder` called `name`, matched without regard to case (an exact match wins).
std::optional<fs::path> FindChildNoCase(const fs::path& folder, std::string_view name);

// Case-insensitive comparisons of names (ASCII letters only, as in the system code page).
bool EqualsNoCase(std::string_view a, std::string_view b);
bool WildcardMatchNoCase(std::string_view pattern, std::string_view name);

// The folder for temporary files: $TMPDIR when it names a folder, else the system's.
fs::path TemporaryFolder();

// A folder path as text with exactly one trailing '/'.
std::string WithTrailingSlash(const fs::path& folder);

}  // namespace tessel
