// Demux of cut and spliced copies of a fixture clip: what can be read is written, and the damage
// is named with its offset (and PID where a packet can be named).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "mux/demux.h"
#include "platform/files.h"
#include "support/test_support.h"

namespace tessel {
namespace {

constexpr size_t kPacket = 192;

uint16_t PidAt(const std::vector<uint8_t>& d, size_t packet) {
  return static_cast<uint16_t>((d[packet * kPacket + 5] & 0x1F) << 8 | d[packet * kPacket + 6]);
}

// The n-th packet of a PID (counting from 0) that starts a PES packet, or not.
size_t FindPacket(const std::vector<uint8_t>& d, uint16_t pid, bool unit_start, int n) {
  for (size_t i = 0; i < d.size() / kPacket; ++i) {
    if (PidAt(d, i) != pid || bool(d[i * kPacket + 5] & 0x40) != unit_start) continue;
    if (n-- == 0) return i;
  }
  return SIZE_MAX;
}

struct DamageCase {
  const char* name;
  std::function<void(std::vector<uint8_t>&)> damage;
  uint64_t offset;  // where the first damage is named; UINT64_MAX: no damage expected
  int pid;
  const char* what;
};

TEST(DemuxDamage, WritesWhatCanBeReadAndNamesTheDamage) {
  const std::vector<uint8_t> clean = test::ReadData("ts/simple_00000_head1000.m2ts");
  const size_t ac3_packet = FindPacket(clean, 0x1100, false, 10);
  const size_t ac3_start = FindPacket(clean, 0x1100, true, 5);
  ASSERT_NE(ac3_packet, SIZE_MAX);
  ASSERT_NE(ac3_start, SIZE_MAX);
  const DamageCase cases[] = {
      {"clean", [](std::vector<uint8_t>&) {}, UINT64_MAX, -1, ""},
      {"cut mid-packet", [](std::vector<uint8_t>& d) { d.resize(800 * kPacket + 100); },
       800 * kPacket, -1, "last packet cut"},
      {"byte inserted",
       [](std::vector<uint8_t>& d) { d.insert(d.begin() + 100 * kPacket + 50, 0x00); },
       101 * kPacket, -1, "lost sync"},
      {"byte removed", [](std::vector<uint8_t>& d) { d.erase(d.begin() + 100 * kPacket + 50); },
       101 * kPacket, -1, "lost sync"},
      {"zeros",
       [](std::vector<uint8_t>& d) {
         std::fill(d.begin() + 200 * kPacket, d.begin() + 203 * kPacket, 0);
       },
       200 * kPacket, -1, "lost sync"},
      {"packet dropped",
       [&](std::vector<uint8_t>& d) {
         d.erase(d.begin() + static_cast<ptrdiff_t>(ac3_packet * kPacket),
                 d.begin() + static_cast<ptrdiff_t>((ac3_packet + 1) * kPacket));
       },
       ac3_packet * kPacket, 0x1100, "continuity counter"},
      {"cut PES header",
       [&](std::vector<uint8_t>& d) { d[ac3_start * kPacket + 4 + 4 + 8] = 0xF0; },
       ac3_start * kPacket, 0x1100, "unparsable PES header"},
      {"empty file", [](std::vector<uint8_t>& d) { d.clear(); }, UINT64_MAX, -1, ""},
  };
  std::vector<uint8_t> clean_out;
  for (const DamageCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> data = clean;
    c.damage(data);
    SRipTrack ac3;
    ac3.pid = 0x1100;
    ac3.attributes.StreamCodingType = 0x81;
    SRipTrack lpcm;
    lpcm.pid = 0x1101;
    lpcm.attributes.StreamCodingType = 0x80;
    SRipTrack* const tracks[] = {&ac3, &lpcm};
    std::map<std::string, CMemorySink*> sinks;
    CTrackInfoMap set;
    ASSERT_TRUE(
        CreateDemuxWriters("out", "00000", tracks, set, [&](const std::string& path, std::string&) {
          auto sink = std::make_unique<CMemorySink>();
          sinks[path] = sink.get();
          return sink;
        }));
    CMemorySource source(data);
    SDemuxReport report;
    ASSERT_EQ(DemuxStreamFile(source, c.name, set, nullptr, report), JobResult::kDone);
    std::string error;
    EXPECT_TRUE(set.Finish(error)) << error;
    const std::vector<uint8_t>& out = sinks["out/00000_4352.ac3"]->bytes();
    if (c.offset == UINT64_MAX) {
      EXPECT_TRUE(report.damage.empty()) << report.damage[0].what;
      if (clean_out.empty()) clean_out = out;
      continue;
    }
    ASSERT_FALSE(report.damage.empty());
    EXPECT_EQ(report.damage[0].offset, c.offset);
    EXPECT_EQ(report.damage[0].pid, c.pid);
    EXPECT_NE(report.damage[0].what.find(c.what), std::string::npos) << report.damage[0].what;
    // What could be read is there: most of the clean output, and never more.
    EXPECT_GT(out.size(), clean_out.size() / 2);
    EXPECT_LE(out.size(), clean_out.size());
  }
}

// The blank clip has continuity breaks on its video PID, but only at packets that carry the PCR
// and no payload, which keep their counter.
TEST(DemuxDamage, PcrOnlyPacketsKeepTheirCounter) {
  const std::vector<uint8_t> data = test::ReadData("ts/emptyplaylist_01900.m2ts");
  SRipTrack video;
  video.pid = 0x1011;
  video.attributes.StreamCodingType = 0x1B;
  SRipTrack* const tracks[] = {&video};
  CTrackInfoMap set;
  ASSERT_TRUE(CreateDemuxWriters("out", "01900", tracks, set, [](const std::string&, std::string&) {
    return std::make_unique<CMemorySink>();
  }));
  CMemorySource source(data);
  SDemuxReport report;
  ASSERT_EQ(DemuxStreamFile(source, "01900.m2ts", set, nullptr, report), JobResult::kDone);
  EXPECT_TRUE(report.damage.empty());
  EXPECT_GT(set.tracks[0x1011].writers[0]->size(), 1000u);
}

}  // namespace
}  // namespace tessel
