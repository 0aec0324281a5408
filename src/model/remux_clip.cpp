#include "model/remux_clip.h"

#include <algorithm>
#include <system_error>
#include <vector>

#include "model/build_templates.h"
#include "model/track_kinds.h"
#include "mux/byte_io.h"
#include "mux/rip_track.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/prompt.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;

void RemoveOutputs(const fs::path& stream_out, const fs::path& clpi_out) {
  std::error_code ignored;
  fs::remove(stream_out, ignored);
  fs::remove(clpi_out, ignored);
}

JobResult WriteEmptyClip(CClpiObject& clip, const fs::path& stream_out, const fs::path& clpi_out) {
  std::string error;
  if (!WriteWholeFile(stream_out, EmptyClipStream(), &error)) {
    ShowMessage(error);
    return JobResult::kFailed;
  }
  if (!WriteWholeFile(clpi_out, EmptyClipInfo(), &error)) {
    RemoveOutputs(stream_out, clpi_out);
    ShowMessage(error);
    return JobResult::kFailed;
  }
  clip.built = 1;
  return JobResult::kDone;
}

// The clip information's rate in bits per second; a rate that is missing or does not fit 32 bits
// takes the multiplexer's default.
uint32_t MuxRate(const CClpiObject& clip) {
  const uint64_t bits = uint64_t{clip.clip_info.TsRecordingRate} * 8;
  return bits == 0 || bits > UINT32_MAX ? kDefaultMuxRate : static_cast<uint32_t>(bits);
}

SClipTiming TimingOf(const SMuxResult& result) {
  SClipTiming timing;
  timing.rate = result.ts_recording_rate;
  timing.presentation_start = result.earliest_start;
  timing.presentation_end = result.latest_end;
  timing.frame_duration = result.frame_duration;
  timing.first_video_pts = result.first_video_pts;
  timing.last_video_pts = result.last_video_pts;
  timing.first_packet_time = result.first_packet_time;
  timing.end_packet_time = result.end_time;
  timing.end_margin[0] = result.lowest_end_margin;
  timing.end_margin[1] = result.highest_end_margin;
  return timing;
}

std::vector<SRipTrack*> KeptTracks(CClpiObject& clip) {
  std::vector<SRipTrack*> kept;
  for (auto& track : clip.original_tracks) {
    if (track->keep) kept.push_back(track.get());
  }
  return kept;
}

void ReleaseUnits(CClpiObject& clip) {
  for (auto& track : clip.original_tracks) {
    track->units.clear();
    track->units.shrink_to_fit();
    track->source_file = nullptr;
  }
}

// Reads the kept tracks' units from the cut range and moves them onto the clip's timeline.
JobResult ReadKeptTracks(CClpiObject& clip, const std::vector<SRipTrack*>& kept,
                         CFileSource& source, const ProgressCallback& progress,
                         std::optional<std::vector<uint8_t>>& program_descriptor) {
  const bool cut = clip.in_point != 0 || clip.out_point < clip.PacketCount();
  // The out point is the entry point that starts what is cut away.
  const uint64_t end = clip.out_point;
  SScanResult scan;
  const JobResult read =
      ScanClip(kept, source, clip.stream_path, 1, clip.in_point, end, progress, scan);
  if (read == JobResult::kFailed) ShowMessage(scan.message);
  if (read != JobResult::kDone) return read;
  program_descriptor = scan.program_descriptor;
  int64_t shift = 0;
  if (cut) {
    const std::optional<uint64_t> first =
        scan.first_video_pts ? scan.first_video_pts : scan.first_pts;
    if (!first) {
      ShowMessage(Format("\"%s\"\r\nhas fatal error ! ", clip.stream_path.c_str()));
      return JobResult::kFailed;
    }
    shift = static_cast<int64_t>(clip.start_time) - static_cast<int64_t>(*first);
  }
  for (SRipTrack* track : kept) {
    track->ApplyTimeShift(shift);
    track->source_file = &source;
  }
  return JobResult::kDone;
}

}  // namespace

JobResult RemuxClip(CClpiObject& clip, const fs::path& stream_out, const fs::path& clpi_out,
                    const std::optional<SSeamlessRequest>& seamless,
                    const ProgressCallback& progress) {
  const std::vector<SRipTrack*> kept = KeptTracks(clip);
  if (kept.empty() && clip.new_tracks.size() == 0) {
    return WriteEmptyClip(clip, stream_out, clpi_out);
  }
  CFileSource source(clip.stream_path);
  if (!source.ok()) {
    ShowMessage(source.error());
    return JobResult::kFailed;
  }
  std::optional<std::vector<uint8_t>> program_descriptor;
  if (!kept.empty()) {
    const JobResult read = ReadKeptTracks(clip, kept, source, progress, program_descriptor);
    if (read != JobResult::kDone) {
      ReleaseUnits(clip);
      return read;
    }
  }
  std::vector<SMuxTrack*> candidates(kept.begin(), kept.end());
  for (size_t i = 0; i < clip.new_tracks.size(); ++i) {
    clip.new_tracks[i].clip_base = static_cast<int64_t>(clip.start_time);
    candidates.push_back(&clip.new_tracks[i]);
  }
  std::string error;
  std::optional<std::vector<SMuxTrack*>> tracks = BuildTrackList(candidates, &error);
  if (!tracks) {
    ShowMessage(error);
    ReleaseUnits(clip);
    return JobResult::kFailed;
  }
  double frame_duration = 0;
  for (const SMuxTrack* track : *tracks) {
    if (track->output_pid == kPrimaryVideoPid) frame_duration = track->FrameDurationMs();
  }
  CMuxer muxer;
  if (!kept.empty() && program_descriptor) muxer.SetPrivateProgramDescriptor(*program_descriptor);
  JobResult result = JobResult::kFailed;
  if (muxer.Initialise(*tracks, clip.clip_info.ApplicationType, frame_duration, MuxRate(clip))) {
    result = static_cast<JobResult>(muxer.Run(stream_out, clpi_out, seamless, progress));
  }
  for (SMuxTrack* track : *tracks) track->Release();
  ReleaseUnits(clip);
  if (result != JobResult::kDone) {
    RemoveOutputs(stream_out, clpi_out);
    return result;
  }
  clip.output_timing = TimingOf(muxer.result());
  clip.built = 1;
  return JobResult::kDone;
}

}  // namespace tessel
