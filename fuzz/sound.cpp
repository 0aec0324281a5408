// Reads arbitrary bytes as a Sound.bdmv file and dumps what was read.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "formats/dump.h"
#include "formats/sound.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tessel::SoundFile record;
  std::string error;
  if (record.Read(std::span<const uint8_t>(data, size), &error)) {
    tessel::DumpArchive archive;
    record.Dump("", archive);
  }
  return 0;
}
