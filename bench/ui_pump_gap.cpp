// The longest time a job of the desktop application goes without calling its progress callback,
// which is where the application's windows get their events: a gap above 0.2 s is a window that
// does not answer. Not a test; run by hand from the repository's root:
//   build/default/bench/bench_ui_pump_gap BDMV-FOLDER [SCRATCH-FOLDER]
// with a disc of large clips for meaningful numbers (bench/scan_bench.sh makes one).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "model/bd_disc.h"
#include "model/size_estimate.h"
#include "mux/raw_track.h"
#include "platform/prompt.h"

namespace fs = std::filesystem;
using namespace tessel;

namespace {

using Clock = std::chrono::steady_clock;

struct SGaps {
  double longest_s = 0;
  int64_t calls = 0;
  double total_s = 0;
};

// Runs `job` with a callback that only measures the time since the previous call (or the start).
SGaps Measure(const std::function<JobResult(const ProgressCallback&)>& job, JobResult& result) {
  SGaps gaps;
  const Clock::time_point start = Clock::now();
  Clock::time_point last = start;
  const auto note = [&](Clock::time_point now) {
    gaps.longest_s = std::max(gaps.longest_s, std::chrono::duration<double>(now - last).count());
    last = now;
  };
  result = job([&](const ProgressRecord&) {
    note(Clock::now());
    ++gaps.calls;
    return true;
  });
  const Clock::time_point end = Clock::now();
  note(end);
  gaps.total_s = std::chrono::duration<double>(end - start).count();
  return gaps;
}

void Report(const char* job, const SGaps& gaps, JobResult result) {
  std::printf("%-24s result %d  %8.3f s  %9lld calls  longest gap %.3f s%s\n", job,
              static_cast<int>(result), gaps.total_s, static_cast<long long>(gaps.calls),
              gaps.longest_s, gaps.longest_s > 0.2 ? "  (over 0.2 s)" : "");
}

// An AC-3 stream of about `bytes` made of the frames of a fixture file repeated.
fs::path LargeAc3(const fs::path& folder, uint64_t bytes) {
  const fs::path target = folder / "large.ac3";
  std::ifstream in(fs::path("tests/data/es/ac3_51_640k.ac3"), std::ios::binary);
  const std::vector<char> unit((std::istreambuf_iterator<char>(in)), {});
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  for (uint64_t written = 0; !unit.empty() && written < bytes; written += unit.size()) {
    out.write(unit.data(), static_cast<std::streamsize>(unit.size()));
  }
  return target;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_ui_pump_gap BDMV-FOLDER [SCRATCH-FOLDER]\n");
    return 2;
  }
  const fs::path scratch = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "ui_gap";
  fs::create_directories(scratch);
  CBDDisc disc;
  if (!disc.Open(argv[1]) || disc.clips() == nullptr || disc.clips()->GetCount() == 0) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  CClpiObject& clip = *disc.clips()->GetAt(0);
  JobResult result = JobResult::kFailed;

  SGaps gaps = Measure([&](const ProgressCallback& p) { return ScanTrackSizes(clip, p); }, result);
  Report("Scan track size", gaps, result);
  for (const auto& track : clip.original_tracks) track->packet_count = 0;
  STrackSizes sizes;
  gaps = Measure([&](const ProgressCallback& p) { return TrackSizes(*disc.clips(), p, sizes); },
                 result);
  Report("Total disc size", gaps, result);
  const fs::path demux = scratch / "demux";
  fs::create_directories(demux);
  gaps = Measure([&](const ProgressCallback& p) { return clip.DemuxTracks(demux, p); }, result);
  Report("Demux", gaps, result);
  const fs::path large = LargeAc3(scratch, uint64_t{512} << 20);
  fs::remove(large.string() + ".dsi");
  gaps = Measure(
      [&](const ProgressCallback& p) {
        int opened = 2;
        return SRawTrack::Create(large, true, p, &opened) ? JobResult::kDone
                                                          : static_cast<JobResult>(opened);
      },
      result);
  Report("Analysis of 512 MB AC-3", gaps, result);
  fs::remove_all(scratch);
  return 0;
}
