// Fuzz target: the lpcm parser over untrusted elementary-stream files.
#include <cstddef>
#include <cstdint>

#include "es/lpcm.h"
#include "es_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tessel::CLPCMParser parser;
  return tessel::fuzz::FuzzParser(parser, data, size);
}
