// Fuzz target: stream info files read back (they may be damaged or foreign), held in memory.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "es/graphics.h"
#include "es/stream_info.h"
#include "es_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tessel::CStreamInfo info;
  if (!info.Open(std::make_unique<tessel::MemoryByteSink>(std::span<const uint8_t>(data, size)))) {
    return 0;
  }
  const uint32_t count = info.header.auCount;
  for (uint32_t i = 0; i < count && i < 64; ++i) info.GetAu(i);
  info.GetAu(count - 1);
  info.GetAu(count);
  if (count <= 64) {
    info.NearestRandomAccess(count / 2);
    uint32_t first, last;
    tessel::FindDisplaySetRange(info, 0, 90000, first, last);
  }
  return 0;
}
