// `tessel mux` run as a process: what it refuses before writing anything, and what it leaves
// behind when it stops.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/files.h"
#include "support/es_builders.h"
#include "support/run_tessel.h"
#include "support/test_support.h"

namespace tessel {
namespace {

using test::Outcome;
using test::Quoted;
using test::RunTessel;
namespace fs = std::filesystem;
using ::testing::HasSubstr;

std::vector<std::string> FilesIn(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

TEST(MuxCommand, BadOptionsAreRefusedBeforeAnythingIsWritten) {
  struct Case {
    const char* options;
    const char* message;
  };
  const Case cases[] = {
      {"--lang 1=fra", "Bad per-track option \"1=fra\""},
      {"--lang 0=xx", "Unknown language code \"xx\" "},
      {"--lang 0=qqq", "Unknown language code \"qqq\" "},
      {"--lang fra", "Bad per-track option \"fra\""},
      {"--delay 0=abc", "Bad delay \"abc\""},
      {"--delay 0=99999999", "Bad delay \"99999999\""},
      {"--range 0=10-5", "Bad range \"10-5\""},
      {"--range 0=5", "Bad range \"5\""},
      {"--range 0=1-2s", "Bad range \"1-2s\""},
      {"--secondary 3", "Bad --secondary 3"},
      {"--rate 0", "--rate"},
      {"--clip 100000", "--clip"},
  };
  const test::TempDir out;
  const std::string input = Quoted(test::DataPath("es/ac3_51_448k.ac3"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    const Outcome run =
        RunTessel("mux --out " + Quoted(out.path()) + " " + c.options + " " + input);
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_THAT(run.err, HasSubstr(c.message));
    EXPECT_THAT(FilesIn(out.path()), ::testing::IsEmpty());
  }
}

TEST(MuxCommand, ExistingOutputsAreReplacedOnlyWithYes) {
  const test::TempDir out;
  ASSERT_TRUE(WriteWholeFile(out / "00007.clpi", {1, 2, 3}));
  const Outcome run = RunTessel("mux --out " + Quoted(out.path()) + " --clip 7 " +
                                Quoted(test::DataPath("es/ac3_51_448k.ac3")));
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_THAT(run.err, HasSubstr("00007.clpi exists; pass --yes to replace it "));
  std::vector<uint8_t> kept;
  ASSERT_TRUE(ReadWholeFile(out / "00007.clpi", kept));
  EXPECT_EQ(kept, (std::vector<uint8_t>{1, 2, 3}));
  const Outcome missing = RunTessel("mux --out " + Quoted(out / "none") + " x.ac3");
  EXPECT_EQ(missing.exit_code, 2);
  EXPECT_THAT(missing.err, HasSubstr("does not exist"));
}

TEST(MuxCommand, WritesTheClipAndPrintsItsTracks) {
  const test::TempDir dir;
  fs::copy_file(test::DataPath("es/video/h264_1080p_aud.264"), dir / "v.264");
  fs::copy_file(test::DataPath("es/ac3_20_192k.ac3"), dir / "a.ac3");
  fs::create_directory(dir / "out");
  const Outcome run = RunTessel("-q mux --json --out " + Quoted(dir / "out") +
                                " --clip 3 --lang 1=fra --delay 1=100 " + Quoted(dir / "v.264") +
                                " " + Quoted(dir / "a.ac3"));
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const auto j = nlohmann::json::parse(run.out);
  EXPECT_EQ(j["ts_recording_rate"], 6000000);
  ASSERT_EQ(j["tracks"].size(), 2u);
  EXPECT_EQ(j["tracks"][0]["pid"], 0x1011);
  EXPECT_EQ(j["tracks"][0]["units"], 36);
  EXPECT_EQ(j["tracks"][0]["key_points"], 3);
  EXPECT_EQ(j["tracks"][1]["pid"], 0x1100);
  EXPECT_EQ(j["tracks"][1]["language"], "fra");
  EXPECT_THAT(FilesIn(dir / "out"), ::testing::UnorderedElementsAre("00003.m2ts", "00003.clpi"));
  const auto size = GetFileStatus(dir / "out" / "00003.m2ts");
  ASSERT_TRUE(size);
  EXPECT_EQ(j["source_packets"].get<uint64_t>() * 192, size->size);
}

// Ctrl-C while muxing: the next progress callback cancels, the exit code is 1 and neither output
// file is left.
TEST(MuxCommand, InterruptLeavesNoOutput) {
  const test::TempDir dir;
  test::WavParams params;
  params.data_bytes = 48000 * 4 * 1200;  // 20 minutes: 230 MB, some seconds of muxing
  ASSERT_TRUE(WriteWholeFile(dir / "long.wav", test::MakeWav(params)));
  fs::copy_file(test::DataPath("es/video/h264_720p5994.264"), dir / "v.264");
  fs::create_directory(dir / "out");
  const std::string err = (dir / "err").string();
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const std::string out = (dir / "out").string();
    const std::string wav = (dir / "long.wav").string();
    const std::string video = (dir / "v.264").string();
    freopen(err.c_str(), "w", stderr);
    execl(TESSEL_EXE, TESSEL_EXE, "mux", "--out", out.c_str(), video.c_str(), wav.c_str(), nullptr);
    _exit(127);
  }
  // The progress lines say the mux runs; then interrupt it.
  for (int i = 0; i < 600 && test::ReadText(err).find("Muxing") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  kill(child, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << test::ReadText(err);
  EXPECT_EQ(WEXITSTATUS(status), 1) << test::ReadText(err);
  EXPECT_THAT(FilesIn(dir / "out"), ::testing::IsEmpty());
}

}  // namespace
}  // namespace tessel
