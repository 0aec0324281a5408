// `tessel remux` on a whole fixture clip: what independent readers make of the rewritten clip,
// what a dropped track leaves behind, and what is refused before anything is written.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
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

// The transport packets of each PID, header bytes 0-3 left out: the remux may change the PID,
// transport_priority and the continuity counter, and with no cut nothing else.
std::map<uint16_t, std::vector<std::vector<uint8_t>>> PacketBodiesPerPid(const fs::path& file) {
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(ReadWholeFile(file, bytes));
  std::map<uint16_t, std::vector<std::vector<uint8_t>>> bodies;
  for (size_t at = 0; at + 192 <= bytes.size(); at += 192) {
    const uint8_t* ts = bytes.data() + at + 4;
    const auto pid = static_cast<uint16_t>(((ts[1] & 0x1F) << 8) | ts[2]);
    bodies[pid].emplace_back(ts + 4, ts + 188);
  }
  return bodies;
}

// "<stem>_<decimal PID>.<ext>" of each file a demux wrote into `dir`, keyed by PID and extension.
std::map<std::pair<uint16_t, std::string>, fs::path> DemuxedFiles(const fs::path& dir) {
  std::map<std::pair<uint16_t, std::string>, fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string stem = entry.path().stem().string();
    const size_t bar = stem.rfind('_');
    if (bar == std::string::npos) continue;
    const auto pid = static_cast<uint16_t>(std::stoul(stem.substr(bar + 1)));
    files[{pid, entry.path().extension().string()}] = entry.path();
  }
  return files;
}

// Whole fixture clips in several subsets, each source PID with the PID it must come out on.
TEST(RemuxCommand, WholeDiscClipSubsetsKeepTheirPacketsAndDemuxTheSame) {
  TESSEL_SKIP_WITHOUT_TOOL("ffprobe");
  TESSEL_SKIP_WITHOUT_LIBBLURAY();
  struct Case {
    std::string disc;
    std::string keep;
    std::map<uint16_t, uint16_t> pids;  // source PID -> output PID
  };
  const std::vector<Case> cases = {
      {"disc-simple",
       "0x1011,0x1100,0x1200",
       {{0x1011, 0x1011}, {0x1100, 0x1100}, {0x1200, 0x1200}}},
      {"disc-simple", "0x1011,0x1101", {{0x1011, 0x1011}, {0x1101, 0x1100}}},
      {"disc-audio-zoo",
       "0x1011,0x1102,0x1103",
       {{0x1011, 0x1011}, {0x1102, 0x1100}, {0x1103, 0x1101}}},
      {"disc-audio-zoo",
       "0x1011,0x1101,0x1104,0x1A00",
       {{0x1011, 0x1011}, {0x1101, 0x1100}, {0x1104, 0x1101}, {0x1A00, 0x1A00}}},
      {"disc-mpeg2", "0x1011", {{0x1011, 0x1011}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.disc + " " + c.keep);
    const fs::path disc = test::DataPath("discs-whole/" + c.disc + "/BDMV");
    const fs::path in = disc / "STREAM/00000.m2ts";
    const auto source_clip = test::ReadClpiWithLibbluray(disc / "CLIPINF/00000.clpi");
    ASSERT_TRUE(source_clip);
    const test::TempDir dir;
    const fs::path out = dir / "00000.m2ts";
    const auto run =
        RunTessel("--quiet --yes remux " + Quoted(in) + " --keep " + c.keep + " -o " + Quoted(out));
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(fs::file_size(out) % 6144, 0u);
    EXPECT_EQ(test::FfmpegDecodeErrors(out), "");

    const auto clip = test::ReadClpiWithLibbluray(dir / "00000.clpi");
    ASSERT_TRUE(clip);
    std::vector<uint16_t> expected_pids;
    for (const auto& [from, to] : c.pids) expected_pids.push_back(to);
    std::vector<uint16_t> written_pids = ClipPids(*clip);
    std::sort(expected_pids.begin(), expected_pids.end());
    std::sort(written_pids.begin(), written_pids.end());
    EXPECT_EQ(written_pids, expected_pids);
    // The program map names the kept tracks only (ffprobe lists a stream per PMT entry).
    std::vector<uint16_t> mapped_pids;
    for (const test::ProbeStream& s : test::ProbeStreams(out)) mapped_pids.push_back(s.pid);
    mapped_pids.erase(std::unique(mapped_pids.begin(), mapped_pids.end()), mapped_pids.end());
    std::sort(mapped_pids.begin(), mapped_pids.end());
    EXPECT_EQ(mapped_pids, expected_pids);
    ASSERT_TRUE(clip->EpMap(0x1011));
    EXPECT_EQ(clip->EpMap(0x1011)->entries.size(), source_clip->EpMap(0x1011)->entries.size());
    EXPECT_THAT(
        test::EntryPointsOffKeyPackets(*clip, test::ProbeStreams(out), test::ProbePackets(out)),
        ::testing::IsEmpty());

    const auto source_bodies = PacketBodiesPerPid(in);
    const auto written_bodies = PacketBodiesPerPid(out);
    for (const auto& [from, to] : c.pids) {
      ASSERT_TRUE(written_bodies.count(to)) << to;
      EXPECT_TRUE(written_bodies.at(to) == source_bodies.at(from))
          << "packets of " << from << " differ on " << to;
    }

    fs::create_directories(dir / "a");
    fs::create_directories(dir / "b");
    ASSERT_EQ(RunTessel("--quiet demux " + Quoted(in) + " -o " + Quoted(dir / "a")).exit_code, 0);
    ASSERT_EQ(RunTessel("--quiet demux " + Quoted(out) + " -o " + Quoted(dir / "b")).exit_code, 0);
    const auto source_files = DemuxedFiles(dir / "a");
    const auto written_files = DemuxedFiles(dir / "b");
    size_t compared = 0;
    for (const auto& [key, path] : source_files) {
      const auto mapped = c.pids.find(key.first);
      if (mapped == c.pids.end()) continue;
      const auto other = written_files.find({mapped->second, key.second});
      ASSERT_NE(other, written_files.end()) << path;
      std::vector<uint8_t> a, b;
      ASSERT_TRUE(ReadWholeFile(path, a));
      ASSERT_TRUE(ReadWholeFile(other->second, b));
      EXPECT_FALSE(a.empty()) << path;
      EXPECT_TRUE(a == b) << path;
      ++compared;
    }
    EXPECT_EQ(written_files.size(), compared);
    EXPECT_GE(compared, c.pids.size());
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

namespace tessel {
namespace {

// `tessel mux --from`: the files' tracks join the kept tracks of an existing clip.
TEST(MuxFromCommand, FilesJoinTheKeptTracks) {
  TESSEL_SKIP_WITHOUT_TOOL("ffprobe");
  const test::TempDir dir;
  fs::copy_file(test::DataPath("es/ac3_20_192k.ac3"), dir / "dub_deu.ac3");
  const auto run = RunTessel("--quiet mux --from " + Quoted(InputStream()) + " --clpi " +
                             Quoted(InputClipInfo()) + " --keep 0x1011 --out " +
                             Quoted(dir.path()) + " --clip 2 " + Quoted(dir / "dub_deu.ac3"));
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const fs::path out = dir / "00002.m2ts";
  std::vector<std::pair<uint16_t, std::string>> streams;
  for (const test::ProbeStream& s : test::ProbeStreams(out)) streams.emplace_back(s.pid, s.codec);
  EXPECT_EQ(streams,
            (std::vector<std::pair<uint16_t, std::string>>{{0x1011, "h264"}, {0x1100, "ac3"}}));
  EXPECT_THAT(run.out, HasSubstr("PID 0x1100 AC-3 deu"));
  EXPECT_EQ(test::FfmpegDecodeErrors(out), "");
  EXPECT_EQ(fs::file_size(out) % 6144, 0u);
}

}  // namespace
}  // namespace tessel
