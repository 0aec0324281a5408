// `tessel dump X.m2ts`: the packet size check, the program tables and per-PID statistics of a
// transport stream, as text or JSON.
#pragma once

#include <filesystem>

#include "cli/app.h"

namespace tessel::cli {

// Whether the file starts with 192-byte source packets.
bool LooksLikeTransportStream(const std::filesystem::path& path);

// Prints the summary on stdout; returns the exit code (0 done, 2 failed after a message shown).
int DumpTransportStream(const std::filesystem::path& path, bool json, const GlobalOptions& options);

}  // namespace tessel::cli
