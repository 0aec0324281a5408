// `tessel size` run as a process; the expected estimate is worked out here from the files
// themselves (sizes, the packet count field of the clip information, per-PID packet counts).
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/files.h"
#include "support/run_tessel.h"
#include "support/test_support.h"

namespace tessel {
namespace {

using test::Quoted;
using test::RunTessel;

// number_of_source_packets of a clip information file: ClipInfo starts at byte 40, the field
// follows its length, reserved, stream type, application type, flags and recording rate.
uint64_t ClipInfoPackets(const fs::path& clpi) {
  std::vector<uint8_t> data;
  EXPECT_TRUE(ReadWholeFile(clpi, data));
  EXPECT_GE(data.size(), 60u);
  if (data.size() < 60) return 0;
  return uint64_t{data[56]} << 24 | uint64_t{data[57]} << 16 | uint64_t{data[58]} << 8 | data[59];
}

std::map<uint16_t, uint64_t> CountPids(const fs::path& stream) {
  std::vector<uint8_t> data;
  EXPECT_TRUE(ReadWholeFile(stream, data, nullptr, 1ull << 30));
  std::map<uint16_t, uint64_t> counts;
  for (size_t at = 0; at + 192 <= data.size(); at += 192) {
    ++counts[static_cast<uint16_t>((data[at + 5] & 0x1F) << 8 | data[at + 6])];
  }
  return counts;
}

uint64_t FilesIn(const fs::path& folder, const char* extension) {
  uint64_t total = 0;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() == extension) total += entry.file_size();
  }
  return total;
}

TEST(SizeCommand, JsonOfAnUneditedDiscFollowsTheFormula) {
  const fs::path bdmv = test::DataPath("discs/disc-simple/BDMV");
  const auto run = RunTessel("size --json " + Quoted(bdmv.parent_path()));
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const auto json = nlohmann::json::parse(run.out);

  const int64_t database = static_cast<int64_t>(
      fs::file_size(bdmv / "index.bdmv") + fs::file_size(bdmv / "MovieObject.bdmv") +
      FilesIn(bdmv / "CLIPINF", ".clpi") + FilesIn(bdmv / "PLAYLIST", ".mpls"));
  const int64_t old_bytes =
      static_cast<int64_t>(ClipInfoPackets(bdmv / "CLIPINF/00000.clpi") * 192);
  const int64_t total = 2 * database + old_bytes;
  const auto& estimate = json["estimate"];
  EXPECT_EQ(estimate["database_bytes"], database);
  EXPECT_EQ(estimate["old_bytes"], old_bytes);
  EXPECT_EQ(estimate["new_bytes"], 0);
  EXPECT_EQ(estimate["total_bytes"], total);
  EXPECT_EQ(estimate["database_packets"], 2 * database / 192);
  EXPECT_EQ(estimate["old_packets"], old_bytes / 192);
  EXPECT_EQ(estimate["free25_packets"], (25000000000 - total) / 192);
  EXPECT_EQ(estimate["free50_packets"], (50000000000 - total) / 192);

  std::map<uint16_t, uint64_t> counts = CountPids(bdmv / "STREAM/00000.m2ts");
  ASSERT_EQ(json["listed"].size(), 1u);
  const auto& clip = json["listed"][0];
  EXPECT_EQ(clip["clip"], 0);
  ASSERT_EQ(clip["tracks"].size(), 4u);
  for (const auto& track : clip["tracks"]) {
    EXPECT_EQ(track["packets"], counts[track["pid"].get<uint16_t>()]) << track.dump();
    EXPECT_EQ(track["state"], "kept");
  }
}

TEST(SizeCommand, TextEndsWithTheFiveLinesOfTheEstimate) {
  const auto text = RunTessel("-q size " + Quoted(test::DataPath("discs/disc-multiclip")));
  ASSERT_EQ(text.exit_code, 0) << text.err;
  const auto json = RunTessel("-q size --json " + Quoted(test::DataPath("discs/disc-multiclip")));
  ASSERT_EQ(json.exit_code, 0) << json.err;
  const std::string message = nlohmann::json::parse(json.out)["estimate"]["message"];
  ASSERT_GE(text.out.size(), message.size() + 1);
  EXPECT_EQ(text.out.substr(text.out.size() - message.size() - 1), message + "\n");
  EXPECT_EQ(message.find("Database file size about: "), 0u);
  EXPECT_NE(message.find(" \r\nFor BD50, free space: "), std::string::npos);
  EXPECT_EQ(message.back(), ' ');
  EXPECT_NE(text.out.find("00003.m2ts  0x1011  MPEG-4 AVC/H.264  kept  124 packets  23KB\n"),
            std::string::npos)
      << text.out;
}

TEST(SizeCommand, PlaylistListsItsSummedCounts) {
  const fs::path bdmv = test::DataPath("discs/disc-multiclip/BDMV");
  const auto run = RunTessel("-q size --json --playlist 0 " + Quoted(bdmv));
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const auto json = nlohmann::json::parse(run.out);
  ASSERT_EQ(json["listed"].size(), 1u);
  EXPECT_EQ(json["listed"][0]["playlist"], 0);
  std::map<uint16_t, uint64_t> sums;
  for (const char* clip : {"00000", "00001", "00002"}) {
    for (const auto& [pid, n] : CountPids(bdmv / "STREAM" / (std::string(clip) + ".m2ts"))) {
      sums[pid] += n;
    }
  }
  for (const auto& track : json["listed"][0]["tracks"]) {
    EXPECT_EQ(track["packets"], sums[track["pid"].get<uint16_t>()]) << track.dump();
  }
}

TEST(SizeCommand, Failures) {
  const test::TempDir dir;
  const fs::path bdmv = test::StageDisc("discs/disc-simple", dir.path());
  fs::resize_file(bdmv / "STREAM/00000.m2ts", 0);
  struct Case {
    std::string arguments;
    const char* message;
  };
  const Case cases[] = {
      {"size " + Quoted(bdmv), "holds no source packet"},
      {"size --clip 7 " + Quoted(test::DataPath("discs/disc-simple")), "no clip 00007"},
      {"size --playlist 9 " + Quoted(test::DataPath("discs/disc-simple")), "no playlist 00009"},
      {"size --clip 0 --playlist 0 " + Quoted(test::DataPath("discs/disc-simple")), "excludes"},
      {"size " + Quoted(dir / "nothing"), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const auto run = RunTessel("-q " + c.arguments);
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("Database file size"), std::string::npos);
  }
}

}  // namespace
}  // namespace tessel
