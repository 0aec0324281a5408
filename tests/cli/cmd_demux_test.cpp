// `tessel demux` run as a process on the fixture clips.
#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/files.h"
#include "support/run_tessel.h"
#include "support/test_support.h"
#include "support/ts_oracles.h"

namespace tessel {
namespace {

using test::Quoted;
using test::RunTesselIn;

std::vector<std::string> FileNames(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(DemuxCommand, DiscFolderAndClipNumberWithJson) {
  const test::TempDir out;
  const auto run =
      RunTesselIn({}, "demux --json " + Quoted(test::DataPath("discs/disc-audio-zoo")) + " 0 -o " +
                          Quoted(out.path()));
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const auto json = nlohmann::json::parse(run.out);
  EXPECT_EQ(json["result"], 0);
  EXPECT_TRUE(json["damage"].empty());
  // The copy holds the first 128 packets: all streams but the video start later, and the
  // TrueHD stream's empty core file goes.
  ASSERT_EQ(json["files"].size(), 7u);
  EXPECT_EQ(json["files"][0]["track"],
            "00000.M2TS, 0x1011, MPEG-4 AVC/h.264(0x1B), 720p, 59.94, 16:9");
  const std::vector<std::string> expected = {"00000_4113.264", "00000_4352.ac3", "00000_4353.ddp",
                                             "00000_4354.dts", "00000_4355.mlp", "00000_4356.wav",
                                             "00000_6656.ddp"};
  EXPECT_EQ(FileNames(out.path()), expected);
}

TEST(DemuxCommand, ChosenTracksOfAStreamFileWithoutClipInformation) {
  const test::TempDir out;
  const auto run =
      RunTesselIn(out.path(), "demux " + Quoted(test::DataPath("ts/audiozoo_00000_head1000.m2ts")) +
                                  " --track 0x1100 --track 4353");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(FileNames(out.path()), (std::vector<std::string>{"audiozoo_00000_head1000_4352.ac3",
                                                             "audiozoo_00000_head1000_4353.ddp"}));
  EXPECT_NE(run.out.find("Demux is completed! \n"), std::string::npos);
  EXPECT_NE(run.out.find("audiozoo_00000_head1000_4352.ac3  0x1100, AC-3(0x81)"), std::string::npos)
      << run.out;
}

TEST(DemuxCommand, UnknownPidNamesItAndWritesNothing) {
  const test::TempDir out;
  const auto run =
      RunTesselIn({}, "demux " + Quoted(test::DataPath("ts/simple_00000_head1000.m2ts")) +
                          " --track 0x1100 --track 0x1234 -o " + Quoted(out.path()));
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_NE(run.err.find("0x1234"), std::string::npos) << run.err;
  EXPECT_TRUE(fs::is_empty(out.path()));
}

TEST(DemuxCommand, DamageIsNamedAndFails) {
  const test::TempDir dir;
  std::vector<uint8_t> data = test::ReadData("ts/simple_00000_head1000.m2ts");
  data.resize(data.size() - 100);
  ASSERT_TRUE(WriteWholeFile(dir / "cut.m2ts", data));
  const auto run = RunTesselIn(dir.path(), "demux cut.m2ts --track 0x1100");
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_NE(run.err.find("damage at offset 191808: last packet cut"), std::string::npos) << run.err;
  EXPECT_TRUE(fs::exists(dir / "cut_4352.ac3"));
}

TEST(DemuxCommand, NeverWritesIntoTheSourceDisc) {
  const test::TempDir dir;
  fs::copy(test::DataPath("discs/disc-simple"), dir / "disc", fs::copy_options::recursive);
  const fs::path stream = dir / "disc/BDMV/STREAM";
  const auto run = RunTesselIn(stream, "demux 00000.m2ts");
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_EQ(FileNames(stream), std::vector<std::string>{"00000.m2ts"});
}

}  // namespace
}  // namespace tessel

namespace tessel {
namespace {

using test::Quoted;
using test::RunTessel;

std::vector<uint8_t> Bytes(const fs::path& file) {
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(ReadWholeFile(file, bytes)) << file;
  return bytes;
}

fs::path WholeClip(const std::string& disc, const std::string& clip) {
  return test::DataPath("discs-whole/" + disc + "/BDMV/STREAM/" + clip + ".m2ts");
}

// Every whole fixture clip demuxed: the audio and MPEG-2 files equal the streams the independent
// muxer was fed, byte for byte.
TEST(DemuxCommand, WholeDiscClipsGiveBackTheirInputStreams) {
  struct Case {
    const char* disc;
    const char* clip;
    const char* file;
    const char* reference;
  };
  const std::vector<Case> cases = {
      {"disc-simple", "00000", "00000_4352.ac3", "es-whole/ac3_51_448k.ac3"},
      {"disc-audio-zoo", "00000", "00000_4352.ac3", "es-whole/ac3_51_448k_5s.ac3"},
      {"disc-audio-zoo", "00000", "00000_4353.ddp", "es-whole/eac3_51_384k.eac3"},
      {"disc-audio-zoo", "00000", "00000_4354.dts", "es-whole/dts_51_768k.dts"},
      {"disc-audio-zoo", "00000", "00000_4355.ac3", "es-whole/ac3_51_448k_5s.ac3"},
      {"disc-audio-zoo", "00000", "00000_4355.mlp", "es-whole/truehd_51.thd"},
      {"disc-audio-zoo", "00000", "00000_6656.ddp", "es-whole/eac3_20_128k.eac3"},
      {"disc-mpeg2", "00000", "00000_4113.m2v", "es-whole/mpeg2_1080i2997.m2v"},
      {"disc-mpeg2", "00000", "00000_4352.ac3", "es-whole/ac3_51_448k_5s.ac3"},
      {"disc-multiclip", "00003", "00003_4352.ac3", "demux/ac3_20_192k.ac3"},
  };
  const test::TempDir out;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.disc) + " " + c.file);
    const fs::path written = out / c.disc / c.file;
    if (!fs::exists(written)) {
      fs::create_directories(out / c.disc);
      const auto run = RunTessel("--quiet demux " + Quoted(WholeClip(c.disc, c.clip)) + " -o " +
                                 Quoted(out / c.disc));
      ASSERT_EQ(run.exit_code, 0) << run.err;
    }
    EXPECT_TRUE(Bytes(written) == Bytes(test::DataPath(c.reference)));
  }
}

// The video the independent muxer rewrote (its SPS) is checked against ffmpeg's own copy of the
// stream, and LPCM against ffmpeg's decode of the clip.
TEST(DemuxCommand, WholeDiscVideoAndLpcmEqualFfmpeg) {
  TESSEL_SKIP_WITHOUT_TOOL("ffmpeg");
  struct Case {
    const char* disc;
    const char* file;
    std::string ffmpeg_output;  // ffmpeg options after "-i CLIP"
    size_t header;              // bytes of our file before the stream
  };
  const std::vector<Case> cases = {
      {"disc-simple", "00000_4113.264", "-map 0:v:0 -c copy -f h264", 0},
      {"disc-audio-zoo", "00000_4113.264", "-map 0:v:0 -c copy -f h264", 0},
      {"disc-multiclip", "00001_4113.264", "-map 0:v:0 -c copy -f h264", 0},
      {"disc-simple", "00000_4353.wav", "-map 0:i:0x1101 -c:a pcm_s16le -f s16le", 44},
      {"disc-audio-zoo", "00000_4356.wav", "-map 0:i:0x1104 -c:a pcm_s24le -f s24le", 68},
  };
  const test::TempDir out;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.disc) + " " + c.file);
    const std::string clip = std::string(c.file).substr(0, 5);
    const fs::path folder = out / c.disc;
    fs::create_directories(folder);
    const auto run =
        RunTessel("--quiet demux " + Quoted(WholeClip(c.disc, clip)) + " -o " + Quoted(folder));
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const fs::path theirs = folder / "ffmpeg.out";
    const std::string command = "ffmpeg -v error -y -i " + Quoted(WholeClip(c.disc, clip)) + " " +
                                c.ffmpeg_output + " " + Quoted(theirs);
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::vector<uint8_t> ours = Bytes(folder / c.file);
    ASSERT_GT(ours.size(), c.header);
    ours.erase(ours.begin(), ours.begin() + static_cast<ptrdiff_t>(c.header));
    EXPECT_TRUE(ours == Bytes(theirs)) << ours.size() << " bytes against " << fs::file_size(theirs);
  }
}

}  // namespace
}  // namespace tessel
