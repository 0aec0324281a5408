// Fuzz target: stream info files read back from disk (they may be damaged or foreign).
#include <cstddef>
#include <cstdint>

#include "es/graphics.h"
#include "es/stream_info.h"
#include "es_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto path = tessel::fuzz::WriteInput(data, size, "input.dsi");
  tessel::CStreamInfo info;
  if (!info.Open(path)) return 0;
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
