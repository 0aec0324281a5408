// MPEG-2 video analysis over arbitrary bytes: it must end with a result, never read outside the
// input, and every entry it gives must lie inside the input.
#include <cstdint>
#include <cstdlib>

#include "es/mpeg2.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  tessel::ProbeMpeg2(bytes);
  tessel::MemoryByteSource source(bytes);
  tessel::Mpeg2Analysis analysis;
  tessel::AnalyzeMpeg2(source, nullptr, analysis);
  for (const tessel::video::AccessUnit& unit : analysis.units) {
    if (unit.offset + unit.size > size) std::abort();
  }
  return 0;
}
