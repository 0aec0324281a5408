// Feeds bytes as a stream file to the scan (both modes), to the rip tracks' unit reading and
// packet rewrite, and to the demux writers of every kind, all in memory.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "mux/demux.h"
#include "mux/rip_track.h"

namespace {

using namespace tessel;

constexpr std::pair<uint16_t, uint8_t> kTracks[] = {
    {0x1011, 0x1B}, {0x1012, 0x02}, {0x1013, 0xEA}, {0x1100, 0x81}, {0x1101, 0x80},
    {0x1102, 0x83}, {0x1103, 0x84}, {0x1104, 0x86}, {0x1105, 0x82}, {0x1200, 0x90},
    {0x1400, 0x91}, {0x1A00, 0xA1}, {0x1800, 0x92},
};

void ReadUnits(SRipTrack& track, CByteSource& source) {
  std::string message;
  if (!track.Prepare(source, track.pid, message)) return;
  uint8_t packet[192];
  uint32_t payload = 0;
  for (int units = 0; !track.units_done() && units < 100000; ++units) {
    while (track.NextPacket(packet, payload)) {
    }
    track.NextUnit();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CMemorySource source(std::span(data, size));
  SRipTracks tracks;
  std::vector<SRipTrack*> list;
  for (const auto& [pid, type] : kTracks) {
    auto track = std::make_unique<SRipTrack>();
    track->pid = pid;
    track->attributes.StreamCodingType = type;
    list.push_back(track.get());
    tracks.push_back(std::move(track));
  }
  SScanResult result;
  ScanClip(list, source, "fuzz", 0, 0, UINT64_MAX, nullptr, result);
  if (ScanClip(list, source, "fuzz", 1, 0, UINT64_MAX, nullptr, result) == JobResult::kDone) {
    for (SRipTrack* track : list) {
      track->ApplyTimeShift(-90000);
      track->FindUnitAtTime(0, 90000);
      ReadUnits(*track, source);
    }
  }
  CTrackInfoMap set;
  const SinkFactory memory = [](const std::string&, std::string&) {
    return std::make_unique<CMemorySink>();
  };
  if (CreateDemuxWriters("out", "fuzz", list, set, memory)) {
    SDemuxReport report;
    DemuxStreamFile(source, "fuzz", set, nullptr, report);
    std::string error;
    set.Finish(error);
  }
  return 0;
}
