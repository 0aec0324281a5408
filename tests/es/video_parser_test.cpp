// The three video parsers run as a new track runs them (ParseElementaryFile over a file beside
// its stream info file), checked against what ffprobe reads from the same files, and the stream
// info file they leave read back through its record classes.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>

#include <gtest/gtest.h>

#include "es/h264.h"
#include "es/mpeg2.h"
#include "es/parser_base.h"
#include "es/vc1.h"
#include "support/test_support.h"
#include "support/video_probe.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;

struct Fixture {
  const char* file;  // below es/
  uint8_t coding_type;
  bool open_gops;  // ffprobe also calls recovery-point and open-GOP I pictures key frames
  SStdSpec model;
  int validate;  // what the record's own disc check says
};

const Fixture kFixtures[] = {
    {"video/h264_1080p_aud.264", coding::kH264, false, {StdKind::kAvc, 41, true}, 0},
    {"video/h264_720p_noaud_opengop.264", coding::kH264, true, {StdKind::kAvc, 41, true}, 0},
    {"video/h264_1080i_tff.264", coding::kH264, false, {StdKind::kAvc, 41, true}, 0},
    // The analysis accepts a known rate outside the allowed pairs; the record still says so.
    {"video/h264_1080p25.264", coding::kH264, false, {StdKind::kAvc, 41, true}, 26},
    {"video/mpeg2_1080i.m2v", coding::kMpeg2Video, false, {StdKind::kMpeg2, 0x44, true}, 0},
    {"video/mpeg2_480i.m2v", coding::kMpeg2Video, true, {StdKind::kMpeg2, 0x48, true}, 0},
    {"vc1/vc1_1080p_two_segments.vc1", coding::kVc1, false, {StdKind::kVc1, 3, true}, 0},
    {"vc1/vc1_1080i_fields.vc1", coding::kVc1, false, {StdKind::kVc1, 3, true}, 0},
};

std::string FixtureName(const testing::TestParamInfo<Fixture>& info) {
  std::string name = fs::path(info.param.file).stem().string();
  std::replace_if(
      name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
  return name;
}

std::vector<uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  uint32_t v = 0;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

// The Blu-ray codes of what ffprobe reports.
uint8_t FrameRateCodeOf(const std::string& rate) {
  static const std::map<std::string, uint8_t> codes = {{"24000/1001", 1}, {"24/1", 2},
                                                       {"25/1", 3},       {"30000/1001", 4},
                                                       {"50/1", 6},       {"60000/1001", 7}};
  const auto it = codes.find(rate);
  return it == codes.end() ? 255 : it->second;
}

uint8_t AspectCodeOf(const std::string& ratio) {
  return ratio == "4:3" ? 2 : ratio == "16:9" ? 3 : 0;
}

class VideoParser : public testing::TestWithParam<Fixture> {
 protected:
  // Analyses a copy of the fixture; `info` is left open on the written stream info file.
  int Parse(const std::string& name, CStreamInfo& info, std::string& message) {
    source_ = dir_ / name;
    fs::copy_file(test::DataPath(std::string("es/") + GetParam().file), source_);
    return ParseElementaryFile(source_, info, message, nullptr);
  }

  test::TempDir dir_;
  fs::path source_;
};

TEST_P(VideoParser, StreamInfoAgreesWithFfprobe) {
  if (!test::HaveFfprobe()) GTEST_SKIP() << "ffprobe is not installed";
  const Fixture& f = GetParam();
  {
    CStreamInfo written;
    std::string message;
    ASSERT_EQ(Parse(fs::path(f.file).filename().string(), written, message), 0) << message;
  }
  ASSERT_EQ(CheckStreamInfo(source_), StreamInfoState::kCurrent);
  CStreamInfo info;
  ASSERT_TRUE(OpenStreamInfo(info, source_, false));
  const SSifHeader& h = info.header;
  EXPECT_EQ(h.streamCodingType, f.coding_type);
  const auto* video = dynamic_cast<const CVideoSif*>(info.record.get());
  ASSERT_NE(video, nullptr);
  EXPECT_EQ(video->VideoCodingType(), f.coding_type);

  const auto streams = test::Ffprobe(source_, "stream",
                                     "width,height,r_frame_rate,field_order,display_aspect_ratio");
  ASSERT_EQ(streams.size(), 1u);
  const test::ProbeRecord& s = streams[0];
  const bool progressive = s.at("field_order") == "progressive";
  EXPECT_EQ(std::to_string(video->width), s.at("width"));
  EXPECT_EQ(std::to_string(video->height), s.at("height"));
  EXPECT_EQ(video->progressive, progressive ? 1 : 0);
  EXPECT_EQ(video->video_format, VideoFormatFromHeight(video->height, progressive, 0));
  EXPECT_EQ(video->frame_rate_code, FrameRateCodeOf(s.at("r_frame_rate")));
  EXPECT_EQ(video->aspect_code, AspectCodeOf(s.at("display_aspect_ratio")));
  const std::string& rate = s.at("r_frame_rate");
  const size_t slash = rate.find('/');
  const double fps = std::stod(rate.substr(0, slash)) / std::stod(rate.substr(slash + 1));
  EXPECT_NEAR(h.auDuration, 1000.0 / fps, 1e-6);

  // One entry per frame in decoding order, where ffprobe's packets start; key frames agree.
  const auto packets = test::Ffprobe(source_, "packet", "pos,flags");
  ASSERT_EQ(h.auCount, packets.size());
  uint32_t random_access = 0;
  uint32_t min_pts = UINT32_MAX;
  std::vector<SAuEntry> entries;
  for (uint32_t i = 0; i < h.auCount; ++i) {
    const std::optional<SAuEntry> e = info.GetAu(i);
    ASSERT_TRUE(e.has_value()) << i;
    entries.push_back(*e);
    // VC-1 units start at their segment's sequence header, ahead of the frame ffprobe cuts.
    if (f.coding_type != coding::kVc1 || (e->flags & au_flag::kRandomAccess) == 0) {
      EXPECT_EQ(packets[i].at("pos"), std::to_string(e->offset)) << i;
    }
    const bool key = packets[i].at("flags").find('K') != std::string::npos;
    const bool ours = (e->flags & au_flag::kRandomAccess) != 0;
    if (f.open_gops && key && !ours) {
      EXPECT_EQ(e->flags & au_flag::kPictureTypeMask, 1u) << i;
    } else {
      EXPECT_EQ(ours, key) << i;
    }
    if (ours) {
      EXPECT_EQ(e->flags & au_flag::kPictureTypeMask, 1u) << i;
    }
    if (i > 0) {
      EXPECT_GT(e->dts, entries[i - 1].dts) << i;
    }
    EXPECT_GE(e->pts, e->dts) << i;
    random_access += ours;
    min_pts = std::min(min_pts, e->pts);
  }
  EXPECT_FALSE(info.GetAu(h.auCount).has_value());
  EXPECT_EQ(min_pts, kFirstAuTime);
  const SAuEntry& last = entries.back();
  const uint64_t file_size = fs::file_size(source_);
  EXPECT_EQ(last.offset + last.size, file_size);

  // The GOP table: a zero word, then one record per IDR period or GOP header, up to the end.
  const std::vector<uint8_t> sif = ReadFile(info.path());
  ASSERT_EQ(video->gop_table_offset, h.auTableOffset + uint64_t{h.auCount} * SAuEntry::kSize);
  ASSERT_EQ(sif.size(), video->gop_table_offset + 4 + video->gop_count * GOP_INF::kDiskSize);
  EXPECT_EQ(Le32(sif, video->gop_table_offset), 0u);
  EXPECT_EQ(video->gop_count, f.coding_type == coding::kVc1 ? 0 : random_access);
  uint32_t counted = 0;
  for (uint32_t g = 0; g < video->gop_count; ++g) {
    const size_t at = video->gop_table_offset + 4 + g * GOP_INF::kDiskSize;
    const uint32_t units = sif[at];
    const uint32_t i_index = Le32(sif, at + 1);
    // H.264 counts the I picture within its period, MPEG-2 within the stream.
    const uint32_t i_entry = f.coding_type == coding::kH264 ? counted + i_index : i_index;
    ASSERT_LT(i_entry, h.auCount) << g;
    EXPECT_EQ(entries[i_entry].flags & au_flag::kPictureTypeMask, 1u) << g;
    uint64_t offset = 0;
    std::memcpy(&offset, sif.data() + at + 5, 8);
    EXPECT_EQ(offset, entries[i_entry].offset) << g;
    EXPECT_EQ(Le32(sif, at + 13), entries[i_entry].size) << g;
    counted += units;
  }
  if (video->gop_count > 0) {
    EXPECT_EQ(counted, h.auCount);
  }

  SStdSpec models[2];
  ASSERT_EQ(info.record->StdModels(models), 1);
  EXPECT_EQ(models[0].kind, f.model.kind);
  EXPECT_EQ(models[0].parameter, f.model.parameter);
  EXPECT_TRUE(models[0].primary);
  EXPECT_EQ(info.record->Validate(), f.validate);
  StreamAttributeValues values;
  info.record->FillAttributes(values);
  EXPECT_EQ(values.coding_type, f.coding_type);
  EXPECT_EQ(values.video_format, video->video_format);
  EXPECT_EQ(values.frame_rate, video->frame_rate_code);
  EXPECT_EQ(values.aspect_ratio, video->aspect_code);
}

// A name no parser claims, or one that belongs to another codec, still finds the stream's parser
// on the second pass; the record read back equals the one the parse produced.
TEST_P(VideoParser, RecognisedByContentUnderAnyName) {
  const Fixture& f = GetParam();
  for (const char* name : {"stream.bin", "stream.ac3", "stream.M2V", "stream.H264"}) {
    SCOPED_TRACE(name);
    CStreamInfo info;
    std::string message;
    ASSERT_EQ(Parse(name, info, message), 0) << message;
    EXPECT_EQ(info.header.streamCodingType, f.coding_type);
    ASSERT_NE(info.record, nullptr);
    const std::unique_ptr<CSifData> parsed = info.record->Clone();
    info.Close();
    CStreamInfo reread;
    ASSERT_TRUE(OpenStreamInfo(reread, source_, false));
    EXPECT_TRUE(reread.record->IsEqual(*parsed));
    fs::remove(source_);
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, VideoParser, testing::ValuesIn(kFixtures), FixtureName);

// Headers with no picture after them give no entry that a later reader could use: the parse
// fails, and no stream info file stays behind.
TEST(VideoParserErrors, HeadersWithoutPicturesAreRefused) {
  struct Case {
    const char* fixture;
    const char* name;
    uint8_t first_picture_code;  // the start code value whose first appearance is cut away
    uint8_t mask;
  };
  const Case cases[] = {
      {"video/h264_1080p_aud.264", "cut.264", 0x05, 0x1F},        // IDR slice
      {"video/mpeg2_1080i.m2v", "cut.m2v", 0x00, 0xFF},           // picture
      {"vc1/vc1_1080p_two_segments.vc1", "cut.vc1", 0x0D, 0xFF},  // frame
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = test::ReadData(std::string("es/") + c.fixture);
    size_t cut = 0;
    for (size_t i = 0; i + 3 < bytes.size(); ++i) {
      if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 &&
          (bytes[i + 3] & c.mask) == c.first_picture_code) {
        cut = i;
        break;
      }
    }
    ASSERT_GT(cut, 0u);
    bytes.resize(cut);
    test::TempDir dir;
    const fs::path source = dir / c.name;
    std::ofstream(source, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(cut));
    CStreamInfo info;
    std::string message;
    EXPECT_EQ(ParseElementaryFile(source, info, message, nullptr), 8);
    EXPECT_EQ(message, "Syntax illegal! ");
    EXPECT_FALSE(fs::exists(StreamInfoPath(source)));
  }
}

// A cancel during the walk ends the run with 1 and takes the half-written stream info file away;
// the driver's message line and title come first.
TEST(VideoParserErrors, CancelRemovesTheStreamInfoFile) {
  test::TempDir dir;
  const fs::path source = dir / "cancel.264";
  fs::copy_file(test::DataPath("es/video/h264_1080p_aud.264"), source);
  std::vector<ProgressKind> kinds;
  const ProgressCallback progress = [&kinds](const ProgressRecord& record) {
    kinds.push_back(record.kind);
    return record.kind != ProgressKind::kPosition;
  };
  CStreamInfo info;
  std::string message;
  EXPECT_EQ(ParseElementaryFile(source, info, message, progress), 1);
  EXPECT_TRUE(message.empty());
  EXPECT_FALSE(fs::exists(StreamInfoPath(source)));
  const std::vector<ProgressKind> expected = {ProgressKind::kMessage, ProgressKind::kTitle,
                                              ProgressKind::kPosition};
  EXPECT_EQ(kinds, expected);
}

// Each record's own fields survive the file; MPEG-2 keeps version 2, VC-1 refuses anything older
// than 3.
TEST(VideoRecords, OwnFieldsAndVersions) {
  CH264VideoSif h264;
  h264.width = 1920;
  h264.cpb_size = 30000000;
  h264.still_flag = 0x80;
  h264.constraint_flags = 0x40;
  CMpeg2VideoSif mpeg2;
  mpeg2.sequence_header_count = 3;
  mpeg2.sequence_end_count = 1;
  mpeg2.first_sequence_header_offset = 17;
  mpeg2.first_sequence_header_length = 140;
  CVc1Sif vc1;
  vc1.hrd_bit_rate = 32800768;
  vc1.hrd_buffer_size = 10000000;
  const struct {
    const CSifData* record;
    uint32_t version;
    size_t size;
  } cases[] = {{&h264, 3, 26 + 6}, {&mpeg2, 2, 26 + 16}, {&vc1, 3, 26 + 8}};
  for (const auto& c : cases) {
    LeWriter out;
    c.record->Write(out);
    ASSERT_EQ(out.size(), c.size);
    EXPECT_EQ(Le32(out.bytes(), 0), c.version);
    const uint8_t type = dynamic_cast<const CVideoSif*>(c.record)->VideoCodingType();
    const std::unique_ptr<CSifData> back = CreateSifRecord(type);
    ASSERT_NE(back, nullptr);
    LeReader in(out.bytes());
    ASSERT_TRUE(back->Read(in)) << int(type);
    EXPECT_EQ(in.remaining(), 0u);
    LeWriter again;
    back->Write(again);
    EXPECT_EQ(again.bytes(), out.bytes()) << int(type);
  }
  EXPECT_FALSE(h264.IsEqual(CH264VideoSif{}));  // the CPB size takes part in the comparison

  // 1440x1080 needs aspect_ratio_idc 14 or 255. The file does not keep the idc, so a record read
  // back is not refused for an idc it no longer has.
  H264Analysis analysis;
  analysis.video = {100, 41, 0, 3, 1, 1440, 1080, true};
  analysis.aspect_ratio_idc = 1;
  CH264VideoSif parsed;
  parsed.Fill(analysis);
  EXPECT_EQ(parsed.Validate(), 25);
  analysis.aspect_ratio_idc = 14;
  parsed.Fill(analysis);
  EXPECT_EQ(parsed.Validate(), 0);
  analysis.aspect_ratio_idc = 1;
  parsed.Fill(analysis);
  LeWriter stored;
  parsed.Write(stored);
  CH264VideoSif reread;
  LeReader from(stored.bytes());
  ASSERT_TRUE(reread.Read(from));
  EXPECT_EQ(reread.Validate(), 0);
  reread.level = 30;
  EXPECT_EQ(reread.Validate(), 23);  // the other rules still apply

  LeWriter old;
  CVc1Sif{}.Write(old);
  std::vector<uint8_t> bytes = old.bytes();
  bytes[0] = 2;
  LeReader in(bytes);
  EXPECT_FALSE(CVc1Sif{}.Read(in));
}

}  // namespace
}  // namespace tessel
