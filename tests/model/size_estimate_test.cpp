#include "model/size_estimate.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "model/bd_disc.h"
#include "mux/raw_track.h"
#include "platform/files.h"
#include "support/cancel_after.h"
#include "support/test_support.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

constexpr const char* kFixtureDiscs[] = {"disc-simple", "disc-multiclip", "disc-audio-zoo",
                                         "disc-mpeg2", "disc-emptyplaylist"};

// Packets per PID, counted here over the 192-byte source packets without the scanner.
std::map<uint16_t, uint64_t> CountPids(const fs::path& stream) {
  std::vector<uint8_t> data;
  EXPECT_TRUE(ReadWholeFile(stream, data, nullptr, 1ull << 30));
  std::map<uint16_t, uint64_t> counts;
  for (size_t at = 0; at + 192 <= data.size(); at += 192) {
    const uint8_t* ts = data.data() + at + 4;
    EXPECT_EQ(ts[0], 0x47) << stream << " packet " << at / 192;
    ++counts[static_cast<uint16_t>((ts[1] & 0x1F) << 8 | ts[2])];
  }
  return counts;
}

class ScanTest : public ::testing::Test {
 protected:
  void Open(const fs::path& folder) { ASSERT_TRUE(disc_.Open(folder.string())); }
  void OpenFixture(const std::string& name) { Open(test::DataPath("discs/" + name)); }
  CClpiObject& Clip(int number) { return *disc_.clips()->FindClip(number); }
  CMplsObject& Playlist(int index) { return *disc_.playlists()->GetAt(index); }

  test::ScopedRecordingPrompt prompt_;
  CBDDisc disc_;
};

TEST_F(ScanTest, CountsOfEveryFixtureClipMatchThePacketsOfItsPid) {
  for (const char* name : kFixtureDiscs) {
    SCOPED_TRACE(name);
    CBDDisc disc;
    ASSERT_TRUE(disc.Open(test::DataPath(std::string("discs/") + name).string()));
    for (const auto& clip : disc.clips()->items()) {
      SCOPED_TRACE(clip->stream_path);
      ASSERT_EQ(ScanTrackSizes(*clip, nullptr), JobResult::kDone);
      const std::map<uint16_t, uint64_t> expected = CountPids(clip->stream_path);
      uint64_t scanned = 0;
      for (const auto& track : clip->original_tracks) {
        const auto it = expected.find(track->pid);
        EXPECT_EQ(track->packet_count, it == expected.end() ? 0 : it->second)
            << "PID " << track->pid;
        scanned += track->packet_count;
      }
      EXPECT_GT(scanned, 0u);
    }
  }
}

TEST_F(ScanTest, PlaylistTrackIsTheSumOverItsClips) {
  OpenFixture("disc-multiclip");
  CMplsObject& playlist = Playlist(0);
  ASSERT_EQ(playlist.id(), 0);
  const std::vector<int> clips = playlist.CollectClips();
  ASSERT_EQ(clips.size(), 3u);
  ASSERT_EQ(ScanTrackSizes(playlist, nullptr), JobResult::kDone);
  std::map<uint16_t, uint64_t> sums;
  for (const int number : clips) {
    for (const auto& [pid, count] : CountPids(Clip(number).stream_path)) sums[pid] += count;
  }
  ASSERT_FALSE(playlist.tracks.empty());
  uint64_t total = 0;
  for (const auto& track : playlist.tracks) {
    EXPECT_EQ(track->packet_count, sums[track->pid]) << "PID " << track->pid;
    total += track->packet_count;
  }
  EXPECT_GT(total, 0u);
}

TEST_F(ScanTest, SecondScanReadsNothing) {
  OpenFixture("disc-multiclip");
  test::CancelAfter first(0);
  ASSERT_EQ(ScanTrackSizes(Playlist(0), first.callback()), JobResult::kDone);
  ASSERT_GT(first.calls(), 0);
  EXPECT_EQ(first.records().front().title, kScanTitle);
  for (const ProgressRecord& record : first.records()) {
    if (record.kind == ProgressKind::kTitle) {
      EXPECT_EQ(record.title, kScanTitle);
    }
  }
  test::CancelAfter second(1);
  EXPECT_EQ(ScanTrackSizes(Playlist(0), second.callback()), JobResult::kDone);
  for (const int number : Playlist(0).CollectClips()) {
    EXPECT_EQ(ScanTrackSizes(Clip(number), second.callback()), JobResult::kDone);
  }
  EXPECT_EQ(second.calls(), 0);
}

TEST_F(ScanTest, CancelLeavesNoCountsAndTheNextScanCompletes) {
  OpenFixture("disc-simple");
  CClpiObject& clip = Clip(0);
  // Cancelled before the first read, then at each later call until the one after the last chunk.
  for (const int n : {1, 2, 3, 4}) {
    SCOPED_TRACE(n);
    test::CancelAfter cancel(n);
    EXPECT_EQ(ScanTrackSizes(clip, cancel.callback()), JobResult::kCancelled);
    if (n == 1) {
      EXPECT_EQ(cancel.calls(), 1);
    }
    for (const auto& track : clip.original_tracks) EXPECT_EQ(track->packet_count, 0u);
  }
  EXPECT_TRUE(prompt_.messages().empty());
  ASSERT_EQ(ScanTrackSizes(clip, nullptr), JobResult::kDone);
  std::map<uint16_t, uint64_t> expected = CountPids(clip.stream_path);
  for (const auto& track : clip.original_tracks) {
    EXPECT_EQ(track->packet_count, expected[track->pid]);
  }
}

TEST_F(ScanTest, UnreadableStreamFilesFailWithTheirReason) {
  struct Case {
    const char* what;
    void (*damage)(const fs::path&);
    const char* message;
  };
  const Case cases[] = {
      {"missing", [](const fs::path& p) { fs::remove(p); }, "No such file or directory"},
      {"empty", [](const fs::path& p) { fs::resize_file(p, 0); }, "holds no source packet"},
      {"short", [](const fs::path& p) { fs::resize_file(p, 191); }, "holds no source packet"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const test::TempDir dir;
    const fs::path bdmv = test::StageDisc("discs/disc-simple", dir.path());
    CBDDisc disc;
    ASSERT_TRUE(disc.Open(bdmv.string()));
    CClpiObject& clip = *disc.clips()->FindClip(0);
    c.damage(clip.stream_path);
    prompt_.clear();
    EXPECT_EQ(ScanTrackSizes(clip, nullptr), JobResult::kFailed);
    ASSERT_EQ(prompt_.messages().size(), 1u);
    EXPECT_THAT(prompt_.messages()[0], HasSubstr(clip.stream_path));
    EXPECT_THAT(prompt_.messages()[0], HasSubstr(c.message));
    for (const auto& track : clip.original_tracks) EXPECT_EQ(track->packet_count, 0u);
  }
}

TEST_F(ScanTest, TrackSizesScansOnlyClipsWithDroppedTracks) {
  OpenFixture("disc-multiclip");
  CClpiObject& dropped = Clip(1);
  dropped.original_tracks[1]->keep = 0;
  Clip(2).original_tracks[0]->cleared = 1;
  STrackSizes sizes;
  ASSERT_EQ(TrackSizes(*disc_.clips(), nullptr, sizes), JobResult::kDone);
  uint64_t expected = 0;
  for (const auto& clip : disc_.clips()->items()) {
    const bool whole = clip.get() != &dropped && clip->id() != 2;
    if (whole) {
      EXPECT_EQ(clip->original_tracks[0]->packet_count, 0u) << "clip " << clip->id();
      expected += uint64_t{clip->PacketCount()} * 192;
      continue;
    }
    std::map<uint16_t, uint64_t> counts = CountPids(clip->stream_path);
    for (const auto& track : clip->original_tracks) {
      if (track->keep && !track->cleared) expected += counts[track->pid] * 192;
    }
  }
  EXPECT_EQ(sizes.old_bytes, expected);
  EXPECT_EQ(sizes.new_bytes, 0u);
}

TEST(FolderSize, CountsEveryFileAndFollowsNoFolderLink) {
  const test::TempDir dir;
  fs::create_directories(dir / "a/b");
  std::ofstream(dir / "a/plain.bin") << std::string(100, 'x');
  std::ofstream(dir / "a/NODOT") << std::string(7, 'x');
  std::ofstream(dir / "a/b/.hidden") << std::string(3, 'x');
  fs::create_directory_symlink(dir.path(), dir / "a/b/loop");
  fs::create_symlink(dir / "a/plain.bin", dir / "a/b/file-link");
  // The link to a file is copied as that file.
  EXPECT_EQ(FolderSize(dir.path()), 100u + 7u + 3u + 100u);
  EXPECT_EQ(FolderSize(dir / "missing"), 0u);
}

TEST(DatabaseSize, LoadedFilesAndExtraFolders) {
  const test::TempDir dir;
  const fs::path bdmv = test::StageDisc("discs/disc-multiclip", dir.path());
  fs::create_directories(bdmv / "META/DL");
  std::ofstream(bdmv / "META/DL/bdmt_eng.xml") << std::string(1000, 'x');
  std::ofstream(bdmv / "STREAM/ignored") << std::string(5000, 'x');
  test::ScopedRecordingPrompt prompt;
  CBDDisc disc;
  ASSERT_TRUE(disc.Open(bdmv.string()));
  uint64_t expected = fs::file_size(bdmv / "index.bdmv") + fs::file_size(bdmv / "MovieObject.bdmv");
  for (const auto& clip : disc.clips()->items()) expected += fs::file_size(clip->clpi_path);
  for (const auto& playlist : disc.playlists()->items()) expected += fs::file_size(playlist->path);
  for (const char* extra : {"BDJO", "JAR", "AUXDATA", "META"}) {
    if (fs::exists(bdmv / extra)) expected += FolderSize(bdmv / extra);
  }
  EXPECT_EQ(DatabaseSize(disc), expected);
  EXPECT_GE(expected, 1000u);
}

struct TextCase {
  const char* what;
  uint64_t database;
  uint64_t old_bytes;
  uint64_t new_bytes;
  SEstimateTexts texts;
};

TEST(EstimateTexts, Table) {
  const TextCase cases[] = {
      {"nothing", 0, 0, 0, {"0", "0", "0", "23.28GB", "22.12GB", "46.57GB", "44.24GB"}},
      {"exactly full", 0, 25000000000, 0, {"0", "23.28GB", "0", "", "", "23.28GB", "22.12GB"}},
      {"below 1 KB", 0, 1920, 0, {"0", "1KB", "0", "23.28GB", "22.12GB", "46.57GB", "44.24GB"}},
      {"last KB",
       0,
       5461 * 192,
       0,
       {"0", "1023KB", "0", "23.28GB", "22.12GB", "46.57GB", "44.24GB"}},
      {"first MB",
       0,
       5462 * 192,
       0,
       {"0", "1.00MB", "0", "23.28GB", "22.12GB", "46.57GB", "44.24GB"}},
      {"last MB",
       0,
       5592406ull * 192,
       0,
       {"0", "1024.00MB", "0", "22.28GB", "21.17GB", "45.57GB", "43.29GB"}},
      {"first GB",
       0,
       5592411ull * 192,
       0,
       {"0", "1.00GB", "0", "22.28GB", "21.17GB", "45.57GB", "43.29GB"}},
      {"over-full BD25",
       1000,
       30000000000,
       2000,
       {"1KB", "27.94GB", "1KB", "-4.66GB", "-4.42GB", "18.63GB", "17.70GB"}},
      {"above 2^32 packets",
       0,
       ((1ull << 32) + 10) * 192,
       0,
       {"0", "768.00GB", "0", "-744.72GB", "-707.48GB", "-721.43GB", "-685.36GB"}},
      {"database above 2^32 packets",
       ((1ull << 32) + 10) * 96,
       0,
       0,
       {"768.00GB", "0", "0", "-744.72GB", "-707.48GB", "-721.43GB", "-685.36GB"}},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.what);
    const SEstimateTexts texts =
        EstimateTexts(EstimateDisc(c.database, {c.old_bytes, c.new_bytes}));
    EXPECT_EQ(texts.database, c.texts.database);
    EXPECT_EQ(texts.old_tracks, c.texts.old_tracks);
    EXPECT_EQ(texts.new_tracks, c.texts.new_tracks);
    EXPECT_EQ(texts.free25, c.texts.free25);
    EXPECT_EQ(texts.max25, c.texts.max25);
    EXPECT_EQ(texts.free50, c.texts.free50);
    EXPECT_EQ(texts.max50, c.texts.max50);
  }
}

TEST(EstimateDisc, DatabaseTwiceAndNewTracksWithOverhead) {
  const SDiscEstimate e = EstimateDisc(1000, {192000, 1000000});
  EXPECT_EQ(e.total_bytes, 2000 + 192000 + 1050000);
  EXPECT_EQ(e.database_packets, 10);
  EXPECT_EQ(e.old_packets, 1000);
  EXPECT_EQ(e.new_packets, 5208);
  EXPECT_EQ(e.free25_packets, (25000000000 - e.total_bytes) / 192);
  EXPECT_EQ(e.free50_packets, (50000000000 - e.total_bytes) / 192);
}

TEST(EstimateMessage, FiveLinesWithTheirBlanks) {
  EXPECT_EQ(EstimateMessage(EstimateTexts(EstimateDisc(0, {25000000000, 0}))),
            "Database file size about: 0\r\nTotal old track size about: 23.28GB\r\n"
            "Total new track size about: 0\r\nFor BD25, free space: , max added size:  \r\n"
            "For BD50, free space: 23.28GB, max added size: 22.12GB ");
}

}  // namespace
}  // namespace tessel

namespace tessel {
namespace {

// A copy of an elementary stream of tests/data/es/ in `dir`, so that its stream info is written
// there.
fs::path StageStream(const test::TempDir& dir, const std::string& name) {
  fs::copy_file(test::DataPath("es/" + name), dir / name);
  return dir / name;
}

struct NewTrackCase {
  const char* what;
  const char* file;
  const char* companion;  // copied beside it
  int32_t range_start;
  int32_t range_end;
  bool placeholder;
  uint64_t bytes;  // 0: the size of the file and its companion
};

TEST(NewTrackBytes, WholeSourcesSegmentsAndPlaceholders) {
  const NewTrackCase cases[] = {
      {"whole AC-3", "ac3_20_192k.ac3", nullptr, 0, 0, false, 0},
      {"TrueHD with its AC-3", "truehd_51.thd", "truehd_51.ac3", 0, 0, false, 0},
      // 768-byte frames at 192 kbit/s: units 0 to 9.
      {"segment of AC-3", "ac3_20_192k.ac3", nullptr, 0, 9, false, 7680},
      {"segment to the end", "ac3_20_192k.ac3", nullptr, 30, 0, false, 24576 - 30 * 768},
      {"placeholder", "ac3_20_192k.ac3", nullptr, 0, 0, true, 0},
  };
  for (const NewTrackCase& c : cases) {
    SCOPED_TRACE(c.what);
    test::ScopedRecordingPrompt prompt;
    const test::TempDir dir;
    const fs::path file = StageStream(dir, c.file);
    uint64_t expected = c.bytes != 0 || c.placeholder ? c.bytes : fs::file_size(file);
    if (c.companion) expected += fs::file_size(StageStream(dir, c.companion));
    std::unique_ptr<SRawTrack> track = SRawTrack::Create(file, true, nullptr);
    ASSERT_NE(track, nullptr) << ::testing::PrintToString(prompt.messages());
    track->source.range_start = c.range_start;
    track->source.range_end = c.range_end;
    if (c.placeholder) track->empty_link = track.get();
    EXPECT_EQ(NewTrackBytes(*track), expected);
  }
}

TEST(TrackSizes, EmptiedClipCountsItsNewTracksOnlyAsNew) {
  test::ScopedRecordingPrompt prompt;
  const test::TempDir dir;
  CBDDisc disc;
  ASSERT_TRUE(disc.Open(test::DataPath("discs/disc-multiclip").string()));
  CClpiObject& clip = *disc.clips()->FindClip(3);
  for (auto& track : clip.original_tracks) track->keep = 0;
  ASSERT_TRUE(clip.new_tracks.Add(StageStream(dir, "ac3_20_192k.ac3"), true, nullptr));
  STrackSizes sizes;
  ASSERT_EQ(TrackSizes(*disc.clips(), nullptr, sizes), JobResult::kDone);
  uint64_t others = 0;
  for (const int number : {0, 1, 2})
    others += disc.clips()->FindClip(number)->PacketCount() * 192ull;
  EXPECT_EQ(sizes.old_bytes, others);
  EXPECT_EQ(sizes.new_bytes, 24576u);
  for (const auto& track : clip.original_tracks) EXPECT_EQ(track->packet_count, 0u);
}

}  // namespace
}  // namespace tessel
