// Reading speed of the transport stream summary behind `tessel dump X.m2ts`, against a plain
// sequential read of the same file in the way `cat FILE > /dev/null` does it.
//
// The stream is TESSEL_BENCH_TS when set; otherwise a stream of about 1 GB is made once in the
// temporary folder by repeating TESSEL_BENCH_SOURCE (default: the disc-simple fixture clip, named
// relative to the repository, so run the benchmark from the repository's root).
// Both runs see the file in the page cache after the first pass, so the ratio compares the
// per-byte work, not the disk.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "ts/stream_summary.h"

namespace {

namespace fs = std::filesystem;

fs::path BenchStream() {
  if (const char* path = std::getenv("TESSEL_BENCH_TS")) return path;
  const fs::path target = fs::temp_directory_path() / "tessel_bench_1g.m2ts";
  if (fs::exists(target) && fs::file_size(target) >= (1ull << 30)) return target;
  const char* source = std::getenv("TESSEL_BENCH_SOURCE");
  const fs::path from =
      source ? fs::path(source)
             : fs::path("../shared/fixtures/discs/disc-simple/BDMV/STREAM/00000.m2ts");
  std::ifstream in(from, std::ios::binary);
  const std::vector<char> clip((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
  if (clip.empty()) return {};
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  for (uint64_t written = 0; written < (1ull << 30); written += clip.size()) {
    out.write(clip.data(), static_cast<std::streamsize>(clip.size()));
  }
  return target;
}

const fs::path& Stream() {
  static const fs::path path = BenchStream();
  return path;
}

// What cat does: read() in 128 KiB blocks and throw the bytes away.
void BM_CatToDevNull(benchmark::State& state) {
  std::vector<char> block(128 << 10);
  for (auto _ : state) {
    const int fd = ::open(Stream().c_str(), O_RDONLY);
    uint64_t total = 0;
    for (ssize_t got; (got = ::read(fd, block.data(), block.size())) > 0;) total += got;
    ::close(fd);
    benchmark::DoNotOptimize(total);
    state.SetBytesProcessed(state.bytes_processed() + static_cast<int64_t>(total));
  }
}

void BM_TsDumpSummary(benchmark::State& state) {
  for (auto _ : state) {
    tessel::TsSummary summary;
    tessel::SummarizeTransportStream(Stream(), summary, nullptr, nullptr);
    benchmark::DoNotOptimize(summary.SourcePacketCount);
    state.SetBytesProcessed(state.bytes_processed() + static_cast<int64_t>(summary.FileSize));
  }
}

BENCHMARK(BM_CatToDevNull)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_TsDumpSummary)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
