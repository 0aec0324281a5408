#include "es/vc1.h"

#include <algorithm>
#include <cmath>

#include "es/h264_syntax.h"
#include "formats/field_access.h"

namespace tessel {

namespace {

using namespace video;

constexpr uint64_t kProgressStep = 5242880;
constexpr uint32_t kFrameRateNr[8] = {0, 24000, 25000, 30000, 50000, 60000, 48000, 72000};
constexpr uint32_t kFrameRateDr[3] = {0, 1000, 1001};

struct CodedSizeFormat {
  uint16_t width, height;  // as coded: half the size minus one
  uint8_t interlaced, progressive;
};
constexpr CodedSizeFormat kFormats[] = {
    {359, 239, 1, 3}, {359, 287, 2, 7}, {959, 539, 4, 6}, {719, 539, 4, 6}, {639, 359, 5, 5}};

int ReadDisplayExtension(BitReader& br, Vc1SequenceHeader& s) {
  s.DISPLAY_EXT = br.Flag();
  if (!s.DISPLAY_EXT) return result::kNoAspectInfo;
  s.DISP_HORIZ_SIZE = static_cast<uint16_t>(br.Bits(14));
  s.DISP_VERT_SIZE = static_cast<uint16_t>(br.Bits(14));
  s.ASPECT_RATIO_FLAG = br.Flag();
  if (!s.ASPECT_RATIO_FLAG) return result::kNoAspectInfo;
  s.ASPECT_RATIO = static_cast<uint8_t>(br.Bits(4));
  if (s.ASPECT_RATIO == 15) {
    s.ASPECT_HORIZ_SIZE = static_cast<uint8_t>(br.Bits(8));
    s.ASPECT_VERT_SIZE = static_cast<uint8_t>(br.Bits(8));
  }
  s.FRAMERATE_FLAG = br.Flag();
  if (!s.FRAMERATE_FLAG) return result::kNoFramerateInfo;
  s.FRAMERATEIND = br.Flag();
  if (s.FRAMERATEIND) {
    br.Skip(16);  // FRAMERATEEXP
    return result::kWrongFrameRateInfo;
  }
  s.FRAMERATENR = static_cast<uint8_t>(br.Bits(8));
  s.FRAMERATEDR = static_cast<uint8_t>(br.Bits(4));
  // Index 0 is forbidden: it would give a rate of 0 and an endless frame.
  if (s.FRAMERATENR == 0 || s.FRAMERATENR > 7) return result::kWrongFrameRateInfo;
  if (s.FRAMERATEDR != 1 && s.FRAMERATEDR != 2) return result::kWrongFrameRateInfo;
  if (br.Flag()) br.Skip(24);  // COLOR_FORMAT_FLAG: COLOR_PRIM, TRANSFER_CHAR, MATRIX_COEF
  return result::kOk;
}

// Picture type codes: 0 P, 10 B, 110 I, 1110 BI, 1111 skipped.
Vc1PictureType ReadPtype(BitReader& br) {
  if (!br.Flag()) return Vc1PictureType::kP;
  if (!br.Flag()) return Vc1PictureType::kB;
  if (!br.Flag()) return Vc1PictureType::kI;
  return br.Flag() ? Vc1PictureType::kSkipped : Vc1PictureType::kBI;
}

// Field-interlaced frames code the types of both fields in 3 bits; the first field's type is
// the frame's (an I/P frame is entered at its I field).
constexpr Vc1PictureType kFieldPairTypes[8] = {
    Vc1PictureType::kI, Vc1PictureType::kI, Vc1PictureType::kP,  Vc1PictureType::kP,
    Vc1PictureType::kB, Vc1PictureType::kB, Vc1PictureType::kBI, Vc1PictureType::kBI};

uint32_t EntryFlags(Vc1PictureType type) {
  switch (type) {
    case Vc1PictureType::kI:
      return kPictureI;
    case Vc1PictureType::kB:
    case Vc1PictureType::kBI:
      return kPictureB;
    default:
      return kPictureP;
  }
}

}  // namespace

double Vc1SequenceHeader::FrameRate() const {
  if (FRAMERATENR == 0 || FRAMERATENR > 7 || FRAMERATEDR == 0 || FRAMERATEDR > 2) return 0;
  return static_cast<double>(kFrameRateNr[FRAMERATENR]) / kFrameRateDr[FRAMERATEDR];
}

uint64_t Vc1SequenceHeader::HrdBitRate() const {
  uint64_t best = 0;
  for (int i = 0; i < HRD_NUM_LEAKY_BUCKETS; ++i) {
    best = std::max(best, (uint64_t{HRD_RATE[i]} + 1) << (BIT_RATE_EXPONENT + 6));
  }
  return best;
}

uint64_t Vc1SequenceHeader::HrdBufferSize() const {
  uint64_t best = 0;
  for (int i = 0; i < HRD_NUM_LEAKY_BUCKETS; ++i) {
    best = std::max(best, (uint64_t{HRD_BUFFER[i]} + 1) << (BUFFER_SIZE_EXPONENT + 4));
  }
  return best;
}

int ParseVc1SequenceHeader(std::span<const uint8_t> data, Vc1SequenceHeader& s) {
  s = Vc1SequenceHeader{};
  BitReader br(data);
  s.PROFILE = static_cast<uint8_t>(br.Bits(2));
  if (s.PROFILE != 3) return result::kWrongProfile;
  s.LEVEL = static_cast<uint8_t>(br.Bits(3));
  if (s.LEVEL != 2 && s.LEVEL != 3) return result::kWrongLevel;
  s.COLORDIFF_FORMAT = static_cast<uint8_t>(br.Bits(2));
  br.Skip(3 + 5 + 1);  // FRMRTQ_POSTPROC, BITRTQ_POSTPROC, POSTPROCFLAG
  s.MAX_CODED_WIDTH = static_cast<uint16_t>(br.Bits(12));
  s.MAX_CODED_HEIGHT = static_cast<uint16_t>(br.Bits(12));
  s.PULLDOWN = br.Flag();
  s.INTERLACE = br.Flag();
  if (s.INTERLACE && !s.PULLDOWN) return result::kWrongPulldown;
  s.TFCNTRFLAG = br.Flag();
  s.FINTERPFLAG = br.Flag();
  br.Skip(1);  // RESERVED
  s.PSF = br.Flag();
  const int r = ReadDisplayExtension(br, s);
  if (r != 0) return br.ok() ? r : result::kSyntaxIllegal;
  s.HRD_PARAM_FLAG = br.Flag();
  if (!s.HRD_PARAM_FLAG) return br.ok() ? result::kNoHrd : result::kSyntaxIllegal;
  s.HRD_NUM_LEAKY_BUCKETS = static_cast<uint8_t>(br.Bits(5));
  s.BIT_RATE_EXPONENT = static_cast<uint8_t>(br.Bits(4));
  s.BUFFER_SIZE_EXPONENT = static_cast<uint8_t>(br.Bits(4));
  for (int i = 0; i < s.HRD_NUM_LEAKY_BUCKETS; ++i) {
    s.HRD_RATE[i] = static_cast<uint16_t>(br.Bits(16));
    s.HRD_BUFFER[i] = static_cast<uint16_t>(br.Bits(16));
  }
  return br.ok() ? result::kOk : result::kSyntaxIllegal;
}

int ParseVc1EntryPoint(std::span<const uint8_t> data, const Vc1SequenceHeader& seq,
                       Vc1EntryPoint& e) {
  e = Vc1EntryPoint{};
  BitReader br(data);
  e.BROKEN_LINK = br.Flag();
  e.CLOSED_ENTRY = br.Flag();
  e.PANSCAN_FLAG = br.Flag();
  if (e.PANSCAN_FLAG) return br.ok() ? result::kWrongPanscan : result::kSyntaxIllegal;
  br.Skip(3);  // REFDIST_FLAG, LOOPFILTER, FASTUVMC
  e.EXTENDED_MV = br.Flag();
  br.Skip(2 + 1 + 1 + 2);  // DQUANT, VSTRANSFORM, OVERLAP, QUANTIZER
  if (seq.HRD_PARAM_FLAG) br.Skip(8u * seq.HRD_NUM_LEAKY_BUCKETS);  // HRD_FULL
  e.CODED_SIZE_FLAG = br.Flag();
  if (e.CODED_SIZE_FLAG) {
    e.CODED_WIDTH = static_cast<uint16_t>(br.Bits(12));
    e.CODED_HEIGHT = static_cast<uint16_t>(br.Bits(12));
    if (br.ok() &&
        (e.CODED_WIDTH != seq.MAX_CODED_WIDTH || e.CODED_HEIGHT != seq.MAX_CODED_HEIGHT)) {
      return result::kWrongCodedSize;
    }
  }
  if (e.EXTENDED_MV) br.Skip(1);  // EXTENDED_DMV
  if (br.Flag()) br.Skip(3);      // RANGE_MAPY
  if (br.Flag()) br.Skip(3);      // RANGE_MAPUV
  return br.ok() ? result::kOk : result::kSyntaxIllegal;
}

bool ParseVc1FrameHeader(std::span<const uint8_t> data, const Vc1SequenceHeader& seq,
                         Vc1FrameHeader& f) {
  f = Vc1FrameHeader{};
  BitReader br(data);
  if (seq.INTERLACE) f.FCM = br.Flag() ? static_cast<uint8_t>(2 + br.Bits(1)) : 0;
  f.type = f.FCM == 3 ? kFieldPairTypes[br.Bits(3)] : ReadPtype(br);
  if (seq.TFCNTRFLAG) f.TFCNTR = static_cast<uint8_t>(br.Bits(8));
  if (seq.PULLDOWN) {
    if (!seq.INTERLACE || seq.PSF) {
      f.RPTFRM = static_cast<uint8_t>(br.Bits(2));
    } else {
      f.TFF = br.Flag();
      f.RFF = br.Flag();
    }
  }
  return br.ok();
}

void FillVc1Attributes(const Vc1SequenceHeader& s, Vc1Analysis& a) {
  VideoAttributes& v = a.video;
  v.profile = s.PROFILE;
  v.level = s.LEVEL;
  v.video_format = 255;
  for (const CodedSizeFormat& f : kFormats) {
    if (f.width == s.MAX_CODED_WIDTH && f.height == s.MAX_CODED_HEIGHT) {
      v.video_format = s.INTERLACE ? f.interlaced : f.progressive;
    }
  }
  const uint32_t disp_w = s.DISP_HORIZ_SIZE + 1u;
  const uint32_t disp_h = s.DISP_VERT_SIZE + 1u;
  if (s.ASPECT_RATIO == 15) {
    const double ratio = static_cast<double>(disp_w) * s.ASPECT_HORIZ_SIZE /
                         (static_cast<double>(disp_h) * s.ASPECT_VERT_SIZE);
    v.aspect_code = ratio == 4.0 / 3.0 ? 2 : 3;
  } else {
    v.aspect_code = AspectFromSar(s.ASPECT_RATIO, disp_w, disp_h);
  }
  const double rate = s.FrameRate();
  v.frame_rate_code = FrameRateCode(rate);
  v.width = s.MAX_CODED_WIDTH * 2u + 2;
  v.height = s.MAX_CODED_HEIGHT * 2u + 2;
  v.progressive = !s.INTERLACE;
  a.hrd_bit_rate = static_cast<uint32_t>(std::min<uint64_t>(s.HrdBitRate(), UINT32_MAX));
  a.hrd_buffer_size = static_cast<uint32_t>(std::min<uint64_t>(s.HrdBufferSize(), UINT32_MAX));
  a.au_duration = rate > 0 ? 1000 / rate : 0;
}

int ValidateVc1(const Vc1Analysis& a) {
  const VideoAttributes& v = a.video;
  if (v.aspect_code != 2 && v.aspect_code != 3) return result::kWrongAspectRatio;
  const bool sd = v.width == 720;
  const bool hd = !sd && (v.height == 1080 || v.height == 720);
  if (sd || hd) {
    if (v.level != (sd ? 2 : 3)) return result::kWrongLevel;
    if (a.hrd_bit_rate > (sd ? 20000000u : 40000000u)) return result::kBitrateOverflow;
    if (a.hrd_buffer_size > 30000000u) return result::kBufferOverflow;
  }
  if (!FrameRateAllowed(v.video_format, v.frame_rate_code)) return result::kWrongFrameRate;
  return result::kOk;
}

bool ProbeVc1(std::span<const uint8_t> b) {
  return b.size() >= 4 && b[0] == 0 && b[1] == 0 && b[2] == 1 && b[3] == vc1::kSequenceHeaderCode;
}

namespace {

class Vc1Analyzer {
 public:
  explicit Vc1Analyzer(Vc1Analysis& out) : out_(out) {}
  int Run(ByteSource& source, const Progress& progress);

 private:
  struct Frame {
    uint64_t offset;
    Vc1PictureType type;
  };
  int Segment(StartCodeScanner& scanner, StartCodeUnit& unit, bool& more);
  void WriteSegment(uint64_t start, uint64_t end);
  std::span<const uint8_t> Unescaped(const StartCodeUnit& unit);

  Vc1Analysis& out_;
  Vc1SequenceHeader seq_;
  bool first_ = true;
  double base_ = 0;   // time base in frames
  double ticks_ = 0;  // one frame, 90 kHz
  std::vector<Frame> frames_;
  std::vector<uint8_t> scratch_;
  uint64_t last_end_ = 0;
};

std::span<const uint8_t> Vc1Analyzer::Unescaped(const StartCodeUnit& unit) {
  RemoveEmulationPrevention(unit.head.subspan(1), scratch_);
  return scratch_;
}

int Vc1Analyzer::Run(ByteSource& source, const Progress& progress) {
  StartCodeScanner scanner(source);
  StartCodeUnit unit;
  bool more = scanner.Next(unit);
  while (more && (unit.head.empty() || unit.head[0] != vc1::kSequenceHeaderCode)) {
    more = scanner.Next(unit);
  }
  if (!more) return source.failed() ? 6 : result::kNoSequenceHeader;
  uint64_t reported = 0;
  const uint64_t length = source.length();
  while (more) {
    if (progress && scanner.consumed() - reported >= kProgressStep) {
      reported = scanner.consumed();
      if (!progress(static_cast<int>(length != 0 ? reported * 100 / length : 0))) {
        return result::kCancelled;
      }
    }
    const int r = Segment(scanner, unit, more);
    if (r != 0) return r;
  }
  if (source.failed()) return 6;
  out_.au_count = static_cast<uint32_t>(out_.units.size());
  out_.total_size = last_end_ - out_.first_sequence_header_offset;
  return result::kOk;
}

// One segment: `unit` is its sequence header; on return it is the next segment's, if `more`.
int Vc1Analyzer::Segment(StartCodeScanner& scanner, StartCodeUnit& unit, bool& more) {
  const uint64_t start = unit.start;
  int r = ParseVc1SequenceHeader(Unescaped(unit), seq_);
  if (r != 0) return r;
  if (!scanner.Next(unit)) return result::kNoGopHeader;
  if (unit.head.empty() || unit.head[0] != vc1::kEntryPointCode) return result::kWrongEntryPoint;
  Vc1EntryPoint entry;
  r = ParseVc1EntryPoint(Unescaped(unit), seq_, entry);
  if (r != 0) return r;
  if (first_) {
    FillVc1Attributes(seq_, out_);
    r = ValidateVc1(out_);
    if (r != 0) return r;
    out_.first_sequence_header_offset = start;
    ticks_ = out_.au_duration * 90;
    base_ = (kFirstTime - ticks_) / ticks_;
    first_ = false;
  }
  frames_.clear();
  uint64_t end = 0;
  for (;;) {
    more = scanner.Next(unit);
    if (!more) {
      end = scanner.consumed();
      break;
    }
    if (unit.head.empty()) continue;
    const uint8_t code = unit.head[0];
    if (code == vc1::kSequenceHeaderCode) {
      end = unit.start;
      break;
    }
    if (code == vc1::kEntryPointCode) return result::kWrongEntryPoint;
    if (code != vc1::kFrameCode) continue;
    Vc1FrameHeader frame;
    // A frame whose header cannot be read still occupies its place; it counts as a P frame.
    ParseVc1FrameHeader(Unescaped(unit), seq_, frame);
    frames_.push_back({unit.start, frame.type});
  }
  WriteSegment(start, end);
  last_end_ = end;
  return result::kOk;
}

void Vc1Analyzer::WriteSegment(uint64_t start, uint64_t end) {
  const size_t n = frames_.size();
  std::vector<int64_t> display(n, -1);
  std::vector<bool> taken(n + 1, false);
  for (size_t k = 0; k < n; ++k) {
    const Vc1PictureType t = frames_[k].type;
    if (t == Vc1PictureType::kB || t == Vc1PictureType::kBI) {
      display[k] = static_cast<int64_t>(k);
      taken[k] = true;
    }
  }
  // The numbers 1..n that no B frame took go to the other frames, largest to the last.
  size_t next = n;
  for (size_t k = n; k-- > 0;) {
    if (display[k] >= 0) continue;
    while (next > 0 && taken[next]) --next;
    display[k] = static_cast<int64_t>(next);
    taken[next] = true;
  }
  for (size_t k = 0; k < n; ++k) {
    AccessUnit unit;
    unit.offset = k == 0 ? start : frames_[k].offset;
    const uint64_t unit_end = k + 1 < n ? frames_[k + 1].offset : end;
    unit.size = static_cast<uint32_t>(unit_end - unit.offset);
    unit.flags = EntryFlags(frames_[k].type);
    if (k == 0) unit.flags |= kSequenceHeaderFlag | kRandomAccessFlag;
    unit.dts =
        static_cast<uint32_t>(static_cast<int64_t>((static_cast<double>(k) + base_) * ticks_));
    unit.pts = static_cast<uint32_t>(
        static_cast<int64_t>((static_cast<double>(display[k]) + base_) * ticks_));
    out_.units.push_back(unit);
  }
  base_ += static_cast<double>(n);
}

}  // namespace

int AnalyzeVc1(ByteSource& source, const Progress& progress, Vc1Analysis& out) {
  out = Vc1Analysis{};
  Vc1Analyzer analyzer(out);
  return analyzer.Run(source, progress);
}

void CVc1Sif::Fill(const Vc1Analysis& analysis) {
  SetAttributes(analysis.video);
  hrd_bit_rate = analysis.hrd_bit_rate;
  hrd_buffer_size = analysis.hrd_buffer_size;
}

void CVc1Sif::FillPmtStream(ESI& entry) const {
  CVideoSif::FillPmtStream(entry);
  entry.Vc1Registration.emplace().ProfileLevel = static_cast<uint8_t>(level + 0x91);
}

std::unique_ptr<CSifData> CVc1Sif::Clone() const {
  return std::make_unique<CVc1Sif>(*this);
}

int CVc1Sif::Validate() const {
  Vc1Analysis analysis;
  analysis.video = Attributes();
  analysis.hrd_bit_rate = hrd_bit_rate;
  analysis.hrd_buffer_size = hrd_buffer_size;
  return ValidateVc1(analysis);
}

int CVc1Sif::StdModels(SStdSpec (&models)[2]) const {
  models[0] = {StdKind::kVc1, level, true};
  return 1;
}

bool CVc1Sif::Read(LeReader& in) {
  if (!CVideoSif::Read(in) || version() < kVersion) return false;
  hrd_bit_rate = in.U32();
  hrd_buffer_size = in.U32();
  return in.ok();
}

void CVc1Sif::Write(LeWriter& out) const {
  CVideoSif::Write(out);
  out.U32(hrd_bit_rate);
  out.U32(hrd_buffer_size);
}

CVc1Parser::CVc1Parser() : CParserBase(coding::kVc1, {".vc1"}) {}

bool CVc1Parser::ProbeFile(BitFile& file) {
  uint8_t first[4];
  const size_t n = file.ReadBytes(first, sizeof first);
  return ProbeVc1({first, n});
}

int CVc1Parser::ParseFile(BitFile&, ByteSource& source, CStreamInfo& info,
                          const ProgressCallback& progress) {
  if (!source.Rewind()) return result::kOpenError;
  Vc1Analysis analysis;
  if (const int r = AnalyzeVc1(source, PercentProgress(progress), analysis); r != result::kOk) {
    return r;
  }
  auto record = std::make_unique<CVc1Sif>();
  record->Fill(analysis);
  // VC-1 has no GOP records; the table is written empty.
  return StoreVideoAnalysis(
      info, std::move(record),
      {analysis.au_duration, analysis.hrd_bit_rate, analysis.total_size, analysis.units, {}});
}

}  // namespace tessel
