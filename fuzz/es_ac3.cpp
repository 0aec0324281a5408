// Fuzz target: the ac3 parser over untrusted elementary-stream files.
#include <cstddef>
#include <cstdint>

#include "es/ac3.h"
#include "es_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tessel::CAC3Parser parser;
  return tessel::fuzz::FuzzParser(parser, data, size);
}
