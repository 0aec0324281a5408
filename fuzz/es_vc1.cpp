// VC-1 analysis over arbitrary bytes: it must end with a result, never read outside the
// input, and every entry it gives must lie inside the input; the parser class must then store it
// and read its stream info file back.
#include <cstdint>
#include <cstdlib>

#include "es/vc1.h"
#include "es_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tessel::MemoryByteSource source(std::span<const uint8_t>(data, size));
  tessel::Vc1Analysis analysis;
  tessel::AnalyzeVc1(source, nullptr, analysis);
  for (const tessel::video::AccessUnit& unit : analysis.units) {
    if (unit.offset + unit.size > size) std::abort();
  }
  tessel::CVc1Parser parser;
  return tessel::fuzz::FuzzParser(parser, data, size);
}
