#include "model/size_estimate.h"

#include <cstdlib>
#include <limits>
#include <memory>
#include <set>
#include <vector>

#include "model/bd_paths.h"
#include "mux/byte_io.h"
#include "mux/pipe.h"
#include "mux/rip_track.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/prompt.h"

namespace tessel {
namespace {

// The scan reads to the end of the file, whatever the clip's cut.
constexpr uint64_t kWholeFile = std::numeric_limits<uint64_t>::max();

bool HasPacketCount(const SRipTracks& tracks) {
  for (const auto& track : tracks) {
    if (track->packet_count != 0) return true;
  }
  return false;
}

void ResetPacketCounts(SRipTracks& tracks) {
  for (auto& track : tracks) track->packet_count = 0;
}

// The scan's own caption would replace the one the window was opened with.
ProgressCallback KeepingTitle(const ProgressCallback& progress) {
  if (!progress) return progress;
  return [progress](const ProgressRecord& record) {
    return record.kind == ProgressKind::kTitle || progress(record);
  };
}

uint64_t FileSize(const std::string& path) {
  if (path.empty()) return 0;
  const std::optional<FileStatus> status = GetFileStatus(path);
  return status && !status->is_directory ? status->size : 0;
}

// A source read from its first to its last unit, with no cut at its start.
bool IsWholeSource(const SPipeSource& source) {
  return (source.range_start == 0 || source.range_start == -1) && source.range_end == 0 &&
         source.start_cut == 0;
}

// The clips of the current list that the play items (or the sub-paths) use, each once.
std::vector<CClpiObject*> PlayedClips(const CMplsObject& playlist, bool sub_paths) {
  std::vector<int> numbers;
  if (sub_paths) {
    for (const SUB_PATH& path : playlist.sub_paths) {
      for (const SUB_PLAY_ITEM& item : path.items) numbers.push_back(item.ClipNumber());
    }
  } else {
    for (const PLAY_ITEM& item : playlist.play_items) numbers.push_back(item.ClipNumber());
  }
  std::vector<CClpiObject*> clips;
  std::set<int> seen;
  CCofObject* list = CurrentClips();
  for (const int number : numbers) {
    if (!seen.insert(number).second || !list) continue;
    if (CClpiObject* clip = list->FindClip(number)) clips.push_back(clip);
  }
  return clips;
}

uint64_t SumOverClips(const std::vector<CClpiObject*>& clips, uint16_t pid) {
  uint64_t sum = 0;
  for (const CClpiObject* clip : clips) {
    if (const SRipTrack* track = FindByPid(clip->original_tracks, pid)) sum += track->packet_count;
  }
  return sum;
}

bool AllKeptAndWhole(const SRipTracks& tracks) {
  for (const auto& track : tracks) {
    if (!track->keep || track->cleared) return false;
  }
  return true;
}

bool NoneKept(const SRipTracks& tracks) {
  for (const auto& track : tracks) {
    if (track->keep) return false;
  }
  return true;
}

JobResult AddOriginalBytes(CClpiObject& clip, const ProgressCallback& progress, uint64_t& bytes) {
  if (NoneKept(clip.original_tracks)) return JobResult::kDone;
  if (AllKeptAndWhole(clip.original_tracks)) {
    bytes += uint64_t{clip.PacketCount()} * kSourcePacketSize;
    return JobResult::kDone;
  }
  if (!HasPacketCount(clip.original_tracks)) {
    const JobResult scanned = ScanTrackSizes(clip, progress);
    if (scanned != JobResult::kDone) return scanned;
  }
  for (const auto& track : clip.original_tracks) bytes += OriginalTrackBytes(*track);
  return JobResult::kDone;
}

int64_t Packets(int64_t bytes) {
  return bytes / static_cast<int64_t>(kSourcePacketSize);
}

std::string AmountText(int64_t packets) {
  return packets == 0 ? std::string("0") : SizeText(static_cast<uint64_t>(packets));
}

// Free space and the largest addition into it; an over-full disc shows both with a "-".
void FreeTexts(int64_t packets, std::string& free, std::string& largest) {
  const uint64_t magnitude = static_cast<uint64_t>(std::llabs(packets));
  const auto addition = static_cast<uint64_t>(kAdditionMargin * static_cast<double>(magnitude));
  const std::string sign = packets < 0 ? "-" : "";
  free = sign + SizeText(magnitude);
  largest = sign + SizeText(addition);
}

}  // namespace

JobResult ScanTrackSizes(CClpiObject& clip, const ProgressCallback& progress) {
  if (HasPacketCount(clip.original_tracks) || clip.original_tracks.empty()) {
    return JobResult::kDone;
  }
  if (!ReportTitle(progress, kScanTitle)) return JobResult::kCancelled;
  CFileSource file(clip.stream_path);
  if (!file.ok()) {
    ShowMessage(file.error());
    return JobResult::kFailed;
  }
  if (file.Size() < kSourcePacketSize) {
    ShowMessage(Format("%s: the stream file holds no source packet, its tracks cannot be counted",
                       clip.stream_path.c_str()));
    return JobResult::kFailed;
  }
  std::vector<SRipTrack*> tracks;
  for (auto& track : clip.original_tracks) tracks.push_back(track.get());
  SScanResult result;
  const JobResult scanned =
      ScanClip(tracks, file, clip.stream_path, 0, 0, kWholeFile, KeepingTitle(progress), result);
  if (scanned == JobResult::kFailed) ShowMessage(result.message);
  if (scanned != JobResult::kDone) ResetPacketCounts(clip.original_tracks);
  return scanned;
}

JobResult ScanTrackSizes(CMplsObject& playlist, const ProgressCallback& progress) {
  if (HasPacketCount(playlist.tracks)) return JobResult::kDone;
  const std::vector<CClpiObject*> item_clips = PlayedClips(playlist, false);
  const std::vector<CClpiObject*> sub_clips = PlayedClips(playlist, true);
  for (const auto* clips : {&item_clips, &sub_clips}) {
    for (CClpiObject* clip : *clips) {
      const JobResult scanned = ScanTrackSizes(*clip, progress);
      if (scanned != JobResult::kDone) return scanned;
    }
  }
  for (auto& track : playlist.tracks) {
    track->packet_count = SumOverClips(track->sub_path ? sub_clips : item_clips, track->pid);
  }
  return JobResult::kDone;
}

uint64_t FolderSize(const std::filesystem::path& folder) {
  uint64_t total = 0;
  std::error_code ec;
  fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
  for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code status_ec;
    // A link to a file is copied as the file; a link to a folder is neither entered nor counted.
    if (!it->is_regular_file(status_ec)) continue;
    const uint64_t size = it->file_size(status_ec);
    if (!status_ec) total += size;
  }
  return total;
}

uint64_t DatabaseSize(const CBDDisc& disc) {
  uint64_t total = 0;
  if (disc.index()) total += FileSize(disc.index()->path);
  if (disc.movie_objects()) total += FileSize(disc.movie_objects()->path);
  if (disc.clips()) {
    for (const auto& clip : disc.clips()->items()) total += FileSize(clip->clpi_path);
  }
  if (disc.playlists()) {
    for (const auto& playlist : disc.playlists()->items()) total += FileSize(playlist->path);
  }
  if (disc.folder().empty()) return total;
  for (int name = static_cast<int>(kExtraFolders.first);
       name <= static_cast<int>(kExtraFolders.last); ++name) {
    const auto folder = FindChildNoCase(disc.folder(), BdNameText(static_cast<BdName>(name)));
    std::error_code ec;
    if (folder && fs::is_directory(fs::symlink_status(*folder, ec))) total += FolderSize(*folder);
  }
  return total;
}

uint64_t NewTrackBytes(const SRawTrack& track) {
  if (track.IsEmpty()) return 0;
  const uint64_t whole = track.header.totalSize +
                         (!track.source.second_path.empty() ? track.second_header.totalSize : 0);
  if (IsWholeSource(track.source)) return whole;
  std::unique_ptr<CPipe> pipe;
  if (CreatePipe(track.source, nullptr, pipe) != 0) return whole;
  return pipe->TotalBytes();
}

uint64_t OriginalTrackBytes(const SRipTrack& track) {
  if (!track.keep || track.cleared) return 0;
  return track.packet_count * kSourcePacketSize;
}

JobResult TrackSizes(CCofObject& clips, const ProgressCallback& progress, STrackSizes& sizes) {
  sizes = STrackSizes{};
  for (const auto& clip : clips.items()) {
    for (size_t i = 0; i < clip->new_tracks.size(); ++i) {
      sizes.new_bytes += NewTrackBytes(clip->new_tracks[i]);
    }
    const JobResult added = AddOriginalBytes(*clip, progress, sizes.old_bytes);
    if (added != JobResult::kDone) return added;
  }
  return JobResult::kDone;
}

SDiscEstimate EstimateDisc(uint64_t database_bytes, const STrackSizes& sizes) {
  const auto database = static_cast<int64_t>(database_bytes);
  const auto old_bytes = static_cast<int64_t>(sizes.old_bytes);
  const auto new_bytes = static_cast<int64_t>(sizes.new_bytes);
  SDiscEstimate estimate;
  estimate.total_bytes = 2 * database + old_bytes +
                         static_cast<int64_t>(kNewTrackOverhead * static_cast<double>(new_bytes));
  estimate.database_packets = Packets(2 * database);
  estimate.old_packets = Packets(old_bytes);
  estimate.new_packets = Packets(new_bytes);
  estimate.free25_packets = Packets(kBd25Bytes - estimate.total_bytes);
  estimate.free50_packets = Packets(kBd50Bytes - estimate.total_bytes);
  return estimate;
}

SEstimateTexts EstimateTexts(const SDiscEstimate& estimate) {
  SEstimateTexts texts;
  texts.database = AmountText(estimate.database_packets);
  texts.old_tracks = AmountText(estimate.old_packets);
  texts.new_tracks = AmountText(estimate.new_packets);
  FreeTexts(estimate.free25_packets, texts.free25, texts.max25);
  FreeTexts(estimate.free50_packets, texts.free50, texts.max50);
  return texts;
}

std::string EstimateMessage(const SEstimateTexts& texts) {
  return Format(
      "Database file size about: %s\r\nTotal old track size about: %s\r\nTotal new track size "
      "about: %s\r\nFor BD25, free space: %s, max added size: %s \r\nFor BD50, free space: %s, "
      "max added size: %s ",
      texts.database.c_str(), texts.old_tracks.c_str(), texts.new_tracks.c_str(),
      texts.free25.c_str(), texts.max25.c_str(), texts.free50.c_str(), texts.max50.c_str());
}

}  // namespace tessel
