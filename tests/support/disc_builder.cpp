#include "support/disc_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "formats/clpi.h"
#include "formats/mpls.h"
#include "platform/files.h"
#include "support/test_support.h"

namespace tessel::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSample = "discs/disc-simple/BDMV/";

void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  fs::create_directories(path.parent_path());
  std::string error;
  ASSERT_TRUE(WriteWholeFile(path, bytes, &error)) << error;
}

// The sample playlist's first play item: a stream table of four streams of clip 00000.
PLAY_ITEM SampleItem() {
  Mpls sample;
  std::string error;
  EXPECT_TRUE(sample.Read(ReadData(std::string(kSample) + "PLAYLIST/00000.mpls"), &error)) << error;
  return sample.play_items.empty() ? PLAY_ITEM{} : sample.play_items.front();
}

std::string Cased(const char* name, bool lower) {
  std::string out(name);
  if (lower) std::transform(out.begin(), out.end(), out.begin(), ::tolower);
  return out;
}

}  // namespace

DiscBuilder::DiscBuilder(fs::path root, bool lower_case_names)
    : bdmv_(root / Cased("BDMV", lower_case_names)), lower_(lower_case_names) {
  WriteBytes(bdmv_ / "index.bdmv", ReadData(std::string(kSample) + "index.bdmv"));
  WriteBytes(bdmv_ / "MovieObject.bdmv", ReadData(std::string(kSample) + "MovieObject.bdmv"));
  for (const char* name : {"PLAYLIST", "CLIPINF", "STREAM"}) fs::create_directories(Folder(name));
}

fs::path DiscBuilder::Folder(const char* name) const {
  return bdmv_ / Cased(name, lower_);
}

void DiscBuilder::AddClip(int number, bool with_stream) {
  char title[16];
  std::snprintf(title, sizeof title, "%05d", number);
  Clpi clip;
  std::string error;
  ASSERT_TRUE(clip.Read(ReadData(std::string(kSample) + "CLIPINF/00000.clpi"), &error)) << error;
  const std::optional<std::vector<uint8_t>> bytes = clip.Write(&error);
  ASSERT_TRUE(bytes) << error;
  WriteBytes(Folder("CLIPINF") / (std::string(title) + ".clpi"), *bytes);
  if (with_stream) {
    WriteBytes(Folder("STREAM") / (std::string(title) + ".m2ts"), std::vector<uint8_t>(192, 0));
  }
}

void DiscBuilder::AddPlaylist(const std::string& title, const std::vector<ItemParams>& items) {
  const PLAY_ITEM sample = SampleItem();
  Mpls playlist;
  for (const ItemParams& item_params : items) {
    PLAY_ITEM item = sample;
    char name[8];
    std::snprintf(name, sizeof name, "%05d", item_params.clip);
    std::copy_n(name, 5, item.ClipInformationFileName);
    item.ConnectionCondition = item_params.connection;
    item.InTime = item_params.in;
    item.OutTime = item_params.out;
    for (StreamEntryList& list : item.stn.lists) {
      std::erase_if(list, [&](const auto& stream) {
        return std::find(item_params.hidden_pids.begin(), item_params.hidden_pids.end(),
                         stream->Entry.Pid()) != item_params.hidden_pids.end();
      });
    }
    playlist.play_items.push_back(std::move(item));
  }
  playlist.marks.push_back(PLAY_MARK{});
  WriteBytes(Folder("PLAYLIST") / (title + ".mpls"), playlist.Write());
}

void DiscBuilder::WriteFile(const std::string& relative, const std::vector<uint8_t>& bytes) {
  WriteBytes(bdmv_ / relative, bytes);
}

std::vector<std::pair<std::string, std::string>> TreeSnapshot(const fs::path& root) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(entry.path(), root).string();
    if (entry.is_directory()) {
      files.emplace_back(relative + "/", "");
      continue;
    }
    const auto stamp = entry.last_write_time().time_since_epoch().count();
    files.emplace_back(relative, std::to_string(entry.file_size()) + "@" + std::to_string(stamp));
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace tessel::test
