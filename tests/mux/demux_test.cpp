// Demux of real clips (small copies of the fixture discs, see tests/data/README.md) against the
// elementary streams they were muxed from, against ffmpeg, and on damaged copies.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "formats/tables.h"
#include "mux/demux.h"
#include "platform/files.h"
#include "support/cancel_after.h"
#include "support/test_support.h"
#include "support/video_probe.h"

namespace tessel {
namespace {

std::unique_ptr<SRipTrack> Track(uint16_t pid, uint8_t coding_type, int32_t clip = 0) {
  auto track = std::make_unique<SRipTrack>();
  track->pid = pid;
  track->clip_number = clip;
  track->attributes.StreamCodingType = coding_type;
  return track;
}

// A demux into memory sinks: each output file by name.
class MemoryDemux {
 public:
  SinkFactory Factory() {
    return [this](const std::string& path, std::string&) -> std::unique_ptr<CByteSink> {
      auto sink = std::make_unique<CMemorySink>();
      sinks_[path] = sink.get();
      return sink;
    };
  }

  JobResult Run(const std::vector<std::string>& clips, SRipTracks& tracks,
                const ProgressCallback& progress = nullptr) {
    std::vector<SRipTrack*> list;
    for (auto& t : tracks) list.push_back(t.get());
    if (!CreateDemuxWriters("out", "00000", list, set, Factory())) return JobResult::kFailed;
    for (const std::string& clip : clips) {
      std::vector<uint8_t> data;
      EXPECT_TRUE(ReadWholeFile(test::DataPath(clip), data)) << clip;
      CMemorySource source(data);
      const JobResult r = DemuxStreamFile(source, clip, set, progress, report);
      if (r != JobResult::kDone) return r;
    }
    std::string error;
    EXPECT_TRUE(set.Finish(error)) << error;
    return JobResult::kDone;
  }

  const std::vector<uint8_t>& File(const std::string& name) const {
    static const std::vector<uint8_t> none;
    const auto it = sinks_.find("out/" + name);
    return it == sinks_.end() ? none : it->second->bytes();
  }
  bool Created(const std::string& name) const {
    return std::find(set.created.begin(), set.created.end(), "out/" + name) != set.created.end();
  }

  CTrackInfoMap set;
  SDemuxReport report;

 private:
  std::map<std::string, CMemorySink*> sinks_;
};

std::vector<uint8_t> Slice(const std::vector<uint8_t>& v, size_t from, size_t n = SIZE_MAX) {
  from = std::min(from, v.size());
  return {v.begin() + static_cast<ptrdiff_t>(from),
          v.begin() + static_cast<ptrdiff_t>(std::min(v.size(), from + std::min(n, v.size())))};
}

uint32_t Le32(const std::vector<uint8_t>& v, size_t at) {
  return v[at] | v[at + 1] << 8 | v[at + 2] << 16 | static_cast<uint32_t>(v[at + 3]) << 24;
}
uint16_t Le16(const std::vector<uint8_t>& v, size_t at) {
  return static_cast<uint16_t>(v[at] | v[at + 1] << 8);
}
uint32_t Be32(const std::vector<uint8_t>& v, size_t at) {
  return static_cast<uint32_t>(v[at]) << 24 | v[at + 1] << 16 | v[at + 2] << 8 | v[at + 3];
}

// The head of a clip gives the head of each stream: the output must be a prefix of the stream
// the independent muxer was fed.
struct PrefixCase {
  const char* clip;
  uint16_t pid;
  uint8_t coding_type;
  const char* output;
  const char* reference;
  size_t skip;  // header bytes of the output that the reference does not have
};

class DemuxPrefix : public testing::TestWithParam<PrefixCase> {};

TEST_P(DemuxPrefix, EqualsTheMuxedStream) {
  const PrefixCase& c = GetParam();
  SRipTracks tracks;
  tracks.push_back(Track(c.pid, c.coding_type));
  MemoryDemux demux;
  ASSERT_EQ(demux.Run({c.clip}, tracks), JobResult::kDone);
  EXPECT_TRUE(demux.report.damage.empty());
  const std::vector<uint8_t> out = Slice(demux.File(c.output), c.skip);
  const std::vector<uint8_t> reference = test::ReadData(c.reference);
  ASSERT_GT(out.size(), 1000u);
  ASSERT_LE(out.size(), reference.size());
  EXPECT_TRUE(std::equal(out.begin(), out.end(), reference.begin()));
}

constexpr const char* kSimple = "ts/simple_00000_head1000.m2ts";
constexpr const char* kZoo = "ts/audiozoo_00000_head1000.m2ts";
constexpr const char* kMpeg2 = "ts/mpeg2_00000_head1000.m2ts";

INSTANTIATE_TEST_SUITE_P(
    FixtureDiscs, DemuxPrefix,
    testing::Values(
        PrefixCase{kSimple, 0x1100, 0x81, "00000_4352.ac3", "demux/ac3_51_448k.ac3.prefix", 0},
        PrefixCase{kSimple, 0x1101, 0x80, "00000_4353.wav", "demux/lpcm_20_16bit.wav.prefix", 44},
        PrefixCase{kZoo, 0x1100, 0x81, "00000_4352.ac3", "demux/ac3_51_448k_5s.ac3.prefix", 0},
        PrefixCase{kZoo, 0x1101, 0x84, "00000_4353.ddp", "demux/eac3_51_384k.eac3.prefix", 0},
        PrefixCase{kZoo, 0x1102, 0x82, "00000_4354.dts", "demux/dts_51_768k.dts.prefix", 0},
        PrefixCase{kZoo, 0x1103, 0x83, "00000_4355.ac3", "demux/ac3_51_448k_5s.ac3.prefix", 0},
        PrefixCase{kZoo, 0x1103, 0x83, "00000_4355.mlp", "demux/truehd_51.thd.prefix", 0},
        PrefixCase{kZoo, 0x1104, 0x80, "00000_4356.wav", "demux/lpcm_51_24bit.wav.prefix", 68},
        PrefixCase{kZoo, 0x1A00, 0xA1, "00000_6656.ddp", "demux/eac3_20_128k.eac3.prefix", 0},
        PrefixCase{kMpeg2, 0x1011, 0x02, "00000_4113.m2v", "demux/mpeg2_1080i2997.m2v.prefix", 0},
        PrefixCase{kMpeg2, 0x1100, 0x81, "00000_4352.ac3", "demux/ac3_51_448k_5s.ac3.prefix", 0}),
    [](const testing::TestParamInfo<PrefixCase>& param_info) {
      std::string name =
          std::string(param_info.param.clip).substr(3, 6) + "_" + param_info.param.output;
      for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      }
      return name;
    });

TEST(Demux, NamesFilesByBaseAndDecimalPid) {
  EXPECT_EQ(DemuxFileName("out", "00001", 0x1100, ".ac3"), "out/00001_4352.ac3");
  EXPECT_EQ(DemuxFileName("out/", "dir/00001.m2ts", 0x1100, ".mlp"), "out/00001_4352.mlp");
  EXPECT_EQ(DemuxFileName("", "00007", 0x1200, ".sup"), "00007_4608.sup");
}

TEST(Demux, TrueHdSplitsByCoreAndEac3WithoutCoreKeepsOneFile) {
  SRipTracks tracks;
  tracks.push_back(Track(0x1103, 0x83));
  tracks.push_back(Track(0x1101, 0x84));
  MemoryDemux demux;
  ASSERT_EQ(demux.Run({kZoo}, tracks), JobResult::kDone);
  EXPECT_TRUE(demux.Created("00000_4355.ac3"));
  EXPECT_TRUE(demux.Created("00000_4355.mlp"));
  EXPECT_FALSE(demux.File("00000_4355.ac3").empty());
  EXPECT_FALSE(demux.File("00000_4355.mlp").empty());
  // Every packet of this E-AC-3 stream has priority 1, yet no frame is an AC-3 core.
  EXPECT_FALSE(demux.Created("00000_4353.ac3"));
  EXPECT_TRUE(demux.Created("00000_4353.ddp"));
}

TEST(Demux, WaveHeaders) {
  struct Case {
    const char* clip;
    uint16_t pid;
    const char* name;
    uint32_t fmt_size;
    uint16_t tag, channels, block_align, bits, valid_bits;
    uint32_t mask;
  };
  const Case cases[] = {
      {kSimple, 0x1101, "00000_4353.wav", 16, 1, 2, 4, 16, 0, 0},
      {kZoo, 0x1104, "00000_4356.wav", 40, 0xFFFE, 6, 18, 24, 24, 0x3F},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SRipTracks tracks;
    tracks.push_back(Track(c.pid, 0x80));
    MemoryDemux demux;
    ASSERT_EQ(demux.Run({c.clip}, tracks), JobResult::kDone);
    const std::vector<uint8_t>& w = demux.File(c.name);
    ASSERT_GT(w.size(), 100u);
    EXPECT_EQ(std::string(w.begin(), w.begin() + 4), "RIFF");
    EXPECT_EQ(Le32(w, 4), w.size() - 8);
    EXPECT_EQ(std::string(w.begin() + 8, w.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(Le32(w, 16), c.fmt_size);
    EXPECT_EQ(Le16(w, 20), c.tag);
    EXPECT_EQ(Le16(w, 22), c.channels);
    EXPECT_EQ(Le32(w, 24), 48000u);
    EXPECT_EQ(Le32(w, 28), 48000u * c.block_align);
    EXPECT_EQ(Le16(w, 32), c.block_align);
    EXPECT_EQ(Le16(w, 34), c.bits);
    const size_t data = 20 + c.fmt_size;
    if (c.fmt_size == 40) {
      EXPECT_EQ(Le16(w, 36), 22);
      EXPECT_EQ(Le16(w, 38), c.valid_bits);
      EXPECT_EQ(Le32(w, 40), c.mask);
      EXPECT_EQ(Le32(w, 44), 1u);  // the PCM sub-format
    }
    EXPECT_EQ(std::string(w.begin() + data, w.begin() + data + 4), "data");
    EXPECT_EQ(Le32(w, data + 4), w.size() - data - 8);
    EXPECT_EQ((w.size() - data - 8) % c.block_align, 0u);
  }
}

// One "PG" segment of a segment file: its times and the segment itself.
struct SupSegment {
  uint32_t pts, dts;
  std::vector<uint8_t> bytes;
};

std::vector<SupSegment> SupSegments(const std::vector<uint8_t>& f) {
  std::vector<SupSegment> out;
  for (size_t p = 0; p + 13 <= f.size();) {
    EXPECT_EQ(f[p], 'P');
    const size_t n = 3u + (f[p + 11] << 8 | f[p + 12]);
    out.push_back({Be32(f, p + 2), Be32(f, p + 6), Slice(f, p + 10, n)});
    p += 10 + n;
  }
  return out;
}

TEST(Demux, GraphicsSegmentsAndTimes) {
  SRipTracks tracks;
  tracks.push_back(Track(0x1200, 0x90));
  MemoryDemux demux;
  ASSERT_EQ(demux.Run({"demux/simple_pg.m2ts"}, tracks), JobResult::kDone);
  const std::vector<SupSegment> ours = SupSegments(demux.File("00000_4608.sup"));
  const std::vector<SupSegment> reference = SupSegments(test::ReadData("es/pgs_1080_eng.sup"));
  ASSERT_EQ(ours.size(), reference.size());
  ASSERT_FALSE(ours.empty());
  EXPECT_EQ(ours[0].dts, 131070u);
  const uint32_t shift = ours[0].pts - reference[0].pts;
  for (size_t i = 0; i < ours.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(ours[i].bytes, reference[i].bytes);
    EXPECT_EQ(ours[i].pts - reference[i].pts, shift);
    // The reference repeats the PTS where the PES has no DTS; ours writes 0 there.
    if (ours[i].dts == 0) {
      EXPECT_EQ(reference[i].dts, reference[i].pts);
    } else {
      EXPECT_EQ(ours[i].dts - reference[i].dts, shift);
    }
  }
}

TEST(Demux, SeveralClipsIntoOneWriterSet) {
  SRipTracks tracks;
  tracks.push_back(Track(0x1100, 0x81));
  MemoryDemux demux;
  ASSERT_EQ(demux.Run({"demux/multiclip_00000_ac3.m2ts", "demux/multiclip_00001_ac3.m2ts",
                       "demux/multiclip_00002_ac3.m2ts"},
                      tracks),
            JobResult::kDone);
  EXPECT_EQ(demux.File("00000_4352.ac3"), test::ReadData("demux/ac3_20_192k.ac3"));
}

TEST(Demux, TextSubtitlesAndUnkeptTracksGetNoWriter) {
  SRipTracks tracks;
  tracks.push_back(Track(0x1800, 0x92));
  tracks.push_back(Track(0x1100, 0x81));
  tracks.back()->keep = 0;
  MemoryDemux demux;
  ASSERT_EQ(demux.Run({kSimple}, tracks), JobResult::kDone);
  EXPECT_TRUE(demux.set.created.empty());
}

TEST(Demux, CancelRemovesThisRunsFiles) {
  const test::TempDir dir;
  SRipTracks tracks;
  tracks.push_back(Track(0x1100, 0x81));
  tracks.push_back(Track(0x1101, 0x80));
  std::vector<SRipTrack*> list = {tracks[0].get(), tracks[1].get()};
  CFileSource source(test::DataPath(kSimple));
  test::CancelAfter cancel(2);
  SDemuxReport report;
  EXPECT_EQ(DemuxClip(dir.path().string(), list, source, "00000.m2ts", cancel.callback(), report),
            JobResult::kCancelled);
  EXPECT_TRUE(fs::is_empty(dir.path()));
  test::CancelAfter never(0);
  EXPECT_EQ(DemuxClip(dir.path().string(), list, source, "00000.m2ts", never.callback(), report),
            JobResult::kDone);
  EXPECT_TRUE(fs::exists(dir / "00000_4352.ac3"));
  EXPECT_TRUE(fs::exists(dir / "00000_4353.wav"));
  ASSERT_FALSE(never.records().empty());
  EXPECT_EQ(never.records()[0].title, "Demuxing");
  EXPECT_EQ(never.records().back().position, 100);
}

TEST(Demux, WriterBuffersStayWithinTheBudgetHoweverManyTracks) {
  for (const uint16_t count : {1, 8, 64, 200}) {
    SCOPED_TRACE(count);
    SRipTracks tracks;
    for (uint16_t i = 0; i < count; ++i) {
      tracks.push_back(Track(static_cast<uint16_t>(0x1100 + i), 0x83));
    }
    MemoryDemux demux;
    ASSERT_EQ(demux.Run({kSimple}, tracks), JobResult::kDone);
    size_t total = 0;
    for (const auto& [pid, info] : demux.set.tracks) {
      for (const auto& writer : info.writers) total += writer ? writer->capacity() : 0;
    }
    EXPECT_LE(total, std::max(kDemuxBufferBudget, 2 * count * kWriterBufferMin));
    EXPECT_LE(total, 64u << 20);
  }
}

std::string Quoted(const fs::path& p) {
  return "'" + p.string() + "'";
}

bool HaveFfmpeg() {
  return std::system("ffmpeg -version >/dev/null 2>&1") == 0;
}

TEST(DemuxConformance, H264EqualsFfmpegCopyAndKeepsUnitsAndKeyFlags) {
  if (!HaveFfmpeg() || !test::HaveFfprobe()) GTEST_SKIP() << "no ffmpeg";
  const test::TempDir dir;
  SRipTracks tracks;
  tracks.push_back(Track(0x1011, 0x1B));
  std::vector<SRipTrack*> list = {tracks[0].get()};
  CFileSource source(test::DataPath(kZoo));
  SDemuxReport report;
  ASSERT_EQ(DemuxClip(dir.path().string(), list, source, "00000.m2ts", nullptr, report),
            JobResult::kDone);
  const fs::path ours = dir / "00000_4113.264";
  const fs::path theirs = dir / "ffmpeg.264";
  const std::string command = "ffmpeg -v error -y -i " + Quoted(test::DataPath(kZoo)) +
                              " -map 0:v:0 -c copy -f h264 " + Quoted(theirs);
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::vector<uint8_t> a, b;
  ASSERT_TRUE(ReadWholeFile(ours, a));
  ASSERT_TRUE(ReadWholeFile(theirs, b));
  EXPECT_EQ(a, b);
  const auto source_packets = test::Ffprobe(test::DataPath(kZoo), "packet", "flags");
  const auto our_packets = test::Ffprobe(ours, "packet", "flags");
  ASSERT_FALSE(source_packets.empty());
  ASSERT_EQ(our_packets.size(), source_packets.size());
  for (size_t i = 0; i < our_packets.size(); ++i) {
    EXPECT_EQ(our_packets[i].at("flags")[0], source_packets[i].at("flags")[0]) << i;
  }
}

TEST(DemuxConformance, LpcmEqualsFfmpegDecode) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
  const test::TempDir dir;
  SRipTracks tracks;
  tracks.push_back(Track(0x1104, 0x80));
  MemoryDemux demux;
  ASSERT_EQ(demux.Run({kZoo}, tracks), JobResult::kDone);
  const std::vector<uint8_t> ours = Slice(demux.File("00000_4356.wav"), 68);
  const fs::path raw = dir / "ffmpeg.raw";
  const std::string command = "ffmpeg -v error -y -i " + Quoted(test::DataPath(kZoo)) +
                              " -map 0:i:0x1104 -c:a pcm_s24le -f s24le " + Quoted(raw);
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::vector<uint8_t> theirs;
  ASSERT_TRUE(ReadWholeFile(raw, theirs));
  const size_t n = std::min(ours.size(), theirs.size());
  ASSERT_GT(n, 10000u);
  EXPECT_TRUE(std::equal(ours.begin(), ours.begin() + static_cast<ptrdiff_t>(n), theirs.begin()));
}

}  // namespace
}  // namespace tessel

namespace tessel {
namespace {

TEST(DemuxWriters, RiffSizesPast4GiBAreTheLargestValue) {
  const std::pair<uint64_t, uint32_t> cases[] = {{0, 0},
                                                 {36, 36},
                                                 {0xFFFFFFFEull, 0xFFFFFFFE},
                                                 {0xFFFFFFFFull, 0xFFFFFFFF},
                                                 {0x100000000ull, 0xFFFFFFFF},
                                                 {0x100000024ull, 0xFFFFFFFF},
                                                 {1ull << 40, 0xFFFFFFFF}};
  for (const auto& [size, field] : cases) EXPECT_EQ(RiffSizeField(size), field) << size;
}

// A 24-bit stereo LPCM unit cut at every place: samples are turned around across the cuts.
TEST(DemuxWriters, LpcmSamplesSwapAcrossPacketBoundaries) {
  const uint8_t header[4] = {0x00, 0x0C, 0x31, 0xC0};  // stereo, 48 kHz, 24 bits
  const std::vector<uint8_t> samples = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  const std::vector<uint8_t> expected = {3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10};
  for (size_t cut = 1; cut < 16; ++cut) {
    SCOPED_TRACE(cut);
    auto sink = std::make_unique<CMemorySink>();
    CMemorySink* memory = sink.get();
    SPcmTrackFile writer(std::move(sink), 1024);
    std::vector<uint8_t> unit(header, header + 4);
    unit.insert(unit.end(), samples.begin(), samples.end());
    writer.BeginUnit({90000, {}}, 0, 0);
    for (size_t at = 0; at < unit.size(); at += cut) {
      writer.Payload(std::span(unit).subspan(at, std::min(cut, unit.size() - at)));
    }
    ASSERT_TRUE(writer.Finish());
    EXPECT_EQ(Slice(memory->bytes(), 44), expected);
  }
}

TEST(DemuxWriters, LpcmWithUnknownCodesFails) {
  const uint8_t headers[][4] = {
      {0x00, 0x0C, 0x32, 0x40},  // sampling frequency code 2
      {0x00, 0x0C, 0x31, 0x00},  // bits per sample code 0
      {0x00, 0x0C, 0xC1, 0x40},  // channel assignment 12
  };
  for (const auto& h : headers) {
    SPcmTrackFile writer(std::make_unique<CMemorySink>(), 1024);
    writer.BeginUnit({0, {}}, 0, 0);
    writer.Payload(h);
    EXPECT_TRUE(writer.failed());
    EXPECT_NE(writer.error().find("unknown codes"), std::string::npos) << writer.error();
    EXPECT_EQ(writer.size(), 0u);
  }
}

// Graphics times count from the file's base plus the set's offset, lifted so that the first
// segment comes out at 131070 or later.
TEST(DemuxWriters, GraphicsHeadersAndLift) {
  struct Case {
    uint64_t pts;
    std::optional<uint64_t> dts;
    uint64_t base;
    int64_t offset;
    uint32_t out_pts, out_dts;
  };
  const Case cases[] = {
      {1000, {}, 1000, 0, 131070, 0},
      {5000, 2000, 1000, 0, 134070, 131070},
      {500000, {}, 1000, 0, 499000, 0},  // late enough: no lift
      {1000, {}, 1000, 900000, 900000, 0},
      {100, {}, (1ull << 33) - 100, 0, 131070, 0},  // across the 33-bit wrap
  };
  for (const Case& c : cases) {
    auto sink = std::make_unique<CMemorySink>();
    CMemorySink* memory = sink.get();
    SIgTrackFile writer(std::move(sink), 1024);
    writer.BeginUnit({c.pts, c.dts}, c.base, c.offset);
    ASSERT_TRUE(writer.Finish());
    const std::vector<uint8_t>& h = memory->bytes();
    ASSERT_EQ(h.size(), 10u);
    EXPECT_EQ(h[0], 'I');
    EXPECT_EQ(h[1], 'G');
    EXPECT_EQ(Be32(h, 2), c.out_pts) << c.pts;
    EXPECT_EQ(Be32(h, 6), c.out_dts) << c.pts;
  }
}

}  // namespace
}  // namespace tessel
