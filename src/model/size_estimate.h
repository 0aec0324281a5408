// What a build will weigh before it runs: per-track packet counts scanned from the old streams,
// the database files, the kept original tracks and the new tracks, and the free space left on a
// 25 GB and a 50 GB disc.
//
// Every count, size and product is 64-bit: clips pass 4 GiB and 2^32 packets are 768 GiB, well
// within one disc set of a long feature.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "model/bd_disc.h"
#include "model/clip_object.h"
#include "model/playlist_object.h"
#include "mux/raw_track.h"
#include "platform/common.h"
#include "platform/progress.h"

namespace tessel {

inline constexpr int64_t kBd25Bytes = 25000000000;
inline constexpr int64_t kBd50Bytes = 50000000000;
// What the multiplexer adds around the access units of a new track.
inline constexpr double kNewTrackOverhead = 1.05;
// Of the free space, what may be filled by one addition.
inline constexpr double kAdditionMargin = 0.95;

// The caption of the scan's progress window.
inline constexpr const char* kScanTitle = "Scaning track...";

// Counts the source packets of every original track's PID over the clip's whole stream file (a
// cut clip too). Nothing is read when a track already has a count. A cancelled or failed scan
// leaves every count at 0, so that nothing later takes partial counts as complete. Done,
// cancelled, or failed after a message (a stream file that cannot be opened or holds no packet).
JobResult ScanTrackSizes(CClpiObject& clip, const ProgressCallback& progress);

// Scans the clips the playlist plays (of the current clip list) that have no counts yet, then
// gives each track the sum of its PID's counts over the play items' clips (a sub-path track: over
// the sub-paths' clips). Nothing is read when a track already has a count.
JobResult ScanTrackSizes(CMplsObject& playlist, const ProgressCallback& progress);

// Bytes of every file below the folder (names without a dot too). Links to folders are not
// followed, so a link loop or a link to the disc itself is counted once at most.
uint64_t FolderSize(const std::filesystem::path& folder);

// The database files the disc loaded (index, movie objects, clip information, playlists; a
// missing file counts 0) and the extra folders of the BDMV folder that are copied as they are.
uint64_t DatabaseSize(const CBDDisc& disc);

// The bytes a build writes for a new track: the access units of its source and its second file,
// or of its segment when it holds only a part of them. An empty-track placeholder writes none.
uint64_t NewTrackBytes(const SRawTrack& track);

// The bytes of a kept original track as scanned; a dropped or cleared track writes none.
uint64_t OriginalTrackBytes(const SRipTrack& track);

struct STrackSizes {
  uint64_t old_bytes = 0;  // kept original tracks
  uint64_t new_bytes = 0;  // access units of the new tracks
};

// Adds up every clip in list order. A clip with some original tracks dropped or cleared is
// scanned first when it has no counts; a scan that does not complete ends the sum with its result.
JobResult TrackSizes(CCofObject& clips, const ProgressCallback& progress, STrackSizes& sizes);

// The estimate in bytes and in source packets (192 bytes, truncated toward zero).
struct SDiscEstimate {
  int64_t total_bytes = 0;  // twice the database (its backup), old, and new with overhead
  int64_t database_packets = 0;
  int64_t old_packets = 0;
  int64_t new_packets = 0;
  int64_t free25_packets = 0;  // negative for an over-full disc
  int64_t free50_packets = 0;
};

SDiscEstimate EstimateDisc(uint64_t database_bytes, const STrackSizes& sizes);

struct SEstimateTexts {
  std::string database;
  std::string old_tracks;
  std::string new_tracks;
  std::string free25;
  std::string max25;
  std::string free50;
  std::string max50;
};

SEstimateTexts EstimateTexts(const SDiscEstimate& estimate);

// "Database file size about: ..." with "\r\n" between its five lines.
std::string EstimateMessage(const SEstimateTexts& texts);

}  // namespace tessel
