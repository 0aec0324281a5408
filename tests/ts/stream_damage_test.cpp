// Damaged transport streams through the stream summary of `tessel dump`: every fixture stream,
// cut inside a packet, shifted by a byte, missing a packet, zeroed or empty, is read to the end
// and its summary reports the damage; the intact stream reports none.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "support/test_support.h"
#include "ts/stream_summary.h"
#include "ts/ts_packet.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> FixtureStreams() {
  std::vector<fs::path> out;
  for (const auto& entry : fs::recursive_directory_iterator(test::DataDir())) {
    if (entry.path().extension() == ".m2ts") out.push_back(entry.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

bool Clean(const TsSummary& s) {
  return s.PacketSizeOk() && s.ContinuityErrors == 0;
}

uint16_t PidOf(const std::vector<uint8_t>& b, size_t packet) {
  const uint8_t* p = b.data() + packet * kSourcePacketSize + kTpExtraHeaderSize;
  return static_cast<uint16_t>((p[1] & 0x1F) << 8 | p[2]);
}

// The middle packet of the PID that has the most packets with payload.
size_t PacketToDrop(const std::vector<uint8_t>& b) {
  std::map<uint16_t, std::vector<size_t>> by_pid;
  for (size_t i = 0; i < b.size() / kSourcePacketSize; ++i) {
    const uint8_t* p = b.data() + i * kSourcePacketSize + kTpExtraHeaderSize;
    if ((p[3] & 0x10) && PidOf(b, i) != 0x1FFF) by_pid[PidOf(b, i)].push_back(i);
  }
  const std::vector<size_t>* most = nullptr;
  for (const auto& [pid, packets] : by_pid) {
    if (!most || packets.size() > most->size()) most = &packets;
  }
  return (*most)[most->size() / 2];
}

struct Damage {
  const char* what;
  void (*apply)(std::vector<uint8_t>& bytes);
};

const Damage kDamages[] = {
    {"cut inside a packet", [](auto& b) { b.resize(b.size() - kSourcePacketSize / 2); }},
    {"one byte inserted at the start", [](auto& b) { b.insert(b.begin(), 0x47); }},
    {"a packet dropped",
     [](auto& b) {
       const auto at = b.begin() + static_cast<std::ptrdiff_t>(PacketToDrop(b) * kSourcePacketSize);
       b.erase(at, at + kSourcePacketSize);
     }},
    {"zeros", [](auto& b) { std::fill(b.begin(), b.end(), 0); }},
    {"empty", [](auto& b) { b.clear(); }},
};

TEST(StreamDamage, EveryDamageIsReported) {
  const std::vector<fs::path> streams = FixtureStreams();
  ASSERT_GE(streams.size(), 4u);
  test::TempDir dir;
  for (const fs::path& stream : streams) {
    SCOPED_TRACE(stream.filename().string());
    TsSummary intact;
    std::string error;
    ASSERT_EQ(SummarizeTransportStream(stream, intact, nullptr, &error), JobResult::kDone);
    ASSERT_TRUE(Clean(intact));
    const std::vector<uint8_t> good =
        test::ReadData(fs::relative(stream, test::DataDir()).string());
    for (const Damage& damage : kDamages) {
      SCOPED_TRACE(damage.what);
      std::vector<uint8_t> bytes = good;
      damage.apply(bytes);
      const fs::path path = dir / "damaged.m2ts";
      std::ofstream(path, std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()),
                 static_cast<std::streamsize>(bytes.size()));
      TsSummary summary;
      ASSERT_EQ(SummarizeTransportStream(path, summary, nullptr, &error), JobResult::kDone);
      EXPECT_EQ(summary.FileSize, bytes.size());
      EXPECT_FALSE(Clean(summary));
    }
  }
}

}  // namespace
}  // namespace tessel
