// Reads arbitrary bytes as a MovieObject.bdmv file and dumps what was read.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "formats/dump.h"
#include "formats/movie_object.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tessel::MovieObjectFile record;
  std::string error;
  if (record.Read(std::span<const uint8_t>(data, size), &error)) {
    tessel::DumpArchive archive;
    record.Dump("", archive);
  }
  return 0;
}
