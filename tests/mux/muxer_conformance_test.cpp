// New clips made from the elementary streams of tests/data/es/, checked by independent readers:
// ffprobe and ffmpeg on the stream, libbluray on the clip information, the test's own stream
// checker with its buffer model, and demultiplexed bytes against the inputs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "formats/clpi.h"
#include "mux/muxer.h"
#include "mux/raw_track.h"
#include "platform/files.h"
#include "support/cancel_after.h"
#include "support/test_support.h"
#include "support/ts_oracles.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

struct Input {
  const char* file;   // under es/
  const char* codec;  // what ffprobe names it
  const char* language = "eng";
  bool secondary = false;
  int32_t delay = 0;  // 90 kHz
  uint8_t range_unit = 0;
  int32_t range_start = 0;
  int32_t range_end = 0;
  // ffmpeg's muxer for a demux whose bytes must equal the input's; "" for none, "frames" for a
  // frame-hash comparison (video).
  const char* demux = "";
};

enum class Oracle {
  kFull,
  kCopyOnly,  // filler pictures: nothing decodes them
  // An AC-3 core and its E-AC-3 extension share a PID and each frame's time stamp, which ffmpeg's
  // remux and decode report as repeated times; nothing else may be said.
  kSharedFrameTimes,
};

// ffmpeg's error lines other than those about a repeated time stamp.
std::vector<std::string> OtherThanRepeatedTimes(const std::string& errors) {
  std::vector<std::string> lines;
  std::istringstream in(errors);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.find("non monotonically increasing dts") == std::string::npos) {
      lines.push_back(line);
    }
  }
  return lines;
}

struct MuxCase {
  const char* name;
  std::vector<Input> inputs;
  Oracle oracle = Oracle::kFull;
};

// Copies the inputs into a scratch folder (the analysis writes its stream info files beside them).
class Scratch {
 public:
  fs::path Copy(const std::string& relative) {
    const fs::path to = dir_ / fs::path(relative).filename();
    if (!fs::exists(to)) fs::copy_file(test::DataPath("es/" + relative), to);
    return to;
  }
  const fs::path& path() const { return dir_.path(); }

 private:
  test::TempDir dir_;
};

fs::path SourceOf(Scratch& scratch, const Input& input) {
  const fs::path path = scratch.Copy(input.file);
  if (path.extension() == ".thd") {
    fs::path core = fs::path(input.file).replace_extension(".ac3");
    scratch.Copy(core.string());
  }
  return path;
}

struct Made {
  std::vector<std::unique_ptr<SRawTrack>> tracks;
  std::vector<SMuxTrack*> list;
  CMuxer muxer;
  fs::path m2ts;
  fs::path clpi;
  int result = -1;
};

void MakeClip(Scratch& scratch, const std::vector<Input>& inputs, Made& made,
              const ProgressCallback& progress = nullptr) {
  test::ScopedRecordingPrompt prompt;
  std::vector<SMuxTrack*> candidates;
  for (size_t i = 0; i < inputs.size(); ++i) {
    const Input& input = inputs[i];
    auto track = SRawTrack::Create(SourceOf(scratch, input), !input.secondary, nullptr);
    ASSERT_NE(track, nullptr) << input.file << ": " << testing::PrintToString(prompt.messages());
    track->delay = input.delay;
    track->source.range_unit = input.range_unit;
    track->source.range_start = input.range_start;
    track->source.range_end = input.range_end;
    track->order = static_cast<int32_t>(i);
    candidates.push_back(track.get());
    made.tracks.push_back(std::move(track));
  }
  std::string error;
  auto list = BuildTrackList(candidates, &error);
  ASSERT_TRUE(list) << error;
  made.list = *list;
  ASSERT_TRUE(made.muxer.Initialise(made.list, 1, 0, kDefaultMuxRate))
      << testing::PrintToString(prompt.messages());
  made.m2ts = scratch.path() / "00000.m2ts";
  made.clpi = scratch.path() / "00000.clpi";
  made.result = made.muxer.Run(made.m2ts, made.clpi, std::nullopt, progress);
  EXPECT_THAT(prompt.messages(), ::testing::IsEmpty());
}

const SRawTrack& TrackOf(const Made& made, size_t input) {
  return *made.tracks[input];
}

// The bytes of units first..last of the input, as its stream info file cuts it.
std::vector<uint8_t> InputBytes(const fs::path& source) {
  std::vector<uint8_t> bytes;
  ReadWholeFile(source, bytes, nullptr, 1 << 30);
  return bytes;
}

void CheckDemux(Scratch& scratch, const Made& made, const Input& input, const SRawTrack& track) {
  const std::string demux = input.demux;
  if (demux.empty()) return;
  const uint16_t pid = static_cast<uint16_t>(track.output_pid);
  const fs::path source = scratch.path() / fs::path(input.file).filename();
  if (demux == "frames") {
    EXPECT_EQ(test::FrameMd5(made.m2ts, pid), test::FrameMd5(source)) << input.file;
    return;
  }
  if (demux == "truehd") {
    const fs::path thd = scratch.path() / "demux.thd";
    const fs::path ac3 = scratch.path() / "demux.ac3";
    EXPECT_EQ(test::FfmpegDemux(made.m2ts, pid, "truehd", thd, 0), "");
    EXPECT_EQ(test::FfmpegDemux(made.m2ts, pid, "ac3", ac3, 1), "");
    EXPECT_EQ(InputBytes(thd), InputBytes(source));
    EXPECT_EQ(InputBytes(ac3), InputBytes(fs::path(source).replace_extension(".ac3")));
    return;
  }
  const fs::path out = scratch.path() / ("demux." + demux);
  EXPECT_EQ(test::FfmpegDemux(made.m2ts, pid, demux, out), "");
  EXPECT_EQ(InputBytes(out), InputBytes(source)) << input.file;
}

// libbluray reads back every entry point as written.
void CheckEntryPoints(const Made& made) {
  if (!test::HaveLibbluray()) return;
  const auto clip = test::ReadClpiWithLibbluray(made.clpi);
  ASSERT_TRUE(clip);
  const auto& written = made.muxer.clip_info().cpi.ep_map.Entries;
  ASSERT_EQ(clip->ep_maps.size(), written.size());
  for (const STREAM_PID_ENTRY& entry : written) {
    const test::BdEpMap* map = clip->EpMap(entry.StreamPid);
    ASSERT_NE(map, nullptr) << entry.StreamPid;
    EXPECT_EQ(map->ep_stream_type, entry.EpStreamType);
    ASSERT_EQ(map->entries.size(), entry.KeyPoints.size());
    for (size_t i = 0; i < map->entries.size(); ++i) {
      EXPECT_EQ(map->entries[i].spn, entry.KeyPoints[i].SpnStart);
      EXPECT_EQ(map->entries[i].pts & ~uint64_t{0x1FF}, entry.KeyPoints[i].Pts & ~uint64_t{0x1FF});
    }
  }
  ASSERT_EQ(clip->programs.size(), 1u);
  EXPECT_EQ(clip->programs[0].size(), made.list.size());
}

void CheckClip(Scratch& scratch, const MuxCase& c, const Made& made) {
  ASSERT_EQ(made.result, 0);
  const auto status = GetFileStatus(made.m2ts);
  ASSERT_TRUE(status);
  EXPECT_EQ(status->size % 6144, 0u);
  if (c.oracle == Oracle::kFull) {
    test::ExpectClipConforms(made.m2ts, made.clpi);
  } else {
    test::TsReport report = test::CheckTransportStream(made.m2ts, made.clpi);
    EXPECT_TRUE(report.ok()) << report.Text();
    if (test::HaveTool("ffmpeg")) {
      EXPECT_THAT(OtherThanRepeatedTimes(test::FfmpegCopyErrors(made.m2ts)), IsEmpty());
      if (c.oracle == Oracle::kSharedFrameTimes) {
        EXPECT_THAT(OtherThanRepeatedTimes(test::FfmpegDecodeErrors(made.m2ts)), IsEmpty());
      }
    }
  }
  CheckEntryPoints(made);
  if (!test::HaveTool("ffprobe")) return;
  const auto streams = test::ProbeStreams(made.m2ts);
  for (size_t i = 0; i < c.inputs.size(); ++i) {
    SCOPED_TRACE(c.inputs[i].file);
    const SRawTrack& track = TrackOf(made, i);
    const auto on_pid = test::StreamsOnPid(streams, static_cast<uint16_t>(track.output_pid));
    ASSERT_FALSE(on_pid.empty());
    EXPECT_EQ(on_pid[0].codec, c.inputs[i].codec);
    if (!IsVideoCodingType(track.CodingType())) {
      EXPECT_EQ(on_pid[0].language, c.inputs[i].language);
    }
    CheckDemux(scratch, made, c.inputs[i], track);
  }
}

TEST(MuxerConformance, EveryClipPassesTheIndependentReaders) {
  TESSEL_SKIP_WITHOUT_TOOL("ffprobe");
  const std::vector<MuxCase> cases = {
      {"h264 1080p, AC-3 5.1, LPCM, PG",
       {{"video/h264_1080p_aud.264", "h264", "", false, 0, 0, 0, 0, "frames"},
        {"ac3_51_448k.ac3", "ac3", "eng", false, 0, 0, 0, 0, "ac3"},
        {"lpcm_20_16bit_48k.wav", "pcm_bluray"},
        {"pgs_1080_eng.sup", "hdmv_pgs_subtitle"}}},
      {"h264 720p, AC-3+E-AC-3, DTS, TrueHD, LPCM 5.1, secondary E-AC-3",
       {{"video/h264_720p_noaud_opengop.264", "h264", "", false, 0, 0, 0, 0, "frames"},
        {"dts_51_768k.dts", "dts", "eng", false, 0, 0, 0, 0, "dts"},
        {"truehd_51.thd", "truehd", "eng", false, 0, 0, 0, 0, "truehd"},
        {"lpcm_51_24bit_48k.wav", "pcm_bluray"},
        {"eac3_20_128k.eac3", "eac3", "eng", true, 0, 0, 0, 0, "eac3"}}},
      {"mpeg2 1080i",
       {{"video/mpeg2_1080i.m2v", "mpeg2video", "", false, 0, 0, 0, 0, "frames"},
        {"ac3_20_192k.ac3", "ac3"}}},
      {"mpeg2 480i",
       {{"video/mpeg2_480i2997_30f.m2v", "mpeg2video", "", false, 0, 0, 0, 0, "frames"}}},
      {"vc1", {{"vc1/vc1_1080p_two_segments.vc1", "vc1"}}, Oracle::kCopyOnly},
      {"AC-3 with its E-AC-3 extension",
       {{"video/h264_720p_noaud_opengop.264", "h264"}, {"ac3_eac3_20.ac3", "eac3"}},
       Oracle::kSharedFrameTimes},
      {"range inside a GOP", {{"video/h264_720p5994.264", "h264", "", false, 0, 0, 70, 200}}},
      {"range in ms", {{"video/h264_720p5994.264", "h264", "", false, 0, 1, 1500, 3000}}},
      {"delays",
       {{"video/h264_720p5994.264", "h264"},
        {"ac3_51_448k.ac3", "ac3", "eng", false, -90000},
        {"ac3_20_192k.ac3", "ac3", "eng", false, 45000}}},
  };
  for (const MuxCase& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch scratch;
    Made made;
    MakeClip(scratch, c.inputs, made);
    if (HasFatalFailure()) continue;
    CheckClip(scratch, c, made);
  }
}

// The independent muxer of the fixture discs made disc-audio-zoo from the same video stream: the
// entry points, counted from the clip start, are the same pictures.
TEST(MuxerConformance, EntryPointsMatchTheIndependentMuxersClip) {
  Scratch scratch;
  Made made;
  MakeClip(scratch, {{"video/h264_720p5994.264", "h264"}}, made);
  ASSERT_EQ(made.result, 0);
  std::vector<uint8_t> bytes = test::ReadData("clpi/disc-audio-zoo-00000.clpi");
  Clpi theirs;
  ASSERT_TRUE(theirs.Read(bytes));
  const auto relative = [](const Clpi& clip, uint16_t pid) {
    std::vector<int64_t> times;
    const int64_t start = int64_t{clip.sequence_info.StcInfos.at(0).StartPTS} * 2;
    for (const STREAM_PID_ENTRY& entry : clip.cpi.ep_map.Entries) {
      if (entry.StreamPid != pid) continue;
      for (const KEY_POINT_INFO& key : entry.KeyPoints) {
        // The file keeps times to 512 ticks.
        times.push_back(static_cast<int64_t>(key.Pts & ~uint64_t{0x1FF}) - start);
      }
    }
    return times;
  };
  const std::vector<int64_t> expected = relative(theirs, 0x1011);
  ASSERT_FALSE(expected.empty());
  EXPECT_THAT(relative(made.muxer.clip_info(), 0x1011), ElementsAreArray(expected));
}

}  // namespace
}  // namespace tessel
