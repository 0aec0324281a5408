// Writes small synthetic BDMV folders for the loading tests: playlists and clip information
// through our own writers (starting from the records of a real disc), index and movie objects
// copied from the same disc, and stream files as short placeholders.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace tessel::test {

struct ItemParams {
  int clip = 0;
  uint8_t connection = 1;
  uint32_t in = 27000000;             // 45 kHz
  uint32_t out = 27450450;            // the sample clip's STC sequence ends here
  std::vector<uint16_t> hidden_pids;  // streams left out of the item's stream table
};

class DiscBuilder {
 public:
  // Creates `root`/BDMV (or `root`/bdmv/playlist/... with lower-case folder names) holding the
  // sample disc's index and movie objects.
  explicit DiscBuilder(std::filesystem::path root, bool lower_case_names = false);

  const std::filesystem::path& bdmv() const { return bdmv_; }

  // A clip with the streams of the sample clip (H.264 0x1011, AC-3 0x1100, LPCM 0x1101, PG 0x1200)
  // and, unless told otherwise, a placeholder stream file.
  void AddClip(int number, bool with_stream = true);
  // A playlist file named `title` + ".mpls" whose play items list the sample clip's streams.
  void AddPlaylist(const std::string& title, const std::vector<ItemParams>& items);
  // Any file below the BDMV folder.
  void WriteFile(const std::string& relative, const std::vector<uint8_t>& bytes);

  std::filesystem::path Folder(const char* name) const;

 private:
  std::filesystem::path bdmv_;
  bool lower_;
};

// Every regular file below `root` with its size and modification time, for before/after checks.
std::vector<std::pair<std::string, std::string>> TreeSnapshot(const std::filesystem::path& root);

}  // namespace tessel::test
