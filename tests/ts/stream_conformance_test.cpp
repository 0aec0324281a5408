// Every transport stream fixture: the tables check out and write back to the same bytes, every
// packet header writes back to the same bytes, and the per-PID picture agrees with a plain count
// and with ffprobe.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "ts/psi.h"
#include "ts/stream_summary.h"
#include "ts/ts_packet.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;

// The cut streams of tests/data/ts, the heads of tests/data/discs and the whole clips of
// tests/data/discs-whole.
std::vector<fs::path> StreamFixtures() {
  std::vector<fs::path> files;
  for (const char* dir : {"ts", "discs", "discs-whole"}) {
    const fs::path root = test::DataPath(dir);
    if (!fs::is_directory(root)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      if (entry.is_regular_file() && entry.path().extension() == ".m2ts") {
        files.push_back(entry.path());
      }
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::vector<uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class StreamFixtureTest : public ::testing::TestWithParam<fs::path> {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_EQ(SummarizeTransportStream(GetParam(), summary_, nullptr, &error), JobResult::kDone)
        << error;
  }
  TsSummary summary_;
};

TEST_P(StreamFixtureTest, TablesVerifyAndWriteBackToTheSameBytes) {
  EXPECT_TRUE(summary_.PacketSizeOk());
  ASSERT_TRUE(summary_.Pat.Record);
  ASSERT_TRUE(summary_.Pmt.Record);
  ASSERT_TRUE(summary_.Sit.Record);
  EXPECT_EQ(summary_.Pat.CrcErrors, 0u);
  EXPECT_EQ(summary_.Pmt.CrcErrors, 0u);
  EXPECT_EQ(summary_.Sit.CrcErrors, 0u);

  ByteWriter pat_out, pmt_out, sit_out;
  PAT pat = *summary_.Pat.Record;
  WritePat(pat_out, pat);
  EXPECT_EQ(pat_out.buffer(), summary_.Pat.Section);
  PMT pmt = *summary_.Pmt.Record;
  WritePmt(pmt_out, pmt);
  EXPECT_EQ(pmt_out.buffer(), summary_.Pmt.Section);
  SIT sit = *summary_.Sit.Record;
  WriteSit(sit_out, sit);
  EXPECT_EQ(sit_out.buffer(), summary_.Sit.Section);

  const std::optional<PMT> from_file = ReadPmtFromFile(GetParam());
  ASSERT_TRUE(from_file);
  EXPECT_EQ(from_file->CRC32, summary_.Pmt.Record->CRC32);
}

// Header, adaptation field and PES header of every packet serialise back to the bytes read.
TEST_P(StreamFixtureTest, EveryPacketHeaderWritesBackToTheSameBytes) {
  const std::vector<uint8_t> data = ReadFile(GetParam());
  size_t with_pes = 0;
  for (size_t at = 0; at + kSourcePacketSize <= data.size(); at += kSourcePacketSize) {
    const std::span<const uint8_t> bytes(data.data() + at + kTpExtraHeaderSize,
                                         kTransportPacketSize);
    TransportPacket packet;
    const size_t header = ReadTransportPacket(bytes, packet);
    ASSERT_GT(header, 0u) << "packet " << at / kSourcePacketSize;
    if (packet.Pes) ++with_pes;
    ByteWriter out;
    ASSERT_EQ(WriteTransportPacket(out, packet), header);
    ASSERT_TRUE(std::equal(out.buffer().begin(), out.buffer().end(), bytes.begin()))
        << "packet " << at / kSourcePacketSize << " PID " << packet.PID;
  }
  EXPECT_GT(with_pes, 0u);
}

// A count that shares nothing with the summary: PID and unit start straight from the bytes.
TEST_P(StreamFixtureTest, PerPidCountsAgreeWithAPlainCount) {
  const std::vector<uint8_t> data = ReadFile(GetParam());
  std::map<uint16_t, uint64_t> packets;
  std::map<uint16_t, uint32_t> last_ats;
  for (size_t at = 0; at + kSourcePacketSize <= data.size(); at += kSourcePacketSize) {
    const uint8_t* p = data.data() + at;
    const uint16_t id = static_cast<uint16_t>((p[5] & 0x1F) << 8 | p[6]);
    ++packets[id];
    last_ats[id] = (uint32_t{p[0]} << 24 | p[1] << 16 | p[2] << 8 | p[3]) & 0x3FFFFFFF;
  }
  ASSERT_EQ(summary_.Pids.size(), packets.size());
  for (const PidSummary& s : summary_.Pids) {
    EXPECT_EQ(s.PacketCount, packets[s.Pid]) << "PID " << s.Pid;
    EXPECT_EQ(s.LastArrivalTimeStamp, last_ats[s.Pid]) << "PID " << s.Pid;
  }
  EXPECT_EQ(summary_.SourcePacketCount, data.size() / kSourcePacketSize);
}

// Runs a command and returns its standard output; empty when it could not run.
std::string Capture(const std::string& command) {
  std::string text;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return text;
  std::array<char, 4096> chunk;
  size_t n;
  while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) text.append(chunk.data(), n);
  pclose(pipe);
  return text;
}

// The stream types a codec reported by ffprobe may have in a Blu-ray PMT.
std::set<int> StreamTypesOf(const std::string& codec) {
  static const std::map<std::string, std::set<int>> kTypes = {
      {"h264", {0x1B}},
      {"mpeg2video", {0x02}},
      {"vc1", {0xEA}},
      {"ac3", {0x81, 0x83}},
      {"eac3", {0x84, 0xA1}},
      {"dts", {0x82, 0x85, 0x86, 0xA2}},
      {"truehd", {0x83}},
      {"pcm_bluray", {0x80}},
      {"hdmv_pgs_subtitle", {0x90}},
      {"hdmv_text_subtitle", {0x92}},
  };
  const auto it = kTypes.find(codec);
  return it == kTypes.end() ? std::set<int>{} : it->second;
}

TEST_P(StreamFixtureTest, StreamTypesAndFirstPtsAgreeWithFfprobe) {
  if (Capture("command -v ffprobe").empty()) GTEST_SKIP() << "ffprobe is not installed";
  const std::string path = GetParam().string();
  // "index,codec_name,id" per stream; ids are "0x1011".
  std::istringstream streams(
      Capture("ffprobe -v error -show_entries stream=index,codec_name,id "
              "-of csv=p=0 '" +
              path + "'"));
  std::map<int, uint16_t> pid_of_index;
  std::map<uint16_t, std::set<int>> allowed_types;
  for (std::string line; std::getline(streams, line);) {
    std::istringstream row(line);
    std::string index, codec, id;
    std::getline(row, index, ',');
    std::getline(row, codec, ',');
    std::getline(row, id, ',');
    if (id.rfind("0x", 0) != 0) continue;  // a blank line between entries
    const auto pid = static_cast<uint16_t>(std::stoul(id, nullptr, 16));
    pid_of_index[std::stoi(index)] = pid;
    auto& types = allowed_types[pid];
    const std::set<int> more = StreamTypesOf(codec);
    if (types.empty()) {
      types = more;
    } else {  // one PID shown as two streams (TrueHD and its AC-3 core)
      std::set<int> both;
      for (int t : types) {
        if (more.count(t)) both.insert(t);
      }
      types = both;
    }
  }
  ASSERT_FALSE(allowed_types.empty());
  const PMT& pmt = *summary_.Pmt.Record;
  ASSERT_EQ(pmt.Streams.size(), allowed_types.size());
  for (const ESI& esi : pmt.Streams) {
    ASSERT_TRUE(allowed_types.count(esi.ElementaryPid)) << "PID " << esi.ElementaryPid;
    EXPECT_TRUE(allowed_types[esi.ElementaryPid].count(esi.StreamType))
        << "PID " << esi.ElementaryPid << " stream type " << int{esi.StreamType};
  }

  std::istringstream packets(
      Capture("ffprobe -v error -show_entries packet=stream_index,pts "
              "-of csv=p=0 '" +
              path + "'"));
  std::map<uint16_t, uint64_t> first_pts;
  for (std::string line; std::getline(packets, line);) {
    const size_t comma = line.find(',');
    if (comma == std::string::npos || comma + 1 >= line.size() || line[comma + 1] == 'N') continue;
    const uint16_t pid = pid_of_index[std::stoi(line.substr(0, comma))];
    const uint64_t pts = std::stoull(line.substr(comma + 1));
    first_pts.emplace(pid, pts);  // keeps the first in file order
  }
  for (const PidSummary& s : summary_.Pids) {
    if (!first_pts.count(s.Pid)) continue;
    ASSERT_TRUE(s.FirstPts) << "PID " << s.Pid;
    EXPECT_EQ(*s.FirstPts, first_pts[s.Pid]) << "PID " << s.Pid;
  }
}

std::string FixtureName(const ::testing::TestParamInfo<fs::path>& info) {
  std::string name = fs::relative(info.param, test::DataDir()).replace_extension().string();
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, StreamFixtureTest, ::testing::ValuesIn(StreamFixtures()),
                         FixtureName);

}  // namespace
}  // namespace tessel
