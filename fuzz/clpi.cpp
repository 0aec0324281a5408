// Clip information reader: any bytes must give a failed read or a record that dumps, writes and
// reads back.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "formats/clpi.h"
#include "formats/dump.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tessel::Clpi clip;
  if (!clip.Read(std::span<const uint8_t>(data, size))) return 0;
  tessel::DumpArchive archive;
  clip.Dump("", archive);
  const std::optional<std::vector<uint8_t>> written = clip.Write();
  if (written) {
    tessel::Clpi again;
    if (!again.Read(*written)) __builtin_trap();
  }
  return 0;
}
