// `tessel mux --out DIR [--clip N] [--rate BPS] [--start T45] FILE...`: makes a new clip (stream
// and clip information) from elementary-stream files, one new track per file, with the same
// track rules and multiplexer a build uses.

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/app.h"
#include "cli/dump_json.h"
#include "cli/interrupt.h"
#include "cli/progress_bar.h"
#include "cli/remux_source.h"
#include "formats/tables.h"
#include "model/remux_clip.h"
#include "mux/muxer.h"
#include "mux/raw_track.h"
#include "platform/common.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/prompt.h"

namespace tessel::cli {
namespace {

struct TrackOptions {
  std::optional<std::string> language;
  int32_t delay = 0;  // 90 kHz
  bool has_range = false;
  uint8_t range_unit = 0;
  int32_t range_start = 0;
  int32_t range_end = 0;
  bool secondary = false;
};

struct MuxOptions {
  std::string out;
  int clip = 0;
  int64_t rate = kDefaultMuxRate;
  int64_t start = 27000000;  // 45 kHz
  std::vector<std::string> files;
  std::vector<std::string> languages;
  std::vector<std::string> delays;
  std::vector<std::string> ranges;
  std::vector<int> secondary;
  bool json = false;
  RemuxSource from;  // --from IN.m2ts: the kept tracks of an existing clip join the files
};

// "I=VALUE" with I a file position; false (with a message) when malformed or out of range.
bool SplitKeyed(const std::string& text, size_t files, size_t& index, std::string& value) {
  const size_t eq = text.find('=');
  char* end = nullptr;
  const unsigned long i = eq == std::string::npos ? 0 : std::strtoul(text.c_str(), &end, 10);
  if (eq == std::string::npos || eq == 0 || end != text.c_str() + eq || i >= files) {
    ShowMessage(Format("Bad per-track option \"%s\": expected I=VALUE with I from 0 to %zu ",
                       text.c_str(), files == 0 ? 0 : files - 1));
    return false;
  }
  index = i;
  value = text.substr(eq + 1);
  return true;
}

bool ParseInt(const std::string& text, int64_t low, int64_t high, int64_t& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < low || v > high) return false;
  value = v;
  return true;
}

bool ParseRange(const std::string& text, TrackOptions& track) {
  std::string body = text;
  track.range_unit = 0;
  if (body.size() > 2 && body.compare(body.size() - 2, 2, "ms") == 0) {
    track.range_unit = 1;
    body.resize(body.size() - 2);
  }
  const size_t dash = body.find('-', 1);
  int64_t a = 0, b = 0;
  if (dash == std::string::npos || !ParseInt(body.substr(0, dash), 0, INT32_MAX, a) ||
      !ParseInt(body.substr(dash + 1), 0, INT32_MAX, b) || b < a) {
    return false;
  }
  track.has_range = true;
  track.range_start = static_cast<int32_t>(a);
  track.range_end = static_cast<int32_t>(b);
  return true;
}

// Every per-track option into its file's record; false after a message.
bool ParseTrackOptions(const MuxOptions& o, std::vector<TrackOptions>& tracks) {
  tracks.assign(o.files.size(), TrackOptions{});
  size_t i = 0;
  std::string value;
  for (const std::string& text : o.languages) {
    if (!SplitKeyed(text, o.files.size(), i, value)) return false;
    if (value.size() != 3 || LanguageRowAnyCode(value) < 0) {
      ShowMessage(Format("Unknown language code \"%s\" ", value.c_str()));
      return false;
    }
    tracks[i].language = value;
  }
  for (const std::string& text : o.delays) {
    int64_t ms = 0;
    if (!SplitKeyed(text, o.files.size(), i, value)) return false;
    if (!ParseInt(value, -(INT32_MAX / 90), INT32_MAX / 90, ms)) {
      ShowMessage(Format("Bad delay \"%s\": milliseconds expected ", value.c_str()));
      return false;
    }
    tracks[i].delay = static_cast<int32_t>(ms * 90);
  }
  for (const std::string& text : o.ranges) {
    if (!SplitKeyed(text, o.files.size(), i, value)) return false;
    if (!ParseRange(value, tracks[i])) {
      ShowMessage(Format("Bad range \"%s\": A-B (units) or A-Bms expected ", value.c_str()));
      return false;
    }
  }
  for (int index : o.secondary) {
    if (index < 0 || static_cast<size_t>(index) >= o.files.size()) {
      ShowMessage(Format("Bad --secondary %d: no such file position ", index));
      return false;
    }
    tracks[static_cast<size_t>(index)].secondary = true;
  }
  return true;
}

struct OutputFiles {
  std::filesystem::path stream;
  std::filesystem::path clip_info;
  void Remove() const {
    std::error_code ec;
    std::filesystem::remove(stream, ec);
    std::filesystem::remove(clip_info, ec);
  }
};

bool CheckOutputs(const MuxOptions& o, const GlobalOptions& global, OutputFiles& out) {
  if (!std::filesystem::is_directory(o.out)) {
    ShowMessage(Format("Output folder \"%s\" does not exist ", o.out.c_str()));
    return false;
  }
  out.stream = std::filesystem::path(o.out) / NumberedFileName(o.clip, "m2ts");
  out.clip_info = std::filesystem::path(o.out) / NumberedFileName(o.clip, "clpi");
  for (const auto& path : {out.stream, out.clip_info}) {
    if (std::filesystem::exists(path) && !global.yes) {
      ShowMessage(Format("%s exists; pass --yes to replace it ", path.string().c_str()));
      return false;
    }
  }
  return true;
}

std::string CodecName(uint8_t type) {
  const char* name = CodingTypeName(type);
  return name ? name : Format("0x%02X", type);
}

size_t KeyPointCount(const Clpi& clip, uint32_t pid) {
  for (const STREAM_PID_ENTRY& entry : clip.cpi.ep_map.Entries) {
    if (entry.StreamPid == pid) return entry.KeyPoints.size();
  }
  return 0;
}

nlohmann::json ResultJson(const CMuxer& muxer, const OutputFiles& out,
                          const std::vector<SMuxTrack*>& tracks) {
  const SMuxResult& r = muxer.result();
  nlohmann::json j = {
      {"stream", out.stream.string()},
      {"clip_info", out.clip_info.string()},
      {"ts_recording_rate", r.ts_recording_rate},
      {"source_packets", r.source_packets},
      {"earliest_start", r.earliest_start},
      {"latest_end", r.latest_end},
      {"frame_duration", r.frame_duration},
      {"first_video_pts", r.first_video_pts},
      {"last_video_pts", r.last_video_pts},
      {"first_packet_time", r.first_packet_time},
      {"end_time", r.end_time},
      {"lowest_end_margin", r.lowest_end_margin},
      {"highest_end_margin", r.highest_end_margin},
  };
  nlohmann::json list = nlohmann::json::array();
  for (const SMuxTrack* track : tracks) {
    const auto* raw = static_cast<const SRawTrack*>(track);
    list.push_back({{"file", raw->MainPath().string()},
                    {"pid", track->output_pid},
                    {"codec", CodecName(track->CodingType())},
                    {"coding_type", track->CodingType()},
                    {"language", raw->LanguageCode()},
                    {"units", track->current_index + 1},
                    {"key_points", KeyPointCount(muxer.clip_info(), track->output_pid)}});
  }
  j["tracks"] = list;
  return j;
}

void PrintResult(const nlohmann::json& j) {
  std::printf("%s\n%s\n", j["stream"].get<std::string>().c_str(),
              j["clip_info"].get<std::string>().c_str());
  for (const char* key :
       {"ts_recording_rate", "source_packets", "earliest_start", "latest_end", "frame_duration",
        "first_video_pts", "last_video_pts", "first_packet_time", "end_time", "lowest_end_margin",
        "highest_end_margin"}) {
    std::printf("  %s: %s\n", key, j[key].dump().c_str());
  }
  for (const auto& t : j["tracks"]) {
    std::printf("  PID 0x%04X %s %s units %s key points %s  %s\n", t["pid"].get<unsigned>(),
                t["codec"].get<std::string>().c_str(), t["language"].get<std::string>().c_str(),
                t["units"].dump().c_str(), t["key_points"].dump().c_str(),
                t["file"].get<std::string>().c_str());
  }
}

JobResult MakeTracks(const MuxOptions& o, const std::vector<TrackOptions>& settings,
                     const ProgressCallback& progress, SRawTracks& tracks) {
  for (size_t i = 0; i < o.files.size(); ++i) {
    int result = 2;
    const TrackOptions& s = settings[i];
    std::unique_ptr<SRawTrack> track =
        SRawTrack::Create(o.files[i], !s.secondary, progress, &result);
    if (!track) return result == 1 ? JobResult::kCancelled : JobResult::kFailed;
    if (s.language) track->SetLanguageCode(*s.language);
    track->delay = s.delay;
    if (s.has_range) {
      track->source.range_unit = s.range_unit;
      track->source.range_start = s.range_start;
      track->source.range_end = s.range_end;
    }
    track->clip_base = o.start * 2;
    track->order = static_cast<int32_t>(i);
    tracks.Append(std::move(track));
  }
  return JobResult::kDone;
}

SKeptTracks KeptCounts(const CClpiObject& clip) {
  SKeptTracks kept;
  for (const auto& track : clip.original_tracks) {
    if (!track->keep || !track->primary) continue;
    const uint8_t type = track->CodingType();
    if (IsVideoCodingType(type)) ++kept.primary_video;
    if (IsAudioCodingType(type)) ++kept.primary_audio;
    if (type == coding::kPg) ++kept.primary_pg;
  }
  return kept;
}

// The files' tracks join the kept tracks of an existing clip, remultiplexed as a build does.
JobResult MuxWithClip(const MuxOptions& o, SRawTracks& tracks, const OutputFiles& out,
                      const ProgressCallback& progress, ProgressBar& bar) {
  CClpiObject clip;
  if (!LoadRemuxClip(o.from, clip)) return JobResult::kFailed;
  if (CheckNewTracks(o.clip, tracks, KeptCounts(clip)) != 0) return JobResult::kFailed;
  const auto originals = static_cast<int32_t>(clip.original_tracks.size());
  while (tracks.size() > 0) {
    std::unique_ptr<SRawTrack> track = tracks.Take(0);
    track->order = originals + static_cast<int32_t>(clip.new_tracks.size());
    clip.new_tracks.Append(std::move(track));
  }
  const JobResult result = RemuxClip(clip, out.stream, out.clip_info, std::nullopt, progress);
  bar.Finish();
  if (result != JobResult::kDone) return result;
  const nlohmann::json j = WrittenClipJson(out.stream, out.clip_info, clip);
  if (o.json) {
    std::cout << JsonText(j) << "\n";
  } else {
    PrintWrittenClip(j);
  }
  return JobResult::kDone;
}

JobResult RunMux(const MuxOptions& o, const GlobalOptions& global) {
  std::vector<TrackOptions> settings;
  OutputFiles out;
  if (!ParseTrackOptions(o, settings) || !CheckOutputs(o, global, out)) return JobResult::kFailed;
  InterruptGuard interrupt;
  ProgressBar bar(global.quiet);
  const ProgressCallback draw = bar.Callback();
  const ProgressCallback progress = [&draw](const ProgressRecord& record) {
    return draw(record) && !Interrupted();
  };
  SRawTracks tracks;
  const JobResult made = MakeTracks(o, settings, progress, tracks);
  bar.Finish();
  if (made != JobResult::kDone) return made;
  if (!o.from.stream.empty()) return MuxWithClip(o, tracks, out, progress, bar);
  if (CheckNewTracks(o.clip, tracks) != 0) return JobResult::kFailed;
  std::string error;
  const auto list = BuildTrackList(tracks.Pointers(), &error);
  if (!list) {
    ShowMessage(error);
    return JobResult::kFailed;
  }
  CMuxer muxer;
  if (!muxer.Initialise(*list, 1, 0, static_cast<uint32_t>(o.rate))) {
    for (SMuxTrack* track : *list) track->Release();
    return JobResult::kFailed;
  }
  const int result = muxer.Run(out.stream, out.clip_info, std::nullopt, progress);
  bar.Finish();
  if (result != 0) {
    for (SMuxTrack* track : *list) track->Release();
    out.Remove();
    return result == 1 ? JobResult::kCancelled : JobResult::kFailed;
  }
  const nlohmann::json j = ResultJson(muxer, out, *list);
  if (o.json) {
    std::cout << JsonText(j) << "\n";
  } else {
    PrintResult(j);
  }
  return JobResult::kDone;
}

const bool registered = RegisterCommand(
    {"mux", "Make a new clip (stream and clip information) from elementary-stream files",
     [](CLI::App& command, const GlobalOptions& global) -> CommandAction {
       auto o = std::make_shared<MuxOptions>();
       command.add_option("--out", o->out, "Output folder")->required();
       command.add_option("--clip", o->clip, "Clip number")->check(CLI::Range(0, 99999));
       command.add_option("--rate", o->rate, "Mux rate in bit/s")
           ->check(CLI::Range(int64_t{1}, int64_t{UINT32_MAX}));
       command.add_option("--start", o->start, "Clip start at 45 kHz")
           ->check(CLI::Range(int64_t{0}, int64_t{INT32_MAX / 2}));
       command.add_option("--lang", o->languages, "I=CODE: language of file I")
           ->allow_extra_args(false);
       command.add_option("--delay", o->delays, "I=MS: delay of file I in milliseconds")
           ->allow_extra_args(false);
       command.add_option("--range", o->ranges, "I=A-B (units) or I=A-Bms: part of file I")
           ->allow_extra_args(false);
       command.add_option("--secondary", o->secondary, "File I is a secondary track")
           ->allow_extra_args(false);
       command.add_flag("--json", o->json, "Print the result as JSON");
       command.add_option("--from", o->from.stream, "An existing clip whose tracks are kept");
       AddRemuxSourceOptions(command, o->from);
       command.add_option("files", o->files, "Elementary-stream files")->required();
       return [o, &global] { return RunMux(*o, global); };
     }});

}  // namespace
}  // namespace tessel::cli
