// The folders of a build's output: where the project root and the output BDMV folder lie, their
// preparation and the clean-up of files that do not belong to the new disc. Nothing here ever
// follows a link out of the output.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <system_error>

#include "model/bd_paths.h"
#include "platform/common.h"

namespace tessel {

inline constexpr const char* kProjectFolderName = "Tessel";
// Lies in the project root from the preparation until a build has finished.
inline constexpr const char* kIncompleteMarker = "INCOMPLETE";

// The project root "Tessel/" below the folder the user chose, and the output BDMV folder in it.
std::string ProjectRoot(const std::string& chosen_folder);
std::string OutputBdmvFolder(const std::string& project_root);
// `parent` + the layout's name + "/".
std::string SubFolder(const std::string& parent, BdName name);

// Whether two folders are the same or one lies inside the other, by identity after resolving
// "..", links and the case of the names.
bool FoldersOverlap(const std::filesystem::path& a, const std::filesystem::path& b);

// Asks before reusing an existing root, creates it and the layout's folders: cancelled when the
// user declined (nothing was touched), failed after a message.
JobResult PrepareOutputFolder(std::string root);
// The layout's folders below the root, each created when missing; an existing BACKUP is emptied.
bool CreateProjectFolders(const std::string& root);
// Deletes what a folder holds (and the folder itself when asked); a link is removed itself.
bool DeleteFolderContents(const std::filesystem::path& folder, bool remove_folder);
// Deletes every file of the folder not named "%05d.<ext>" with one of the numbers.
JobResult RemoveStaleFiles(const std::filesystem::path& folder, BdName ext,
                           const std::set<int>& numbers);

// Shows the file system's text for a failed operation; always the failed result.
JobResult FileFailure(const std::filesystem::path& path, const std::error_code& error);

}  // namespace tessel
