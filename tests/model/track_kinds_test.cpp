#include "model/track_kinds.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

namespace tessel {
namespace {

TEST(TrackKinds, KindOfEveryCodingType) {
  for (int code = 0; code < 256; ++code) {
    const auto type = static_cast<uint8_t>(code);
    TrackKind expected = TrackKind::kOther;
    if (code == 0x02 || code == 0x1B || code == 0x20 || code == 0xEA) expected = TrackKind::kVideo;
    if ((code >= 0x80 && code <= 0x86) || code == 0xA1 || code == 0xA2) {
      expected = TrackKind::kAudio;
    }
    if (code == 0x90) expected = TrackKind::kPg;
    if (code == 0x91) expected = TrackKind::kIg;
    EXPECT_EQ(KindOfCodingType(type), expected) << code;
  }
}

StreamInfo Stream(uint16_t pid, uint8_t coding_type, const char* language = nullptr) {
  StreamInfo stream;
  stream.StreamPID = pid;
  stream.CodingInfo.StreamCodingType = coding_type;
  if (language) std::memcpy(stream.CodingInfo.Language, language, 3);
  return stream;
}

TEST(TrackKinds, OriginalTracksOnePerPidWithPrimaryFlagFromPidRanges) {
  const std::vector<StreamInfo> streams = {
      Stream(0x1011, 0x1B),        Stream(0x1100, 0x81, "deu"), Stream(0x1100, 0x80, "fra"),
      Stream(0x1A00, 0xA1, "ita"), Stream(0x1B00, 0x1B),        Stream(0x1B20, 0x1B),
      Stream(0x1800, 0x92, "jpn"),
  };
  SRipTracks tracks;
  tracks.push_back(std::make_unique<SRipTrack>());  // a list that is rebuilt starts empty
  BuildOriginalTracks(streams, 12, tracks);
  ASSERT_EQ(tracks.size(), 6u);
  struct Expected {
    uint16_t pid;
    uint8_t primary;
    const char* language;
  };
  const Expected expected[] = {{0x1011, 1, "eng"}, {0x1100, 1, "deu"}, {0x1A00, 0, "ita"},
                               {0x1B00, 0, "eng"}, {0x1B20, 1, "eng"}, {0x1800, 1, "jpn"}};
  for (size_t i = 0; i < tracks.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(tracks[i]->pid, expected[i].pid);
    EXPECT_EQ(tracks[i]->primary, expected[i].primary);
    EXPECT_STREQ(LanguageAt(tracks[i]->language).code, expected[i].language);
    EXPECT_EQ(tracks[i]->order, static_cast<int32_t>(i));
    EXPECT_EQ(tracks[i]->clip_number, 12);
    EXPECT_EQ(tracks[i]->keep, 1);
    EXPECT_EQ(tracks[i]->original, 1);
  }
  // The first record of a PID wins.
  EXPECT_EQ(tracks[1]->CodingType(), 0x81);
  // A text subtitle is neither audio nor graphics in any count.
  EXPECT_EQ(GetKind(*tracks[5]), TrackKind::kOther);
  EXPECT_EQ(CountByKind(tracks, TrackKind::kAudio, true, true), 1);
  EXPECT_EQ(CountByKind(tracks, TrackKind::kAudio, false, true), 1);
  EXPECT_EQ(CountByKind(tracks, TrackKind::kVideo, false, false), 1);
  tracks[0]->keep = 0;
  EXPECT_EQ(CountByKind(tracks, TrackKind::kVideo, true, true), 1);
  EXPECT_EQ(CountByKind(tracks, TrackKind::kVideo, true, false), 2);
}

TEST(TrackKinds, FindByPidSkipsSubPathStreams) {
  SRipTracks tracks;
  for (uint8_t sub_path : {1, 0}) {
    auto track = std::make_unique<SRipTrack>();
    track->pid = 0x1200;
    track->sub_path = sub_path;
    tracks.push_back(std::move(track));
  }
  EXPECT_EQ(FindByPid(tracks, 0x1200), tracks[1].get());
  tracks.pop_back();
  EXPECT_EQ(FindByPid(tracks, 0x1200), nullptr);
  EXPECT_EQ(FindByPid(tracks, 0x1011), nullptr);
}

// A stand-in for a new track: only the editing record matters to the output order.
struct NewTrack : SMuxTrack {
  uint8_t CodingType() const override { return 0x81; }
};

std::unique_ptr<SRipTrack> Original(int32_t order, uint32_t output_pid, uint8_t keep = 1) {
  auto track = std::make_unique<SRipTrack>();
  track->order = order;
  track->output_pid = output_pid;
  track->keep = keep;
  return track;
}

TEST(TrackKinds, OutputOrder) {
  struct Entry {
    char kind;  // 'o' original, 'n' new
    int32_t order;
    uint32_t pid;
    uint8_t keep;
  };
  struct Case {
    const char* name;
    std::vector<Entry> tracks;
    std::vector<int> expected;  // indices into `tracks`
  };
  const Case cases[] = {
      {"by order position",
       {{'o', 2, 0x1100, 1}, {'o', 0, 0x1011, 1}, {'n', 1, 0x1101, 1}},
       {1, 2, 0}},
      {"equal positions by output PID", {{'o', 0, 0x1101, 1}, {'o', 0, 0x1100, 1}}, {1, 0}},
      {"equal position and PID: new first", {{'o', 1, 0x1100, 1}, {'n', 1, 0x1100, 1}}, {1, 0}},
      // The pair a looser rule leaves open: the lower PID wins, new or not.
      {"lower PID original against new", {{'o', 1, 0x1100, 1}, {'n', 1, 0x1101, 1}}, {0, 1}},
      {"lower PID new against original", {{'n', 1, 0x1100, 1}, {'o', 1, 0x1101, 1}}, {0, 1}},
      {"dropped originals leave",
       {{'o', 0, 0x1011, 0}, {'o', 1, 0x1100, 1}, {'n', 2, 0x1101, 1}},
       {1, 2}},
      {"stable for full ties", {{'n', 0, 0, 1}, {'n', 0, 0, 1}, {'n', 0, 0, 1}}, {0, 1, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SRipTracks originals;
    std::vector<std::unique_ptr<NewTrack>> owned;
    std::vector<const SMuxTrack*> news;
    std::vector<SMuxTrack*> by_index;
    for (const Entry& e : c.tracks) {
      if (e.kind == 'o') {
        originals.push_back(Original(e.order, e.pid, e.keep));
        by_index.push_back(originals.back().get());
      } else {
        owned.push_back(std::make_unique<NewTrack>());
        owned.back()->order = e.order;
        owned.back()->output_pid = e.pid;
        news.push_back(owned.back().get());
        by_index.push_back(owned.back().get());
      }
    }
    std::vector<const SMuxTrack*> expected;
    for (int i : c.expected) expected.push_back(by_index[static_cast<size_t>(i)]);
    EXPECT_EQ(OutputOrder(originals, news), expected);
    // Strict: never both before the other.
    for (SMuxTrack* a : by_index) {
      for (SMuxTrack* b : by_index)
        EXPECT_FALSE(ComesBeforeInOutput(*a, *b) && ComesBeforeInOutput(*b, *a));
    }
  }
}

TEST(TrackKinds, RemoveNewTrackAtClearsTheLinkOnBothSides) {
  auto original = Original(0, 0x1100);
  std::vector<std::unique_ptr<NewTrack>> news;
  news.push_back(std::make_unique<NewTrack>());
  news.push_back(std::make_unique<NewTrack>());
  SMuxTrack* second = news[1].get();
  original->replacement = news[0].get();
  news[0]->replacement = original.get();
  EXPECT_FALSE(RemoveNewTrackAt(news, 2));
  EXPECT_FALSE(RemoveNewTrackAt(news, -1));
  EXPECT_TRUE(RemoveNewTrackAt(news, 0));
  EXPECT_EQ(original->replacement, nullptr);
  ASSERT_EQ(news.size(), 1u);
  EXPECT_EQ(news[0].get(), second);
}

TEST(TrackKinds, TracksFromTheProgramMap) {
  PMT pmt;
  for (const auto& [pid, type] : std::vector<std::pair<uint16_t, uint8_t>>{
           {0x1011, 0x1B}, {0x1100, 0x81}, {0x1100, 0x81}, {0x1A00, 0xA1}}) {
    ESI esi;
    esi.ElementaryPid = pid;
    esi.StreamType = type;
    pmt.Streams.push_back(esi);
  }
  pmt.Streams[1].Language = Iso639LanguageDescriptor{{'d', 'e', 'u'}, 0};
  SRipTracks tracks;
  BuildTracksFromPmt(pmt, 7, tracks);
  ASSERT_EQ(tracks.size(), 3u);
  EXPECT_EQ(tracks[0]->CodingType(), 0x1B);
  EXPECT_EQ(tracks[1]->order, 1);
  EXPECT_EQ(GetLanguage(tracks[1]->attributes).value_or(""), "deu");
  EXPECT_EQ(tracks[2]->primary, 0);
  EXPECT_EQ(tracks[2]->clip_number, 7);
  ASSERT_TRUE(tracks[2]->esi);
  EXPECT_EQ(tracks[2]->esi->ElementaryPid, 0x1A00);
}

}  // namespace
}  // namespace tessel
