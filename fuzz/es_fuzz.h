// Shared driver of the elementary-stream parser fuzz targets: each input is analysed from memory
// into a stream info file held in memory; nothing touches the disk.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "es/parser_base.h"

namespace tessel::fuzz {

// Runs one parser over the input and reads back what it stored.
inline int FuzzParser(CParserBase& parser, const uint8_t* data, size_t size) {
  MemoryByteSource source(std::span<const uint8_t>(data, size));
  CStreamInfo info;
  info.CreateInMemory();
  if (parser.Parse(source, info, nullptr) == parse_result::kOk) {
    const uint32_t count = info.header.auCount;
    for (uint32_t i = 0; i < count && i < 64; ++i) info.GetAu(i);
    if (count > 0) info.GetAu(count - 1);
    if (info.record) {
      info.record->Validate();
      SStdSpec models[2];
      info.record->StdModels(models);
    }
  }
  info.CloseAndDelete();
  return 0;
}

}  // namespace tessel::fuzz
