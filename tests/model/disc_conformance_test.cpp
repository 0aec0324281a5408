// Opens the same folders with libbluray, an independent reader, and checks that both see the same
// playlists: the clips of the play items, their IN/OUT times, the number of marks and the PIDs and
// coding types of the stream tables. Also opens the retail navigation folders, whose streams are
// replaced by empty placeholders, and checks the playlist labels against libbluray's durations.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libbluray/bluray.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "model/bd_disc.h"
#include "platform/common.h"
#include "platform/format.h"
#include "support/test_support.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;
using ::testing::IsEmpty;

// What both readers must agree on, per play item.
struct ItemView {
  std::string clip;
  uint64_t in = 0;                                    // 90 kHz
  uint64_t out = 0;                                   // 90 kHz
  std::vector<std::pair<uint16_t, uint8_t>> streams;  // PID and coding type in table order

  bool operator==(const ItemView&) const = default;
};

struct PlaylistView {
  std::vector<ItemView> items;
  uint32_t marks = 0;
  uint64_t duration = 0;  // 90 kHz; only libbluray computes it

  bool operator==(const PlaylistView& other) const {
    return items == other.items && marks == other.marks;
  }
};

void PrintTo(const ItemView& item, std::ostream* os) {
  *os << item.clip << " " << item.in << ".." << item.out << " [";
  for (const auto& [pid, type] : item.streams) *os << Format(" 0x%04X/0x%02X", pid, type);
  *os << " ]";
}

void PrintTo(const PlaylistView& playlist, std::ostream* os) {
  *os << playlist.marks << " marks";
  for (const ItemView& item : playlist.items) {
    *os << "\n  ";
    PrintTo(item, os);
  }
}

PlaylistView OurView(const CMplsObject& playlist) {
  PlaylistView view;
  for (const PLAY_ITEM& item : playlist.play_items) {
    ItemView out;
    out.clip.assign(std::begin(item.ClipInformationFileName),
                    std::end(item.ClipInformationFileName));
    out.in = uint64_t{item.InTime} * 2;
    out.out = uint64_t{item.OutTime} * 2;
    for (const StreamEntryList& list : item.stn.lists) {
      for (const auto& stream : list) {
        out.streams.emplace_back(stream->Entry.Pid(), stream->Attributes.StreamCodingType);
      }
    }
    view.items.push_back(std::move(out));
  }
  view.marks = static_cast<uint32_t>(playlist.marks.size());
  return view;
}

struct BlurayCloser {
  void operator()(BLURAY* bd) const { bd_close(bd); }
};

class Libbluray {
 public:
  explicit Libbluray(const fs::path& disc_root) {
    setenv("BD_DEBUG_MASK", "0", 1);
#if defined(__SANITIZE_ADDRESS__)
    // On a BD-J disc libbluray loads a Java VM, which never frees what it allocates at load time.
    __lsan::ScopedDisabler outside_our_code;
#endif
    bd_.reset(bd_open(disc_root.c_str(), nullptr));
  }
  bool ok() const {
    return bd_ != nullptr;
  }

  PlaylistView Playlist(uint32_t number) const {
    PlaylistView view;
    BLURAY_TITLE_INFO* info = bd_get_playlist_info(bd_.get(), number, 0);
    if (!info) return view;
    for (uint32_t i = 0; i < info->clip_count; ++i) view.items.push_back(Item(info->clips[i]));
    view.marks = info->mark_count;
    view.duration = info->duration;
    bd_free_title_info(info);
    return view;
  }

 private:
  static ItemView Item(const BLURAY_CLIP_INFO& clip) {
    ItemView item{clip.clip_id, clip.in_time, clip.out_time, {}};
    // libbluray's lists in the order of the stream table: video, audio, PG (with PiP PG), IG,
    // secondary audio, secondary video.
    const std::pair<const BLURAY_STREAM_INFO*, int> lists[] = {
        {clip.video_streams, clip.video_stream_count},
        {clip.audio_streams, clip.audio_stream_count},
        {clip.pg_streams, clip.pg_stream_count},
        {clip.ig_streams, clip.ig_stream_count},
        {clip.sec_audio_streams, clip.sec_audio_stream_count},
        {clip.sec_video_streams, clip.sec_video_stream_count},
    };
    for (const auto& [streams, count] : lists) {
      for (int i = 0; i < count; ++i)
        item.streams.emplace_back(streams[i].pid, streams[i].coding_type);
    }
    return item;
  }

  std::unique_ptr<BLURAY, BlurayCloser> bd_;
};

// Compares every playlist of an opened disc with libbluray's reading of the same folder.
void ExpectSamePlaylists(const CBDDisc& disc, const fs::path& disc_root) {
  Libbluray bluray(disc_root);
  ASSERT_TRUE(bluray.ok()) << disc_root;
  for (const auto& playlist : disc.playlists()->items()) {
    SCOPED_TRACE(playlist->path);
    // libbluray crashes on a playlist without play items that has a mark; ours is checked
    // on its own in the loading tests.
    if (playlist->play_items.empty()) continue;
    const PlaylistView theirs = bluray.Playlist(static_cast<uint32_t>(playlist->id()));
    EXPECT_EQ(OurView(*playlist), theirs);
    // The tree label's duration, computed independently by libbluray.
    EXPECT_EQ(PlaylistLabel(*playlist),
              Format("%05d, %s, %d PI(s)", playlist->id(), TimeText(theirs.duration / 90).c_str(),
                     static_cast<int>(theirs.items.size())));
  }
}

std::string ParamName(const ::testing::TestParamInfo<const char*>& param) {
  std::string name = param.param;
  std::erase(name, '-');
  return name;
}

class SampleDiscConformance : public ::testing::TestWithParam<const char*> {};

TEST_P(SampleDiscConformance, PlaylistsAgreeWithLibbluray) {
  const fs::path root = test::DataPath(std::string("discs/") + GetParam());
  test::ScopedRecordingPrompt prompt;
  CBDDisc disc;
  ASSERT_TRUE(disc.Open(root));
  ExpectSamePlaylists(disc, root);
}

INSTANTIATE_TEST_SUITE_P(Discs, SampleDiscConformance,
                         ::testing::Values("disc-simple", "disc-multiclip", "disc-audio-zoo",
                                           "disc-mpeg2", "disc-emptyplaylist"),
                         ParamName);

class RetailDiscConformance : public ::testing::TestWithParam<const char*> {};

TEST_P(RetailDiscConformance, OpensWithPlaceholderStreams) {
  test::TempDir dir;
  const fs::path root = dir.path();
  test::StageDisc(std::string("discs/retail/") + GetParam(), root);
  test::ScopedRecordingPrompt prompt;
  CBDDisc disc;
  ASSERT_TRUE(disc.Open(root));
  EXPECT_THAT(prompt.messages(), IsEmpty());
  EXPECT_GT(disc.playlists()->GetCount(), 0);
  ExpectSamePlaylists(disc, root);
}

INSTANTIATE_TEST_SUITE_P(Retail, RetailDiscConformance,
                         ::testing::Values("bdpl-disc3", "bdpl-disc9", "bdpl-disc14",
                                           "chaptertool-zero", "bdjsdk-avchd"),
                         ParamName);

}  // namespace
}  // namespace tessel
