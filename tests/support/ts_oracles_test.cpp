// The oracles the stream tests lean on, checked on a clip of the fixture discs whose contents the
// fixtures' README states: ffprobe's stream and packet lists, ffmpeg's error output on a clean and
// on a damaged copy, its demux against the elementary file the clip was made from, and
// libbluray's reading of the clip information with each entry point on a key packet.
#include "support/ts_oracles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "support/test_support.h"

namespace tessel::test {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr const char* kClip = "ts/multiclip_00002.m2ts";
constexpr const char* kClipInfo = "ts/multiclip_00002.clpi";

std::vector<uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

TEST(TsOracles, RunsPrograms) {
  const CommandResult echo = RunCommand({"sh", "-c", "echo out; echo err >&2; exit 3"});
  EXPECT_EQ(echo.status, 3);
  EXPECT_EQ(echo.out, "out\n");
  EXPECT_EQ(echo.err, "err\n");
  EXPECT_EQ(RunCommand({"tessel-no-such-program"}).status, 127);
  EXPECT_FALSE(HaveTool("tessel-no-such-program"));
  EXPECT_TRUE(HaveTool("sh"));
}

TEST(TsOracles, ProbeListsStreamsAndPackets) {
  TESSEL_SKIP_WITHOUT_TOOL("ffprobe");
  const std::vector<ProbeStream> streams = ProbeStreams(DataPath(kClip));
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0].codec, "h264");
  EXPECT_EQ(streams[0].type, "video");
  EXPECT_EQ(streams[0].pid, 0x1011);
  EXPECT_EQ(streams[1].codec, "ac3");
  EXPECT_EQ(streams[1].pid, 0x1100);
  const std::vector<ProbePacket> packets = ProbePackets(DataPath(kClip));
  int video = 0, keys = 0;
  for (const ProbePacket& p : packets) {
    if (p.stream != 0) continue;
    ++video;
    keys += p.key;
    EXPECT_EQ(p.pos % 192, 0) << p.pos;
    EXPECT_NE(p.dts, kNoTime);
  }
  EXPECT_EQ(video, 48);  // 2.002 s at 23.976
  EXPECT_EQ(keys, 2);    // one GOP a second

  // TrueHD with its AC-3 core shows as two streams on one PID.
  const std::vector<ProbeStream> zoo =
      ProbeStreams(DataPath("discs/disc-audio-zoo/BDMV/STREAM/00000.m2ts"));
  std::vector<std::string> codecs;
  for (const ProbeStream& s : StreamsOnPid(zoo, 0x1103)) codecs.push_back(s.codec);
  EXPECT_THAT(codecs, ElementsAre("truehd", "ac3"));
}

TEST(TsOracles, ProbeGivesTheLanguages) {
  TESSEL_SKIP_WITHOUT_TOOL("ffmpeg");
  TESSEL_SKIP_WITHOUT_TOOL("ffprobe");
  // The fixture's own muxer writes no language descriptors; ffmpeg's writes them.
  TempDir dir;
  const CommandResult r =
      RunCommand({"ffmpeg", "-nostdin", "-v", "error", "-i", DataPath(kClip).string(), "-map", "0",
                  "-c", "copy", "-metadata:s:a:0", "language=fra", "-f", "mpegts",
                  "-mpegts_m2ts_mode", "1", (dir / "fra.m2ts").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<ProbeStream> streams = ProbeStreams(dir / "fra.m2ts");
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0].language, "");
  EXPECT_EQ(streams[1].language, "fra");
  EXPECT_EQ(streams[1].codec, "ac3");
}

TEST(TsOracles, FfmpegReportsDamageOnly) {
  TESSEL_SKIP_WITHOUT_TOOL("ffmpeg");
  EXPECT_EQ(FfmpegCopyErrors(DataPath(kClip)), "");
  EXPECT_EQ(FfmpegDecodeErrors(DataPath(kClip)), "");
  // Zeros over the picture data of the second GOP's first packets.
  std::vector<uint8_t> bytes = ReadData(kClip);
  int damaged = 0;
  for (size_t at = 0; at + 192 <= bytes.size() && damaged < 40; at += 192) {
    const uint16_t pid = static_cast<uint16_t>((bytes[at + 5] & 0x1F) << 8 | bytes[at + 6]);
    if (pid == 0x1011 && at > bytes.size() / 2 && (bytes[at + 7] & 0x30) == 0x10 &&
        !(bytes[at + 5] & 0x40)) {
      std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(at + 8),
                bytes.begin() + static_cast<std::ptrdiff_t>(at + 192), 0);
      ++damaged;
    }
  }
  TempDir dir;
  WriteFile(dir / "damaged.m2ts", bytes);
  EXPECT_THAT(FfmpegDecodeErrors(dir / "damaged.m2ts"), Not(IsEmpty()));
  EXPECT_THAT(FfmpegCopyErrors(dir / "missing.m2ts"), Not(IsEmpty()));
}

TEST(TsOracles, DemuxGivesBackTheSourceBytes) {
  TESSEL_SKIP_WITHOUT_TOOL("ffmpeg");
  TempDir dir;
  ASSERT_EQ(FfmpegDemux(DataPath(kClip), 0x1100, "ac3", dir / "audio.ac3"), "");
  const std::vector<uint8_t> audio = ReadFile(dir / "audio.ac3");
  EXPECT_EQ(audio.size(), 65u * 768);  // 65 frames of 192 kbit/s
  const fs::path source = SharedFixtures() / "es/ac3_20_192k.ac3";
  if (fs::exists(source)) {
    // The clip is the last two seconds of the stream the disc was made from.
    const std::vector<uint8_t> whole = ReadFile(source);
    ASSERT_GE(whole.size(), audio.size());
    EXPECT_TRUE(std::equal(audio.begin(), audio.end(),
                           whole.end() - static_cast<std::ptrdiff_t>(audio.size())));
  }
  EXPECT_THAT(FfmpegDemux(DataPath(kClip), 0x1200, "sup", dir / "none.sup"), Not(IsEmpty()));

  // The access units of the video PID, read from the clip and from its demux.
  ASSERT_EQ(FfmpegDemux(DataPath(kClip), 0x1011, "h264", dir / "video.264"), "");
  const std::vector<FrameHash> in_clip = FrameMd5(DataPath(kClip), 0x1011);
  EXPECT_EQ(in_clip.size(), 48u);
  EXPECT_EQ(FrameMd5(dir / "video.264", std::nullopt, "h264"), in_clip);
  EXPECT_EQ(in_clip.front().size, 40038);
}

// On the fixture disc with every audio coding, each demux equals the file the disc was made from,
// the two parts on the TrueHD PID included.
TEST(TsOracles, DemuxOfEveryAudioCodingGivesBackItsSource) {
  TESSEL_SKIP_WITHOUT_TOOL("ffmpeg");
  const fs::path clip = SharedFixtures() / "discs/disc-audio-zoo/BDMV/STREAM/00000.m2ts";
  if (!fs::exists(clip)) GTEST_SKIP() << "shared fixture discs missing";
  struct Case {
    uint16_t pid;
    int stream_of_pid;
    const char* format;
    const char* source;
  };
  const Case cases[] = {
      {0x1100, 0, "ac3", "ac3_51_448k_5s.ac3"}, {0x1101, 0, "eac3", "eac3_51_384k.eac3"},
      {0x1102, 0, "dts", "dts_51_768k.dts"},    {0x1103, 0, "truehd", "truehd_51.thd"},
      {0x1103, 1, "ac3", "ac3_51_448k_5s.ac3"}, {0x1A00, 0, "eac3", "eac3_20_128k.eac3"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    const fs::path out = dir / ("out." + std::string(c.format));
    ASSERT_EQ(FfmpegDemux(clip, c.pid, c.format, out, c.stream_of_pid), "");
    EXPECT_TRUE(ReadFile(out) == ReadFile(SharedFixtures() / "es" / c.source));
  }
}

TEST(TsOracles, LibblurayReadsTheClipInformation) {
  TESSEL_SKIP_WITHOUT_LIBBLURAY();
  const std::optional<BdClip> clip = ReadClpiWithLibbluray(DataPath(kClipInfo));
  ASSERT_TRUE(clip.has_value());
  EXPECT_EQ(clip->application_type, 1);
  EXPECT_EQ(clip->ts_recording_rate, 6000000u);
  EXPECT_EQ(clip->source_packets, 3520u);
  ASSERT_EQ(clip->atc_sequences.size(), 1u);
  ASSERT_EQ(clip->atc_sequences[0].size(), 1u);
  EXPECT_EQ(clip->atc_sequences[0][0].pcr_pid, 0x1001);
  ASSERT_EQ(clip->programs.size(), 1u);
  ASSERT_EQ(clip->programs[0].size(), 2u);
  EXPECT_EQ(clip->programs[0][0].pid, 0x1011);
  EXPECT_EQ(clip->programs[0][0].coding_type, 0x1B);
  EXPECT_EQ(clip->programs[0][1].coding_type, 0x81);
  const BdEpMap* map = clip->EpMap(0x1011);
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(map->ep_stream_type, 1);
  ASSERT_EQ(map->entries.size(), 2u);
  EXPECT_FALSE(ReadClpiWithLibbluray(DataPath(kClip)).has_value());
}

TEST(TsOracles, EntryPointsSitOnKeyPackets) {
  TESSEL_SKIP_WITHOUT_LIBBLURAY();
  TESSEL_SKIP_WITHOUT_TOOL("ffprobe");
  std::optional<BdClip> clip = ReadClpiWithLibbluray(DataPath(kClipInfo));
  ASSERT_TRUE(clip.has_value());
  const std::vector<ProbeStream> streams = ProbeStreams(DataPath(kClip));
  const std::vector<ProbePacket> packets = ProbePackets(DataPath(kClip));
  EXPECT_THAT(EntryPointsOffKeyPackets(*clip, streams, packets), IsEmpty());
  // The joined coarse and fine times are the key pictures' PTS but for the low 9 bits.
  for (const BdEntryPoint& ep : clip->EpMap(0x1011)->entries) {
    bool found = false;
    for (const ProbePacket& p : packets) {
      if (p.stream == 0 && p.pos / 192 == ep.spn) {
        found = true;
        EXPECT_EQ(static_cast<uint64_t>(p.pts) & ~uint64_t{0x1FF}, ep.pts);
      }
    }
    EXPECT_TRUE(found) << ep.spn;
  }
  clip->ep_maps[0].entries[1].spn += 1;
  EXPECT_THAT(EntryPointsOffKeyPackets(*clip, streams, packets),
              ElementsAre(testing::HasSubstr("entry 1")));
}

TEST(TsOracles, AFixtureClipConforms) {
  TsCheckOptions peer;  // the fixture muxer's own looser periods, as in the checker's tests
  peer.min_arrival_step = 148;
  peer.max_pcr_gap = peer.max_psi_gap = 110 * 27000;
  peer.max_rounds_per_sit = 11;
  peer.check_overflow = false;
  const TsReport r = ExpectClipConforms(DataPath(kClip), DataPath(kClipInfo), peer);
  EXPECT_EQ(r.packets, 3520u);
}

}  // namespace
}  // namespace tessel::test
