#include "es/h264.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "es/h264_syntax.h"
#include "platform/format.h"
#include "platform/prompt.h"

namespace tessel {

namespace {

using namespace video;

constexpr uint64_t kMaxCpbSize = 30000000;
constexpr uint64_t kMaxBitRate = 40000000;
// A slice header ends long before this; converting more of the slice would be wasted work.
constexpr size_t kSliceHeaderBytes = 256;

struct HdSize {
  uint32_t width, height;
  uint8_t aspect_a, aspect_b;  // accepted aspect_ratio_idc values
};
constexpr HdSize kHdSizes[] = {{1920, 1080, 1, 1}, {1440, 1080, 14, 255}, {1280, 720, 1, 1}};
constexpr uint8_t kSdLevels[] = {30, 31, 32, 40, 41};
constexpr uint8_t kProfiles[] = {77, 100, 128};  // Main, High, Stereo High

template <typename T, size_t N>
bool Contains(const T (&table)[N], T value) {
  return std::find(std::begin(table), std::end(table), value) != std::end(table);
}

uint32_t PictureType(uint8_t slice_type) {
  switch (slice_type) {
    case h264::kSliceI:
      return kPictureI;
    case h264::kSliceP:
      return kPictureP;
    case h264::kSliceB:
      return kPictureB;
    default:
      return 0;
  }
}

// An access unit between its boundaries, before the IDR period it belongs to is closed.
struct PendingAu {
  uint64_t offset = 0;
  uint32_t size = 0;
  uint32_t flags = 0;
  uint32_t decode_index = 0;
  int32_t poc = 0;
  uint32_t extra = 0;
};

class H264Analyzer {
 public:
  explicit H264Analyzer(H264Analysis& out) : out_(out) {}
  int Run(ByteSource& source, const Progress& progress);

 private:
  int Nal(const StartCodeUnit& unit);
  int Slice(const StartCodeUnit& unit);
  int SequenceParameterSet(std::span<const uint8_t> rbsp);
  int AcceptFirstSet(const H264Sps& sps);
  void OpenAu(uint64_t start);
  void CloseAu(uint64_t end);
  void DropSlice(uint64_t start);
  uint32_t FieldPeriods() const;
  uint32_t StructureWord() const;  // field_pic_flag | field periods x 2
  void ClosePeriod(bool at_idr);
  // Decoding times move earlier by the deepest reordering of the stream, so that no picture is
  // shown before it is decoded (B-pyramids reorder deeper than the one frame assumed).
  void ApplyReorderLag();

  H264Analysis& out_;
  H264ParamSets sets_;
  H264SliceHeader cur_;
  bool have_cur_ = false;
  H264PicTiming timing_;
  H264PocState poc_;
  std::vector<PendingAu> pending_;
  PendingAu au_;
  bool open_ = false;
  uint32_t counter_ = 0;
  bool slice_seen_ = false;
  bool first_set_ = true;
  bool filled_ = false;
  bool frame_picture_ = true;
  double frame_duration_ = 0;
  double time_base_ = 0;
  bool have_time_base_ = false;
  int64_t frame_offset_ = 0;
  std::vector<uint8_t> rbsp_;
  struct UnitTiming {
    double dts;    // decoding time with the time base, before truncation
    double scale;  // ticks per decoding index in its period
  };
  std::vector<UnitTiming> timings_;
  int64_t reorder_lag_ = 0;  // decoding indexes by which a unit is decoded after it is shown
};

int H264Analyzer::Run(ByteSource& source, const Progress& progress) {
  StartCodeScanner scanner(source);
  StartCodeUnit unit;
  const uint64_t length = source.length();
  while (scanner.Next(unit)) {
    if (progress && length != 0) {
      const int percent = static_cast<int>(unit.header * 100 / length);
      if (percent < 99 && !progress(percent)) return result::kCancelled;
    }
    const int r = Nal(unit);
    if (r != 0) return r;
  }
  if (source.failed()) return 6;
  if (open_) CloseAu(scanner.consumed());
  ClosePeriod(false);
  ApplyReorderLag();
  if (!filled_) return result::kNoSps;
  out_.au_count = frame_picture_ ? counter_ : counter_ / 2;
  out_.au_duration = frame_duration_;
  if (counter_ == 1) {
    out_.still_flag = 0x80;
  } else {
    out_.still_flag = 0;
    out_.constraint_flags = 0;
  }
  return result::kOk;
}

int H264Analyzer::Nal(const StartCodeUnit& unit) {
  if (unit.head.empty()) return 0;
  const uint8_t type = unit.head[0] & 0x1F;
  switch (type) {
    case h264::kNalSlice:
    case h264::kNalIdrSlice:
      return Slice(unit);
    case h264::kNalSei:
    case h264::kNalSps:
    case h264::kNalPps:
    case h264::kNalAud:
    case h264::kNalDependencyDelimiter:
      break;
    default:
      return 0;
  }
  OpenAu(unit.start);
  if (type == h264::kNalAud) return 0;
  RemoveEmulationPrevention(unit.head.subspan(1), rbsp_);
  if (type == h264::kNalSei) {
    const H264Pps* pps = have_cur_ ? sets_.FindPps(cur_.pic_parameter_set_id) : nullptr;
    const H264Sps* sps =
        pps != nullptr ? sets_.FindSps(pps->seq_parameter_set_id) : sets_.FindSps(0);
    ParseH264Sei(rbsp_, sps, timing_);
    return 0;
  }
  if (type == h264::kNalPps) {
    auto pps = std::make_unique<H264Pps>();
    if (ParseH264Pps(rbsp_, *pps)) sets_.Store(std::move(pps));
    return 0;
  }
  return SequenceParameterSet(rbsp_);
}

int H264Analyzer::Slice(const StartCodeUnit& unit) {
  const std::span<const uint8_t> body = unit.head.subspan(1);
  RemoveEmulationPrevention(body.first(std::min(body.size(), kSliceHeaderBytes)), rbsp_);
  H264SliceHeader slice;
  if (ParseH264SliceHeader(rbsp_, unit.head[0], sets_, slice) != 0) {
    // Slices without their sets (or damaged ones) cannot be placed; the stream goes on.
    DropSlice(unit.start);
    return 0;
  }
  const bool new_picture = !have_cur_ || H264IsNewPicture(cur_, slice);
  // Both fields of an IDR frame may be IDR slices; the second must not end the period that
  // the first one opened, or the pair would be split.
  const bool second_idr_field =
      have_cur_ && cur_.idr() && slice.idr() && cur_.field_pic_flag && slice.field_pic_flag &&
      cur_.bottom_field_flag != slice.bottom_field_flag && cur_.frame_num == slice.frame_num &&
      cur_.idr_pic_id == slice.idr_pic_id;
  cur_ = slice;
  have_cur_ = true;
  if (slice.idr() && !second_idr_field) {
    // The picture before the IDR belongs to the period that ends here, even without a
    // delimiter between them.
    if (open_ && slice_seen_ && new_picture) CloseAu(unit.start);
    ClosePeriod(true);
  }
  if (!open_ || new_picture) OpenAu(unit.start);
  // The structure word describes the unit's own picture: its first slice and the timing SEI
  // that came before it in the unit.
  if (!slice_seen_) au_.extra = StructureWord();
  slice_seen_ = true;
  if (counter_ < 2) frame_picture_ = !slice.field_pic_flag;
  au_.poc = poc_.Compute(slice);
  // The sets may be replaced by the next NAL unit; the kept header must not point at them.
  cur_.sps = nullptr;
  cur_.pps = nullptr;
  // A picture is as "late" as its latest slice kind: I and P slices make a P picture.
  au_.flags = std::max(au_.flags & kPictureTypeMask, PictureType(slice.slice_type)) |
              (au_.flags & ~kPictureTypeMask);
  au_.decode_index = counter_;
  if (slice.idr()) au_.flags |= kRandomAccessFlag;
  return 0;
}

void H264Analyzer::DropSlice(uint64_t start) {
  if (!open_) return;
  if (slice_seen_) {
    CloseAu(start);  // the unit holds an earlier, sound picture
  } else {
    open_ = false;
    --counter_;
  }
}

uint32_t H264Analyzer::FieldPeriods() const {
  if (timing_.has_pic_struct) return H264FieldPeriods(timing_.pic_struct);
  return have_cur_ && cur_.field_pic_flag ? 1 : 2;
}

uint32_t H264Analyzer::StructureWord() const {
  const bool field = have_cur_ && cur_.field_pic_flag;
  return (field ? 1u : 0u) | (FieldPeriods() * 2);
}

void H264Analyzer::OpenAu(uint64_t start) {
  if (open_ && !slice_seen_) return;  // a delimiter or set already opened it
  if (open_) CloseAu(start);
  au_ = PendingAu{};
  au_.offset = start;
  au_.extra = StructureWord();
  ++counter_;
  slice_seen_ = false;
  open_ = true;
}

void H264Analyzer::CloseAu(uint64_t end) {
  au_.size = static_cast<uint32_t>(end - au_.offset);
  pending_.push_back(au_);
  open_ = false;
}

void H264Analyzer::ClosePeriod(bool at_idr) {
  if (pending_.empty()) return;
  const uint32_t count = static_cast<uint32_t>(pending_.size());
  // The IDR's removal delay counts the ticks since the previous IDR, so a delay beyond the
  // pictures seen means pictures are missing. At the end of the stream no IDR follows, and the
  // delay then in hand belongs to the last IDR: it says nothing about this period.
  if (at_idr && timing_.has_delays && timing_.cpb_removal_delay > 2ull * count) {
    frame_offset_ += timing_.cpb_removal_delay / 2 - count;
  }
  const double n = FieldPeriods();
  const bool field_coded = have_cur_ && cur_.field_pic_flag;

  const auto smallest =
      std::min_element(pending_.begin(), pending_.end(),
                       [](const PendingAu& a, const PendingAu& b) { return a.poc < b.poc; });
  std::vector<int64_t> pocs;
  for (const PendingAu& au : pending_) pocs.push_back(au.poc);
  std::sort(pocs.begin(), pocs.end());
  const int64_t step = pocs.size() >= 2 && pocs[1] - pocs[0] == 2 ? 2 : 1;
  int64_t base_index = smallest->decode_index;
  if ((smallest->flags & kPictureTypeMask) == kPictureI) base_index += field_coded ? 2 : 1;

  const double scale = 90.0 * n * 0.5 * frame_duration_;
  std::vector<AccessUnit> units;
  std::vector<UnitTiming> timings;
  for (const PendingAu& au : pending_) {
    out_.total_size += au.size;
    const int64_t display = base_index + (int64_t{au.poc} - smallest->poc) / step;
    reorder_lag_ = std::max<int64_t>(reorder_lag_, int64_t{au.decode_index} - display);
    const double t = scale * static_cast<double>(display + frame_offset_);
    if (!have_time_base_) {
      time_base_ = kFirstTime - t;
      have_time_base_ = true;
    }
    const double d = scale * static_cast<double>(au.decode_index + frame_offset_);
    AccessUnit entry{au.size, au.offset, au.flags, 0, 0, au.extra};
    entry.pts = static_cast<uint32_t>(static_cast<int64_t>(t + time_base_));
    entry.dts = static_cast<uint32_t>(static_cast<int64_t>(d + time_base_));
    units.push_back(entry);
    timings.push_back({d + time_base_, scale});
  }
  if (field_coded) {
    // Fields travel in pairs; the pair takes the first field's fields and both sizes.
    std::vector<AccessUnit> frames;
    std::vector<UnitTiming> frame_timings;
    for (size_t i = 0; i + 1 < units.size(); i += 2) {
      frames.push_back(units[i]);
      frames.back().size += units[i + 1].size;
      frame_timings.push_back(timings[i]);
    }
    units.swap(frames);
    timings.swap(frame_timings);
  }
  timings_.insert(timings_.end(), timings.begin(), timings.end());
  GopInfo gop;
  gop.count = static_cast<uint32_t>(units.size()) & 0xFF;
  for (size_t i = 0; i < units.size(); ++i) {
    if ((units[i].flags & kPictureTypeMask) != kPictureI) continue;
    gop.i_index = static_cast<uint32_t>(i);
    gop.i_offset = units[i].offset;
    gop.i_size = units[i].size;
  }
  out_.gops.push_back(gop);
  out_.units.insert(out_.units.end(), units.begin(), units.end());
  pending_.clear();
}

void H264Analyzer::ApplyReorderLag() {
  if (reorder_lag_ <= 0) return;
  for (size_t i = 0; i < out_.units.size(); ++i) {
    const UnitTiming& t = timings_[i];
    out_.units[i].dts = static_cast<uint32_t>(
        static_cast<int64_t>(t.dts - t.scale * static_cast<double>(reorder_lag_)));
  }
}

int H264Analyzer::SequenceParameterSet(std::span<const uint8_t> rbsp) {
  auto sps = std::make_unique<H264Sps>();
  if (!ParseH264Sps(rbsp, *sps)) {
    // The first set decides whether the stream is accepted at all, so a damaged one is refused.
    return first_set_ && !filled_ ? result::kSyntaxIllegal : 0;
  }
  const H264Vui& vui = sps->vui;
  if (vui.timing_info_present_flag && vui.time_scale != 0) {
    frame_duration_ = vui.num_units_in_tick * 2000.0 / vui.time_scale;
  }
  int r = 0;
  if (first_set_) r = AcceptFirstSet(*sps);
  sets_.Store(std::move(sps));
  return r;
}

int H264Analyzer::AcceptFirstSet(const H264Sps& sps) {
  const H264Vui& vui = sps.vui;
  if (!Contains(kProfiles, sps.profile_idc)) return result::kWrongProfile;
  if (sps.chroma_format_idc != 1) return result::kWrongChromaFormat;
  if (sps.gaps_in_frame_num_value_allowed_flag) return result::kFrameGaps;
  if (!sps.vui_parameters_present_flag) return result::kNoVui;
  if (!vui.aspect_ratio_info_present_flag) return result::kNoAspectInfo;
  // A zero tick or time scale gives no usable rate; it counts as missing timing.
  if (!vui.timing_info_present_flag || vui.num_units_in_tick == 0 || vui.time_scale == 0) {
    return result::kNoTimingInfo;
  }
  if (!vui.fixed_frame_rate_flag) return result::kFixedFrameRate;
  if (vui.nal_hrd_parameters_present_flag && vui.low_delay_hrd_flag) return result::kWrongLowDelay;

  VideoAttributes& v = out_.video;
  v.progressive = sps.frame_mbs_only_flag;
  v.width = sps.Width();
  v.height = sps.Height();
  if (vui.aspect_ratio_idc == 255) {
    const double ratio = static_cast<double>(vui.sar_width) * v.width /
                         (static_cast<double>(vui.sar_height) * v.height);
    v.aspect_code = ratio == 4.0 / 3.0 ? 2 : 3;
  } else {
    v.aspect_code = AspectFromSar(vui.aspect_ratio_idc, v.width, v.height);
  }
  const double rate = vui.time_scale * 0.5 / vui.num_units_in_tick;
  v.frame_rate_code = FrameRateCode(rate);
  v.profile = sps.profile_idc;
  v.level = sps.level_idc;
  out_.constraint_flags = sps.constraint_flags;
  out_.aspect_ratio_idc = vui.aspect_ratio_idc;
  const uint64_t cpb = vui.nal_hrd_parameters_present_flag ? vui.nal_hrd.MaxCpbSize() : 0;
  if (cpb > kMaxCpbSize) return result::kCpbOverflow;
  const uint64_t bit_rate = vui.nal_hrd_parameters_present_flag ? vui.nal_hrd.MaxBitRate() : 0;
  if (bit_rate > kMaxBitRate) return result::kBitrateOverflow;
  out_.cpb_size = static_cast<uint32_t>(cpb);
  out_.bit_rate = static_cast<uint32_t>(bit_rate);
  filled_ = true;

  const int r = ValidateH264(out_);
  if (r == result::kWrongFrameRate && v.frame_rate_code != 255) return 0;  // checked again later
  if (r == result::kWrongFrameRate) {
    ShowMessage(Format("Error: Unsupported FrameRate value %2.3f! ", rate));
  }
  if (r == 0) first_set_ = false;
  return r;
}

}  // namespace

int ValidateH264(H264Analysis& analysis, bool check_aspect_idc) {
  VideoAttributes& v = analysis.video;
  if (!Contains(kProfiles, v.profile)) return result::kWrongProfile;
  const HdSize* hd = nullptr;
  for (const HdSize& size : kHdSizes) {
    if (size.width == v.width && size.height == v.height) hd = &size;
  }
  const uint8_t idc = analysis.aspect_ratio_idc;
  if (hd != nullptr) {
    if (v.level != 40 && v.level != 41) return result::kWrongLevel;
    if (check_aspect_idc && idc != hd->aspect_a && idc != hd->aspect_b) {
      return result::kWrongAspectRatio;
    }
  } else {
    if (v.width != 720) return result::kWrongVideoFormat;
    if (v.height == 480) {
      if (check_aspect_idc && idc != 3 && idc != 5) return result::kWrongAspectRatio;
    } else if (v.height == 576) {
      if (check_aspect_idc && idc != 2 && idc != 4) return result::kWrongAspectRatio;
    } else {
      return result::kWrongVideoFormat;
    }
    if (!Contains(kSdLevels, v.level)) return result::kWrongLevel;
  }
  v.video_format = VideoFormatFromHeight(v.height, v.progressive, v.video_format);
  if (!FrameRateAllowed(v.video_format, v.frame_rate_code)) return result::kWrongFrameRate;
  return result::kOk;
}

bool ProbeH264(std::span<const uint8_t> b) {
  return b.size() >= 4 && b[0] == 0 && b[1] == 0 && b[2] == 0 && b[3] == 1;
}

int AnalyzeH264(ByteSource& source, const Progress& progress, H264Analysis& out) {
  out = H264Analysis{};
  H264Analyzer analyzer(out);
  return analyzer.Run(source, progress);
}

void CH264VideoSif::Fill(const H264Analysis& analysis) {
  SetAttributes(analysis.video);
  cpb_size = analysis.cpb_size;
  still_flag = analysis.still_flag;
  constraint_flags = analysis.constraint_flags;
  aspect_ratio_idc = analysis.aspect_ratio_idc;
  aspect_ratio_idc_known = true;
}

void CH264VideoSif::FillPmtStream(ESI& entry) const {
  CVideoSif::FillPmtStream(entry);
  if (!still_flag) return;
  AvcVideoDescriptor& avc = entry.AvcVideo.emplace();
  avc.AvcProfile = profile;
  avc.constraint_set0_flag = constraint_flags & 0x80;
  avc.constraint_set1_flag = constraint_flags & 0x40;
  avc.constraint_set2_flag = constraint_flags & 0x20;
  avc.AVC_compatible_flags = constraint_flags & 0x1F;
  avc.AvcLevel = level;
  avc.AVC_still_present = true;
  avc.AVC_24_hour_picture_flag = false;
}

std::unique_ptr<CSifData> CH264VideoSif::Clone() const {
  return std::make_unique<CH264VideoSif>(*this);
}

bool CH264VideoSif::IsEqual(const CSifData& other) const {
  const auto* o = dynamic_cast<const CH264VideoSif*>(&other);
  return o && CVideoSif::IsEqual(other) && cpb_size == o->cpb_size;
}

int CH264VideoSif::Validate() const {
  H264Analysis analysis;
  analysis.video = Attributes();
  analysis.aspect_ratio_idc = aspect_ratio_idc;
  // The file does not keep the idc; the parse that wrote it has checked it.
  return ValidateH264(analysis, aspect_ratio_idc_known);
}

int CH264VideoSif::StdModels(SStdSpec (&models)[2]) const {
  models[0] = {StdKind::kAvc, level, true};
  return 1;
}

bool CH264VideoSif::Read(LeReader& in) {
  if (!CVideoSif::Read(in)) return false;
  aspect_ratio_idc = 0;
  aspect_ratio_idc_known = false;
  cpb_size = in.U32();
  still_flag = in.U8();
  constraint_flags = in.U8();
  return in.ok();
}

void CH264VideoSif::Write(LeWriter& out) const {
  CVideoSif::Write(out);
  out.U32(cpb_size);
  out.U8(still_flag);
  out.U8(constraint_flags);
}

CH264Parser::CH264Parser() : CParserBase(coding::kH264, {".264", ".avc", ".h264"}) {}

bool CH264Parser::ProbeFile(BitFile& file) {
  uint8_t first[4];
  const size_t n = file.ReadBytes(first, sizeof first);
  return ProbeH264({first, n});
}

int CH264Parser::ParseFile(BitFile&, ByteSource& source, CStreamInfo& info,
                           const ProgressCallback& progress) {
  if (!source.Rewind()) return result::kOpenError;
  H264Analysis analysis;
  if (const int r = AnalyzeH264(source, PercentProgress(progress), analysis); r != result::kOk) {
    return r;
  }
  auto record = std::make_unique<CH264VideoSif>();
  record->Fill(analysis);
  return StoreVideoAnalysis(info, std::move(record),
                            {analysis.au_duration, analysis.bit_rate, analysis.total_size,
                             analysis.units, analysis.gops});
}

}  // namespace tessel
