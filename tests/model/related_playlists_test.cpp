#include "model/related_playlists.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "model/bd_disc.h"
#include "model/track_kinds.h"
#include "platform/common.h"
#include "support/test_support.h"

namespace tessel {
namespace {

using ::testing::ElementsAre;

template <class T>
void Name(T& item, const char* clip) {
  std::memcpy(item.ClipInformationFileName, clip, 5);
}

std::unique_ptr<CMplsObject> Playlist(int id, std::vector<const char*> items,
                                      std::vector<const char*> sub_items = {}) {
  auto playlist = std::make_unique<CMplsObject>();
  playlist->set_id(id);
  for (const char* clip : items) Name(playlist->play_items.emplace_back(), clip);
  if (!sub_items.empty()) {
    SUB_PATH& path = playlist->sub_paths.emplace_back();
    for (const char* clip : sub_items) Name(path.items.emplace_back(), clip);
  }
  return playlist;
}

TEST(RelatedPlaylists, ListsEveryUseInPlaylistOrder) {
  CPofObject playlists;
  playlists.Add(Playlist(4, {"00001", "00002", "00001"}, {"00003", "00001"}));
  playlists.Add(Playlist(2, {"00002"}));
  playlists.Add(Playlist(7, {"00005"}, {"00002"}));

  struct Case {
    int clip;
    std::vector<int> playlists;
    std::vector<std::string> uses;
  };
  const Case cases[] = {
      {1, {4}, {"PI:1, PI:3, SP1:SPI2"}},
      {2, {4, 2, 7}, {"PI:2", "PI:1", "SP1:SPI1"}},
      {3, {4}, {"SP1:SPI1"}},
      {9, {}, {}},
      {-1, {}, {}},
  };
  for (const Case& c : cases) {
    std::vector<int> ids;
    std::vector<std::string> uses;
    for (const CMplsObject* playlist : RelatedPlaylists(playlists, c.clip)) {
      ids.push_back(playlist->id());
      uses.push_back(ClipUsesText(*playlist, c.clip));
    }
    EXPECT_EQ(ids, c.playlists) << c.clip;
    EXPECT_EQ(uses, c.uses) << c.clip;
  }
}

TEST(RelatedPlaylists, RetailDiscClipWithTwoPlaylists) {
  test::TempDir dir;
  test::StageDisc("discs/retail/bdpl-disc9", dir.path());
  test::ScopedRecordingPrompt prompt;
  CBDDisc disc;
  ASSERT_TRUE(disc.Open(dir.path().string()));
  const auto related = RelatedPlaylists(*disc.playlists(), 6);
  ASSERT_EQ(related.size(), 2u);
  for (const CMplsObject* playlist : related) {
    EXPECT_FALSE(ClipUsesText(*playlist, 6).empty());
  }
}

TEST(PlayItemDuration, FourteenHoursDoNotWrap) {
  PLAY_ITEM item;
  item.InTime = 0;
  item.OutTime = 14u * 3600u * 45000u;
  EXPECT_EQ(TimeText(PlayItemDurationMs(item)), "14:00:00:000");
  std::swap(item.InTime, item.OutTime);
  EXPECT_EQ(PlayItemDurationMs(item), 0u);
}

struct Track : SMuxTrack {
  Track(int32_t position, uint8_t is_original, uint32_t pid, uint8_t kept = 1) {
    order = position;
    original = is_original;
    output_pid = pid;
    keep = kept;
  }
  uint8_t CodingType() const override { return 0x81; }
};

TEST(OutputOrder, KeptOriginalsAndNewTracksByPosition) {
  SRipTracks originals;
  for (int i = 0; i < 4; ++i) {
    auto track = std::make_unique<SRipTrack>();
    track->order = i;
    track->output_pid = 0x1100 + static_cast<uint32_t>(i);
    track->keep = i != 2;
    originals.push_back(std::move(track));
  }
  const Track replacing(1, 0, 0x1105);  // took over position 1 of a still kept original
  const Track appended(4, 0, 0x1104);
  const SMuxTrack* new_tracks[] = {&appended, &replacing};
  const auto order = OutputOrder(originals, new_tracks);
  std::vector<uint32_t> pids;
  for (const SMuxTrack* track : order) pids.push_back(track->output_pid);
  // At the shared position the lower output PID goes first, as the multiplexer orders them.
  EXPECT_THAT(pids, ElementsAre(0x1100, 0x1101, 0x1105, 0x1103, 0x1104));
}

}  // namespace
}  // namespace tessel
