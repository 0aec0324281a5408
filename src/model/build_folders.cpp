#include "model/build_folders.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <system_error>
#include <vector>

#include "platform/files.h"
#include "platform/format.h"
#include "platform/prompt.h"

namespace tessel {
namespace {

// The desktop's language decides between the two text sets of the folder messages.
bool UsesChineseTexts() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value) return std::string_view(value).starts_with("zh");
  }
  return false;
}

// The existing folders of a path's chain, the path itself first, each with its identity.
std::vector<fs::path> ExistingChain(const fs::path& path) {
  std::error_code error;
  fs::path p = fs::weakly_canonical(fs::absolute(path, error), error);
  std::vector<fs::path> chain;
  for (; !p.empty(); p = p.parent_path()) {
    if (fs::exists(p, error)) chain.push_back(p);
    if (p == p.root_path()) break;
  }
  return chain;
}

// Whether `inner` is `outer` or lies somewhere below it.
bool IsWithin(const fs::path& inner, const fs::path& outer) {
  std::error_code error;
  if (!fs::exists(outer, error)) return false;
  for (const fs::path& p : ExistingChain(inner)) {
    if (fs::equivalent(p, outer, error)) return true;
  }
  return false;
}

// ---- folder steps ----

std::vector<std::string> LayoutFolders(const std::string& root) {
  const std::string disc = SubFolder(root, BdName::kDisc);
  const std::string bdmv = SubFolder(disc, BdName::kBdmv);
  const std::string certificate = SubFolder(disc, BdName::kCertificate);
  std::vector<std::string> folders = {disc, SubFolder(root, BdName::kTemp), bdmv, certificate};
  for (int n = static_cast<int>(kBdmvFolders.first); n <= static_cast<int>(kBdmvFolders.last);
       ++n) {
    folders.push_back(SubFolder(bdmv, static_cast<BdName>(n)));
  }
  const std::string backup = SubFolder(bdmv, BdName::kBackup);
  for (int n = static_cast<int>(kBackupFolders.first); n <= static_cast<int>(kBackupFolders.last);
       ++n) {
    folders.push_back(SubFolder(backup, static_cast<BdName>(n)));
  }
  folders.push_back(SubFolder(certificate, BdName::kBackup));
  return folders;
}

}  // namespace

JobResult FileFailure(const fs::path& path, const std::error_code& error) {
  ShowMessage(FileErrorText(path, error.value()));
  return JobResult::kFailed;
}

std::string SubFolder(const std::string& parent, BdName name) {
  return parent + BdNameText(name) + "/";
}

std::string ProjectRoot(const std::string& chosen_folder) {
  return WithTrailingSlash(chosen_folder) + kProjectFolderName + "/";
}

std::string OutputBdmvFolder(const std::string& project_root) {
  return SubFolder(SubFolder(WithTrailingSlash(project_root), BdName::kDisc), BdName::kBdmv);
}

bool FoldersOverlap(const fs::path& a, const fs::path& b) {
  return IsWithin(a, b) || IsWithin(b, a);
}

bool CreateProjectFolders(const std::string& root) {
  const std::string backup = SubFolder(OutputBdmvFolder(root), BdName::kBackup);
  for (const std::string& folder : LayoutFolders(root)) {
    std::error_code error;
    if (folder == backup && fs::is_directory(folder, error) &&
        !DeleteFolderContents(folder, false)) {
      return false;
    }
    if (fs::is_directory(folder, error)) continue;
    if (!fs::create_directory(folder, error) || error) {
      ShowMessage(Format("Cannot create directory: %s !", folder.c_str()));
      return false;
    }
  }
  return true;
}

JobResult PrepareOutputFolder(std::string root) {
  root = WithTrailingSlash(root);
  const bool chinese = UsesChineseTexts();
  std::error_code error;
  if (fs::exists(root, error)) {
    const char* question = chinese ? "%s\n 已经存在,覆盖 ? " : "%s\n exists, overwrite ? ";
    if (AskUser(Format(question, root.c_str()), PromptButtons::kYesNoCancel) !=
        PromptAnswer::kYes) {
      return JobResult::kCancelled;
    }
  } else if (!fs::create_directories(root, error) || error) {
    ShowMessage(Format(chinese ? "创建失败: %s ! " : "Cannot create %s ! ", root.c_str()));
    return JobResult::kFailed;
  }
  return CreateProjectFolders(root) ? JobResult::kDone : JobResult::kFailed;
}

bool DeleteFolderContents(const fs::path& folder, bool remove_folder) {
  std::error_code error;
  std::vector<fs::directory_entry> entries;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    entries.push_back(*it);
  }
  if (error) {
    FileFailure(folder, error);
    return false;
  }
  bool ok = true;
  for (const fs::directory_entry& entry : entries) {
    if (entry.is_directory(error) && !entry.is_symlink(error)) {
      ok = DeleteFolderContents(entry.path(), true) && ok;
    } else if (!fs::remove(entry.path(), error) || error) {
      FileFailure(entry.path(), error);
      ok = false;
    }
  }
  if (remove_folder && ok && (!fs::remove(folder, error) || error)) {
    FileFailure(folder, error);
    ok = false;
  }
  return ok;
}

// Deletes the files of a folder that are not "%05d.<ext>" of one of the numbers. Links are
// removed themselves, never what they point to.
JobResult RemoveStaleFiles(const fs::path& folder, BdName ext, const std::set<int>& numbers) {
  std::set<std::string> wanted;
  for (int n : numbers) wanted.insert(NumberedFileName(n, BdNameText(ext)));
  std::error_code error;
  std::vector<fs::path> stale;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (fs::is_directory(it->symlink_status(error))) continue;
    if (!wanted.contains(it->path().filename().string())) stale.push_back(it->path());
  }
  if (error) return FileFailure(folder, error);
  for (const fs::path& path : stale) {
    fs::remove(path, error);
    if (error) return FileFailure(path, error);
  }
  return JobResult::kDone;
}

}  // namespace tessel
