#include "cli/dump_dbfiles.h"

#include "formats/index.h"
#include "formats/movie_object.h"
#include "formats/sound.h"

namespace tessel::cli {
namespace {

template <typename Record>
bool ReadAndDump(std::span<const uint8_t> file, DumpArchive& archive, std::string* error) {
  Record record;
  if (!record.Read(file, error)) return false;
  record.Dump("", archive);
  return true;
}

}  // namespace

bool DumpIndexFile(std::span<const uint8_t> file, DumpArchive& archive, std::string* error) {
  return ReadAndDump<IndexFile>(file, archive, error);
}

bool DumpMovieObjectFile(std::span<const uint8_t> file, DumpArchive& archive, std::string* error) {
  return ReadAndDump<MovieObjectFile>(file, archive, error);
}

bool DumpSoundFile(std::span<const uint8_t> file, DumpArchive& archive, std::string* error) {
  return ReadAndDump<SoundFile>(file, archive, error);
}

}  // namespace tessel::cli
