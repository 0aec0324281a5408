#include "formats/ep_map.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tessel {
namespace {

KEY_POINT_INFO Kp(uint64_t pts, uint32_t spn, uint32_t spn_end = 0) {
  KEY_POINT_INFO point;
  point.Pts = pts;
  point.SpnStart = spn;
  point.SpnEnd = spn_end;
  return point;
}

STREAM_PID_ENTRY Stream(uint16_t pid, uint8_t type, CKpiFolder points) {
  STREAM_PID_ENTRY entry;
  entry.StreamPid = pid;
  entry.EpStreamType = type;
  entry.KeyPoints = std::move(points);
  return entry;
}

std::vector<uint8_t> WriteMap(const EpMap& map, std::vector<EpStreamLayout>* layouts = nullptr) {
  ByteWriter w;
  const std::optional<std::vector<EpStreamLayout>> written = map.Write(w);
  EXPECT_TRUE(written);
  EXPECT_TRUE(w.ok());
  if (written && layouts) *layouts = *written;
  return w.Take();
}

std::string DumpOf(const EpMap& map) {
  DumpArchive archive;
  map.Dump("", archive);
  return archive.text();
}

TEST(EpMapCoarseEntries, StartWhereHighBitsChange) {
  struct Case {
    const char* what;
    CKpiFolder points;
    std::vector<size_t> starts;
  };
  const Case cases[] = {
      {"no key points", {}, {}},
      {"one key point", {Kp(12345, 7)}, {0}},
      {"PTS >> 19 steps 0, 1, 2", {Kp(0, 1), Kp(0x80000, 2), Kp(0x100000, 3)}, {0, 1, 2}},
      {"PTS within one coarse step", {Kp(0, 1), Kp(0x40000, 2), Kp(0x7FFFF, 3)}, {0}},
      {"SPN low bits wrap", {Kp(0, 0x1FFF0), Kp(1, 0x20010)}, {0, 1}},
      {"SPN jumps a whole coarse step without wrapping", {Kp(0, 0x10), Kp(1, 0x20020)}, {0, 1}},
      {"PTS high bits go back (wrap of the 33-bit clock)",
       {Kp(0x1FFF80000, 5), Kp(0x100, 6), Kp(0x200, 7)},
       {0, 1}},
      {"bits above 33 of the PTS are ignored", {Kp(0x200000000, 1), Kp(0, 2)}, {0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CoarseEntryStarts(c.points), c.starts) << c.what;
  }
}

TEST(EpMapIEndClass, SizeClassesFromTheIPictureExtent) {
  struct Case {
    uint32_t start, end;
    uint8_t known;
    uint8_t expected;
  };
  // Sizes are (end - start + 1) * 192 bytes; 0x20000 bytes are 682.67 packets.
  const Case cases[] = {
      {100, 799, 0, 2},       // 134400 bytes
      {100, 0, 0, 0},         // end unknown
      {100, 99, 0, 0},        // end before start: unknown rather than a wrapped huge size
      {0, 681, 0, 1},         // 130944 bytes
      {0, 682, 0, 2},         // 131136 bytes
      {0, 2047, 0, 4},        // exactly 0x60000 bytes
      {0, 2046, 0, 3},        // 0x60000 - 192 bytes
      {0, 6826, 0, 7},        // 1310784 bytes
      {0, 0xFFFFFFFF, 0, 7},  // no overflow of the size
      {100, 799, 5, 5},       // a class read from a file is kept
  };
  for (const Case& c : cases) {
    KEY_POINT_INFO point = Kp(0, c.start, c.end);
    point.IEndPostion = c.known;
    EXPECT_EQ(IEndClass(point), c.expected) << c.start << ".." << c.end;
    EXPECT_EQ(point.IEndPostion, c.known) << "the key point is left as it was";
  }
}

TEST(EpMapNearestKeyPoint, PicksTheCloserNeighbour) {
  const CKpiFolder points = {Kp(1000, 0), Kp(2000, 0)};
  struct Case {
    uint32_t time;
    int index;
  };
  const Case cases[] = {{1000, 0}, {2000, 1}, {1400, 0}, {1600, 1},
                        {1500, 0}, {500, 0},  {2500, -1}};
  for (const Case& c : cases) {
    EXPECT_EQ(NearestKeyPoint(points, c.time), c.index) << c.time;
  }
  EXPECT_EQ(NearestKeyPoint({}, 10), -1);
  // A PTS beyond 32 bits never equals a 32-bit time.
  const CKpiFolder wide = {Kp(0x100000000 + 5, 0)};
  EXPECT_EQ(NearestKeyPoint(wide, 5), 0);
}

TEST(EpMapWrite, OneKeyPointLayout) {
  EpMap map;
  map.Entries.push_back(Stream(0x1011, 1, {Kp(0x1'2345'6789, 0x0ABCDEF1, 0x0ABCDEF1 + 699)}));
  const std::vector<uint8_t> expected = {
      0x00, 0x01,              // reserved, one stream
      0x10, 0x11,              // StreamPid
      0x00,                    // reserved
      0x04,                    // EpStreamType 1, coarse count bits 15..14
      0x00,                    // coarse count bits 13..6
      0x04,                    // coarse count 1, fine count bits 17..16
      0x00, 0x01,              // fine count 1
      0x00, 0x00, 0x00, 0x0E,  // map start address: 2 + 12
      0x00, 0x00, 0x00, 0x0C,  // fine table address: 4 + 8
      0x00, 0x00, 0x24, 0x68,  // fine ref 0, PTS bits 32..19 = 0x2468
      0x0A, 0xBC, 0xDE, 0xF1,  // full SPN
      0x25, 0x66, 0xDE, 0xF1,  // IEnd 2, PTS bits 19..9 = 0x2B3, SPN bits 16..0 = 0x0DEF1
  };
  const EpMap before = map;
  std::vector<EpStreamLayout> layouts;
  EXPECT_EQ(WriteMap(map, &layouts), expected);
  // What writing worked out comes back; the record keeps what it held.
  EXPECT_EQ(layouts, (std::vector<EpStreamLayout>{{1, 1, 14}}));
  EXPECT_EQ(DumpOf(map), DumpOf(before));
  EXPECT_EQ(map.Entries[0].NumberOfCoarseEntries, 0);
  EXPECT_EQ(map.Entries[0].KeyPoints[0].IEndPostion, 0);
}

TEST(EpMapWrite, NoStreamWritesNothing) {
  EpMap map;
  EXPECT_TRUE(WriteMap(map).empty());
}

TEST(EpMapWrite, SeveralStreamsReadBackWithTheirKeyPoints) {
  EpMap map;
  CKpiFolder video;
  for (uint32_t i = 0; i < 40; ++i) {
    // Steps of 0.3 s and irregular (even falling) packet numbers cross both kinds of coarse
    // boundary; PTS bit 32 is set throughout.
    video.push_back(Kp(0x1FF000000 + uint64_t{i} * 27000, i * 9001 + (i % 3) * 70000,
                       i * 9001 + (i % 3) * 70000 + 600 * (i % 5)));
  }
  CKpiFolder audio = {Kp(900, 10), Kp(45900, 800, 900), Kp(0x80000 + 900, 0x30000)};
  map.Entries.push_back(Stream(0x1011, 1, video));
  map.Entries.push_back(Stream(0x1100, 3, audio));
  map.Entries.push_back(Stream(0x1B00, 1, {Kp(77, 3)}));
  std::vector<EpStreamLayout> layouts;
  const std::vector<uint8_t> bytes = WriteMap(map, &layouts);
  ASSERT_EQ(layouts.size(), 3u);

  EpMap back;
  ASSERT_TRUE(back.Read(ByteReader(bytes)));
  ASSERT_EQ(back.Entries.size(), 3u);
  for (size_t s = 0; s < 3; ++s) {
    const STREAM_PID_ENTRY& in = map.Entries[s];
    const STREAM_PID_ENTRY& out = back.Entries[s];
    EXPECT_EQ(out.StreamPid, in.StreamPid);
    EXPECT_EQ(out.EpStreamType, in.EpStreamType);
    EXPECT_EQ(out.NumberOfCoarseEntries, layouts[s].NumberOfCoarseEntries);
    EXPECT_EQ(out.NumberOfFineEntries, layouts[s].NumberOfFineEntries);
    EXPECT_EQ(out.EpMapForOneStreamStartAddress, layouts[s].EpMapForOneStreamStartAddress);
    ASSERT_EQ(out.KeyPoints.size(), in.KeyPoints.size());
    for (size_t i = 0; i < in.KeyPoints.size(); ++i) {
      // The file keeps the PTS to 512 ticks; the packet number whole.
      EXPECT_EQ(out.KeyPoints[i].Pts, in.KeyPoints[i].Pts & 0x1FFFFFE00) << s << "/" << i;
      EXPECT_EQ(out.KeyPoints[i].SpnStart, in.KeyPoints[i].SpnStart) << s << "/" << i;
      EXPECT_EQ(out.KeyPoints[i].IEndPostion, in.EpStreamType == 1 ? IEndClass(in.KeyPoints[i]) : 0)
          << s << "/" << i;
    }
  }
  EXPECT_GT(layouts[0].NumberOfCoarseEntries, 10);
  EXPECT_EQ(layouts[1].NumberOfCoarseEntries, 2);
  EXPECT_EQ(back.Entries[1].KeyPoints[1].IEndPostion, 0);
  EXPECT_NE(back.Entries[0].KeyPoints[1].IEndPostion, 0);
  // Written again, the decoded map gives the same bytes.
  EXPECT_EQ(WriteMap(back), bytes);
}

TEST(EpMapWrite, RefusesCountsTheFieldsCannotHold) {
  EpMap too_many_streams;
  too_many_streams.Entries.assign(256, Stream(0x1011, 1, {Kp(0, 0)}));
  ByteWriter w1;
  EXPECT_FALSE(too_many_streams.Write(w1));
  EXPECT_FALSE(w1.ok());

  EpMap too_many_points;
  too_many_points.Entries.push_back(Stream(0x1011, 1, CKpiFolder(0x40000, Kp(0, 0))));
  ByteWriter w2;
  EXPECT_FALSE(too_many_points.Write(w2));
  EXPECT_FALSE(w2.ok());

  EpMap too_many_coarse;
  CKpiFolder points;
  for (uint32_t i = 0; i < 0x10000; ++i) points.push_back(Kp(uint64_t{i} << 19, i));
  too_many_coarse.Entries.push_back(Stream(0x1011, 1, points));
  ByteWriter w3;
  EXPECT_FALSE(too_many_coarse.Write(w3));
  EXPECT_FALSE(w3.ok());
}

TEST(EpMapRead, InconsistentMapsFailCleanly) {
  // A valid map of one stream with two coarse entries and three fine entries.
  EpMap map;
  map.Entries.push_back(Stream(0x1011, 1, {Kp(0, 1), Kp(0x80000, 2), Kp(0x80200, 3)}));
  const std::vector<uint8_t> good = WriteMap(map);
  ASSERT_EQ(good.size(), 2u + 12 + 4 + 16 + 12);
  EpMap check;
  ASSERT_TRUE(check.Read(ByteReader(good)));

  struct Case {
    const char* what;
    size_t at;
    uint8_t value;
  };
  const Case cases[] = {
      {"stream count beyond the table", 1, 0xFF},
      {"map start address outside", 13, 0xF0},
      {"fine table address outside", 17, 0xF0},
      {"coarse count beyond the data", 7, 0xFC},            // 63 coarse entries
      {"fine count beyond the data", 9, 0x09},              // 9 fine entries
      {"first coarse entry skips fine entries", 20, 0x40},  // fine ref 1
      {"fine reference beyond the fine count", 27, 0xFF},
      {"coarse entries refer to fine entries there are none of", 9, 0x00},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bad = good;
    bad[c.at] = c.value;
    EpMap out;
    EXPECT_FALSE(out.Read(ByteReader(bad))) << c.what;
  }
  for (size_t n = 0; n < good.size(); ++n) {
    EpMap out;
    EXPECT_FALSE(out.Read(ByteReader(std::span(good).first(n)))) << "truncated at " << n;
  }
}

// ---- Real clip information files ----

struct MapLocation {
  size_t start = 0;  // first byte of the map
  size_t end = 0;    // end of the enclosing block
};

// Finds the map through the block addresses of the file header, without the clip reader.
bool LocateMap(const std::vector<uint8_t>& file, MapLocation& out) {
  ByteReader r(file);
  r.Seek(16);
  const uint32_t cpi = r.U32();
  r.Seek(cpi);
  const uint32_t length = r.U32();
  if (!r.ok() || length == 0) return false;
  out.start = cpi + 6;
  out.end = cpi + 4 + length;
  return out.end <= file.size();
}

// Stream and entry counts that an independent reader (libbluray 1.3.4) reports for the files.
struct RealFile {
  const char* name;
  int coarse;
  int fine;
};
constexpr RealFile kRealFiles[] = {
    {"bdpl-disc1-00000.clpi", 4, 15},
    {"bdpl-disc1-00002.clpi", 2, 2},
    {"bdpl-disc1-00007.clpi", 546, 1729},
    {"bdpl-disc5-00002.clpi", 4267, 8643},
    {"bdpl-disc5-00005.clpi", 6, 14},
    {"bdpl-disc5-00011.clpi", 6, 14},
    {"bdpl-disc5-00019.clpi", 2, 2},
    {"bdpl-disc5-00021.clpi", 83, 153},
    {"bdpl-disc6-00001.clpi", 10, 36},
    {"bdpl-disc6-00002.clpi", 2, 2},
    {"bdpl-disc8-00009.clpi", 106, 312},
    {"bdpl-disc14-00002.clpi", 2, 2},
    {"bdpl-disc16-00007.clpi", 192, 644},
    {"bdpl-disc17-00008.clpi", 1, 1},
    {"bdpl-disc18-00017.clpi", 56, 288},
    {"chaptertool-conan-bride1-00000.clpi", 10, 30},
    {"chaptertool-conan-bride1-00004.clpi", 2, 2},
    {"chaptertool-conan-bride2-00018.clpi", 2, 2},
    {"chaptertool-conan-zero-00100.clpi", 2, 2},
    {"chaptertool-kimetsu-00009.clpi", 18, 71},
    {"chaptertool-mayonaka2-00003.clpi", 433, 1633},
    {"chaptertool-mayonaka2-00022.clpi", 1, 1},
    {"hdcookbook-sfaatest-00000.clpi", 12, 32},
    {"bdjsdk-avchd-00000.clpi", 17, 164},
    {"disc-audio-zoo-00000.clpi", 2, 5},
    {"disc-simple-00000.clpi", 3, 10},
    {"disc-mpeg2-00000.clpi", 2, 11},
    {"disc-emptyplaylist-00000.clpi", 2, 5},
    {"disc-emptyplaylist-01900.clpi", 0, 0},
    {"disc-multiclip-00000.clpi", 2, 4},
    {"disc-multiclip-00001.clpi", 2, 4},
    {"disc-multiclip-00002.clpi", 1, 2},
    {"disc-multiclip-00003.clpi", 3, 10},
};

// Bit 7 of the first byte of a fine entry: the angle change point, which is not kept.
constexpr uint8_t kAngleChangePoint = 0x80;

TEST(EpMapRealFiles, RegeneratedMapEqualsTheStoredOne) {
  for (const RealFile& f : kRealFiles) {
    SCOPED_TRACE(f.name);
    const std::vector<uint8_t> file = test::ReadData(std::string("clpi/") + f.name);
    MapLocation at;
    ASSERT_TRUE(LocateMap(file, at));
    const std::span<const uint8_t> stored = std::span(file).subspan(at.start, at.end - at.start);
    EpMap map;
    ASSERT_TRUE(map.Read(ByteReader(stored)));
    ASSERT_EQ(map.Entries.size(), 1u);
    EXPECT_EQ(map.Entries[0].NumberOfCoarseEntries, f.coarse);
    EXPECT_EQ(map.Entries[0].NumberOfFineEntries, static_cast<uint32_t>(f.fine));
    const std::string dump = DumpOf(map);

    const std::vector<uint8_t> written = WriteMap(map);
    ASSERT_EQ(written.size(), stored.size());
    const STREAM_PID_ENTRY& entry = map.Entries[0];
    ByteReader fine_at(stored);
    fine_at.Seek(entry.EpMapForOneStreamStartAddress);
    const size_t fine_table = entry.EpMapForOneStreamStartAddress + fine_at.U32();
    for (size_t i = 0; i < stored.size(); ++i) {
      const bool fine_first_byte = i >= fine_table && (i - fine_table) % 4 == 0;
      if (fine_first_byte && (stored[i] & kAngleChangePoint) != 0) {
        EXPECT_EQ(written[i], stored[i] & ~kAngleChangePoint) << "angle change point at " << i;
      } else {
        ASSERT_EQ(written[i], stored[i]) << "byte " << i;
      }
    }
    EpMap again;
    ASSERT_TRUE(again.Read(ByteReader(written)));
    EXPECT_EQ(DumpOf(again), dump);
  }
}

TEST(EpMapRealFiles, DecodedKeyPointsMatchTheIndependentReader) {
  // First and last fine entries as libbluray 1.3.4 reports them for the peer muxer's discs
  // (fine PTS field, fine SPN field), and the full values they decode to here.
  const std::vector<uint8_t> file = test::ReadData("clpi/disc-multiclip-00001.clpi");
  MapLocation at;
  ASSERT_TRUE(LocateMap(file, at));
  EpMap map;
  ASSERT_TRUE(map.Read(ByteReader(std::span(file).subspan(at.start, at.end - at.start))));
  const CKpiFolder& points = map.Entries[0].KeyPoints;
  ASSERT_EQ(points.size(), 4u);
  EXPECT_EQ((points.front().Pts >> 9) & 0x7FF, 1724u);
  EXPECT_EQ(points.front().SpnStart & 0x1FFFF, 4u);
  EXPECT_EQ((points.back().Pts >> 9) & 0x7FF, 204u);
  EXPECT_EQ(points.back().SpnStart & 0x1FFFF, 5282u);
  // The clip starts at 45 kHz time 27180180, PTS 54360360 at 90 kHz; the first entry point is
  // that start to the 512-tick resolution of the map.
  EXPECT_EQ(points.front().Pts, 54360360u & ~0x1FFu);
  for (size_t i = 1; i < points.size(); ++i) EXPECT_GT(points[i].Pts, points[i - 1].Pts);
}

TEST(EpMapDump, LinesAndIndentation) {
  EpMap map;
  map.Entries.push_back(Stream(0x1100, 3, {Kp(0x100000200, 5)}));
  EpMap back;  // with the counts and address as a file holds them
  ASSERT_TRUE(back.Read(ByteReader(WriteMap(map))));
  EXPECT_EQ(DumpOf(back),
            "NumberOfPidEnties: 1\n"
            "PidEntry:\n"
            " StreamPid: 0x1100\n"
            " EpStreamType: 3\n"
            " NumberOfCoarseEntries: 1\n"
            " NumberOfFineEntries: 1\n"
            " EpMapForOneStreamStartAddress: 14\n"
            " KeyPointCount: 1\n"
            " KeyPoint0:\n"
            "  PTS: 512\n"
            "  Spn Start: 5\n"
            "  IEndPostion: 0\n");
  DumpArchive loading(true);
  map.Dump("", loading);
  EXPECT_TRUE(loading.text().empty());
}

}  // namespace
}  // namespace tessel
