// The reference rate of the benchmarks: what `cat FILE > /dev/null` does, reading a file from the
// page cache in large blocks and dropping them.
#pragma once

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tessel::bench {

inline void ReadFileRate(benchmark::State& state, const std::string& path, const char* missing) {
  if (!std::filesystem::exists(path)) {
    state.SkipWithError(missing);
    return;
  }
  std::vector<char> buffer(size_t{128} << 10);
  uint64_t total = 0;
  for (auto _ : state) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    ssize_t n = 0;
    while ((n = ::read(fd, buffer.data(), buffer.size())) > 0) total += static_cast<uint64_t>(n);
    ::close(fd);
  }
  state.SetBytesProcessed(static_cast<int64_t>(total));
}

}  // namespace tessel::bench
