// Fuzz target: a pipe over a stream info file and its source, both untrusted. The input is a
// 4-byte little-endian length, that many bytes of stream info file, and the source after them.
// Every unit goes out as packets; each must be a whole transport packet on the stream's PID.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "mux/pipe.h"
#include "platform/files.h"
#include "platform/prompt.h"
#include "scratch_files.h"
#include "ts/ts_packet.h"

namespace {

// Messages of damaged inputs are expected; keep them off the terminal.
class SilentPrompt : public tessel::Prompt {
 public:
  void Message(std::string_view, tessel::PromptIcon) override {}
  tessel::PromptAnswer Ask(std::string_view, tessel::PromptButtons, tessel::PromptIcon) override {
    return tessel::PromptAnswer::kNo;
  }
};

constexpr size_t kSourceTimeOffset = 49;
constexpr uint32_t kMaxPackets = 200000;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// A pipe reads files, so both parts of the input go into a scratch folder of this process.
const std::filesystem::path& ScratchFolder() {
  static const std::filesystem::path folder = [] {
    std::filesystem::path p =
        tessel::TemporaryFolder() / ("tessel-fuzz-" + std::to_string(getpid()));
    std::filesystem::create_directories(p);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(ScratchFolder(), ec);
    });
    return p;
  }();
  return folder;
}

std::filesystem::path WriteInput(const uint8_t* data, size_t size, const char* name) {
  const std::filesystem::path path = ScratchFolder() / name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return path;
}

// Writes both files; the stream info file is made current for the source (its modification time)
// so that the pipe reads it instead of analysing the source again.
std::filesystem::path WriteFiles(const uint8_t* data, size_t size) {
  uint32_t sif_size = 0;
  std::memcpy(&sif_size, data, 4);
  data += 4;
  size -= 4;
  sif_size = static_cast<uint32_t>(std::min<size_t>(sif_size, size));
  const auto source = WriteInput(data + sif_size, size - sif_size, "input.src");
  std::vector<uint8_t> sif(data, data + sif_size);
  struct stat st;
  if (sif.size() >= kSourceTimeOffset + 8 && ::stat(source.c_str(), &st) == 0) {
    const int64_t seconds = st.st_mtime;
    std::memcpy(sif.data() + kSourceTimeOffset, &seconds, 8);
  }
  WriteInput(sif.data(), sif.size(), "input.src.dsi");
  return source;
}

void Drain(tessel::CPipe& pipe) {
  uint32_t packets = 0;
  while (const tessel::SAuEntry* unit = pipe.NextAu()) {
    if (unit->size == 0) break;
    while (pipe.BytesLeft() > 0 && packets < kMaxPackets) {
      uint8_t packet[tessel::kTransportPacketSize + 8];
      std::memset(packet, 0xCC, sizeof packet);
      tessel::SPacketRequest request;
      request.output = packet;
      request.pid = 0x1100;
      request.key_point_wanted = true;
      const uint32_t left = pipe.BytesLeft();
      Check(pipe.WritePacket(request));
      Check(pipe.BytesLeft() < left);
      Check(packet[0] == tessel::kSyncByte);
      Check(packet[tessel::kTransportPacketSize] == 0xCC);  // nothing past the 188 bytes
      tessel::TransportPacket parsed;
      Check(tessel::ReadTransportPacket({packet, tessel::kTransportPacketSize}, parsed) > 0);
      Check(parsed.PID == 0x1100);
      ++packets;
    }
    if (packets >= kMaxPackets) return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  SilentPrompt silent;
  tessel::ScopedPrompt scope(&silent);
  tessel::SPipeSource source;
  source.path = WriteFiles(data, size);
  std::unique_ptr<tessel::CPipe> pipe;
  if (tessel::CreatePipe(source, nullptr, pipe) != 0) return 0;
  pipe->BuildEsi(0x1100);
  pipe->FirstAuInfo();
  pipe->FirstPresentationTime();
  uint64_t low = 0, high = 0;
  pipe->TimeRange(low, high);
  pipe->TotalBytes();
  Drain(*pipe);
  return 0;
}
