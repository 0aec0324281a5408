// Runs the tests' stream checker over a clip and prints its report, then (with the clip
// information) what the independent readers say: ffmpeg's copy and decode errors, libbluray's
// reading of the clip information and the entry points off key packets.
// `tessel_ts_check FILE.m2ts [FILE.clpi]`; exit status 0 when everything passes.
#include <cstdio>
#include <optional>

#include "support/ts_conformance.h"
#include "support/ts_oracles.h"

namespace {

using namespace tessel::test;

bool Say(const char* what, const std::string& problem) {
  std::printf("%s: %s\n", what, problem.empty() ? "ok" : problem.c_str());
  return problem.empty();
}

bool Oracles(const std::filesystem::path& m2ts, const std::filesystem::path& clpi,
             const TsReport& report) {
  bool ok = true;
  if (HaveTool("ffmpeg")) {
    ok &= Say("ffmpeg copy", FfmpegCopyErrors(m2ts));
    ok &= Say("ffmpeg decode", FfmpegDecodeErrors(m2ts));
  }
  if (!HaveLibbluray()) return ok;
  const std::optional<BdClip> clip = ReadClpiWithLibbluray(clpi);
  if (!clip) return Say("libbluray", "cannot read the clip information");
  ok &= Say("libbluray packets",
            clip->source_packets == report.packets
                ? ""
                : std::to_string(clip->source_packets) + " in the clip information");
  for (const BdEpMap& map : clip->ep_maps) {
    std::printf("entry points of PID 0x%04X (type %d): %zu\n", map.pid, map.ep_stream_type,
                map.entries.size());
  }
  if (HaveTool("ffprobe")) {
    std::string off;
    for (const std::string& line :
         EntryPointsOffKeyPackets(*clip, ProbeStreams(m2ts), ProbePackets(m2ts))) {
      off += "\n  " + line;
    }
    ok &= Say("entry points on key packets", off);
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s FILE.m2ts [FILE.clpi]\n", argv[0]);
    return 2;
  }
  std::optional<std::filesystem::path> clpi;
  if (argc == 3) clpi = argv[2];
  const TsReport report = CheckTransportStream(argv[1], clpi);
  std::fputs(report.Text().c_str(), stdout);
  bool ok = report.ok();
  if (clpi) ok &= Oracles(argv[1], *clpi, report);
  return ok ? 0 : 1;
}
