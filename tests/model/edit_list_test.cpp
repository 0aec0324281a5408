// The edit list over the fixture discs: what a list does to every clip and playlist, the exact
// message of each error and refusal with the disc unchanged, and a saved record that replays.
#include "model/edit_list.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "model/bd_disc.h"
#include "support/test_support.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;

// The editing state of every clip and playlist, in one comparable text.
std::string State(const CBDDisc& disc) {
  std::string text;
  for (const auto& clip : disc.clips()->items()) {
    text += "clip " + std::to_string(clip->id()) + (clip->IsModified() ? " modified:" : ":");
    for (const auto& track : clip->original_tracks) {
      text += " " + std::to_string(track->pid) + (track->keep ? "k" : "-") +
              (track->cleared ? "c" : "") + (track->replacement ? "r" : "") + "@" +
              std::to_string(track->order);
    }
    for (size_t i = 0; i < clip->new_tracks.size(); ++i) {
      const SRawTrack& track = clip->new_tracks[i];
      text += " +" + track.MainPath().filename().string() + "@" + std::to_string(track.order) +
              "/" + track.LanguageCode() + "/" + std::to_string(track.delay);
    }
    text += " cut " + std::to_string(clip->in_point) + "-" + std::to_string(clip->out_point) + "\n";
  }
  for (const auto& playlist : disc.playlists()->items()) {
    text += "playlist " + std::to_string(playlist->id()) +
            (playlist->IsModified() ? " modified:" : ":");
    for (const auto& track : playlist->tracks) {
      text += " " + std::to_string(track->pid) + (track->keep ? "v" : "h") +
              (track->replacement ? "r" : "") + "@" + std::to_string(track->order);
    }
    for (size_t i = 0; i < playlist->new_tracks.size(); ++i) {
      const SRawTrack& track = playlist->new_tracks[i];
      text += " +" + track.MainPath().filename().string() + (track.IsPropagated() ? "(copy)" : "");
    }
    text += "\n";
  }
  return text;
}

class EditListTest : public ::testing::Test {
 protected:
  void Open(const std::string& disc) {
    bdmv_ = test::StageDisc("discs/" + disc, dir_.path());
    ASSERT_TRUE(disc_.Open(bdmv_.string()));
    fs::copy_file(test::DataPath("es/ac3_20_192k.ac3"), dir_ / "dub.ac3");
  }
  JobResult Apply(const std::string& text) {
    std::vector<SEdit> edits;
    std::string error;
    if (!ParseEditList(text, dir_.path(), edits, error)) {
      ShowMessage(error);
      return JobResult::kFailed;
    }
    return ApplyEditList(disc_, edits, nullptr);
  }

  test::TempDir dir_;
  fs::path bdmv_;
  CBDDisc disc_;
};

struct ErrorRow {
  const char* name;
  const char* list;
  const char* message;
};

// Lists the reader refuses, and lists that do not fit the simple disc or are refused by it.
const ErrorRow kErrorRows[] = {
    {"not json", R"({"tessel_edits": 1, "edits": [)",
     "edit list: not valid JSON (line 1, column 31)"},
    {"version", R"({"tessel_edits": 2, "edits": []})",
     "edit list, field \"tessel_edits\": must be 1"},
    {"top field", R"({"tessel_edits": 1, "edits": [], "x": 0})",
     "edit list, field \"x\": unknown field"},
    {"unknown op", R"({"tessel_edits": 1, "edits": [{"op": "frob", "clip": 0}]})",
     "edit 1 (frob), field \"op\": unknown operation"},
    {"unknown field",
     R"({"tessel_edits": 1, "edits": [{"op": "drop", "clip": 0, "pid": 4352, "colour": 1}]})",
     "edit 1 (drop), field \"colour\": unknown field"},
    {"field of another op",
     R"({"tessel_edits": 1, "edits": [{"op": "drop", "clip": 0, "pid": 4352, "file": "a"}]})",
     "edit 1 (drop), field \"file\": unknown field"},
    {"bad pid", R"({"tessel_edits": 1, "edits": [{"op": "drop", "clip": 0, "pid": "0xZZ"}]})",
     "edit 1 (drop), field \"pid\": must be a PID such as \"0x1100\" or 4352"},
    {"playlist op on a clip",
     R"({"tessel_edits": 1, "edits": [{"op": "order", "clip": 0, "tracks": []}]})",
     "edit 1 (order), field \"clip\": this operation edits playlists only"},
    {"missing clip",
     R"({"tessel_edits": 1, "edits": [{"op": "drop", "clip": 0, "pid": 4353},
        {"op": "drop", "clip": 7, "pid": 4352}]})",
     "edit 2 (drop), field \"clip\": no clip 00007"},
    {"missing pid",
     R"({"tessel_edits": 1, "edits": [{"op": "drop", "clip": 0, "pid": 4353},
        {"op": "drop", "clip": 0, "pid": 4352}, {"op": "replace", "clip": 0, "pid": "0x1105",
        "file": "dub.ac3"}]})",
     "edit 3 (replace), field \"pid\": clip 00000 has no track 0x1105"},
    {"missing position",
     R"({"tessel_edits": 1, "edits": [{"op": "visible", "playlist": 0, "track": 9}]})",
     "edit 1 (visible), field \"track\": playlist 00000 has no track at position 9"},
    {"missing playlist",
     R"({"tessel_edits": 1, "edits": [{"op": "visible", "playlist": 3, "track": 0}]})",
     "edit 1 (visible), field \"playlist\": no playlist 00003"},
    {"missing new track",
     R"({"tessel_edits": 1, "edits": [{"op": "delete", "clip": 0, "new_track": 0}]})",
     "edit 1 (delete), field \"new_track\": clip 00000 has no new track 0"},
    {"added twice",
     R"({"tessel_edits": 1, "edits": [{"op": "add", "clip": 0, "file": "dub.ac3"},
        {"op": "add", "clip": 0, "file": "dub.ac3"}]})",
     "\r\nStream has already been added ! "},
    {"type differs",
     R"({"tessel_edits": 1, "edits": [{"op": "replace", "clip": 0, "pid": "0x1011", "file": "dub.ac3"}]})",
     "\r\nTrack type is different, substitute failed! "},
    {"cleared then replaced",
     R"({"tessel_edits": 1, "edits": [{"op": "clear", "clip": 0, "pid": "0x1100"},
        {"op": "replace", "clip": 0, "pid": "0x1100", "file": "dub.ac3"}]})",
     "Track has been cleared, substitute failed! "},
    {"replaced then cleared",
     R"({"tessel_edits": 1, "edits": [{"op": "replace", "clip": 0, "pid": "0x1100", "file": "dub.ac3"},
        {"op": "clear", "clip": 0, "pid": "0x1100"}]})",
     "Can not be cleared as it has been replaced! "},
    {"one clip",
     R"({"tessel_edits": 1, "edits": [{"op": "add", "playlist": 0, "file": "dub.ac3"}]})",
     "Mpls mode is only valid for mpls containing multiple m2ts! "},
};

class EditListErrorTest : public EditListTest, public ::testing::WithParamInterface<ErrorRow> {};

TEST_P(EditListErrorTest, ShowsTheMessageAndLeavesTheDiscUnchanged) {
  Open("disc-simple");
  const std::string before = State(disc_);
  test::ScopedRecordingPrompt prompt;
  EXPECT_EQ(Apply(GetParam().list), JobResult::kFailed);
  ASSERT_FALSE(prompt.messages().empty());
  const std::string shown = prompt.messages().back();
  const std::string expected = GetParam().message;
  // A refusal about a file starts with the file's path.
  if (expected.starts_with("\r\n")) {
    EXPECT_TRUE(shown.ends_with(expected)) << shown;
  } else {
    EXPECT_EQ(shown, expected);
  }
  EXPECT_EQ(State(disc_), before);
  EXPECT_TRUE(disc_.edit_record().edits.empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, EditListErrorTest, ::testing::ValuesIn(kErrorRows),
                         [](const ::testing::TestParamInfo<ErrorRow>& row) {
                           std::string name = row.param.name;
                           for (char& c : name)
                             c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

TEST_F(EditListTest, DropInTheClipHidesInThePlaylistAndTheVideoDropFailsTheCheck) {
  Open("disc-simple");
  test::ScopedRecordingPrompt prompt;
  ASSERT_EQ(Apply(R"({"tessel_edits": 1, "edits": [{"op": "drop", "clip": 0, "pid": "0x1101"},
      {"op": "drop", "clip": 0, "pid": 4113}]})"),
            JobResult::kDone);
  const CMplsObject& playlist = *disc_.playlists()->GetAt(0);
  for (const auto& track : playlist.tracks) EXPECT_EQ(track->keep != 0, track->pid != 0x1101);
  EXPECT_EQ(disc_.clips()->GetAt(0)->CheckBeforeBuild(), 2);
  EXPECT_EQ(prompt.messages().back(), "00000.m2ts: Primary video track count must be 1! ");
  bool ask = true;
  EXPECT_EQ(playlist.CheckBeforeBuild(ask), 2);
  EXPECT_EQ(prompt.messages().back(), "00000.mpls: track of 4113 was unchecked in 00000.m2ts");
}

TEST_F(EditListTest, ClearingTheVideoClearsAllAndUnclearingItLeavesTheOthers) {
  Open("disc-simple");
  ASSERT_EQ(Apply(R"({"tessel_edits": 1, "edits": [{"op": "clear", "clip": 0, "pid": "0x1011"}]})"),
            JobResult::kDone);
  for (const auto& track : disc_.clips()->GetAt(0)->original_tracks) EXPECT_TRUE(track->cleared);
  ASSERT_EQ(Apply(R"({"tessel_edits": 1, "edits": [{"op": "clear", "clip": 0, "pid": "0x1011",
      "cleared": false}]})"),
            JobResult::kDone);
  for (const auto& track : disc_.clips()->GetAt(0)->original_tracks) {
    EXPECT_EQ(track->cleared != 0, track->pid != 0x1011);
  }
}

TEST_F(EditListTest, AddedTrackReachesThePlaylistAsACopyAndGoesWithTheDelete) {
  Open("disc-simple");
  ASSERT_EQ(Apply(R"({"tessel_edits": 1, "edits": [{"op": "add", "clip": 0, "file": "dub.ac3",
      "language": "deu", "delay_ms": -40}]})"),
            JobResult::kDone);
  const CClpiObject& clip = *disc_.clips()->GetAt(0);
  const CMplsObject& playlist = *disc_.playlists()->GetAt(0);
  ASSERT_EQ(clip.new_tracks.size(), 1U);
  EXPECT_EQ(clip.new_tracks[0].LanguageCode(), "deu");
  EXPECT_EQ(clip.new_tracks[0].delay, -40 * 90);
  ASSERT_EQ(playlist.new_tracks.size(), 1U);
  EXPECT_TRUE(playlist.new_tracks[0].IsPropagated());
  EXPECT_EQ(playlist.new_tracks[0].author, clip.Author());
  EXPECT_EQ(playlist.new_tracks[0].LanguageCode(), "deu");
  ASSERT_EQ(
      Apply(R"({"tessel_edits": 1, "edits": [{"op": "delete", "clip": 0, "file": "dub.ac3"}]})"),
      JobResult::kDone);
  EXPECT_EQ(clip.new_tracks.size(), 0U);
  EXPECT_EQ(playlist.new_tracks.size(), 0U);
}

TEST_F(EditListTest, CutsOfTheSimpleDiscAndTheirChecks) {
  Open("disc-simple");
  test::ScopedRecordingPrompt prompt;
  ASSERT_EQ(Apply(R"({"tessel_edits": 1, "edits": [{"op": "cut", "clip": 0, "in_ms": 1000,
      "out_ms": 3500}]})"),
            JobResult::kDone);
  CClpiObject& clip = *disc_.clips()->GetAt(0);
  EXPECT_NE(clip.in_point, 0U);
  EXPECT_EQ(clip.CheckBeforeBuild(), 2);
  EXPECT_EQ(prompt.messages().back(), "00000.m2ts: duration must be more than 3 second! ");
  ASSERT_EQ(Apply(R"({"tessel_edits": 1, "edits": [{"op": "cut", "clip": 0, "in_ms": 1000,
      "out_ms": 8000}, {"op": "add", "clip": 0, "file": "dub.ac3"}]})"),
            JobResult::kDone);
  EXPECT_EQ(clip.CheckBeforeBuild(), 2);
  EXPECT_EQ(prompt.messages().back(), "00000.m2ts: cannot add new tracks in edit mode! ");
}

TEST_F(EditListTest, SavedRecordReplaysToTheSameStateOnAFreshOpening) {
  Open("disc-multiclip");
  ASSERT_EQ(Apply(R"({"tessel_edits": 1, "edits": [
      {"op": "drop", "clip": 1, "pid": "0x1100"},
      {"op": "add", "clip": 0, "file": "dub.ac3", "language": "fra"},
      {"op": "visible", "playlist": 0, "track": 1, "visible": false, "related": true},
      {"op": "cut", "clip": 2, "in_ms": 0, "out_ms": 1500}]})"),
            JobResult::kDone);
  const std::string state = State(disc_);
  std::string error;
  const fs::path saved = dir_ / "edits.json";
  ASSERT_TRUE(SaveEditListFile(saved, disc_.edit_record().edits, error)) << error;
  std::vector<SEdit> edits;
  ASSERT_TRUE(ReadEditListFile(saved, edits, error)) << error;
  EXPECT_EQ(WriteEditList(edits, dir_.path()),
            WriteEditList(disc_.edit_record().edits, dir_.path()));
  CBDDisc fresh;
  ASSERT_TRUE(fresh.Open(bdmv_.string()));
  ASSERT_EQ(ApplyEditList(fresh, edits, nullptr), JobResult::kDone);
  EXPECT_EQ(State(fresh), state);
}

}  // namespace
}  // namespace tessel
