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

}  // namespace
}  // namespace tessel
