// Fuzz target: a stream info file and its source, both untrusted, muxed as one new track. The
// input is a 32-bit little-endian length, an 8-byte file extension, that many bytes of stream info
// file and then the source. Every packet written must be a whole 188-byte transport packet.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mux/muxer.h"
#include "mux/raw_track.h"
#include "platform/files.h"
#include "platform/prompt.h"
#include "scratch_files.h"

namespace {

class QuietPrompt : public tessel::Prompt {
 public:
  void Message(std::string_view, tessel::PromptIcon) override {}
  tessel::PromptAnswer Ask(std::string_view, tessel::PromptButtons, tessel::PromptIcon) override {
    return tessel::PromptAnswer::kNo;
  }
};

// The stream info file counts as current when it names the source's modification time.
void MatchSourceTime(const std::filesystem::path& source, const uint8_t* sif, size_t size) {
  constexpr size_t kTimeAt = tessel::SSifHeader::kSize - 8;
  if (size < tessel::SSifHeader::kSize) return;
  int64_t seconds = 0;
  for (int i = 7; i >= 0; --i) seconds = (seconds << 8) | sif[kTimeAt + static_cast<size_t>(i)];
  const timespec times[2] = {{seconds, 0}, {seconds, 0}};
  utimensat(AT_FDCWD, source.c_str(), times, 0);
}

void CheckPackets(const std::filesystem::path& m2ts) {
  std::ifstream in(m2ts, std::ios::binary);
  uint8_t packet[192];
  while (in.read(reinterpret_cast<char*>(packet), sizeof(packet))) {
    if (packet[4] != 0x47) __builtin_trap();
  }
  if (in.gcount() != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 12) return 0;
  uint32_t sif_size = 0;
  std::memcpy(&sif_size, data, 4);
  if (sif_size > size - 12) return 0;
  std::string extension(reinterpret_cast<const char*>(data + 4), 8);
  extension = extension.c_str();
  if (extension.find('/') != std::string::npos) return 0;
  const uint8_t* sif = data + 12;
  const std::filesystem::path source =
      tessel::fuzz::WriteInput(sif + sif_size, size - 12 - sif_size, ("input" + extension).c_str());
  tessel::fuzz::WriteInput(sif, sif_size, ("input" + extension + ".dsi").c_str());
  MatchSourceTime(source, sif, sif_size);

  QuietPrompt quiet;
  tessel::ScopedPrompt scope(&quiet);
  auto track = tessel::SRawTrack::Create(source, false, nullptr);
  if (!track) return 0;
  std::vector<tessel::SMuxTrack*> candidates = {track.get()};
  const auto list = tessel::BuildTrackList(candidates, nullptr);
  if (!list) return 0;
  tessel::CMuxer muxer;
  const auto folder = tessel::fuzz::ScratchFolder();
  if (muxer.Initialise(*list, 1, 0, tessel::kDefaultMuxRate) &&
      muxer.Run(folder / "out.m2ts", folder / "out.clpi", std::nullopt, nullptr) == 0) {
    CheckPackets(folder / "out.m2ts");
  }
  track->Release();
  return 0;
}
