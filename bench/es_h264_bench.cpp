// Analysing a large H.264 file against reading it, both from the page cache. The input is made
// by `tests/data/make-es-video.sh bench` (1 GiB in the temporary folder); another file may be named
// in TESSEL_BENCH_H264. The ratio of the two rates is the figure of merit (target: at least 0.5).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "es/h264.h"
#include "platform/files.h"
#include "read_file_bench.h"

namespace {

std::string BenchFile() {
  const char* env = std::getenv("TESSEL_BENCH_H264");
  return env != nullptr ? env : (tessel::TemporaryFolder() / "tessel-bench.264").string();
}

// What `cat FILE > /dev/null` does: read in large blocks and drop them.
void BM_ReadFile(benchmark::State& state) {
  tessel::bench::ReadFileRate(state, BenchFile(),
                              "no benchmark input; run tests/data/make-es-video.sh bench");
}

void BM_AnalyzeH264(benchmark::State& state) {
  const std::string path = BenchFile();
  if (!std::filesystem::exists(path)) {
    state.SkipWithError("no benchmark input; run tests/data/make-es-video.sh bench");
    return;
  }
  uint64_t total = 0;
  size_t units = 0;
  for (auto _ : state) {
    tessel::FileByteSource source;
    source.Open(path);
    tessel::H264Analysis analysis;
    if (tessel::AnalyzeH264(source, nullptr, analysis) != 0) state.SkipWithError("analysis failed");
    total += source.length();
    units = analysis.units.size();
  }
  state.SetBytesProcessed(static_cast<int64_t>(total));
  state.counters["units"] = static_cast<double>(units);
}

BENCHMARK(BM_ReadFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AnalyzeH264)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
