// Fuzz target: the mlp parser over untrusted elementary-stream files.
#include <cstddef>
#include <cstdint>

#include "es/mlp.h"
#include "es_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tessel::CMlpParser parser;
  return tessel::fuzz::FuzzParser(parser, data, size);
}
