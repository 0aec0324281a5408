#include "cli/remux_source.h"

#include <cstdio>
#include <cstdlib>

#include "formats/tables.h"
#include "model/track_kinds.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/prompt.h"

namespace tessel::cli {
namespace {

namespace fs = std::filesystem;

// The clip information the disc layout puts beside STREAM/NNNNN.m2ts; empty when none.
fs::path LayoutClipInfo(const fs::path& stream) {
  const fs::path folder = stream.parent_path();
  if (!EqualsNoCase(folder.filename().string(), "STREAM")) return {};
  const std::optional<fs::path> clipinf = FindChildNoCase(folder.parent_path(), "CLIPINF");
  if (!clipinf) return {};
  return FindChildNoCase(*clipinf, stream.stem().string() + ".clpi").value_or(fs::path());
}

bool ParsePid(const std::string& text, uint16_t& pid) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 0);
  if (text.empty() || *end != '\0' || value > 0x1FFF) return false;
  pid = static_cast<uint16_t>(value);
  return true;
}

std::string CodecName(uint8_t type) {
  const char* name = CodingTypeName(type);
  return name ? name : Format("0x%02X", type);
}

}  // namespace

void AddRemuxSourceOptions(CLI::App& command, RemuxSource& source) {
  command.add_option("--clpi", source.clpi, "Clip information of the input stream");
  command
      .add_option("--keep", source.keep, "PIDs of the input's tracks to keep (default: every one)")
      ->delimiter(',');
}

bool LoadRemuxClip(const RemuxSource& source, CClpiObject& clip) {
  const fs::path stream = source.stream;
  const fs::path clpi = source.clpi.empty() ? LayoutClipInfo(stream) : fs::path(source.clpi);
  if (clpi.empty()) {
    ShowMessage(Format("%s: no clip information beside it in a disc layout; name it with --clpi ",
                       stream.string().c_str()));
    return false;
  }
  std::vector<uint8_t> bytes;
  std::string error;
  if (!ReadWholeFile(clpi, bytes, &error)) {
    ShowMessage(error);
    return false;
  }
  if (!clip.Parse(bytes)) {
    ShowMessage(Format("%s: not a clip information file ", clpi.string().c_str()));
    return false;
  }
  const int number = FileNumberFromName(stream.stem().string());
  clip.set_id(number);
  clip.clpi_path = clpi.string();
  clip.stream_path = stream.string();
  clip.InitState();
  if (source.keep.empty()) return true;
  clip.SetKeepAll(false);
  for (const std::string& text : source.keep) {
    uint16_t pid = 0;
    if (!ParsePid(text, pid)) {
      ShowMessage(Format("Bad PID \"%s\": decimal or 0x hex expected ", text.c_str()));
      return false;
    }
    SRipTrack* track = FindByPid(clip.original_tracks, pid);
    if (!track) {
      ShowMessage(Format("%s has no track 0x%04X ", stream.filename().string().c_str(), pid));
      return false;
    }
    track->keep = 1;
  }
  return true;
}

nlohmann::json WrittenClipJson(const fs::path& stream, const fs::path& clip_info,
                               const CClpiObject& clip) {
  const SClipTiming& t = clip.output_timing;
  nlohmann::json j = {{"stream", stream.string()},
                      {"clip_info", clip_info.string()},
                      {"ts_recording_rate", t.rate},
                      {"presentation_start", t.presentation_start},
                      {"presentation_end", t.presentation_end},
                      {"first_video_pts", t.first_video_pts},
                      {"end_packet_time", t.end_packet_time}};
  Clpi written;
  std::vector<uint8_t> bytes;
  nlohmann::json tracks = nlohmann::json::array();
  if (ReadWholeFile(clip_info, bytes) && written.Read(bytes)) {
    j["source_packets"] = written.clip_info.NumberOfSourcePackets;
    for (const StreamInfo& s : written.program_info.Sequence.Streams) {
      size_t key_points = 0;
      for (const STREAM_PID_ENTRY& e : written.cpi.ep_map.Entries) {
        if (e.StreamPid == s.StreamPID) key_points = e.KeyPoints.size();
      }
      tracks.push_back({{"pid", s.StreamPID},
                        {"codec", CodecName(s.CodingInfo.StreamCodingType)},
                        {"coding_type", s.CodingInfo.StreamCodingType},
                        {"language", GetLanguage(s.CodingInfo).value_or("")},
                        {"key_points", key_points}});
    }
  }
  j["tracks"] = tracks;
  return j;
}

void PrintWrittenClip(const nlohmann::json& j) {
  std::printf("%s\n%s\n", j["stream"].get<std::string>().c_str(),
              j["clip_info"].get<std::string>().c_str());
  for (const auto& [key, value] : j.items()) {
    if (key == "stream" || key == "clip_info" || key == "tracks") continue;
    std::printf("  %s: %s\n", key.c_str(), value.dump().c_str());
  }
  for (const auto& t : j["tracks"]) {
    std::printf("  PID 0x%04X %s %s key points %s\n", t["pid"].get<unsigned>(),
                t["codec"].get<std::string>().c_str(), t["language"].get<std::string>().c_str(),
                t["key_points"].dump().c_str());
  }
}

}  // namespace tessel::cli
