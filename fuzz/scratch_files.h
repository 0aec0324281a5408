// Scratch files for fuzz targets whose readers take files (pipes and the multiplexer): one folder
// per process, removed at exit.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

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

}  // namespace tessel::fuzz
