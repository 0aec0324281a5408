// Shared driver of the elementary-stream parser fuzz targets: the parsers read files, so each
// input is written to a scratch file and analysed into a scratch stream info file.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "es/parser_base.h"

namespace tessel::fuzz {

inline const std::filesystem::path& ScratchFolder() {
  static const std::filesystem::path folder = [] {
    std::filesystem::path p =
        std::filesystem::temp_directory_path() / ("tessel-fuzz-" + std::to_string(getpid()));
    std::filesystem::create_directories(p);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(ScratchFolder(), ec);
    });
    return p;
  }();
  return folder;
}

inline std::filesystem::path WriteInput(const uint8_t* data, size_t size, const char* name) {
  const std::filesystem::path path = ScratchFolder() / name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return path;
}

// Runs one parser over the input and reads back what it stored.
inline int FuzzParser(CParserBase& parser, const uint8_t* data, size_t size, const char* name) {
  const std::filesystem::path source = WriteInput(data, size, name);
  CStreamInfo info;
  if (!info.Create(ScratchFolder() / "input.dsi")) return 0;
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
