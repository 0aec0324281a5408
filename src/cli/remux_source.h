// A clip read back for a remultiplex from the command line: the stream, its clip information
// (from the disc layout beside it, or named), and which of its tracks stay.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "model/clip_object.h"

namespace tessel::cli {

struct RemuxSource {
  std::string stream;             // IN.m2ts
  std::string clpi;               // --clpi; empty: from the disc layout
  std::vector<std::string> keep;  // PIDs, decimal or 0x hex; none: every track stays
};

// --clpi and --keep.
void AddRemuxSourceOptions(CLI::App& command, RemuxSource& source);
// The clip of the stream with its tracks' keep flags set; false after a message.
bool LoadRemuxClip(const RemuxSource& source, CClpiObject& clip);
// What a written clip holds, read back from its clip information: streams, EP entries, timing.
nlohmann::json WrittenClipJson(const std::filesystem::path& stream,
                               const std::filesystem::path& clip_info, const CClpiObject& clip);
void PrintWrittenClip(const nlohmann::json& j);

}  // namespace tessel::cli
