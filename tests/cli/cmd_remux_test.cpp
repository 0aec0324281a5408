// `tessel remux` on a whole fixture clip: what independent readers make of the rewritten clip,
// what a dropped track leaves behind, and what is refused before anything is written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/files.h"
#include "support/run_tessel.h"
#include "support/test_support.h"
#include "support/ts_oracles.h"

namespace tessel {
namespace {

using test::Quoted;
using test::RunTessel;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

// 2 s of H.264 (0x1011) and AC-3 (0x1100) with its clip information.
fs::path InputStream() {
  return test::DataPath("ts/multiclip_00002.m2ts");
}
fs::path InputClipInfo() {
  return test::DataPath("ts/multiclip_00002.clpi");
}

std::string Remux(const fs::path& out, const std::string& extra) {
  return "--quiet --yes remux " + Quoted(InputStream()) + " --clpi " + Quoted(InputClipInfo()) +
         " -o " + Quoted(out) + " " + extra;
}

std::map<uint16_t, size_t> PacketsPerPid(const fs::path& file) {
  const std::vector<test::ProbeStream> streams = test::ProbeStreams(file);
  std::map<uint16_t, size_t> count;
  for (const test::ProbePacket& p : test::ProbePackets(file)) {
    for (const test::ProbeStream& s : streams) {
      if (s.index == p.stream) ++count[s.pid];
    }
  }
  return count;
}

std::vector<uint16_t> ClipPids(const test::BdClip& clip) {
  std::vector<uint16_t> pids;
  for (const auto& program : clip.programs) {
    for (const test::BdProgramStream& s : program) pids.push_back(s.pid);
  }
  return pids;
}

TEST(RemuxCommand, KeptTracksPassIndependentReaders) {
  TESSEL_SKIP_WITHOUT_TOOL("ffprobe");
  TESSEL_SKIP_WITHOUT_LIBBLURAY();
  const auto source_clip = test::ReadClpiWithLibbluray(InputClipInfo());
  ASSERT_TRUE(source_clip);
  const auto source_packets = PacketsPerPid(InputStream());
  struct Case {
    std::string keep;
    std::vector<uint16_t> pids;
  };
  for (const Case& c : {Case{"", {0x1011, 0x1100}}, Case{"--keep 0x1011", {0x1011}},
                        Case{"--keep 4113,0x1100", {0x1011, 0x1100}}}) {
    SCOPED_TRACE(c.keep);
    const test::TempDir dir;
    const fs::path out = dir / "00002.m2ts";
    const auto run = RunTessel(Remux(out, c.keep));
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(fs::file_size(out) % 6144, 0u);
    EXPECT_EQ(test::FfmpegDecodeErrors(out), "");
    const auto clip = test::ReadClpiWithLibbluray(dir / "00002.clpi");
    ASSERT_TRUE(clip);
    EXPECT_EQ(ClipPids(*clip), c.pids);
    ASSERT_TRUE(clip->EpMap(0x1011));
    EXPECT_EQ(clip->EpMap(0x1011)->entries.size(), source_clip->EpMap(0x1011)->entries.size());
    EXPECT_THAT(
        test::EntryPointsOffKeyPackets(*clip, test::ProbeStreams(out), test::ProbePackets(out)),
        ::testing::IsEmpty());
    const auto packets = PacketsPerPid(out);
    std::vector<uint16_t> probed;
    for (const auto& [pid, n] : packets) {
      probed.push_back(pid);
      EXPECT_EQ(n, source_packets.at(pid)) << pid;
    }
    EXPECT_EQ(probed, c.pids);
  }
}

TEST(RemuxCommand, DemuxOfTheRemuxEqualsDemuxOfTheSource) {
  const test::TempDir dir;
  ASSERT_EQ(RunTessel(Remux(dir / "00002.m2ts", "")).exit_code, 0);
  fs::create_directories(dir / "a");
  fs::create_directories(dir / "b");
  ASSERT_EQ(
      RunTessel("--quiet demux " + Quoted(InputStream()) + " -o " + Quoted(dir / "a")).exit_code,
      0);
  ASSERT_EQ(RunTessel("--quiet demux " + Quoted(dir / "00002.m2ts") + " -o " + Quoted(dir / "b"))
                .exit_code,
            0);
  for (const char* suffix : {"_4113.264", "_4352.ac3"}) {
    std::vector<uint8_t> a, b;
    ASSERT_TRUE(ReadWholeFile(dir / "a" / (std::string("multiclip_00002") + suffix), a));
    ASSERT_TRUE(ReadWholeFile(dir / "b" / (std::string("00002") + suffix), b));
    EXPECT_FALSE(a.empty());
    EXPECT_TRUE(a == b) << suffix;
  }
}

TEST(RemuxCommand, RefusalsWriteNothing) {
  const test::TempDir dir;
  const fs::path out = dir / "x.m2ts";
  struct Case {
    std::string arguments;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"--quiet remux " + Quoted(InputStream()) + " -o " + Quoted(out), "name it with --clpi"},
      {Remux(out, "--keep 0x1105"), "has no track 0x1105"},
      {Remux(out, "--keep 0x1z"), "Bad PID \"0x1z\""},
      {Remux(InputStream(), ""), "is an input"},
      {"--quiet remux " + Quoted(InputStream()) + " --clpi " + Quoted(InputStream()) + " -o " +
           Quoted(out),
       "not a clip information file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const auto run = RunTessel(c.arguments);
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_THAT(run.err, HasSubstr(c.message));
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists(dir / "x.clpi"));
  }
  // An existing output stays unless --yes.
  ASSERT_TRUE(WriteWholeFile(out, {'o', 'l', 'd'}));
  const auto run = RunTessel("--quiet remux " + Quoted(InputStream()) + " --clpi " +
                             Quoted(InputClipInfo()) + " -o " + Quoted(out));
  EXPECT_EQ(run.exit_code, 2);
  EXPECT_THAT(run.err, HasSubstr("pass --yes"));
  EXPECT_EQ(fs::file_size(out), 3u);
}

}  // namespace
}  // namespace tessel
