// Pipes over small elementary streams: the packets they write (checked by an independent reader
// and demuxer where one exists), their time stamps, key points and ranges, and the handling of
// damaged stream info files.
#include "mux/pipe.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "es/parser_base.h"
#include "es/stream_info.h"
#include "formats/tables.h"
#include "support/es_builders.h"
#include "support/test_support.h"
#include "ts/psi.h"
#include "ts/ts_packet.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;

constexpr uint16_t kPid = 0x1100;

struct SentUnit {
  SAuEntry entry;
  uint32_t packets = 0;
  bool base = true;
};

// Everything a pipe wrote for a whole stream.
struct Drained {
  std::vector<uint8_t> ts;  // 188-byte packets
  std::vector<SentUnit> units;
  std::vector<uint32_t> payloads;
  bool ended_with_end_unit = false;
};

Drained Drain(CPipe& pipe, bool keys = true, int64_t time_offset = 0) {
  Drained out;
  while (const SAuEntry* unit = pipe.NextAu()) {
    if (unit->size == 0) {
      out.ended_with_end_unit = true;
      EXPECT_EQ(pipe.NextAu(), nullptr);
      break;
    }
    SentUnit sent{*unit, 0, pipe.IsBaseSubStream()};
    EXPECT_TRUE(pipe.CurrentNotStarted());
    while (pipe.BytesLeft() > 0) {
      uint8_t packet[kTransportPacketSize];
      SPacketRequest request;
      request.output = packet;
      request.pid = kPid;
      request.time_offset = time_offset;
      request.key_point_wanted = keys;
      if (!pipe.WritePacket(request)) {
        ADD_FAILURE() << "no packet";
        return out;
      }
      out.ts.insert(out.ts.end(), packet, packet + sizeof packet);
      out.payloads.push_back(request.payload);
      ++sent.packets;
    }
    out.units.push_back(sent);
  }
  return out;
}

// A transport stream ffmpeg can read: PAT and PMT, then the pipe's packets.
fs::path WriteTs(const test::TempDir& dir, CPipe& pipe, const Drained& drained) {
  std::vector<uint8_t> bytes;
  ByteWriter w;
  PAT pat;
  pat.Programs.push_back({1, pid::kPmt});
  WritePat(w, pat);
  uint8_t cc = 0;
  WriteSectionPackets(w.buffer(), pid::kPat, cc, bytes);
  PMT pmt;
  pmt.PcrPid = kPid;
  pmt.Streams.push_back(pipe.BuildEsi(kPid));
  ByteWriter p;
  WritePmt(p, pmt);
  cc = 0;
  WriteSectionPackets(p.buffer(), pid::kPmt, cc, bytes);
  bytes.insert(bytes.end(), drained.ts.begin(), drained.ts.end());
  const fs::path path = dir / "out.ts";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::string RunCommand(const std::string& command) {
  std::string text;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  pclose(pipe);
  return text;
}

std::vector<uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::unique_ptr<CPipe> OpenPipe(const SPipeSource& source) {
  std::unique_ptr<CPipe> pipe;
  EXPECT_EQ(CreatePipe(source, nullptr, pipe), 0);
  return pipe;
}

SPipeSource CopyFixture(const test::TempDir& dir, const std::string& name) {
  SPipeSource source;
  source.path = dir / fs::path(name).filename().string();
  fs::copy_file(test::DataPath("es/" + name), source.path);
  return source;
}

// Packets parsed back by the transport-stream reader: sync, size, PID and an unbroken
// continuity count; returns the PES headers in order.
std::vector<PesHeader> CheckPackets(const Drained& d) {
  std::vector<PesHeader> headers;
  EXPECT_EQ(d.ts.size() % kTransportPacketSize, 0u);
  for (size_t i = 0; i * kTransportPacketSize < d.ts.size(); ++i) {
    std::span<const uint8_t> bytes(d.ts.data() + i * kTransportPacketSize, kTransportPacketSize);
    EXPECT_EQ(bytes[0], kSyncByte);
    TransportPacket packet;
    const size_t header = ReadTransportPacket(bytes, packet);
    EXPECT_GT(header, 0u) << "packet " << i;
    EXPECT_EQ(packet.PID, kPid);
    EXPECT_EQ(packet.ContinuityCounter, i % 16) << "packet " << i;
    if (packet.PayloadUnitStartIndicator && packet.Pes) headers.push_back(*packet.Pes);
  }
  return headers;
}

struct StreamCase {
  const char* file;
  const char* codec;  // as ffprobe names it
  bool demux_equals_source;
};

// Every codec through a pipe: ffprobe names the stream and reads each unit's time stamps as
// written; where ffmpeg can copy the stream out, the bytes are the source's.
TEST(Pipe, StreamsReadBackByAnIndependentDemuxer) {
  const StreamCase cases[] = {
      {"ac3_51_448k.ac3", "ac3", true},
      {"eac3_ac3_20.ac3", "eac3", false},
      {"dts_51_768k.dts", "dts", true},
      {"lpcm_20_16bit_48k.wav", "pcm_bluray", false},
      {"video/h264_1080p25.264", "h264", false},
      {"video/mpeg2_480i.m2v", "mpeg2video", false},
      {"pgs_128x64_libpgs-js.sup", "hdmv_pgs_subtitle", false},
  };
  for (const StreamCase& c : cases) {
    SCOPED_TRACE(c.file);
    test::TempDir dir;
    test::ScopedRecordingPrompt prompt;
    auto pipe = OpenPipe(CopyFixture(dir, c.file));
    ASSERT_TRUE(pipe);
    const Drained d = Drain(*pipe, true, 0);
    ASSERT_FALSE(d.units.empty());
    const auto headers = CheckPackets(d);
    ASSERT_EQ(headers.size(), d.units.size());
    uint64_t payload_bytes = 0;
    for (size_t i = 0; i < d.units.size(); ++i) {
      EXPECT_EQ(headers[i].PTS->Value, d.units[i].entry.pts) << i;
      EXPECT_EQ(d.units[i].packets, PacketsForUnit(pipe->coding_type(), d.units[i].entry)) << i;
      payload_bytes += d.units[i].entry.size;
    }
    uint64_t reported = 0;
    for (uint32_t p : d.payloads) reported += p;
    EXPECT_GE(reported, payload_bytes);
    if (IsGraphicsCodingType(pipe->coding_type())) {
      EXPECT_GE(pipe->TotalBytes(), payload_bytes);  // the segment headers lie between units
    } else {
      EXPECT_EQ(pipe->TotalBytes(), payload_bytes);
      EXPECT_EQ(d.units.front().entry.pts, kFirstAuTime);
    }
    const fs::path ts = WriteTs(dir, *pipe, d);
    const std::string streams = RunCommand(
        "ffprobe -v error -show_entries stream=codec_name,id -of csv '" + ts.string() + "'");
    EXPECT_NE(streams.find(std::string(c.codec) + ",0x1100"), std::string::npos) << streams;
    const std::string pts = RunCommand(
        "ffprobe -v error -show_entries packet=pts -of default=nw=1:nk=1 '" + ts.string() + "'");
    std::string expected;
    for (const SentUnit& u : d.units) {
      if (pipe->coding_type() == coding::kEac3 && !u.base) continue;
      expected += std::to_string(u.entry.pts) + "\n";
    }
    // (ffmpeg joins the two halves of an E-AC-3 frame and the segments of a display set.)
    if (!IsGraphicsCodingType(pipe->coding_type()) && pipe->coding_type() != coding::kEac3) {
      EXPECT_EQ(pts, expected);
    }
    if (c.demux_equals_source) {
      const fs::path copy = dir / (std::string("copy.") + c.codec);
      RunCommand("ffmpeg -v error -i '" + ts.string() + "' -map 0 -c copy -f " + c.codec + " '" +
                 copy.string() + "'");
      EXPECT_EQ(ReadFile(copy), ReadFile(dir / fs::path(c.file).filename()));
    }
    EXPECT_TRUE(prompt.entries().empty());
  }
}

// Key points: video at random access units and I pictures, audio at the first unit and then
// every 0.5 s, graphics at compositions that are not normal cases.
TEST(Pipe, KeyPointsByStreamKind) {
  struct Case {
    const char* file;
    std::function<bool(const SAuEntry&, uint64_t last_key)> is_key;
  };
  const Case cases[] = {
      {"video/h264_1080p_aud.264",
       [](const SAuEntry& u, uint64_t) {
         return (u.flags & 0x30000) || (u.flags & au_flag::kPictureTypeMask) == 1;
       }},
      {"ac3_51_448k.ac3", [](const SAuEntry& u, uint64_t last) { return u.pts >= last + 45000; }},
      {"video/mpeg2_1080i.m2v",
       [](const SAuEntry& u, uint64_t) {
         return (u.flags & 0x30000) || (u.flags & au_flag::kPictureTypeMask) == 1;
       }},
      {"pgs_1080_eng.sup",
       [](const SAuEntry& u, uint64_t) {
         return (u.flags & 0xFF) == 0x16 && ((u.flags >> 8) & 3) != 0;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    test::TempDir dir;
    auto pipe = OpenPipe(CopyFixture(dir, c.file));
    ASSERT_TRUE(pipe);
    const int64_t offset = 1000;
    const Drained d = Drain(*pipe, true, offset);
    std::vector<std::pair<int, uint64_t>> expected;
    uint64_t last = 0;
    for (size_t i = 0; i < d.units.size(); ++i) {
      const SAuEntry& u = d.units[i].entry;
      if (expected.empty() && IsAudioCodingType(pipe->coding_type())) {
        expected.push_back({static_cast<int>(i + 1), u.pts + offset});
        last = u.pts;
      } else if (c.is_key(u, last)) {
        expected.push_back({static_cast<int>(i + 1), u.pts + offset});
        last = u.pts;
      }
    }
    std::vector<std::pair<int, uint64_t>> got;
    for (const KEY_POINT_INFO& k : pipe->key_points()) got.push_back({k.Ordinal, k.Pts});
    EXPECT_EQ(got, expected);
    EXPECT_GT(got.size(), 1u);
  }
}

// The LPCM header before each unit and the samples turned big-endian.
TEST(Pipe, LpcmUnitsCarryTheirHeaderAndBigEndianSamples) {
  test::TempDir dir;
  auto pipe = OpenPipe(CopyFixture(dir, "lpcm_20_16bit_48k.wav"));
  ASSERT_TRUE(pipe);
  const auto source = ReadFile(dir / "lpcm_20_16bit_48k.wav");
  const Drained d = Drain(*pipe, false);
  ASSERT_GT(d.units.size(), 2u);
  // 48 kHz stereo 16 bit: 960 bytes per 5 ms unit; channel assignment 3, 48 kHz 1, 16 bit 1.
  TransportPacket packet;
  const size_t header = ReadTransportPacket({d.ts.data(), kTransportPacketSize}, packet);
  ASSERT_GT(header, 0u);
  const uint8_t* payload = d.ts.data() + header;
  EXPECT_EQ(std::vector<uint8_t>(payload, payload + 4),
            (std::vector<uint8_t>{0x03, 0xC0, 0x31, 0x40}));
  const uint64_t offset = d.units[0].entry.offset;
  EXPECT_EQ(payload[4], source[offset + 1]);
  EXPECT_EQ(payload[5], source[offset]);
  EXPECT_EQ(packet.Pes->StreamID, 0xBD);
  EXPECT_EQ(packet.Pes->PES_PacketLength, 960 + 4 + 8);
}

// A TrueHD stream goes out from its AC-3 file and its TrueHD file on one PID: by DTS, AC-3 first
// on equal DTS; the AC-3 units are the base sub-stream with transport priority 1 and their own
// extension id, so that a demultiplexer tells the two apart.
TEST(Pipe, TrueHdPairInterleavesByDts) {
  test::TempDir dir;
  SPipeSource source = CopyFixture(dir, "truehd_51.ac3");
  source.second_path = CopyFixture(dir, "truehd_51.thd").path;
  auto pipe = OpenPipe(source);
  ASSERT_TRUE(pipe);
  EXPECT_EQ(pipe->coding_type(), coding::kTrueHd);
  EXPECT_EQ(pipe->BuildEsi(kPid).StreamType, coding::kTrueHd);
  ASSERT_TRUE(pipe->BuildEsi(kPid).Ac3Audio.has_value());
  const Drained d = Drain(*pipe, true);
  size_t base = 0;
  for (size_t i = 0; i < d.units.size(); ++i) {
    if (d.units[i].base) ++base;
    if (i == 0) continue;
    const SentUnit& a = d.units[i - 1];
    const SentUnit& b = d.units[i];
    const uint32_t ta = a.entry.dts ? a.entry.dts : a.entry.pts;
    const uint32_t tb = b.entry.dts ? b.entry.dts : b.entry.pts;
    // Each file is in DTS order; the merge never puts a later unit before an earlier one of the
    // other file, and on a tie the AC-3 unit goes first.
    if (a.base != b.base) {
      EXPECT_LE(ta, tb) << i;
      if (ta == tb) {
        EXPECT_TRUE(a.base) << i;
      }
    }
  }
  EXPECT_GT(base, 0u);
  EXPECT_LT(base, d.units.size());
  size_t packet_index = 0;
  for (const SentUnit& u : d.units) {
    TransportPacket packet;
    ReadTransportPacket({d.ts.data() + packet_index * kTransportPacketSize, kTransportPacketSize},
                        packet);
    EXPECT_EQ(packet.TransportPriority, u.base);
    ASSERT_TRUE(packet.Pes && packet.Pes->Extension && packet.Pes->Extension->Extension2);
    EXPECT_EQ((*packet.Pes->Extension->Extension2)[0], u.base ? 0x76 : 0x72);
    packet_index += u.packets;
  }
  for (const KEY_POINT_INFO& k : pipe->key_points()) EXPECT_GT(k.Ordinal, 0);
  EXPECT_EQ(pipe->TotalBytes(),
            fs::file_size(dir / "truehd_51.ac3") + fs::file_size(dir / "truehd_51.thd"));
  // ffmpeg sees both streams on the PID; each copies out as its file.
  const fs::path ts = WriteTs(dir, *pipe, d);
  RunCommand("ffmpeg -v error -i '" + ts.string() + "' -map 0:a:0 -c copy -f truehd '" +
             (dir / "copy.thd").string() + "'");
  RunCommand("ffmpeg -v error -i '" + ts.string() + "' -map 0:a:1 -c copy -f ac3 '" +
             (dir / "copy.ac3").string() + "'");
  EXPECT_EQ(ReadFile(dir / "copy.thd"), ReadFile(dir / "truehd_51.thd"));
  EXPECT_EQ(ReadFile(dir / "copy.ac3"), ReadFile(dir / "truehd_51.ac3"));
}

// Core and extension halves of an E-AC-3 pair carry their own extension ids and priorities; the
// end unit comes one frame after the last unit.
TEST(Pipe, TwoPartAudioMarksItsHalves) {
  test::TempDir dir;
  auto pipe = OpenPipe(CopyFixture(dir, "eac3_ac3_20.ac3"));
  ASSERT_TRUE(pipe);
  ASSERT_EQ(pipe->coding_type(), coding::kEac3);
  std::vector<std::pair<uint8_t, bool>> got, expected;
  SAuEntry last;
  while (const SAuEntry* unit = pipe->NextAu()) {
    if (unit->size == 0) {
      const uint32_t frame = static_cast<uint32_t>(pipe->frame_duration() * 90);
      EXPECT_EQ(unit->pts, last.pts + frame);
      EXPECT_EQ(unit->dts, last.dts + frame);
      break;
    }
    last = *unit;
    const bool core = (unit->flags & 1) == 0;
    expected.push_back({core ? 0x71 : 0x72, core});
    uint8_t packet[kTransportPacketSize];
    SPacketRequest request;
    request.output = packet;
    request.pid = kPid;
    bool first = true;
    while (pipe->BytesLeft() > 0) {
      ASSERT_TRUE(pipe->WritePacket(request));
      TransportPacket parsed;
      ReadTransportPacket(packet, parsed);
      if (first) {
        ASSERT_TRUE(parsed.Pes && parsed.Pes->Extension && parsed.Pes->Extension->Extension2);
        got.push_back({(*parsed.Pes->Extension->Extension2)[0], parsed.TransportPriority});
      }
      EXPECT_EQ(parsed.TransportPriority, core);
      first = false;
    }
  }
  EXPECT_EQ(got, expected);
  EXPECT_GT(got.size(), 4u);
}

// PG cut after its first display set renumbers the compositions from 0.
TEST(Pipe, GraphicsCutRenumbersCompositions) {
  test::TempDir dir;
  SPipeSource source = CopyFixture(dir, "pgs_1080_eng.sup");
  {
    auto whole = OpenPipe(source);
    ASSERT_TRUE(whole);
    uint64_t low, high;
    whole->TimeRange(low, high);
    source.range_start = static_cast<int32_t>(low / 90 + 1);
  }
  auto pipe = OpenPipe(source);
  ASSERT_TRUE(pipe);
  const Drained d = Drain(*pipe, false);
  ASSERT_FALSE(d.units.empty());
  EXPECT_FALSE(d.ended_with_end_unit);  // graphics streams end without an end unit
  size_t packet_index = 0;
  uint16_t expected = 0;
  for (const SentUnit& u : d.units) {
    if ((u.entry.flags & 0xFF) == 0x16) {
      TransportPacket packet;
      const uint8_t* bytes = d.ts.data() + packet_index * kTransportPacketSize;
      const size_t header = ReadTransportPacket({bytes, kTransportPacketSize}, packet);
      EXPECT_EQ(bytes[header + 8] << 8 | bytes[header + 9], expected);
      ++expected;
    }
    packet_index += u.packets;
  }
  EXPECT_GT(expected, 0);
}

std::pair<uint32_t, uint32_t> Selected(CPipe& pipe) {
  SEsReader* r = pipe.PrimaryReader();
  return {r->first, r->last};
}

// Ranges: indices or milliseconds, clamped into the stream; video moves to whole GOPs; a cut
// (negative delay) drops time from the start of the range.
TEST(Pipe, RangesSelectUnits) {
  struct Case {
    const char* file;
    uint8_t unit;
    int32_t start, end;
    int64_t cut;
    int64_t first, last;  // -1, -1 for nothing
  };
  // ac3_51_448k.ac3: 32 ms frames. eac3_ac3_20.ac3: core + extension pairs of 32 ms.
  const Case cases[] = {
      {"ac3_51_448k.ac3", range_unit::kUnits, 0, 0, 0, 0, 31},
      {"ac3_51_448k.ac3", range_unit::kUnits, 3, 10, 0, 3, 10},
      {"ac3_51_448k.ac3", range_unit::kUnits, -1, 5, 0, 0, 5},
      {"ac3_51_448k.ac3", range_unit::kUnits, -1, -1, 0, -1, -1},
      {"ac3_51_448k.ac3", range_unit::kUnits, 10, 3, 0, -1, -1},
      {"ac3_51_448k.ac3", range_unit::kUnits, 5, 1000, 0, 5, 31},
      {"ac3_51_448k.ac3", range_unit::kUnits, 1000, 0, 0, -1, -1},
      {"ac3_51_448k.ac3", range_unit::kMilliseconds, 96, 320, 0, 3, 10},
      {"ac3_51_448k.ac3", range_unit::kUnits, 2, 10, 90 * 64, 4, 10},
      {"ac3_51_448k.ac3", range_unit::kUnits, 2, 10, 90 * 1000, -1, -1},
      {"eac3_ac3_20.ac3", range_unit::kMilliseconds, 64, 128, 0, 4, 9},
      {"eac3_ac3_20.ac3", range_unit::kUnits, 4, 9, 90 * 32, 6, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.file << " " << c.start << ".." << c.end << " cut " << c.cut);
    test::TempDir dir;
    SPipeSource source = CopyFixture(dir, c.file);
    source.range_unit = c.unit;
    source.range_start = c.start;
    source.range_end = c.end;
    source.start_cut = c.cut;
    auto pipe = OpenPipe(source);
    ASSERT_TRUE(pipe);
    const uint32_t count = pipe->PrimaryReader()->info.header.auCount;
    const auto [first, last] = Selected(*pipe);
    const Drained d = Drain(*pipe, false);
    if (c.first < 0) {
      EXPECT_EQ(pipe->AuCount(), 0u);
      EXPECT_TRUE(d.units.empty());
      EXPECT_TRUE(d.ts.empty());
      continue;
    }
    const int64_t expected_last = c.last == 31 ? count - 1 : c.last;
    EXPECT_EQ(first, c.first);
    EXPECT_EQ(last, expected_last);
    ASSERT_EQ(d.units.size(), expected_last - c.first + 1);
    // The first unit of the range is presented at 131070 whatever its place in the file.
    EXPECT_EQ(d.units.front().entry.pts, kFirstAuTime);
    EXPECT_TRUE(d.ended_with_end_unit);
  }
}

// A video range inside a GOP starts at the nearest random access unit (the later on a tie) and
// ends before the random access unit nearest its end.
TEST(Pipe, VideoRangeSnapsToRandomAccess) {
  test::TempDir dir;
  SPipeSource source = CopyFixture(dir, "video/mpeg2_1080i.m2v");
  std::vector<uint32_t> access;
  uint32_t count = 0;
  {
    auto whole = OpenPipe(source);
    ASSERT_TRUE(whole);
    const CStreamInfo& info = whole->PrimaryReader()->info;
    count = info.header.auCount;
    for (uint32_t i = 0; i < count; ++i) {
      if (info.GetAu(i)->flags & au_flag::kRandomAccess) access.push_back(i);
    }
  }
  ASSERT_GE(access.size(), 3u);
  const uint32_t a = access[1], b = access[2];
  ASSERT_GT(b - a, 2u);
  struct Case {
    uint32_t start, end;
    std::pair<uint32_t, uint32_t> selected;
  };
  const uint32_t middle = (a + b) / 2;
  const uint32_t middle_goes_to = (b - a) % 2 == 0 ? b : (middle - a < b - middle ? a : b);
  const Case cases[] = {
      {a + 1, b - 1, {a, b - 1}},
      {a + 1, 0, {a, count - 1}},
      {middle, 0, {middle_goes_to, count - 1}},
      {0, b - 1, {0, b - 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.start << ".." << c.end);
    source.range_start = static_cast<int32_t>(c.start);
    source.range_end = static_cast<int32_t>(c.end);
    auto pipe = OpenPipe(source);
    ASSERT_TRUE(pipe);
    EXPECT_EQ(Selected(*pipe), c.selected);
  }
}

// A stream info file written by the test: its header, record and entries over a source.
void WriteStreamInfo(const fs::path& source, uint8_t type, const std::vector<SAuEntry>& entries) {
  CStreamInfo info;
  ASSERT_TRUE(OpenStreamInfo(info, source, true));
  info.CreateRecord(type);
  info.header.auCount = static_cast<uint32_t>(entries.size());
  info.header.auDuration = 10;
  uint64_t total = 0;
  for (const SAuEntry& e : entries) total += e.size;
  info.header.totalSize = total;
  ASSERT_TRUE(SourceModificationTime(source, info.header.sourceTime));
  ASSERT_TRUE(info.WriteHeaderAndRecord());
  LeWriter w;
  for (const SAuEntry& e : entries) e.Write(w);
  ASSERT_TRUE(info.Append(w.bytes()));
  ASSERT_TRUE(info.WriteHeaderAndRecord());
}

SAuEntry Unit(uint32_t size, uint64_t offset, uint32_t n) {
  SAuEntry e;
  e.size = size;
  e.offset = offset;
  e.pts = e.dts = kFirstAuTime + n * 900;
  return e;
}

// Units past 4 GiB in a sparse source: offsets are 64-bit all the way to the bytes read.
TEST(Pipe, SparseSourcePastFourGigabytes) {
  test::TempDir dir;
  const fs::path path = dir / "sparse.dts";
  const uint64_t base = (4ull << 30) + 12345;
  std::vector<uint8_t> unit(3000);
  for (size_t i = 0; i < unit.size(); ++i) unit[i] = static_cast<uint8_t>(i * 7 + 1);
  {
    std::ofstream out(path, std::ios::binary);
    for (int n = 0; n < 3; ++n) {
      out.seekp(static_cast<std::streamoff>(base + n * 100000));
      out.write(reinterpret_cast<const char*>(unit.data()),
                static_cast<std::streamsize>(unit.size()));
    }
  }
  std::vector<SAuEntry> entries;
  for (uint32_t n = 0; n < 3; ++n) entries.push_back(Unit(3000, base + n * 100000, n));
  WriteStreamInfo(path, coding::kDts, entries);
  SPipeSource source;
  source.path = path;
  auto pipe = OpenPipe(source);
  ASSERT_TRUE(pipe);
  EXPECT_EQ(pipe->TotalBytes(), 200000u + 3000u);
  const Drained d = Drain(*pipe, false);
  ASSERT_EQ(d.units.size(), 3u);
  // Reassemble the first unit from its packets.
  std::vector<uint8_t> got;
  for (uint32_t i = 0; i < d.units[0].packets; ++i) {
    const uint8_t* bytes = d.ts.data() + i * kTransportPacketSize;
    TransportPacket packet;
    const size_t header = ReadTransportPacket({bytes, kTransportPacketSize}, packet);
    got.insert(got.end(), bytes + header, bytes + kTransportPacketSize);
  }
  EXPECT_EQ(got, unit);
  EXPECT_EQ(d.units[0].entry.offset, base);
}

// A stream info file whose entries do not fit the source is not trusted: the source is analysed
// again (here it is no stream at all) and no pipe opens.
TEST(Pipe, DamagedEntriesAreNotFollowed) {
  struct Case {
    const char* name;
    SAuEntry second;
  };
  const Case cases[] = {
      {"past the end", Unit(100, 5000, 1)},
      {"straddles the end", Unit(200, 900, 1)},
      {"huge size", Unit(0xFFFFFFF0u, 0, 1)},
      {"offset overflow", Unit(100, ~0ull - 50, 1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    const fs::path path = dir / "damaged.dts";
    test::WriteFile(path, std::vector<uint8_t>(1000, 0x55));
    WriteStreamInfo(path, coding::kDts, {Unit(100, 0, 0), c.second});
    SPipeSource source;
    source.path = path;
    test::ScopedRecordingPrompt prompt;
    std::unique_ptr<CPipe> pipe;
    EXPECT_NE(CreatePipe(source, nullptr, pipe), 0);
    EXPECT_FALSE(pipe);
  }
}

// A unit of no bytes fits any source but would pass for the end unit: the read fails instead.
TEST(Pipe, UnitOfNoBytesFailsWithTheReadError) {
  test::TempDir dir;
  const fs::path path = dir / "empty-unit.dts";
  test::WriteFile(path, std::vector<uint8_t>(1000, 0x55));
  WriteStreamInfo(path, coding::kDts, {Unit(100, 0, 0), Unit(0, 500, 1)});
  SPipeSource source;
  source.path = path;
  test::ScopedRecordingPrompt prompt;
  auto pipe = OpenPipe(source);
  ASSERT_TRUE(pipe);
  ASSERT_NE(pipe->NextAu(), nullptr);
  EXPECT_EQ(pipe->NextAu(), nullptr);
  EXPECT_TRUE(pipe->failed());
  ASSERT_EQ(prompt.messages().size(), 1u);
  EXPECT_EQ(prompt.messages()[0], path.string() + "\nRead file erorr! ");
}

// A source cut after the pipe opened: the short read fails with the file error and nothing is
// sent from past the cut.
TEST(Pipe, SourceCutAfterOpenFailsWithTheReadError) {
  test::TempDir dir;
  const fs::path path = dir / "cut.dts";
  test::WriteFile(path, std::vector<uint8_t>(size_t{3} << 20, 0x55));
  WriteStreamInfo(path, coding::kDts, {Unit(100, 0, 0), Unit(800, size_t{5} << 19, 1)});
  SPipeSource source;
  source.path = path;
  test::ScopedRecordingPrompt prompt;
  auto pipe = OpenPipe(source);
  ASSERT_TRUE(pipe);
  fs::resize_file(path, size_t{2} << 20);
  ASSERT_NE(pipe->NextAu(), nullptr);
  EXPECT_EQ(pipe->NextAu(), nullptr);
  EXPECT_TRUE(pipe->failed());
  EXPECT_EQ(pipe->NextAu(), nullptr);
  ASSERT_EQ(prompt.messages().size(), 1u);
  EXPECT_EQ(prompt.messages()[0], path.string() + "\nRead file erorr! ");
}

// One packet for a small unit (stuffed through the adaptation field); PES_packet_length 0 for a
// unit of 64 KiB or more; the continuity counter wraps.
TEST(Pipe, PacketLayoutEdges) {
  test::TempDir dir;
  const fs::path path = dir / "edges.dts";
  test::WriteFile(path, std::vector<uint8_t>(70000 + 167 + 168, 0xAA));
  WriteStreamInfo(path, coding::kDts, {Unit(167, 0, 0), Unit(168, 167, 1), Unit(70000, 335, 2)});
  SPipeSource source;
  source.path = path;
  auto pipe = OpenPipe(source);
  ASSERT_TRUE(pipe);
  const Drained d = Drain(*pipe, false);
  ASSERT_EQ(d.units.size(), 3u);
  EXPECT_EQ(d.units[0].packets, 1u);  // 170 - 3 bytes of PES extension
  EXPECT_EQ(d.units[1].packets, 2u);
  const auto headers = CheckPackets(d);  // includes the wrap of the counter
  ASSERT_EQ(headers.size(), 3u);
  EXPECT_EQ(headers[0].PES_PacketLength, 178);
  EXPECT_EQ(headers[2].PES_PacketLength, 0);
  EXPECT_GT(d.ts.size() / kTransportPacketSize, 16u);
  TransportPacket first;
  ReadTransportPacket({d.ts.data(), kTransportPacketSize}, first);
  EXPECT_FALSE(first.HasAdaptationField());  // exactly full
  EXPECT_TRUE(d.ended_with_end_unit);
}

// Opening fails with the messages of the analysis and of the file system.
TEST(Pipe, OpenFailures) {
  test::TempDir dir;
  test::WriteFile(dir / "noise.bin", std::vector<uint8_t>(4000, 0x11));
  struct Case {
    fs::path path;
    std::string message;
  };
  const Case cases[] = {
      {dir / "noise.bin", (dir / "noise.bin").string() + "\nUnknown file format! "},
      {dir / "missing.ac3", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.string());
    test::ScopedRecordingPrompt prompt;
    SPipeSource source;
    source.path = c.path;
    std::unique_ptr<CPipe> pipe;
    EXPECT_EQ(CreatePipe(source, nullptr, pipe), 2);
    EXPECT_FALSE(pipe);
    ASSERT_EQ(prompt.messages().size(), 1u);
    if (!c.message.empty()) {
      EXPECT_EQ(prompt.messages()[0], c.message);
    } else {
      EXPECT_NE(prompt.messages()[0].find(c.path.string()), std::string::npos);
    }
    EXPECT_FALSE(fs::exists(StreamInfoPath(c.path)));
  }
}

// A file list plays its files one after another on one PID with one continuity count.
TEST(Pipe, FileListPlaysFilesInOrder) {
  test::TempDir dir;
  SPipeSource source;
  source.file_list = {CopyFixture(dir, "ac3_20_192k.ac3").path,
                      CopyFixture(dir, "ac3_51_448k.ac3").path};
  auto pipe = OpenPipe(source);
  ASSERT_TRUE(pipe);
  EXPECT_NE(dynamic_cast<CFlPipe*>(pipe.get()), nullptr);
  const uint64_t total = pipe->TotalBytes();
  EXPECT_EQ(total, fs::file_size(source.file_list[0]) + fs::file_size(source.file_list[1]));
  const Drained d = Drain(*pipe, false);
  uint64_t bytes = 0;
  for (const SentUnit& u : d.units) bytes += u.entry.size;
  EXPECT_EQ(bytes, total);
  CheckPackets(d);
  EXPECT_TRUE(d.ended_with_end_unit);
}

}  // namespace
}  // namespace tessel
