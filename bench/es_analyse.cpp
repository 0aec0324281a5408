// Analysis throughput of large elementary streams against reading the same file as `cat FILE >
// /dev/null` does. Inputs: tests/data/make-es.sh --bench (written to
// tessel-bench in the temporary folder).
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "es/parser_base.h"
#include "platform/files.h"

namespace {

namespace fs = std::filesystem;

const fs::path kFolder = tessel::TemporaryFolder() / "tessel-bench";
const char* const kInputs[] = {"large_51_640k.ac3", "large_51_24bit.wav"};

void ReadLikeCat(benchmark::State& state) {
  const fs::path path = kFolder / kInputs[state.range(0)];
  if (!fs::exists(path)) {
    state.SkipWithError("run tests/data/make-es.sh --bench first");
    return;
  }
  std::vector<char> buffer(128 << 10);
  for (auto _ : state) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    while (::read(fd, buffer.data(), buffer.size()) > 0) {
    }
    ::close(fd);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(path)));
  state.SetLabel(kInputs[state.range(0)]);
}

void Analyse(benchmark::State& state) {
  const fs::path source = kFolder / kInputs[state.range(0)];
  if (!fs::exists(source)) {
    state.SkipWithError("run tests/data/make-es.sh --bench first");
    return;
  }
  for (auto _ : state) {
    tessel::CStreamInfo info;
    std::string message;
    if (tessel::ParseElementaryFile(source, info, message, nullptr) != 0) {
      state.SkipWithError(message.c_str());
      return;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * fs::file_size(source)));
  state.SetLabel(kInputs[state.range(0)]);
}

BENCHMARK(ReadLikeCat)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Analyse)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
