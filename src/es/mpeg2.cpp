#include "es/mpeg2.h"

#include <algorithm>
#include <optional>

#include "formats/field_access.h"

namespace tessel {

namespace {

using namespace video;

constexpr uint8_t kPictureCode = 0x00;
constexpr uint8_t kUserDataCode = 0xB2;
constexpr uint8_t kSequenceHeaderCode = 0xB3;
constexpr uint8_t kExtensionCode = 0xB5;
constexpr uint8_t kSequenceEndCode = 0xB7;
constexpr uint8_t kGopCode = 0xB8;
constexpr uint8_t kPictureCodingExtensionId = 8;
constexpr uint64_t kSearchLimit = 8192;
constexpr uint64_t kProgressStep = 5242880;
constexpr uint8_t kFrameStructure = 3;

// Frame period in milliseconds by frame_rate_code; codes without an entry are refused.
constexpr double kFramePeriods[8] = {0,    41.708333333333336, 41.666666666666664,
                                     40.0, 33.36666666666667,  0,
                                     20.0, 16.683333333333334};

struct PictureHeader {
  uint64_t start = 0;
  uint32_t temporal_reference = 0;
  uint8_t picture_coding_type = 0;
};

struct PictureCoding {
  uint8_t picture_structure = 0;
  bool top_field_first = false;
  bool repeat_first_field = false;
  bool progressive_frame = false;
};

std::optional<PictureCoding> ReadPictureCoding(std::span<const uint8_t> head) {
  BitReader br(head.subspan(1));
  if (br.Bits(4) != kPictureCodingExtensionId) return std::nullopt;
  br.Skip(16 + 2);  // f_codes, intra_dc_precision
  PictureCoding c;
  c.picture_structure = static_cast<uint8_t>(br.Bits(2));
  c.top_field_first = br.Flag();
  br.Skip(5);
  c.repeat_first_field = br.Flag();
  br.Skip(1);  // chroma_420_type
  c.progressive_frame = br.Flag();
  if (!br.ok()) return std::nullopt;
  return c;
}

class Mpeg2Analyzer {
 public:
  explicit Mpeg2Analyzer(Mpeg2Analysis& out) : out_(out) {}
  int Run(ByteSource& source, const Progress& progress);

 private:
  int Header(StartCodeScanner& scanner, StartCodeUnit& unit);
  int Unit(const StartCodeUnit& unit);
  void SequenceHeader(const StartCodeUnit& unit);
  void GopHeader(const StartCodeUnit& unit);
  void NoteHeaderEnd(const StartCodeUnit& unit);
  void SequenceEnd(const StartCodeUnit& unit);
  void Picture(const PictureHeader& picture, const PictureCoding& coding);
  void Stamp(const PictureHeader& picture, const PictureCoding& coding);
  void Finish();
  void CloseAu(uint64_t end);

  Mpeg2Analysis& out_;
  std::optional<PictureHeader> waiting_;  // a picture header whose coding extension is due
  AccessUnit au_;
  std::optional<size_t> au_gop_;  // the GOP the open unit belongs to
  bool open_ = false;
  std::optional<uint64_t> pending_;  // first sequence or GOP header since the last picture
  bool sequence_seen_ = false;
  bool gop_seen_ = false;
  bool first_sequence_ = true;
  bool header_length_known_ = false;
  uint8_t first_field_structure_ = 0;
  struct Shown {
    uint64_t gop;  // GOP headers before the picture
    uint32_t temporal_reference;
    uint32_t fields;  // field periods it is shown for
  };
  std::vector<Shown> shown_;                     // per unit, in decoding order
  std::vector<std::optional<size_t>> unit_gop_;  // per unit, the GOP record it counts in
  uint64_t gop_serial_ = 0;
};

int Mpeg2Analyzer::Run(ByteSource& source, const Progress& progress) {
  StartCodeScanner scanner(source);
  StartCodeUnit unit;
  int r = Header(scanner, unit);
  if (r != 0) return r;
  uint64_t reported = 0;
  const uint64_t length = source.length();
  do {
    if (progress && scanner.consumed() - reported >= kProgressStep) {
      reported = scanner.consumed();
      if (!progress(static_cast<int>(length != 0 ? reported * 100 / length : 0))) {
        return result::kCancelled;
      }
    }
    r = Unit(unit);
    if (r != 0) return r;
  } while (scanner.Next(unit));
  if (source.failed()) return 6;
  if (waiting_) return result::kSyntaxIllegal;  // a picture without its coding extension
  if (open_) CloseAu(scanner.consumed());
  Finish();
  out_.au_count = static_cast<uint32_t>(out_.units.size());
  if (!out_.units.empty()) out_.total_size = out_.units.back().offset + 1;
  return result::kOk;
}

// Reads the first sequence header and its extension, and checks them. Leaves `unit` at the
// first start code, for the walk to take from the top.
int Mpeg2Analyzer::Header(StartCodeScanner& scanner, StartCodeUnit& unit) {
  if (!scanner.Next(unit) || unit.header > kSearchLimit + 3 || unit.head.empty() ||
      unit.head[0] != kSequenceHeaderCode) {
    return result::kUnknownFormat;
  }
  BitReader seq(unit.head.subspan(1));
  VideoAttributes& v = out_.video;
  v.width = static_cast<uint32_t>(seq.Bits(12));
  v.height = static_cast<uint32_t>(seq.Bits(12));
  v.aspect_code = static_cast<uint8_t>(seq.Bits(4));
  v.frame_rate_code = static_cast<uint8_t>(seq.Bits(4));
  const uint32_t bit_rate_value = static_cast<uint32_t>(seq.Bits(18));
  if (!seq.ok()) return result::kSyntaxIllegal;
  out_.au_duration = v.frame_rate_code < 8 ? kFramePeriods[v.frame_rate_code] : 0;
  // The walk needs this unit again; the extension is read from a copy of its successor.
  const StartCodeUnit first = unit;
  const std::vector<uint8_t> first_head(unit.head.begin(), unit.head.end());
  StartCodeUnit next;
  if (!scanner.Next(next) || next.start - first.header > kSearchLimit || next.head.empty() ||
      (next.head[0] != kGopCode && next.head[0] != kExtensionCode)) {
    return result::kSyntaxIllegal;
  }
  BitReader ext(next.head.subspan(1));
  v.profile = static_cast<uint8_t>(ext.Bits(8) & 0x0F);
  v.level = static_cast<uint8_t>(ext.Bits(4));
  v.progressive = ext.Flag();
  const uint32_t chroma_format = static_cast<uint32_t>(ext.Bits(2));
  ext.Skip(4);  // size extensions
  const uint32_t bit_rate_extension = static_cast<uint32_t>(ext.Bits(12));
  if (!ext.ok()) return result::kSyntaxIllegal;
  if (chroma_format != 1) return result::kWrongChromaFormat;
  out_.bit_rate = (bit_rate_value + (bit_rate_extension << 18)) * 400u;
  const int r = ValidateMpeg2(out_);
  if (r != 0) return r;
  // Walk the first two start codes now, in order; the rest follows from the caller's loop.
  StartCodeUnit replay = first;
  replay.head = first_head;
  const int first_result = Unit(replay);
  if (first_result != 0) return first_result;
  unit = next;
  return 0;
}

int Mpeg2Analyzer::Unit(const StartCodeUnit& unit) {
  if (unit.head.empty()) return 0;
  const uint8_t code = unit.head[0];
  if (waiting_) {
    const std::optional<PictureCoding> coding =
        code == kExtensionCode ? ReadPictureCoding(unit.head) : std::nullopt;
    if (!coding) return result::kSyntaxIllegal;
    const PictureHeader picture = *waiting_;
    waiting_.reset();
    Picture(picture, *coding);
    return 0;
  }
  switch (code) {
    case kSequenceHeaderCode:
      SequenceHeader(unit);
      break;
    case kGopCode:
      GopHeader(unit);
      break;
    case kUserDataCode:
      NoteHeaderEnd(unit);
      break;
    case kSequenceEndCode:
      SequenceEnd(unit);
      break;
    case kPictureCode: {
      BitReader br(unit.head.subspan(1));
      PictureHeader picture;
      picture.start = unit.start;
      picture.temporal_reference = static_cast<uint32_t>(br.Bits(10));
      picture.picture_coding_type = static_cast<uint8_t>(br.Bits(3));
      if (!br.ok()) return result::kSyntaxIllegal;
      waiting_ = picture;
      break;
    }
    default:
      break;
  }
  return 0;
}

void Mpeg2Analyzer::SequenceHeader(const StartCodeUnit& unit) {
  ++out_.sequence_header_count;
  if (!pending_) pending_ = unit.start;
  sequence_seen_ = true;
  if (first_sequence_) {
    out_.first_sequence_header_offset = static_cast<uint32_t>(unit.start);
    first_sequence_ = false;
  }
}

void Mpeg2Analyzer::NoteHeaderEnd(const StartCodeUnit& unit) {
  if (header_length_known_ || first_sequence_) return;
  out_.first_sequence_header_length =
      static_cast<uint32_t>(unit.start - out_.first_sequence_header_offset);
  header_length_known_ = true;
}

void Mpeg2Analyzer::GopHeader(const StartCodeUnit& unit) {
  out_.gops.push_back(GopInfo{});
  ++gop_serial_;
  if (!pending_) pending_ = unit.start;
  gop_seen_ = true;
  NoteHeaderEnd(unit);
}

void Mpeg2Analyzer::SequenceEnd(const StartCodeUnit& unit) {
  ++out_.sequence_end_count;
  if (!open_) return;
  au_.flags |= kSequenceEndFlag;
  CloseAu(unit.header + 1);
}

void Mpeg2Analyzer::CloseAu(uint64_t end) {
  au_.size = static_cast<uint32_t>(end - au_.offset);
  // The I picture is entered in the GOP it was opened in (a later GOP header may have come
  // before the unit is closed).
  if ((au_.flags & kPictureTypeMask) == kPictureI && au_gop_) {
    GopInfo& gop = out_.gops[*au_gop_];
    gop.i_index = static_cast<uint32_t>(out_.units.size());
    gop.i_offset = au_.offset;
    gop.i_size = au_.size;
  }
  out_.units.push_back(au_);
  open_ = false;
}

void Mpeg2Analyzer::Picture(const PictureHeader& picture, const PictureCoding& coding) {
  if (coding.picture_structure != kFrameStructure) {
    if (first_field_structure_ == 0) first_field_structure_ = coding.picture_structure;
    if (coding.picture_structure != first_field_structure_) return;  // second field of a pair
  }
  const uint64_t start = pending_.value_or(picture.start);
  if (open_) CloseAu(start);
  au_ = AccessUnit{};
  au_.offset = start;
  au_.flags = picture.picture_coding_type;
  if (sequence_seen_) au_.flags |= kSequenceHeaderFlag;
  if (gop_seen_) au_.flags |= kRandomAccessFlag;
  sequence_seen_ = gop_seen_ = false;
  pending_.reset();
  au_gop_ = out_.gops.empty() ? std::nullopt : std::optional<size_t>(out_.gops.size() - 1);
  unit_gop_.push_back(au_gop_);
  open_ = true;
  Stamp(picture, coding);
}

void Mpeg2Analyzer::Stamp(const PictureHeader& picture, const PictureCoding& coding) {
  // Fields the frame is shown for: a repeated first field adds one; in a progressive sequence
  // the flags repeat the whole frame once or twice.
  uint32_t fields = 2;
  if (coding.repeat_first_field) {
    if (!out_.video.progressive) {
      fields = coding.picture_structure == kFrameStructure ? 3 : 2;
    } else {
      fields = coding.top_field_first ? 6 : 4;
    }
  }
  shown_.push_back({gop_serial_, picture.temporal_reference, fields});
}

// Time stamps from the display order: within a GOP, pictures are shown in temporal_reference
// order, each for its own number of fields, so a 3:2 pulldown stream gets the 1.25 frame
// periods per frame it is shown for, and no two frames ever share a time. Decoding times are the
// display times in rising order, late by the stream's reordering depth (at least one frame).
void Mpeg2Analyzer::Finish() {
  const size_t count = out_.units.size();
  if (count == 0 || shown_.size() < count) return;
  std::vector<size_t> order(count);
  for (size_t i = 0; i < count; ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [this](size_t a, size_t b) {
    const Shown& x = shown_[a];
    const Shown& y = shown_[b];
    return x.gop != y.gop ? x.gop < y.gop : x.temporal_reference < y.temporal_reference;
  });
  const double field = out_.au_duration * 90 / 2;
  std::vector<double> display(count);
  std::vector<size_t> rank(count);
  double time = 0;
  for (size_t r = 0; r < count; ++r) {
    display[order[r]] = time;
    rank[order[r]] = r;
    time += shown_[order[r]].fields * field;
  }
  const double base = kFirstTime - display[0];
  int64_t lag = 1;
  for (size_t k = 0; k < count; ++k)
    lag = std::max(lag, static_cast<int64_t>(k) - static_cast<int64_t>(rank[k]));
  for (size_t k = 0; k < count; ++k) {
    AccessUnit& unit = out_.units[k];
    const int64_t slot = static_cast<int64_t>(k) - lag;
    const double decode = slot >= 0 ? display[order[static_cast<size_t>(slot)]]
                                    : display[order[0]] + static_cast<double>(slot) * 2 * field;
    unit.pts = static_cast<uint32_t>(static_cast<int64_t>(display[k] + base));
    unit.dts = static_cast<uint32_t>(static_cast<int64_t>(decode + base));
  }
  for (size_t k = 0; k < count; ++k) {
    if (!unit_gop_[k]) continue;
    GopInfo& gop = out_.gops[*unit_gop_[k]];
    const uint32_t pts = out_.units[k].pts;
    gop.min_pts = gop.count == 0 ? pts : std::min(gop.min_pts, pts);
    gop.max_pts = gop.count == 0 ? pts : std::max(gop.max_pts, pts);
    ++gop.count;
  }
}

}  // namespace

bool ProbeMpeg2(std::span<const uint8_t> first_bytes) {
  const uint8_t* const begin = first_bytes.data();
  const uint8_t* const end = begin + first_bytes.size();
  const uint8_t* first = FindStartCode(begin, std::min(end, begin + kSearchLimit + 3));
  if (end - first < 4 || first[3] != kSequenceHeaderCode) return false;
  const uint8_t* const from = first + 4;
  const uint8_t* second = FindStartCode(
      from, end - from > static_cast<ptrdiff_t>(kSearchLimit + 3) ? from + kSearchLimit + 3 : end);
  return end - second >= 4 && (second[3] == kGopCode || second[3] == kExtensionCode);
}

int ValidateMpeg2(Mpeg2Analysis& analysis) {
  VideoAttributes& v = analysis.video;
  v.video_format = VideoFormatFromHeight(v.height, v.progressive, v.video_format);
  return FrameRateAllowed(v.video_format, v.frame_rate_code) ? result::kOk
                                                             : result::kWrongFrameRate;
}

int AnalyzeMpeg2(ByteSource& source, const Progress& progress, Mpeg2Analysis& out) {
  out = Mpeg2Analysis{};
  Mpeg2Analyzer analyzer(out);
  return analyzer.Run(source, progress);
}

void CMpeg2VideoSif::Fill(const Mpeg2Analysis& analysis) {
  SetAttributes(analysis.video);
  sequence_header_count = analysis.sequence_header_count;
  sequence_end_count = analysis.sequence_end_count;
  first_sequence_header_offset = analysis.first_sequence_header_offset;
  first_sequence_header_length = analysis.first_sequence_header_length;
}

std::unique_ptr<CSifData> CMpeg2VideoSif::Clone() const {
  return std::make_unique<CMpeg2VideoSif>(*this);
}

int CMpeg2VideoSif::Validate() const {
  Mpeg2Analysis analysis;
  analysis.video = Attributes();
  return ValidateMpeg2(analysis);
}

int CMpeg2VideoSif::StdModels(SStdSpec (&models)[2]) const {
  models[0] = {StdKind::kMpeg2, profile * 16 + level, true};
  return 1;
}

bool CMpeg2VideoSif::Read(LeReader& in) {
  if (!CVideoSif::Read(in)) return false;
  sequence_header_count = in.U32();
  sequence_end_count = in.U32();
  first_sequence_header_offset = in.U32();
  first_sequence_header_length = in.U32();
  return in.ok();
}

void CMpeg2VideoSif::Write(LeWriter& out) const {
  CVideoSif::Write(out);
  out.U32(sequence_header_count);
  out.U32(sequence_end_count);
  out.U32(first_sequence_header_offset);
  out.U32(first_sequence_header_length);
}

CM2VParser::CM2VParser() : CParserBase(coding::kMpeg2Video, {".mpv", ".m2v"}) {}

bool CM2VParser::ProbeFile(BitFile& file) {
  std::vector<uint8_t> first(kMpeg2ProbeLength);
  first.resize(file.ReadBytes(first.data(), first.size()));
  return ProbeMpeg2(first);
}

int CM2VParser::ParseFile(BitFile&, ByteSource& source, CStreamInfo& info,
                          const ProgressCallback& progress) {
  if (!source.Rewind()) return result::kOpenError;
  Mpeg2Analysis analysis;
  if (const int r = AnalyzeMpeg2(source, PercentProgress(progress), analysis); r != result::kOk) {
    return r;
  }
  auto record = std::make_unique<CMpeg2VideoSif>();
  record->Fill(analysis);
  return StoreVideoAnalysis(info, std::move(record),
                            {analysis.au_duration, analysis.bit_rate, analysis.total_size,
                             analysis.units, analysis.gops});
}

}  // namespace tessel
