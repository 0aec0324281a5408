// H.264 analysis over arbitrary bytes: it must end with a result, never read outside the
// input, and every entry it gives must lie inside the input; the parser class must then store it
// and read its stream info file back.
#include <cstdint>
#include <cstdlib>

#include "es/h264.h"
#include "es_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tessel::MemoryByteSource source(std::span<const uint8_t>(data, size));
  tessel::H264Analysis analysis;
  tessel::AnalyzeH264(source, nullptr, analysis);
  for (const tessel::video::AccessUnit& unit : analysis.units) {
    if (unit.offset + unit.size > size) std::abort();
  }
  tessel::CH264Parser parser;
  return tessel::fuzz::FuzzParser(parser, data, size);
}
