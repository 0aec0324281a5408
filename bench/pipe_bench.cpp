// Packetising a large elementary stream through a pipe against reading it, both from the page
// cache.
// The input is /tmp/tessel-bench.wav (or the file named in TESSEL_BENCH_ES), made with
//   ffmpeg -f lavfi -i anullsrc=r=48000:cl=stereo -t 1800 -c:a pcm_s16le /tmp/tessel-bench.wav
// and analysed once before the timing starts. Bytes are counted as the 188-byte packets written.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "mux/pipe.h"
#include "read_file_bench.h"

namespace {

constexpr const char* kMissing = "no benchmark input (see the head of bench/pipe_bench.cpp)";

std::string BenchFile() {
  const char* env = std::getenv("TESSEL_BENCH_ES");
  return env != nullptr ? env : "/tmp/tessel-bench.wav";
}

void BM_ReadFile(benchmark::State& state) {
  tessel::bench::ReadFileRate(state, BenchFile(), kMissing);
}

void BM_PipePackets(benchmark::State& state) {
  tessel::SPipeSource source;
  source.path = BenchFile();
  if (!std::filesystem::exists(source.path)) {
    state.SkipWithError(kMissing);
    return;
  }
  uint64_t total = 0;
  uint8_t packet[tessel::kTransportPacketSize];
  for (auto _ : state) {
    std::unique_ptr<tessel::CPipe> pipe;
    if (tessel::CreatePipe(source, nullptr, pipe) != 0) {
      state.SkipWithError("the input does not open");
      return;
    }
    tessel::SPacketRequest request;
    request.output = packet;
    request.pid = 0x1100;
    request.key_point_wanted = true;
    while (const tessel::SAuEntry* unit = pipe->NextAu()) {
      if (unit->size == 0) break;
      while (pipe->BytesLeft() > 0 && pipe->WritePacket(request)) total += sizeof packet;
    }
    benchmark::DoNotOptimize(packet);
  }
  state.SetBytesProcessed(static_cast<int64_t>(total));
}

BENCHMARK(BM_ReadFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PipePackets)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
