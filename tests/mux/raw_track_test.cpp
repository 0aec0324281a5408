// Raw tracks from files: naming rules, delays on the clip's timeline, a stream longer than a few
// seconds, and a cancelled run.
#include "mux/raw_track.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "es/parser_base.h"
#include "es/stream_info.h"
#include "mux/muxer.h"
#include "platform/files.h"
#include "support/cancel_after.h"
#include "support/es_builders.h"
#include "support/test_support.h"
#include "support/ts_oracles.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

constexpr int64_t kClipStart = 54000000;  // 90 kHz

fs::path CopyIn(const test::TempDir& dir, const std::string& relative, const std::string& name) {
  const fs::path to = dir / name;
  fs::copy_file(test::DataPath("es/" + relative), to);
  return to;
}

// Five seconds of 16-bit stereo silence at 48 kHz: 1000 units of 5 ms.
fs::path WriteWav(const test::TempDir& dir, const std::string& name, uint32_t seconds = 5) {
  test::WavParams params;
  params.data_bytes = 48000 * 4 * seconds;
  const fs::path path = dir / name;
  EXPECT_TRUE(WriteWholeFile(path, test::MakeWav(params)));
  return path;
}

TEST(RawTrack, NamesGiveTheLanguageAndTheCompanion) {
  struct Case {
    const char* name;
    const char* language;
  };
  const Case cases[] = {
      {"movie_fra.ac3", "fra"}, {"movie_xyz.ac3", "eng"}, {"movie.ac3", "eng"},
      {"m_deu.ac3", "deu"},     {"_ita.ac3", "ita"},      {"ita.ac3", "eng"},
  };
  test::TempDir dir;
  test::ScopedRecordingPrompt prompt;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto track = SRawTrack::Create(CopyIn(dir, "ac3_20_192k.ac3", c.name), true, nullptr);
    ASSERT_NE(track, nullptr);
    EXPECT_EQ(track->LanguageCode(), c.language);
  }
  const fs::path lonely = CopyIn(dir, "truehd_51.thd", "lonely.thd");
  EXPECT_EQ(SRawTrack::Create(lonely, true, nullptr), nullptr);
  EXPECT_THAT(
      prompt.messages(),
      ::testing::ElementsAre(lonely.string() + "\r\nCorresponding ac3 file doesn't exist! "));
  CopyIn(dir, "truehd_51.ac3", "pair_spa.ac3");
  const auto pair = SRawTrack::Create(CopyIn(dir, "truehd_51.thd", "pair_spa.thd"), true, nullptr);
  ASSERT_NE(pair, nullptr);
  EXPECT_EQ(pair->CodingType(), coding::kTrueHd);
  EXPECT_EQ(pair->source.path.extension(), ".ac3");
  EXPECT_EQ(pair->MainPath().extension(), ".thd");
  EXPECT_EQ(pair->LanguageCode(), "spa");
  const fs::path secondary = CopyIn(dir, "eac3_20_128k.eac3", "second.eac3");
  EXPECT_EQ(SRawTrack::Create(secondary, true, nullptr), nullptr);
  EXPECT_THAT(prompt.messages().back(),
              ::testing::StrEq(secondary.string() + "\ncan only be added as secondary track! "));
  const auto as_secondary = SRawTrack::Create(secondary, false, nullptr);
  ASSERT_NE(as_secondary, nullptr);
  EXPECT_EQ(as_secondary->primary, 0);
}

struct Clip {
  std::vector<std::unique_ptr<SRawTrack>> tracks;
  CMuxer muxer;
  fs::path m2ts, clpi;
  int result = -1;
};

void Mux(const test::TempDir& dir, std::vector<std::unique_ptr<SRawTrack>> tracks, Clip& clip,
         const ProgressCallback& progress = nullptr) {
  clip.tracks = std::move(tracks);
  std::vector<SMuxTrack*> candidates;
  for (auto& track : clip.tracks) candidates.push_back(track.get());
  const auto list = BuildTrackList(candidates, nullptr);
  ASSERT_TRUE(list);
  ASSERT_TRUE(clip.muxer.Initialise(*list, 1, 0, kDefaultMuxRate));
  clip.m2ts = dir / "00001.m2ts";
  clip.clpi = dir / "00001.clpi";
  clip.result = clip.muxer.Run(clip.m2ts, clip.clpi, std::nullopt, progress);
}

// First presentation time (90 kHz) and packet count ffprobe sees on a PID.
std::pair<int64_t, size_t> FirstPts(const fs::path& m2ts, uint16_t pid) {
  const auto streams = test::ProbeStreams(m2ts);
  const auto on_pid = test::StreamsOnPid(streams, pid);
  if (on_pid.empty()) return {test::kNoTime, 0};
  int64_t first = test::kNoTime;
  size_t count = 0;
  for (const test::ProbePacket& p : test::ProbePackets(m2ts)) {
    if (p.stream != on_pid[0].index) continue;
    if (count++ == 0) first = p.pts;
  }
  return {first, count};
}

// A negative delay cuts the start of the stream; a positive one moves it later. Either way the
// first remaining unit is placed by the delay against the clip start, and the stream (over 4.3 s,
// past the first clock-reference coincidence of the program tables) stays conformant.
TEST(RawTrack, DelaysMoveTheStreamOnTheClipTimeline) {
  TESSEL_SKIP_WITHOUT_TOOL("ffprobe");
  struct Case {
    int32_t delay_ms;
    int64_t first_pts;  // from the clip start
    size_t units;
  };
  const Case cases[] = {{0, 0, 1000}, {-1000, 0, 800}, {500, 45000, 1000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.delay_ms);
    test::TempDir dir;
    test::ScopedRecordingPrompt prompt;
    std::vector<std::unique_ptr<SRawTrack>> tracks;
    tracks.push_back(
        SRawTrack::Create(CopyIn(dir, "video/h264_720p5994.264", "v.264"), true, nullptr));
    tracks.push_back(SRawTrack::Create(WriteWav(dir, "tone_deu.wav"), true, nullptr));
    ASSERT_NE(tracks[0], nullptr);
    ASSERT_NE(tracks[1], nullptr);
    tracks[1]->delay = c.delay_ms * 90;
    Clip clip;
    Mux(dir, std::move(tracks), clip);
    ASSERT_EQ(clip.result, 0) << testing::PrintToString(prompt.messages());
    test::ExpectClipConforms(clip.m2ts, clip.clpi);
    const auto [pts, count] = FirstPts(clip.m2ts, 0x1100);
    EXPECT_EQ(pts - kClipStart, c.first_pts);
    EXPECT_EQ(count, c.units);
    EXPECT_EQ(test::StreamsOnPid(test::ProbeStreams(clip.m2ts), 0x1100).at(0).language, "deu");
  }
}

// A source whose units all lie past 4 GiB (a sparse file with a DTS stream placed there, and a
// stream info file the test writes for it): offsets stay 64-bit from the entries to the reads.
TEST(RawTrack, UnitsPastFourGibibytesAreRead) {
  TESSEL_SKIP_WITHOUT_TOOL("ffmpeg");
  constexpr uint64_t kShift = (uint64_t{9} << 29) + 188;  // 4.5 GiB and a bit
  test::TempDir dir;
  const std::vector<uint8_t> dts = test::ReadData("es/dts_20_768k.dts");
  const fs::path source = dir / "far.dts";
  {
    std::ofstream out(source, std::ios::binary);
    out.seekp(static_cast<std::streamoff>(kShift));
    out.write(reinterpret_cast<const char*>(dts.data()), static_cast<std::streamsize>(dts.size()));
  }
  CStreamInfo original;
  ASSERT_TRUE(original.Open(test::DataPath("es/sif/dts_20_768k.dts.dsi")));
  CStreamInfo shifted;
  ASSERT_TRUE(shifted.Create(StreamInfoPath(source)));
  shifted.header = original.header;
  shifted.record = original.record->Clone();
  ASSERT_TRUE(SourceModificationTime(source, shifted.header.sourceTime));
  ASSERT_TRUE(shifted.WriteHeaderAndRecord());
  for (uint32_t i = 0; i < original.header.auCount; ++i) {
    std::optional<SAuEntry> entry = original.GetAu(i);
    ASSERT_TRUE(entry);
    entry->offset += kShift;
    LeWriter w;
    entry->Write(w);
    ASSERT_TRUE(shifted.Append(w.bytes()));
  }
  shifted.Close();

  test::ScopedRecordingPrompt prompt;
  std::vector<std::unique_ptr<SRawTrack>> tracks;
  tracks.push_back(SRawTrack::Create(source, true, nullptr));
  ASSERT_NE(tracks[0], nullptr) << testing::PrintToString(prompt.messages());
  Clip clip;
  Mux(dir, std::move(tracks), clip);
  ASSERT_EQ(clip.result, 0) << testing::PrintToString(prompt.messages());
  const fs::path back = dir / "back.dts";
  EXPECT_EQ(test::FfmpegDemux(clip.m2ts, 0x1100, "dts", back), "");
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ReadWholeFile(back, bytes));
  EXPECT_EQ(bytes, dts);
}

TEST(RawTrack, CancelEndsTheRunWithOne) {
  test::TempDir dir;
  test::ScopedRecordingPrompt prompt;
  std::vector<std::unique_ptr<SRawTrack>> tracks;
  tracks.push_back(SRawTrack::Create(WriteWav(dir, "long.wav", 200), true, nullptr));
  ASSERT_NE(tracks[0], nullptr);
  // Title, message and position 0, then the report after 24 MiB answers "cancel".
  test::CancelAfter cancel(4);
  Clip clip;
  Mux(dir, std::move(tracks), clip, cancel.callback());
  EXPECT_EQ(clip.result, 1);
  EXPECT_EQ(cancel.calls(), 4);
  EXPECT_THAT(prompt.messages(), ::testing::IsEmpty());
  EXPECT_FALSE(fs::exists(clip.clpi));
}

}  // namespace
}  // namespace tessel
