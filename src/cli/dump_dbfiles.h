// `tessel dump` of the database files that are not playlists or clip information: each function
// reads one file type from its bytes and dumps the record, or fails saying why.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "formats/dump.h"

namespace tessel::cli {

// Type indicator "INDX".
bool DumpIndexFile(std::span<const uint8_t> file, DumpArchive& archive, std::string* error);
// Type indicator "MOBJ".
bool DumpMovieObjectFile(std::span<const uint8_t> file, DumpArchive& archive, std::string* error);
// Type indicator "BCLK".
bool DumpSoundFile(std::span<const uint8_t> file, DumpArchive& archive, std::string* error);

}  // namespace tessel::cli
