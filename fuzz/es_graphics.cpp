// Fuzz target: the graphics parser over untrusted elementary-stream files.
#include <cstddef>
#include <cstdint>

#include "es/graphics.h"
#include "es_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tessel::CGsParser parser;
  return tessel::fuzz::FuzzParser(parser, data, size);
}
