#include "model/build.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <ctime>
#include <fstream>
#include <optional>
#include <set>
#include <span>
#include <system_error>

#include "model/atc_delta.h"
#include "model/build_folders.h"
#include "model/build_templates.h"
#include "model/playlist_rebuild.h"
#include "model/remux_clip.h"
#include "platform/file_copy.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/prompt.h"
#include "platform/string_table.h"

namespace tessel {
namespace {

constexpr int kStringBuildResult = 9440;  // + the job result
constexpr int kStringTimes = 9461;
constexpr int kStringSameFolder = 9474;

// The writer's buffer for one playlist; a player's limits are far below it.
constexpr size_t kPlaylistBufferSize = 614400;

// User operations a rewritten playlist allows, so that a player lets the viewer change the audio
// and subtitle streams the edits have rearranged.
struct SUserOperation {
  int bit;  // most significant bit first in the 64-bit mask
  const char* name;
};
constexpr std::array<SUserOperation, 3> kAllowedOperations = {{
    {21, "PrimaryAudioStreamNumberChange"},
    {26, "PG_TextST_EnableDisable"},
    {27, "PG_TextST_StreamNumberChange"},
}};

constexpr const char* kIncompleteText =
    "A build into this folder has not finished; its disc may be incomplete.\n";

// What every step of one build needs.
struct SBuildRun {
  CBDDisc& disc;
  std::string out;  // the output BDMV folder, ending with '/'
  const ProgressCallback& progress;
  SBuildReport& report;
};

struct SCopyItem {
  fs::path source;
  fs::path target;
};

bool Continue(const ProgressCallback& progress, const ProgressRecord& record) {
  return !progress || progress(record);
}

// ---- files ----

// A target that already is a regular file (never a link, never the source itself) of the
// source's size and last-write time holds the source's data: every copy sets that time.
bool IsCurrentCopy(const SCopyItem& item) {
  std::error_code error;
  if (fs::symlink_status(item.target, error).type() != fs::file_type::regular) return false;
  if (fs::equivalent(item.source, item.target, error) || error) return false;
  const std::optional<FileStatus> source = GetFileStatus(item.source);
  const std::optional<FileStatus> target = GetFileStatus(item.target);
  return source && target && !source->is_directory && source->size == target->size &&
         source->last_write == target->last_write;
}

uint64_t FileSize(const fs::path& path) {
  const std::optional<FileStatus> status = GetFileStatus(path);
  return status ? status->size : 0;
}

// Copies the items that are not current yet, with one position range over all of them.
JobResult CopyItems(SBuildRun& run, const std::vector<SCopyItem>& items) {
  std::vector<const SCopyItem*> pending;
  uint64_t total = 0;
  for (const SCopyItem& item : items) {
    if (IsCurrentCopy(item)) {
      ++run.report.skipped_files;
      continue;
    }
    pending.push_back(&item);
    total += FileSize(item.source);
  }
  uint64_t done = 0;
  for (const SCopyItem* item : pending) {
    const uint64_t size = FileSize(item->source);
    const ProgressCallback scaled = [&](const ProgressRecord& record) {
      if (record.kind != ProgressKind::kPosition) return Continue(run.progress, record);
      ProgressRecord overall = record;
      overall.position =
          PercentOf(done + size * static_cast<uint64_t>(record.position) / 100, total);
      return Continue(run.progress, overall);
    };
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    const JobResult result = CopyFile(item->source, item->target, scaled, &error);
    run.report.copy_time += std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    if (result == JobResult::kFailed) ShowMessage(error);
    if (result != JobResult::kDone) return result;
    ++run.report.copied_files;
    run.report.copied_bytes += size;
    done += size;
  }
  return JobResult::kDone;
}

// Every file below `source` paired with its place below `target`; the folders are created on the
// way. A folder reached twice (through a link) is taken once.
bool CollectTree(const fs::path& source, const fs::path& target, std::vector<SCopyItem>& items,
                 std::set<fs::path>& seen) {
  std::error_code error;
  if (!seen.insert(fs::weakly_canonical(source, error)).second) return true;
  if (!fs::is_directory(fs::symlink_status(target, error)) &&
      (!fs::create_directory(target, error) || error)) {
    ShowMessage(Format("Cannot create directory: %s !", target.c_str()));
    return false;
  }
  std::vector<fs::directory_entry> entries;
  for (fs::directory_iterator it(source, error), end; !error && it != end; it.increment(error)) {
    entries.push_back(*it);
  }
  if (error) {
    FileFailure(source, error);
    return false;
  }
  std::sort(entries.begin(), entries.end());
  for (const fs::directory_entry& entry : entries) {
    const fs::path to = target / entry.path().filename();
    if (entry.is_directory(error)) {
      if (!CollectTree(entry.path(), to, items, seen)) return false;
    } else {
      items.push_back({entry.path(), to});
    }
  }
  return true;
}

JobResult CopyTree(SBuildRun& run, const fs::path& source, const fs::path& target) {
  std::vector<SCopyItem> items;
  std::set<fs::path> seen;
  if (!CollectTree(source, target, items, seen)) return JobResult::kFailed;
  return CopyItems(run, items);
}

// Writes a file the build makes itself. A target that already holds these bytes is left as it
// is; otherwise the bytes go into a scratch file that replaces the target once complete, so a
// failed write never leaves a torn file and a link at the target is replaced, not followed.
JobResult WriteOutputFile(const fs::path& path, std::span<const uint8_t> bytes) {
  std::error_code error;
  if (fs::symlink_status(path, error).type() == fs::file_type::regular) {
    std::vector<uint8_t> existing;
    if (ReadWholeFile(path, existing, nullptr, bytes.size()) &&
        std::equal(existing.begin(), existing.end(), bytes.begin(), bytes.end())) {
      return JobResult::kDone;
    }
  }
  const fs::path scratch = CopyScratchPath(path);
  fs::remove(scratch, error);
  errno = 0;
  std::ofstream file(scratch, std::ios::binary | std::ios::trunc);
  int failure = file ? 0 : (errno ? errno : EACCES);
  if (file) {
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.flush();
    if (!file) failure = errno ? errno : EIO;
    file.close();
    if (!file && !failure) failure = errno ? errno : EIO;
  }
  if (failure) {
    fs::remove(scratch, error);
    ShowMessage(FileErrorText(path, failure));
    return JobResult::kFailed;
  }
  fs::rename(scratch, path, error);
  if (error) {
    std::error_code ignored;
    fs::remove(scratch, ignored);
    return FileFailure(path, error);
  }
  return JobResult::kDone;
}

void RemoveQuietly(const fs::path& path) {
  std::error_code error;
  fs::remove(path, error);
}

std::string StreamOutPath(SBuildRun& run, int number) {
  std::string path;
  StreamPath(run.out, number, path);
  return path;
}

std::string ClipInfoOutPath(SBuildRun& run, int number) {
  std::string path;
  ClipInfoPath(run.out, number, false, path);
  return path;
}

// ---- clips ----

// A clip that keeps no track and adds none is written as the empty clip.
JobResult WriteEmptyClip(SBuildRun& run, CClpiObject& clip) {
  const std::string stream = StreamOutPath(run, clip.id());
  if (WriteOutputFile(stream, EmptyClipStream()) != JobResult::kDone) return JobResult::kFailed;
  if (WriteOutputFile(ClipInfoOutPath(run, clip.id()), EmptyClipInfo()) != JobResult::kDone) {
    RemoveQuietly(stream);
    return JobResult::kFailed;
  }
  clip.built = 1;
  return JobResult::kDone;
}

JobResult BuildClip(SBuildRun& run, CClpiObject& clip) {
  if (!clip.IsModified()) return JobResult::kDone;
  std::optional<SSeamlessRequest> seamless;
  if (!clip.seamless_predecessors.empty() || !clip.seamless_successors.empty()) {
    seamless = SSeamlessRequest{5, static_cast<int>(clip.seamless_predecessors.size()),
                                static_cast<int>(clip.seamless_successors.size())};
  }
  if (clip.built) return JobResult::kDone;
  if (clip.OutputTracks().empty()) return WriteEmptyClip(run, clip);
  const fs::path stream = StreamOutPath(run, clip.id());
  const fs::path clpi = ClipInfoOutPath(run, clip.id());
  const JobResult result = RemuxClip(clip, stream, clpi, seamless, run.progress);
  if (result != JobResult::kDone) {
    // What an interrupted remultiplex wrote is no clip.
    RemoveQuietly(stream);
    RemoveQuietly(clpi);
  }
  return result;
}

JobResult CopyUnmodifiedClips(SBuildRun& run) {
  std::vector<SCopyItem> streams;
  std::vector<SCopyItem> infos;
  std::vector<int> numbers;
  // An unchanged clip is copied even when it has no stream: its playlists still name it.
  for (const auto& clip : run.disc.clips()->items()) {
    if (clip->IsModified()) continue;
    streams.push_back({clip->stream_path, StreamOutPath(run, clip->id())});
    infos.push_back({clip->clpi_path, ClipInfoOutPath(run, clip->id())});
    numbers.push_back(clip->id());
  }
  JobResult result = CopyItems(run, streams);
  if (result == JobResult::kDone) result = CopyItems(run, infos);
  if (result == JobResult::kDone) run.report.copied_clips = numbers;
  return result;
}

JobResult RemoveStaleClipFiles(SBuildRun& run) {
  std::set<int> numbers;
  for (const auto& clip : run.disc.clips()->items()) numbers.insert(clip->id());
  const JobResult result =
      RemoveStaleFiles(SubFolder(run.out, BdName::kStream), BdName::kM2tsExt, numbers);
  if (result != JobResult::kDone) return result;
  return RemoveStaleFiles(SubFolder(run.out, BdName::kClipinf), BdName::kClpiExt, numbers);
}

JobResult BuildClips(SBuildRun& run) {
  const auto& clips = run.disc.clips()->items();
  const int count = static_cast<int>(
      std::count_if(clips.begin(), clips.end(), [](const auto& c) { return c->IsModified(); }));
  int k = 1;
  for (const auto& clip : clips) {
    if (!clip->IsModified()) continue;
    if (!ReportMessage(run.progress, Format("%d/%d, %05d.m2ts", k, count, clip->id()))) {
      return JobResult::kCancelled;
    }
    const JobResult result = BuildClip(run, *clip);
    if (result != JobResult::kDone) return result;
    run.report.rebuilt_clips.push_back(clip->id());
    ++k;
  }
  if (!ReportMessage(run.progress, "Copying unmodified files")) return JobResult::kCancelled;
  JobResult result = CopyUnmodifiedClips(run);
  if (result == JobResult::kDone) result = RemoveStaleClipFiles(run);
  if (result == JobResult::kDone) result = UpdateAtcDeltas(run.disc, run.out, run.progress);
  return result;
}

// ---- playlists ----

void AllowUserOperations(AppInfoPlaylist& app_info) {
  for (const SUserOperation& operation : kAllowedOperations) {
    app_info.UoMaskTable[operation.bit / 8] &=
        static_cast<uint8_t>(~(0x80u >> (operation.bit % 8)));
  }
}

// The rewritten playlist; written false when nothing of it is left to play.
JobResult WriteRebuiltPlaylist(const CMplsObject& playlist, const fs::path& path, bool& written) {
  Mpls copy = playlist;
  AllowUserOperations(copy.app_info);
  if (!RebuildForOutput(playlist, copy)) return JobResult::kFailed;
  written = !copy.play_items.empty();
  if (!written) return JobResult::kDone;
  const std::vector<uint8_t> bytes = copy.Write();
  if (bytes.size() > kPlaylistBufferSize) {
    ShowMessage(Format("%s: the playlist needs %zu bytes, more than %zu", path.c_str(),
                       bytes.size(), kPlaylistBufferSize));
    return JobResult::kFailed;
  }
  return WriteOutputFile(path, bytes);
}

JobResult WriteOnePlaylist(SBuildRun& run, const CMplsObject& playlist, std::set<int>& numbers) {
  std::string path;
  if (!PlaylistPath(run.out, playlist.id(), path)) return JobResult::kDone;
  if (!playlist.IsModified()) {
    const JobResult result = CopyItems(run, {{playlist.path, path}});
    if (result != JobResult::kDone) return result;
    run.report.copied_playlists.push_back(playlist.id());
    numbers.insert(playlist.id());
    return JobResult::kDone;
  }
  if (playlist.IsAllEmpty()) {
    const int clip = playlist.play_items.empty() ? -1 : playlist.play_items.front().ClipNumber();
    const JobResult result = WriteOutputFile(path, EmptyPlaylist(clip));
    if (result != JobResult::kDone) return result;
    run.report.written_playlists.push_back(playlist.id());
    numbers.insert(playlist.id());
    return JobResult::kDone;
  }
  bool written = false;
  const JobResult result = WriteRebuiltPlaylist(playlist, path, written);
  if (result != JobResult::kDone) return result;
  if (written) {
    run.report.written_playlists.push_back(playlist.id());
    numbers.insert(playlist.id());
  }
  return JobResult::kDone;
}

JobResult WritePlaylists(SBuildRun& run) {
  std::set<int> numbers;
  for (const auto& playlist : run.disc.playlists()->items()) {
    const JobResult result = WriteOnePlaylist(run, *playlist, numbers);
    if (result != JobResult::kDone) return result;
  }
  return RemoveStaleFiles(SubFolder(run.out, BdName::kPlaylist), BdName::kMplsExt, numbers);
}

// ---- the other files ----

JobResult CopyNavigationFiles(SBuildRun& run) {
  std::vector<SCopyItem> items;
  std::string path;
  if (run.disc.movie_objects() && MovieObjectPath(run.out, false, path)) {
    items.push_back({run.disc.movie_objects()->path, path});
  }
  if (run.disc.index() && IndexPath(run.out, false, path)) {
    items.push_back({run.disc.index()->path, path});
  }
  return CopyItems(run, items);
}

// The folder that holds the source BDMV folder.
fs::path SourceDiscFolder(const CBDDisc& disc) {
  return fs::path(disc.folder()).parent_path().parent_path();
}

JobResult CopyOtherFolders(SBuildRun& run) {
  for (int n = static_cast<int>(kExtraFolders.first); n <= static_cast<int>(kExtraFolders.last);
       ++n) {
    const BdName name = static_cast<BdName>(n);
    const std::optional<fs::path> source = FindChildNoCase(run.disc.folder(), BdNameText(name));
    std::error_code error;
    if (!source || !fs::is_directory(*source, error)) continue;
    const JobResult result = CopyTree(run, *source, SubFolder(run.out, name));
    if (result != JobResult::kDone) return result;
  }
  const std::string backup = SubFolder(run.out, BdName::kBackup);
  for (int n = static_cast<int>(kBackupFolders.first); n <= static_cast<int>(kBackupFolders.last);
       ++n) {
    const BdName name = static_cast<BdName>(n);
    std::error_code error;
    if (!fs::is_directory(SubFolder(run.out, name), error)) continue;
    const JobResult result = CopyTree(run, SubFolder(run.out, name), SubFolder(backup, name));
    if (result != JobResult::kDone) return result;
  }
  std::vector<SCopyItem> navigation;
  std::string from;
  std::string to;
  if (IndexPath(run.out, false, from) && IndexPath(run.out, true, to))
    navigation.push_back({from, to});
  if (MovieObjectPath(run.out, false, from) && MovieObjectPath(run.out, true, to)) {
    navigation.push_back({from, to});
  }
  const JobResult result = CopyItems(run, navigation);
  if (result != JobResult::kDone) return result;
  const std::optional<fs::path> certificate =
      FindChildNoCase(SourceDiscFolder(run.disc), BdNameText(BdName::kCertificate));
  std::error_code error;
  if (!certificate || !fs::is_directory(*certificate, error)) return JobResult::kDone;
  const fs::path disc_folder = fs::path(run.out).parent_path().parent_path();
  return CopyTree(run, *certificate, disc_folder / BdNameText(BdName::kCertificate));
}

// ---- the command ----

std::string ClockText(std::chrono::system_clock::time_point at) {
  const std::time_t t = std::chrono::system_clock::to_time_t(at);
  std::tm local{};
  localtime_r(&t, &local);
  char text[16] = {};
  std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

std::string ElapsedText(std::chrono::system_clock::duration elapsed) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
  const long long s = seconds < 0 ? 0 : static_cast<long long>(seconds);
  return Format("%02lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
}

std::string FinalMessage(const CBDDisc& disc, const SBuildReport& report) {
  const char* verdict = LoadString(kStringBuildResult + static_cast<int>(report.result));
  if (report.result != JobResult::kDone) return Format("%s  ", verdict);
  const std::string times =
      Format(LoadString(kStringTimes), ClockText(report.start).c_str(),
             ClockText(report.end).c_str(), ElapsedText(report.end - report.start).c_str());
  return Format("%s\nSource folder: %s\nOutput folder: %s\n%s", verdict, disc.folder().c_str(),
                report.output_bdmv.c_str(), times.c_str());
}

// Refuses an output that is the source or lies inside it, or holds it.
bool OverlapsSource(const CBDDisc& disc, const std::string& output_bdmv) {
  if (!FoldersOverlap(output_bdmv, disc.folder())) return false;
  ShowMessage(LoadString(kStringSameFolder));
  return true;
}

JobResult RunPreparedBuild(CBDDisc& disc, const std::string& root,
                           const std::function<void()>& on_start, const ProgressCallback& progress,
                           SBuildReport& report) {
  const fs::path marker = fs::path(root) / kIncompleteMarker;
  const std::string_view text(kIncompleteText);
  if (WriteOutputFile(marker, std::span(reinterpret_cast<const uint8_t*>(text.data()),
                                        text.size())) != JobResult::kDone) {
    return JobResult::kFailed;
  }
  if (on_start) on_start();
  report.start = std::chrono::system_clock::now();
  JobResult result = JobResult::kCancelled;
  if (ReportMessage(progress, "Start to build...")) {
    result = Build(disc, report.output_bdmv, progress, &report);
  }
  report.end = std::chrono::system_clock::now();
  ResetClips(disc);
  if (result == JobResult::kDone) {
    std::error_code error;
    fs::remove(marker, error);
    if (error) result = FileFailure(marker, error);
  }
  return result;
}

}  // namespace

int CheckDiscBeforeBuild(CBDDisc& disc) {
  if (!disc.clips() || !disc.playlists()) return 2;
  for (const auto& clip : disc.clips()->items()) {
    if (!clip->IsModified()) continue;
    const int result = clip->CheckBeforeBuild();
    if (result != 0) return result;
  }
  // A playlist copied as it is was valid when it was loaded; its rules are the source's.
  bool ask = true;
  for (const auto& playlist : disc.playlists()->items()) {
    if (!playlist->IsModified()) continue;
    const int result = playlist->CheckBeforeBuild(ask);
    if (result != 0) return result;
  }
  return 0;
}

JobResult Build(CBDDisc& disc, const std::string& output_bdmv, const ProgressCallback& progress,
                SBuildReport* report) {
  SBuildReport local;
  SBuildReport& out = report ? *report : local;
  out.output_bdmv = WithTrailingSlash(output_bdmv);
  if (!disc.clips() || !disc.playlists()) return JobResult::kFailed;
  SBuildRun run{disc, out.output_bdmv, progress, out};
  using Step = JobResult (*)(SBuildRun&);
  for (Step step : {&BuildClips, &WritePlaylists, &CopyNavigationFiles, &CopyOtherFolders}) {
    const JobResult result = step(run);
    if (result != JobResult::kDone) return result;
  }
  return JobResult::kDone;
}

void ResetClips(CBDDisc& disc) {
  if (!disc.clips()) return;
  for (const auto& clip : disc.clips()->items()) {
    for (size_t i = 0; i < clip->new_tracks.size(); ++i) clip->new_tracks[i].Release();
    for (const auto& track : clip->original_tracks) track->Release();
    // A later build into another folder writes the clip again.
    clip->built = 0;
  }
}

SBuildReport RunBuildCommand(CBDDisc& disc, const std::string& chosen_folder,
                             const std::function<void()>& on_start,
                             const ProgressCallback& progress) {
  SBuildReport report;
  if (CheckDiscBeforeBuild(disc) != 0) return report;
  const std::string root = ProjectRoot(chosen_folder);
  report.output_bdmv = OutputBdmvFolder(root);
  if (OverlapsSource(disc, report.output_bdmv)) return report;
  report.result = PrepareOutputFolder(root);
  if (report.result != JobResult::kDone) return report;
  report.result = RunPreparedBuild(disc, root, on_start, progress, report);
  report.final_message = FinalMessage(disc, report);
  ShowMessage(report.final_message, PromptIcon::kWarning);
  return report;
}

}  // namespace tessel
