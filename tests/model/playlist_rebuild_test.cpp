// The playlist rewritten for the output disc: play items of emptied clips leave with what names
// them, times follow cut and rebuilt clips, the stream tables follow the visible and new tracks
// and their output PIDs, and the combination references, picture-in-picture sub-paths, marks and
// metadata follow. The rewritten playlist is read back by libbluray.
#include "model/playlist_rebuild.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libbluray/bluray.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "model/bd_disc.h"
#include "platform/files.h"
#include "support/disc_builder.h"
#include "support/test_support.h"
#include "support/ts_oracles.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::Pair;

// The name of a table row in the test's name.
template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& row) {
  return row.param.name;
}

constexpr int64_t kStart = 54000000;  // 90 kHz start of the sample clip's STC sequence
constexpr int64_t kEnd = 54900900;
constexpr uint32_t kIn45 = 27000000;
constexpr uint32_t kOut45 = 27450450;
constexpr uint16_t kAc3 = 0x1100;
constexpr uint16_t kLpcm = 0x1101;
constexpr uint16_t kPg = 0x1200;
constexpr uint16_t kPipVideo = 0x1B00;
constexpr uint16_t kSecondaryAudio = 0x1A00;

// Three clips with the sample clip's streams, one playlist playing them in order.
class PlaylistRebuild : public ::testing::Test {
 protected:
  void SetUp() override {
    test::DiscBuilder builder(dir_.path());
    for (int clip : {1, 2, 3}) builder.AddClip(clip);
    std::vector<test::ItemParams> items(3);
    for (int i = 0; i < 3; ++i) items[static_cast<size_t>(i)].clip = i + 1;
    builder.AddPlaylist("00001", items);
    ASSERT_TRUE(disc_.Open(dir_.path().string()));
    playlist_ = disc_.playlists()->GetAt(0);
    ASSERT_NE(playlist_, nullptr);
  }

  CClpiObject& Clip(int number) { return *disc_.clips()->FindClip(number); }

  static void Empty(CClpiObject& clip) {
    for (auto& track : clip.original_tracks) track->keep = 0;
  }

  Mpls Rebuilt() const {
    Mpls copy = *playlist_;
    EXPECT_TRUE(RebuildForOutput(*playlist_, copy));
    return copy;
  }

  int TrackIndex(uint16_t pid) const {
    for (size_t i = 0; i < playlist_->tracks.size(); ++i) {
      if (playlist_->tracks[i]->pid == pid) return static_cast<int>(i);
    }
    return -1;
  }

  // Gives every clip a stream on `pid` and every play item an entry for it, then lets the
  // playlist build its track list again.
  void AddStreamEverywhere(uint16_t pid, uint8_t coding_type, StnList list, uint8_t entry_type) {
    for (int number : {1, 2, 3}) {
      StreamInfo stream;
      stream.StreamPID = pid;
      stream.CodingInfo.StreamCodingType = coding_type;
      Clip(number).program_info.Sequence.Streams.push_back(stream);
      Clip(number).InitState();
    }
    for (PLAY_ITEM& item : playlist_->play_items) {
      std::unique_ptr<PRIMARY_STREAM_ENTRY> entry = StnTable::NewEntry(list);
      entry->Entry.Type = entry_type;
      entry->Entry.RefToStreamPID_OfMainClip = pid;
      entry->Attributes.StreamCodingType = coding_type;
      item.stn.list(list).push_back(std::move(entry));
    }
    playlist_->BuildTrackList();
  }

  // A cut of clip 2 that keeps 1 s to 5 s, rebuilt as a clip of 4 s from the old start.
  void CutClip2() { Cut(Clip(2)); }
  static void Cut(CClpiObject& clip) {
    clip.in_point = 100;
    clip.in_offset = 90000;
    clip.out_offset = 450000;
    clip.output_timing.presentation_start = kStart * 300;
    clip.output_timing.presentation_end = (kStart + 360000) * 300;
  }

  test::TempDir dir_;
  test::ScopedRecordingPrompt prompt_;
  CBDDisc disc_;
  CMplsObject* playlist_ = nullptr;
};

std::vector<int> ItemClips(const Mpls& playlist) {
  std::vector<int> clips;
  for (const PLAY_ITEM& item : playlist.play_items) clips.push_back(item.ClipNumber());
  return clips;
}

std::vector<uint16_t> TablePids(const StnTable& table) {
  std::vector<uint16_t> pids;
  for (const StreamEntryList& list : table.lists) {
    for (const auto& entry : list) pids.push_back(entry->Entry.Pid());
  }
  return pids;
}

TEST_F(PlaylistRebuild, AnUnmodifiedPlaylistIsLeftAlone) {
  Mpls copy = *playlist_;
  copy.play_items[0].InTime = 12345;
  EXPECT_FALSE(RebuildForOutput(*playlist_, copy));
  EXPECT_EQ(copy.play_items[0].InTime, 12345u);
}

// ---- removed play items ----

struct RemovalCase {
  const char* name;
  std::vector<int> emptied;
  std::vector<int> clips;
  std::vector<uint16_t> mark_items;
  std::vector<uint8_t> conditions;
  std::vector<uint16_t> sync_items;
};

class RemovedItems : public PlaylistRebuild, public ::testing::WithParamInterface<RemovalCase> {};

TEST_P(RemovedItems, MarksSubPlayItemsAndJoinsFollowThePlayItems) {
  const RemovalCase& c = GetParam();
  playlist_->play_items[1].ConnectionCondition = connection_condition::kSeamlessWithCleanBreak;
  playlist_->play_items[2].ConnectionCondition = connection_condition::kSeamlessWithCleanBreak;
  playlist_->marks.clear();
  for (uint16_t item : {0, 1, 1, 2, 9}) {
    PLAY_MARK mark;
    mark.RefToPlayItemID = item;
    mark.MarkTimeStamp = kIn45 + 4500;
    playlist_->marks.push_back(mark);
  }
  SUB_PATH path;
  path.SubPathType = 5;
  for (uint16_t item : {0, 1, 2}) {
    SUB_PLAY_ITEM sub_item;
    sub_item.SyncPlayItemID = item;
    path.items.push_back(sub_item);
  }
  playlist_->sub_paths.push_back(path);
  // A dropped audio track makes the playlist modified even when no clip is emptied.
  Clip(1).SetKeepByPid(kAc3, false);
  for (int clip : c.emptied) Empty(Clip(clip));

  const Mpls copy = Rebuilt();
  EXPECT_THAT(ItemClips(copy), ElementsAreArray(c.clips));
  std::vector<uint16_t> marks;
  for (const PLAY_MARK& mark : copy.marks) marks.push_back(mark.RefToPlayItemID);
  EXPECT_THAT(marks, ElementsAreArray(c.mark_items));
  std::vector<uint8_t> conditions;
  for (const PLAY_ITEM& item : copy.play_items) conditions.push_back(item.ConnectionCondition);
  EXPECT_THAT(conditions, ElementsAreArray(c.conditions));
  std::vector<uint16_t> syncs;
  for (const SUB_PLAY_ITEM& item : copy.sub_paths.at(0).items) syncs.push_back(item.SyncPlayItemID);
  EXPECT_THAT(syncs, ElementsAreArray(c.sync_items));
}

// Marks start on items 0, 1, 1, 2 and 9 (no such item); items 1 and 2 join seamlessly.
INSTANTIATE_TEST_SUITE_P(
    Table, RemovedItems,
    ::testing::Values(RemovalCase{"NoneEmptied", {}, {1, 2, 3}, {0, 1, 1, 2}, {1, 5, 5}, {0, 1, 2}},
                      RemovalCase{"First", {1}, {2, 3}, {0, 0, 1}, {1, 5}, {0, 1}},
                      RemovalCase{"Middle", {2}, {1, 3}, {0, 1}, {1, 1}, {0, 1}},
                      RemovalCase{"Last", {3}, {1, 2}, {0, 1, 1}, {1, 5}, {0, 1}},
                      RemovalCase{"FirstAndLast", {1, 3}, {2}, {0, 0}, {1}, {0}}),
    CaseName<RemovalCase>);

// ---- times ----

struct RemapCase {
  const char* name;
  int64_t t90;
  int64_t expected;
};

class RemapTimeOfCutClip : public PlaylistRebuild,
                           public ::testing::WithParamInterface<RemapCase> {};

// The kept part of the old clip is 1 s to 5 s after its start; the rebuilt clip starts at the
// old start, so a time inside the kept part moves back by the in offset.
TEST_P(RemapTimeOfCutClip, MovesTheKeptPartOntoTheRebuiltClip) {
  CutClip2();
  EXPECT_EQ(RemapTime(Clip(2), GetParam().t90), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RemapTimeOfCutClip,
    ::testing::Values(RemapCase{"BeforeTheKeptPart", kStart + 45000, kRemapBeforeStart},
                      RemapCase{"AtTheInPoint", kStart + 90000, kStart},
                      RemapCase{"Inside", kStart + 180000, kStart + 90000},
                      RemapCase{"JustBeforeTheOutPoint", kStart + 449998, kStart + 359998},
                      RemapCase{"AtTheOutPoint", kStart + 450000, kStart + 360000},
                      RemapCase{"AfterTheKeptPart", kStart + 450001, kRemapAfterEnd},
                      RemapCase{"TheOldEnd", kEnd, kRemapAfterEnd}),
    CaseName<RemapCase>);

class RemapTimeOfRebuiltClip : public PlaylistRebuild,
                               public ::testing::WithParamInterface<RemapCase> {};

// A clip rebuilt whole whose presentation starts 3000 ticks (and 150 of 27 MHz, rounded up)
// later.
TEST_P(RemapTimeOfRebuiltClip, ShiftsByTheNewStart) {
  CClpiObject& clip = Clip(1);
  clip.SetKeepByPid(kAc3, false);
  clip.output_timing.presentation_start = (kStart + 2999) * 300 + 150;
  clip.output_timing.presentation_end = (kEnd + 3000) * 300;
  EXPECT_EQ(RemapTime(clip, GetParam().t90), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, RemapTimeOfRebuiltClip,
                         ::testing::Values(RemapCase{"Before", kStart - 1, kRemapBeforeStart},
                                           RemapCase{"Start", kStart, kStart + 3000},
                                           RemapCase{"Inside", kStart + 100, kStart + 3100},
                                           RemapCase{"End", kEnd, kEnd + 3000},
                                           RemapCase{"After", kEnd + 1, kRemapAfterEnd}),
                         CaseName<RemapCase>);

struct MarkCase {
  const char* name;
  uint32_t mark;  // 45 kHz on play item 1 (clip 2)
  uint32_t expected;
};

class MarksOfCutClip : public PlaylistRebuild, public ::testing::WithParamInterface<MarkCase> {};

TEST_P(MarksOfCutClip, FollowTheKeptPartOrTakeTheItemEdges) {
  CutClip2();
  playlist_->marks.clear();
  PLAY_MARK on_cut;
  on_cut.RefToPlayItemID = 1;
  on_cut.MarkTimeStamp = GetParam().mark;
  PLAY_MARK on_unmodified;
  on_unmodified.RefToPlayItemID = 0;
  on_unmodified.MarkTimeStamp = kIn45 + 50000;
  playlist_->marks = {on_unmodified, on_cut};

  const Mpls copy = Rebuilt();
  // The play item of the cut clip covers the rebuilt clip: its start to its new end.
  EXPECT_EQ(copy.play_items[1].InTime, kIn45);
  EXPECT_EQ(copy.play_items[1].OutTime, kIn45 + 180000);
  EXPECT_EQ(copy.play_items[0].InTime, kIn45);
  EXPECT_EQ(copy.play_items[0].OutTime, kOut45);
  ASSERT_EQ(copy.marks.size(), 2u);
  EXPECT_EQ(copy.marks[0].MarkTimeStamp, kIn45 + 50000);
  EXPECT_EQ(copy.marks[1].MarkTimeStamp, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MarksOfCutClip,
    ::testing::Values(MarkCase{"BeforeTheCut", kIn45 + 22500, kIn45},
                      MarkCase{"AtTheInPoint", kIn45 + 45000, kIn45},
                      MarkCase{"Inside", kIn45 + 90000, kIn45 + 45000},
                      MarkCase{"AtTheOutPoint", kIn45 + 225000, kIn45 + 180000},
                      MarkCase{"BeyondTheCut", kIn45 + 300000, kIn45 + 180000}),
    CaseName<MarkCase>);

TEST_F(PlaylistRebuild, TimesBeyondThirtyTwoBitsAfterDoublingStayExact) {
  // A clip whose 45 kHz start doubled no longer fits 32 bits.
  constexpr uint32_t kLateIn45 = 0xF0000000;
  constexpr int64_t kLateStart = int64_t{kLateIn45} * 2;
  CClpiObject& clip = Clip(2);
  clip.start_time = static_cast<uint64_t>(kLateStart);
  clip.end_time = static_cast<uint64_t>(kLateStart + 900900);
  clip.in_point = 100;
  clip.in_offset = 90000;
  clip.out_offset = 900900;
  clip.output_timing.presentation_start = static_cast<uint64_t>(kLateStart) * 300;
  clip.output_timing.presentation_end = static_cast<uint64_t>(kLateStart + 810900) * 300;
  playlist_->play_items[1].InTime = kLateIn45;
  playlist_->play_items[1].OutTime = kLateIn45 + 450450;
  PLAY_MARK mark;
  mark.RefToPlayItemID = 1;
  mark.MarkTimeStamp = kLateIn45 + 90000;
  playlist_->marks = {mark};

  const Mpls copy = Rebuilt();
  EXPECT_EQ(copy.play_items[1].InTime, kLateIn45);
  EXPECT_EQ(copy.play_items[1].OutTime, kLateIn45 + 405450);
  EXPECT_EQ(copy.marks.at(0).MarkTimeStamp, kLateIn45 + 45000);
}

// ---- stream tables ----

TEST_F(PlaylistRebuild, AHiddenTrackLeavesEveryTableButNotTheClips) {
  ASSERT_TRUE(playlist_->SetVisibleAt(TrackIndex(kPg), false, false));
  const Mpls copy = Rebuilt();
  for (const PLAY_ITEM& item : copy.play_items) {
    EXPECT_THAT(TablePids(item.stn), ElementsAre(0x1011, kAc3, kLpcm));
  }
  for (int clip : {1, 2, 3}) EXPECT_FALSE(Clip(clip).IsModified());
}

struct PidCase {
  const char* name;
  bool remuxed;  // clip 1 carries the multiplexer's PIDs
  bool stale;    // unmodified clip 2 carries an output PID of an earlier build
};

class OutputPids : public PlaylistRebuild, public ::testing::WithParamInterface<PidCase> {};

// Clip 1 drops its AC-3 track (and with it the playlist's), so its LPCM track moves to 0x1100;
// clips 2 and 3 are not rebuilt and keep their PIDs.
TEST_P(OutputPids, TablesNameTheStreamsOfTheOutputClips) {
  CClpiObject& first = Clip(1);
  first.SetKeepByPid(kAc3, false);
  if (GetParam().remuxed) {
    first.built = 1;
    FindByPid(first.original_tracks, 0x1011)->output_pid = 0x1011;
    FindByPid(first.original_tracks, kLpcm)->output_pid = kAc3;
    FindByPid(first.original_tracks, kPg)->output_pid = kPg;
  }
  if (GetParam().stale) FindByPid(Clip(2).original_tracks, kLpcm)->output_pid = 0x1105;

  const Mpls copy = Rebuilt();
  EXPECT_THAT(TablePids(copy.play_items[0].stn), ElementsAre(0x1011, kAc3, kPg));
  EXPECT_EQ(copy.play_items[0].stn.list(StnList::kPrimaryAudio).at(0)->Attributes.StreamCodingType,
            0x80);
  EXPECT_THAT(TablePids(copy.play_items[1].stn), ElementsAre(0x1011, kLpcm, kPg));
  EXPECT_THAT(TablePids(copy.play_items[2].stn), ElementsAre(0x1011, kLpcm, kPg));
  // Nothing of the clip was changed to find the PIDs out.
  EXPECT_EQ(FindByPid(first.original_tracks, kLpcm)->output_pid, GetParam().remuxed ? kAc3 : 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, OutputPids,
                         ::testing::Values(PidCase{"NothingRemuxed", false, false},
                                           PidCase{"Remuxed", true, false},
                                           PidCase{"StaleOutputPid", false, true}),
                         CaseName<PidCase>);

TEST_F(PlaylistRebuild, AReorderSortsEveryTable) {
  // Output rows: video, AC-3, LPCM, PG; the two audio tracks change places.
  const std::vector<int> permutation{0, 2, 1, 3};
  ASSERT_TRUE(playlist_->Reorder(permutation));
  const Mpls copy = Rebuilt();
  for (const PLAY_ITEM& item : copy.play_items) {
    EXPECT_THAT(TablePids(item.stn), ElementsAre(0x1011, kLpcm, kAc3, kPg));
  }
}

// ---- combination references ----

struct CombCase {
  const char* name;
  bool swap_audio;  // the playlist puts LPCM before AC-3
  bool drop_ac3;    // clip 1 drops AC-3, the playlist hides it
  std::vector<uint8_t> expected;
};

class CombinationReferences : public PlaylistRebuild,
                              public ::testing::WithParamInterface<CombCase> {};

// A secondary audio stream that may be mixed with AC-3 (0), LPCM (1) and a stream the track list
// does not have (5).
TEST_P(CombinationReferences, FollowTheirStreamsToTheirNewPlaces) {
  AddStreamEverywhere(kSecondaryAudio, 0xA1, StnList::kSecondaryAudio, 1);
  for (PLAY_ITEM& item : playlist_->play_items) {
    auto& entry =
        static_cast<SECONDARD_AUDIO_STREAM_ENTRY&>(*item.stn.list(StnList::kSecondaryAudio).at(0));
    entry.SecondardAudioStreamCombInfo.RefIDs = {0, 1, 5};
  }
  if (GetParam().swap_audio) {
    const std::vector<int> permutation{0, 2, 1, 3, 4};
    ASSERT_TRUE(playlist_->Reorder(permutation));
  }
  if (GetParam().drop_ac3) Clip(1).SetKeepByPid(kAc3, false);
  if (!GetParam().swap_audio && !GetParam().drop_ac3) Clip(1).SetKeepByPid(kPg, false);

  const Mpls copy = Rebuilt();
  const auto& entry = static_cast<const SECONDARD_AUDIO_STREAM_ENTRY&>(
      *copy.play_items[0].stn.list(StnList::kSecondaryAudio).at(0));
  EXPECT_THAT(entry.SecondardAudioStreamCombInfo.RefIDs, ElementsAreArray(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Table, CombinationReferences,
    ::testing::Values(CombCase{"Unchanged", false, false, {0, 1, 5}},
                      CombCase{"Swapped", true, false, {1, 0, 5}},
                      // The hidden stream's reference goes; LPCM, now 0x1100, is the first.
                      CombCase{"Dropped", false, true, {0, 5}}),
    CaseName<CombCase>);

// ---- picture-in-picture ----

class PipSubPath : public PlaylistRebuild {
 protected:
  // An in-mux picture-in-picture video on every clip, with its sub-path of three sub-play items
  // whose SyncStartPTS lies before their IN time.
  void SetUp() override {
    PlaylistRebuild::SetUp();
    SUB_PATH path;
    path.SubPathType = 7;
    for (uint16_t i = 0; i < 3; ++i) {
      const PLAY_ITEM& item = playlist_->play_items[i];
      SUB_PLAY_ITEM sub_item;
      std::copy_n(item.ClipInformationFileName, 5, sub_item.ClipInformationFileName);
      sub_item.InTime = item.InTime;
      sub_item.OutTime = item.OutTime;
      sub_item.SyncPlayItemID = i;
      sub_item.SyncStartPTS_OfPlayItem = item.InTime - 10;
      path.items.push_back(sub_item);
    }
    playlist_->sub_paths.push_back(path);
    AddStreamEverywhere(kPipVideo, 0x1B, StnList::kSecondaryVideo, 3);
  }
};

TEST_F(PipSubPath, FollowsItsVisibleTrackOntoTheRebuiltClips) {
  CutClip2();
  const Mpls copy = Rebuilt();
  ASSERT_EQ(copy.sub_paths.size(), 1u);
  const std::vector<SUB_PLAY_ITEM>& items = copy.sub_paths[0].items;
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[1].InTime, kIn45);
  EXPECT_EQ(items[1].OutTime, kIn45 + 180000);
  EXPECT_EQ(items[1].SyncStartPTS_OfPlayItem, kIn45);
  EXPECT_EQ(items[0].OutTime, kOut45);
  for (const PLAY_ITEM& item : copy.play_items) {
    EXPECT_EQ(item.stn.IndexOfPid(StnList::kSecondaryVideo, kPipVideo), 0);
  }
}

TEST_F(PipSubPath, LosesItsSubPlayItemsWithItsHiddenTrack) {
  ASSERT_TRUE(playlist_->SetVisibleAt(TrackIndex(kPipVideo), false, false));
  const Mpls copy = Rebuilt();
  ASSERT_EQ(copy.sub_paths.size(), 1u);
  EXPECT_THAT(copy.sub_paths[0].items, IsEmpty());
  for (const PLAY_ITEM& item : copy.play_items) {
    EXPECT_THAT(item.stn.list(StnList::kSecondaryVideo), IsEmpty());
  }
}

PipMetadataBlock Block(uint16_t item, uint8_t stream, std::vector<uint32_t> times) {
  PipMetadataBlock block;
  block.header.RefPlayItemId = item;
  block.header.RefSvStreamId = stream;
  for (uint32_t t : times) block.entries.push_back({t, 10, 20, 1});
  return block;
}

void StoreMetadata(Mpls& playlist, std::vector<PipMetadataBlock> blocks) {
  SPipMetaData metadata;
  metadata.blocks = std::move(blocks);
  playlist.ext_data.emplace();
  playlist.ext_data->StorePipMetadata(metadata);
}

std::vector<PipMetadataBlock> StoredBlocks(const Mpls& playlist) {
  SPipMetaData metadata;
  const SExtDataEntry* entry = playlist.ext_data ? playlist.ext_data->FindEntry(1, 1) : nullptr;
  if (!entry || !metadata.Read(entry->data)) return {};
  return metadata.blocks;
}

TEST_F(PipSubPath, MetadataFollowsThePlayItemsAndDropsWhatNamesNothing) {
  Empty(Clip(2));
  StoreMetadata(*playlist_,
                {Block(0, 0, {kIn45 - 1000, kIn45 + 1000, kOut45 + 1}),
                 Block(1, 0, {kIn45 + 1000}),                        // its play item goes
                 Block(2, 0, {kIn45 + 2000}), Block(9, 0, {kIn45}),  // no such play item
                 Block(0, 3, {kIn45})});  // no such secondary video stream

  const std::vector<PipMetadataBlock> blocks = StoredBlocks(Rebuilt());
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].header.RefPlayItemId, 0);
  ASSERT_EQ(blocks[0].entries.size(), 1u);
  EXPECT_EQ(blocks[0].entries[0].PipTimeStamp, kIn45 + 1000);
  EXPECT_EQ(blocks[1].header.RefPlayItemId, 1);
  EXPECT_EQ(blocks[1].entries.at(0).PipTimeStamp, kIn45 + 2000);
}

TEST_F(PipSubPath, MetadataWithoutAHeaderLeft) {
  ASSERT_TRUE(playlist_->SetVisibleAt(TrackIndex(kPipVideo), false, false));
  StoreMetadata(*playlist_, {Block(0, 0, {kIn45 + 1000})});
  const Mpls copy = Rebuilt();
  ASSERT_TRUE(copy.ext_data);
  EXPECT_EQ(copy.ext_data->FindEntry(1, 1), nullptr);
}

// ---- new tracks ----

// A copy of an elementary stream of tests/data/es/ in `dir`, so that its stream info is written
// there.
fs::path StageStream(const test::TempDir& dir, const std::string& name) {
  const fs::path target = dir / fs::path(name).filename().string();
  fs::copy_file(test::DataPath("es/" + name), target);
  return target;
}

class NewTracks : public PlaylistRebuild {
 protected:
  // The track of `file` added to clip 1 and, as its copy, to the playlist.
  void AddToClip1AndPlaylist(const fs::path& file, bool primary) {
    for (SRawTracks* tracks : {&Clip(1).new_tracks, &playlist_->new_tracks}) {
      std::unique_ptr<SRawTrack> track = SRawTrack::Create(file, primary, nullptr);
      ASSERT_NE(track, nullptr);
      track->primary = primary ? 1 : 0;
      track->order = 10 + static_cast<int32_t>(tracks->size());
      tracks->Append(std::move(track));
    }
  }
};

TEST_F(NewTracks, ANewAudioTrackGetsItsEntryOnTheNextAudioPid) {
  AddToClip1AndPlaylist(StageStream(dir_, "ac3_20_192k.ac3"), true);
  const Mpls copy = Rebuilt();
  for (const PLAY_ITEM& item : copy.play_items) {
    EXPECT_THAT(TablePids(item.stn), ElementsAre(0x1011, kAc3, kLpcm, 0x1102, kPg));
    EXPECT_EQ(item.stn.list(StnList::kPrimaryAudio).at(2)->Attributes.StreamCodingType, 0x81);
  }
}

TEST_F(NewTracks, ANewPictureInPictureVideoGetsItsSubPath) {
  AddToClip1AndPlaylist(StageStream(dir_, "video/h264_1080p25.264"), false);
  const Mpls copy = Rebuilt();
  for (const PLAY_ITEM& item : copy.play_items) {
    const StreamEntryList& videos = item.stn.list(StnList::kSecondaryVideo);
    ASSERT_EQ(videos.size(), 1u);
    EXPECT_EQ(videos[0]->Entry.Type, 3);
    EXPECT_EQ(videos[0]->Entry.RefToSubPathID, 0);
    EXPECT_EQ(videos[0]->Entry.Pid(), kPipVideo);
  }
  ASSERT_EQ(copy.sub_paths.size(), 1u);
  EXPECT_EQ(copy.sub_paths[0].SubPathType, 7);
  std::vector<int> clips;
  for (const SUB_PLAY_ITEM& item : copy.sub_paths[0].items) {
    clips.push_back(item.ClipNumber());
    EXPECT_EQ(item.InTime, kIn45);
    EXPECT_EQ(item.OutTime, kOut45);
  }
  EXPECT_THAT(clips, ElementsAre(1, 2, 3));
}

// Clip 1 replaces its AC-3 track with DTS: the playlist's copy takes the AC-3 entry's place.
TEST_F(NewTracks, AReplacementTakesTheEntryOfTheStreamItReplaces) {
  SRipTrack* ac3 = FindByPid(Clip(1).original_tracks, kAc3);
  ASSERT_NE(Clip(1).ReplaceTrack(*ac3, StageStream(dir_, "dts_20_768k.dts"), true, nullptr),
            nullptr);
  ASSERT_EQ(playlist_->new_tracks.size(), 1u);
  ASSERT_EQ(playlist_->tracks[static_cast<size_t>(TrackIndex(kAc3))]->keep, 0);

  const Mpls copy = Rebuilt();
  std::vector<std::pair<uint16_t, uint8_t>> audio[3];
  for (size_t i = 0; i < 3; ++i) {
    for (const auto& entry : copy.play_items[i].stn.list(StnList::kPrimaryAudio)) {
      audio[i].emplace_back(entry->Entry.Pid(), entry->Attributes.StreamCodingType);
    }
  }
  EXPECT_THAT(audio[0], ElementsAre(Pair(kAc3, 0x82), Pair(kLpcm, 0x80)));
  // Clips 2 and 3 keep their AC-3 stream, which their entries go on naming.
  EXPECT_THAT(audio[1], ElementsAre(Pair(kAc3, 0x81), Pair(kLpcm, 0x80)));
  EXPECT_THAT(audio[2], ElementsAre(Pair(kAc3, 0x81), Pair(kLpcm, 0x80)));
}

// ---- read back by libbluray ----

struct BlurayCloser {
  void operator()(BLURAY* bd) const { bd_close(bd); }
};

struct BdItem {
  std::string clip;
  uint64_t in = 0;  // 90 kHz
  uint64_t out = 0;
  std::vector<uint16_t> pids;  // primary video, audio, PG, IG, secondary audio, secondary video
  bool operator==(const BdItem&) const = default;
};

void PrintTo(const BdItem& item, std::ostream* os) {
  *os << item.clip << " " << item.in << ".." << item.out << " "
      << ::testing::PrintToString(item.pids);
}

std::vector<BdItem> ReadWithLibbluray(const fs::path& root, uint32_t playlist, uint32_t* marks) {
  setenv("BD_DEBUG_MASK", "0", 1);
  std::unique_ptr<BLURAY, BlurayCloser> bd(bd_open(root.c_str(), nullptr));
  if (!bd) return {};
  BLURAY_TITLE_INFO* info = bd_get_playlist_info(bd.get(), playlist, 0);
  if (!info) return {};
  std::vector<BdItem> items;
  for (uint32_t i = 0; i < info->clip_count; ++i) {
    const BLURAY_CLIP_INFO& clip = info->clips[i];
    BdItem item{clip.clip_id, clip.in_time, clip.out_time, {}};
    const std::pair<const BLURAY_STREAM_INFO*, int> lists[] = {
        {clip.video_streams, clip.video_stream_count},
        {clip.audio_streams, clip.audio_stream_count},
        {clip.pg_streams, clip.pg_stream_count},
        {clip.ig_streams, clip.ig_stream_count},
        {clip.sec_audio_streams, clip.sec_audio_stream_count},
        {clip.sec_video_streams, clip.sec_video_stream_count},
    };
    for (const auto& [streams, count] : lists) {
      for (int s = 0; s < count; ++s) item.pids.push_back(streams[s].pid);
    }
    items.push_back(std::move(item));
  }
  *marks = info->mark_count;
  bd_free_title_info(info);
  return items;
}

std::vector<BdItem> OurItems(const Mpls& playlist) {
  std::vector<BdItem> items;
  for (const PLAY_ITEM& item : playlist.play_items) {
    BdItem out{std::string(std::begin(item.ClipInformationFileName),
                           std::end(item.ClipInformationFileName)),
               uint64_t{item.InTime} * 2, uint64_t{item.OutTime} * 2, TablePids(item.stn)};
    items.push_back(std::move(out));
  }
  return items;
}

TEST_F(NewTracks, TheRewrittenPlaylistReadsBackInLibbluray) {
  TESSEL_SKIP_WITHOUT_LIBBLURAY();
  // Clip 1 drops AC-3 and gets a picture-in-picture video, clip 2 is emptied, clip 3 is cut.
  Clip(1).SetKeepByPid(kAc3, false);
  AddToClip1AndPlaylist(StageStream(dir_, "video/h264_1080p25.264"), false);
  Empty(Clip(2));
  Cut(Clip(3));
  PLAY_MARK mark;
  mark.RefToPlayItemID = 2;
  mark.MarkTimeStamp = kIn45 + 90000;
  playlist_->marks.push_back(mark);

  const Mpls copy = Rebuilt();
  std::string error;
  ASSERT_TRUE(WriteWholeFile(dir_ / "BDMV/PLAYLIST/00001.mpls", copy.Write(), &error)) << error;
  uint32_t marks = 0;
  const std::vector<BdItem> theirs = ReadWithLibbluray(dir_.path(), 1, &marks);
  EXPECT_EQ(theirs, OurItems(copy));
  ASSERT_EQ(theirs.size(), 2u);
  EXPECT_EQ(theirs[0].pids, (std::vector<uint16_t>{0x1011, kAc3, kPg, kPipVideo}));
  EXPECT_EQ(theirs[1].out, static_cast<uint64_t>(kStart + 360000));
  EXPECT_EQ(marks, copy.marks.size());
  EXPECT_EQ(copy.marks.back().RefToPlayItemID, 1);
}

}  // namespace
}  // namespace tessel
