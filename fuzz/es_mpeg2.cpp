// MPEG-2 video analysis over arbitrary bytes: it must end with a result, never read outside the
// input, and every entry it gives must lie inside the input; the parser class must then store it
// and read its stream info file back.
#include <cstdint>
#include <cstdlib>

#include "es/mpeg2.h"
#include "es_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  tessel::ProbeMpeg2(bytes);
  tessel::MemoryByteSource source(bytes);
  tessel::Mpeg2Analysis analysis;
  tessel::AnalyzeMpeg2(source, nullptr, analysis);
  for (const tessel::video::AccessUnit& unit : analysis.units) {
    if (unit.offset + unit.size > size) std::abort();
  }
  tessel::CM2VParser parser;
  return tessel::fuzz::FuzzParser(parser, data, size);
}
