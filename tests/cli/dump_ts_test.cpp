#include "cli/dump_ts.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "ts/psi.h"
#include "ts/ts_packet.h"

namespace tessel::cli {
namespace {

using nlohmann::json;

TEST(DumpTsTest, RecognisesSourcePacketStreams) {
  EXPECT_TRUE(LooksLikeTransportStream(test::DataPath("ts/emptyplaylist_01900.m2ts")));
  EXPECT_TRUE(LooksLikeTransportStream(test::DataPath("ts/simple_00000_head1000.m2ts")));
  test::TempDir dir;
  std::ofstream(dir / "text.m2ts") << std::string(4 * 192, 'x');
  EXPECT_FALSE(LooksLikeTransportStream(dir / "text.m2ts"));
  std::string packets(4 * 192, 'x');
  for (size_t i = 4; i < packets.size(); i += 192) packets[i] = 0x47;
  std::ofstream(dir / "packets.m2ts") << packets;
  EXPECT_TRUE(LooksLikeTransportStream(dir / "packets.m2ts"));
  EXPECT_FALSE(LooksLikeTransportStream(test::DataPath("ts/missing.m2ts")));
}

TEST(DumpTsTest, JsonHasTablesAndPerPidStatistics) {
  GlobalOptions options;
  options.quiet = true;
  testing::internal::CaptureStdout();
  const int code =
      DumpTransportStream(test::DataPath("ts/audiozoo_00000_head1000.m2ts"), true, options);
  const std::string out = testing::internal::GetCapturedStdout();
  ASSERT_EQ(code, 0);
  const json j = json::parse(out);
  EXPECT_EQ(j["SourcePacketCount"], 1000);
  EXPECT_EQ(j["PacketSizeOk"], true);
  EXPECT_EQ(j["PAT"]["Program"].size(), 2u);
  EXPECT_EQ(j["PAT"]["CrcErrors"], 0);
  const json& streams = j["PMT"]["Stream"];
  ASSERT_EQ(streams.size(), 7u);  // TrueHD and its AC-3 core share one PID
  EXPECT_EQ(streams[0]["StreamType"], "0x1B");
  EXPECT_EQ(streams[0]["ElementaryPid"], "0x1011");
  EXPECT_EQ(streams[0]["HdmvVideoRegistrationDescriptor"]["FrameRate"], 7);
  EXPECT_EQ(streams[2]["StreamType"], "0x84");
  EXPECT_EQ(streams[2]["Descriptor 0xCC"], "C0 C4 30 80");
  EXPECT_EQ(j["SIT"]["PartialTransportStreamDescriptor"]["PeakRate"], 120000);
  uint64_t packets = 0;
  for (const json& pid : j["Pids"]) packets += pid["PacketCount"].get<uint64_t>();
  EXPECT_EQ(packets, 1000u);
  EXPECT_EQ(j["Pids"][0]["Pid"], 0);
}

// The summary's JSON keeps the dump's order and every repeated name: two descriptors of one tag
// on a stream both survive.
TEST(DumpTsTest, JsonKeepsOrderAndRepeatedNames) {
  PMT pmt;
  ESI& stream = pmt.Streams.emplace_back();
  stream.StreamType = 0x90;
  stream.ElementaryPid = 0x1200;
  stream.OtherDescriptors = {{0x42, {1, 2}}, {0x42, {3}}};
  ByteWriter section;
  ASSERT_GT(WritePmt(section, pmt), 0u);
  std::vector<uint8_t> file(32 * kSourcePacketSize);
  for (size_t i = 0; i < 32; ++i) {
    const auto packet = std::span(file).subspan(i * kSourcePacketSize).first<kSourcePacketSize>();
    if (i == 0) {
      ASSERT_TRUE(FillSectionPacket(packet, Ticks27M(0), section.bytes(), 0, pid::kPmt, 0));
    } else {
      ASSERT_TRUE(FillSourcePacket(packet, Ticks27M(846 * i), TransportPacket{}, {}));
    }
  }
  test::TempDir dir;
  std::ofstream(dir / "repeated.m2ts", std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));

  GlobalOptions options;
  options.quiet = true;
  testing::internal::CaptureStdout();
  ASSERT_EQ(DumpTransportStream(dir / "repeated.m2ts", true, options), 0);
  const auto j = nlohmann::ordered_json::parse(testing::internal::GetCapturedStdout());
  const auto& table = j["PMT"];
  ASSERT_TRUE(table.is_object());
  EXPECT_EQ(table.begin().key(), "TableId");
  EXPECT_EQ(table["SectionLength"], pmt.SectionLength);
  const auto& descriptors = table["Stream"][0]["Descriptor 0x42"];
  ASSERT_TRUE(descriptors.is_array());
  EXPECT_EQ(descriptors, nlohmann::ordered_json::parse(R"(["01 02", "03"])"));
}

TEST(DumpTsTest, TextNamesEveryPart) {
  GlobalOptions options;
  options.quiet = true;
  testing::internal::CaptureStdout();
  ASSERT_EQ(DumpTransportStream(test::DataPath("ts/simple_00000_head1000.m2ts"), false, options),
            0);
  const std::string out = testing::internal::GetCapturedStdout();
  for (const char* line :
       {"SourcePacketCount: 1000\n", "PacketSize: 192\n", "PAT: \n", "PMT: \n", "SIT: \n",
        " PcrPid: 0x1001\n", "PID 0x1011: \n", " FirstPts: 54000000\n"}) {
    EXPECT_NE(out.find(line), std::string::npos) << line;
  }
}

TEST(DumpTsTest, UnreadableFileFails) {
  test::ScopedRecordingPrompt prompt;
  GlobalOptions options;
  options.quiet = true;
  EXPECT_EQ(DumpTransportStream(test::DataPath("ts/missing.m2ts"), false, options), 2);
  ASSERT_EQ(prompt.messages().size(), 1u);
  EXPECT_NE(prompt.messages()[0].find("missing.m2ts"), std::string::npos);
}

}  // namespace
}  // namespace tessel::cli
