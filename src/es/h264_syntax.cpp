#include "es/h264_syntax.h"

#include <algorithm>

#include "formats/field_access.h"

namespace tessel {

namespace {

// Values past these limits are not H.264; the readers refuse them rather than index with them.
constexpr uint32_t kMaxSpsId = 31;
constexpr uint32_t kMaxPpsId = 255;
constexpr uint32_t kMaxCpbCount = 31;
constexpr uint32_t kMaxLog2 = 12;  // log2_max_frame_num_minus4 and the POC lsb field
constexpr uint32_t kMaxSliceGroups = 7;

// Profiles whose sets carry chroma format, bit depths and scaling matrices.
constexpr uint8_t kHighProfiles[] = {100, 110, 122, 244, 44,  83,  86,
                                     118, 128, 138, 139, 134, 135, 144};

bool IsHighProfile(uint8_t profile_idc) {
  return std::find(std::begin(kHighProfiles), std::end(kHighProfiles), profile_idc) !=
         std::end(kHighProfiles);
}

void SkipScalingList(BitReader& br, int size) {
  int32_t last = 8;
  int32_t next = 8;
  for (int j = 0; j < size && br.ok(); ++j) {
    if (next != 0) {
      const int32_t delta = br.Se();
      next = ((last + delta) % 256 + 256) % 256;
    }
    if (next != 0) last = next;
  }
}

bool ReadHrd(BitReader& br, H264Hrd& hrd) {
  hrd.cpb_cnt_minus1 = br.Ue();
  if (hrd.cpb_cnt_minus1 > kMaxCpbCount) return false;
  hrd.bit_rate_scale = static_cast<uint8_t>(br.Bits(4));
  hrd.cpb_size_scale = static_cast<uint8_t>(br.Bits(4));
  for (uint32_t i = 0; i <= hrd.cpb_cnt_minus1; ++i) {
    hrd.bit_rate_value_minus1[i] = br.Ue();
    hrd.cpb_size_value_minus1[i] = br.Ue();
    hrd.cbr_flag[i] = br.Flag();
  }
  hrd.initial_cpb_removal_delay_length_minus1 = static_cast<uint8_t>(br.Bits(5));
  hrd.cpb_removal_delay_length_minus1 = static_cast<uint8_t>(br.Bits(5));
  hrd.dpb_output_delay_length_minus1 = static_cast<uint8_t>(br.Bits(5));
  hrd.time_offset_length = static_cast<uint8_t>(br.Bits(5));
  return br.ok();
}

bool ReadVui(BitReader& br, H264Vui& vui) {
  vui.aspect_ratio_info_present_flag = br.Flag();
  if (vui.aspect_ratio_info_present_flag) {
    vui.aspect_ratio_idc = static_cast<uint8_t>(br.Bits(8));
    if (vui.aspect_ratio_idc == 255) {
      vui.sar_width = static_cast<uint16_t>(br.Bits(16));
      vui.sar_height = static_cast<uint16_t>(br.Bits(16));
    }
  }
  if (br.Flag()) br.Skip(1);     // overscan_info_present_flag, overscan_appropriate_flag
  if (br.Flag()) {               // video_signal_type_present_flag
    br.Skip(4);                  // video_format, video_full_range_flag
    if (br.Flag()) br.Skip(24);  // colour primaries, transfer, matrix
  }
  if (br.Flag()) {  // chroma_loc_info_present_flag
    br.Ue();
    br.Ue();
  }
  vui.timing_info_present_flag = br.Flag();
  if (vui.timing_info_present_flag) {
    vui.num_units_in_tick = static_cast<uint32_t>(br.Bits(32));
    vui.time_scale = static_cast<uint32_t>(br.Bits(32));
    vui.fixed_frame_rate_flag = br.Flag();
  }
  vui.nal_hrd_parameters_present_flag = br.Flag();
  if (vui.nal_hrd_parameters_present_flag && !ReadHrd(br, vui.nal_hrd)) return false;
  vui.vcl_hrd_parameters_present_flag = br.Flag();
  if (vui.vcl_hrd_parameters_present_flag && !ReadHrd(br, vui.vcl_hrd)) return false;
  if (vui.nal_hrd_parameters_present_flag || vui.vcl_hrd_parameters_present_flag) {
    vui.low_delay_hrd_flag = br.Flag();
  }
  vui.pic_struct_present_flag = br.Flag();
  // bitstream_restriction_flag and what follows are of no use here.
  return br.ok();
}

bool ReadPocFields(BitReader& br, H264Sps& sps) {
  sps.log2_max_frame_num = br.Ue() + 4;
  sps.pic_order_cnt_type = br.Ue();
  if (sps.log2_max_frame_num > kMaxLog2 + 4 || sps.pic_order_cnt_type > 2) return false;
  if (sps.pic_order_cnt_type == 0) {
    sps.log2_max_pic_order_cnt_lsb = br.Ue() + 4;
    if (sps.log2_max_pic_order_cnt_lsb > kMaxLog2 + 4) return false;
  } else if (sps.pic_order_cnt_type == 1) {
    sps.delta_pic_order_always_zero_flag = br.Flag();
    sps.offset_for_non_ref_pic = br.Se();
    sps.offset_for_top_to_bottom_field = br.Se();
    const uint32_t cycle = br.Ue();
    if (cycle > 255) return false;
    sps.offset_for_ref_frame.resize(cycle);
    for (int32_t& offset : sps.offset_for_ref_frame) offset = br.Se();
  }
  return br.ok();
}

bool ReadChromaFields(BitReader& br, H264Sps& sps) {
  sps.chroma_format_idc = br.Ue();
  if (sps.chroma_format_idc > 3) return false;
  if (sps.chroma_format_idc == 3) sps.separate_colour_plane_flag = br.Flag();
  br.Ue();          // bit_depth_luma_minus8
  br.Ue();          // bit_depth_chroma_minus8
  br.Skip(1);       // qpprime_y_zero_transform_bypass_flag
  if (br.Flag()) {  // seq_scaling_matrix_present_flag
    const int lists = sps.chroma_format_idc == 3 ? 12 : 8;
    for (int i = 0; i < lists; ++i) {
      if (br.Flag()) SkipScalingList(br, i < 6 ? 16 : 64);
    }
  }
  return br.ok();
}

}  // namespace

void RemoveEmulationPrevention(std::span<const uint8_t> nal, std::vector<uint8_t>& out) {
  out.clear();
  out.reserve(nal.size());
  int zeros = 0;
  for (const uint8_t b : nal) {
    if (zeros >= 2 && b == 3) {
      zeros = 0;
      continue;
    }
    zeros = b == 0 ? zeros + 1 : 0;
    out.push_back(b);
  }
}

uint64_t H264Hrd::MaxBitRate() const {
  uint64_t best = 0;
  for (uint32_t i = 0; i <= cpb_cnt_minus1 && i < 32; ++i) {
    best = std::max(best, (uint64_t{bit_rate_value_minus1[i]} + 1) << (bit_rate_scale + 6));
  }
  return best;
}

uint64_t H264Hrd::MaxCpbSize() const {
  uint64_t best = 0;
  for (uint32_t i = 0; i <= cpb_cnt_minus1 && i < 32; ++i) {
    best = std::max(best, (uint64_t{cpb_size_value_minus1[i]} + 1) << (cpb_size_scale + 4));
  }
  return best;
}

uint32_t H264Sps::Width() const {
  uint32_t width = (pic_width_in_mbs_minus1 + 1) * 16;
  if (frame_cropping_flag) width -= 2 * (frame_crop_left_offset + frame_crop_right_offset);
  return width;
}

uint32_t H264Sps::Height() const {
  const uint32_t factor = frame_mbs_only_flag ? 1 : 2;
  uint32_t height = factor * (pic_height_in_map_units_minus1 + 1) * 16;
  if (frame_cropping_flag) {
    height -= 2 * factor * (frame_crop_top_offset + frame_crop_bottom_offset);
  }
  return height;
}

bool ParseH264Sps(std::span<const uint8_t> rbsp, H264Sps& sps) {
  BitReader br(rbsp);
  sps.profile_idc = static_cast<uint8_t>(br.Bits(8));
  sps.constraint_flags = static_cast<uint8_t>(br.Bits(8));
  sps.level_idc = static_cast<uint8_t>(br.Bits(8));
  sps.seq_parameter_set_id = br.Ue();
  if (sps.seq_parameter_set_id > kMaxSpsId) return false;
  if (IsHighProfile(sps.profile_idc) && !ReadChromaFields(br, sps)) return false;
  if (!ReadPocFields(br, sps)) return false;
  sps.max_num_ref_frames = br.Ue();
  sps.gaps_in_frame_num_value_allowed_flag = br.Flag();
  sps.pic_width_in_mbs_minus1 = br.Ue();
  sps.pic_height_in_map_units_minus1 = br.Ue();
  // Sizes beyond 16384 pixels cannot be coded by any level; refusing them keeps the size sums
  // far from overflow.
  if (sps.pic_width_in_mbs_minus1 >= 1024 || sps.pic_height_in_map_units_minus1 >= 1024) {
    return false;
  }
  sps.frame_mbs_only_flag = br.Flag();
  if (!sps.frame_mbs_only_flag) sps.mb_adaptive_frame_field_flag = br.Flag();
  br.Skip(1);  // direct_8x8_inference_flag
  sps.frame_cropping_flag = br.Flag();
  if (sps.frame_cropping_flag) {
    sps.frame_crop_left_offset = br.Ue();
    sps.frame_crop_right_offset = br.Ue();
    sps.frame_crop_top_offset = br.Ue();
    sps.frame_crop_bottom_offset = br.Ue();
    if (2 * (uint64_t{sps.frame_crop_left_offset} + sps.frame_crop_right_offset) >=
            (sps.pic_width_in_mbs_minus1 + 1) * 16u ||
        2 * (uint64_t{sps.frame_crop_top_offset} + sps.frame_crop_bottom_offset) >=
            (sps.pic_height_in_map_units_minus1 + 1) * 16u) {
      return false;
    }
  }
  sps.vui_parameters_present_flag = br.Flag();
  if (sps.vui_parameters_present_flag && !ReadVui(br, sps.vui)) return false;
  return br.ok();
}

bool ParseH264Pps(std::span<const uint8_t> rbsp, H264Pps& pps) {
  BitReader br(rbsp);
  pps.pic_parameter_set_id = br.Ue();
  pps.seq_parameter_set_id = br.Ue();
  if (pps.pic_parameter_set_id > kMaxPpsId || pps.seq_parameter_set_id > kMaxSpsId) return false;
  pps.entropy_coding_mode_flag = br.Flag();
  pps.bottom_field_pic_order_in_frame_present_flag = br.Flag();
  pps.num_slice_groups_minus1 = br.Ue();
  if (pps.num_slice_groups_minus1 > kMaxSliceGroups) return false;
  if (pps.num_slice_groups_minus1 > 0) {
    const uint32_t map_type = br.Ue();
    const uint32_t groups = pps.num_slice_groups_minus1 + 1;
    if (map_type == 0) {
      for (uint32_t i = 0; i < groups; ++i) br.Ue();
    } else if (map_type == 2) {
      for (uint32_t i = 0; i + 1 < groups; ++i) {
        br.Ue();
        br.Ue();
      }
    } else if (map_type >= 3 && map_type <= 5) {
      br.Skip(1);
      br.Ue();
    } else if (map_type == 6) {
      const uint32_t units = br.Ue();
      unsigned bits = 0;
      while ((1u << bits) < groups) ++bits;
      // A count larger than the bits left cannot be right; skipping it whole reads past the end.
      if (uint64_t{units} + 1 > br.bits_left()) return false;
      br.Skip((uint64_t{units} + 1) * bits);
    }
  }
  br.Ue();     // num_ref_idx_l0_default_active_minus1
  br.Ue();     // num_ref_idx_l1_default_active_minus1
  br.Skip(3);  // weighted_pred_flag, weighted_bipred_idc
  br.Se();     // pic_init_qp_minus26
  br.Se();     // pic_init_qs_minus26
  br.Se();     // chroma_qp_index_offset
  br.Skip(2);  // deblocking_filter_control_present_flag, constrained_intra_pred_flag
  pps.redundant_pic_cnt_present_flag = br.Flag();
  return br.ok();
}

void H264ParamSets::Store(std::unique_ptr<H264Sps> sps) {
  const uint32_t id = sps->seq_parameter_set_id;
  if (id <= kMaxSpsId) sps_[id] = std::move(sps);
}

void H264ParamSets::Store(std::unique_ptr<H264Pps> pps) {
  const uint32_t id = pps->pic_parameter_set_id;
  if (id <= kMaxPpsId) pps_[id] = std::move(pps);
}

namespace {

template <typename T, size_t N>
const T* FindNearest(const std::array<std::unique_ptr<T>, N>& table, uint32_t id) {
  const size_t start = std::min<size_t>(id, N - 1);
  for (size_t i = start + 1; i-- > 0;) {
    if (table[i]) return table[i].get();
  }
  for (size_t i = start + 1; i < N; ++i) {
    if (table[i]) return table[i].get();
  }
  return nullptr;
}

}  // namespace

const H264Sps* H264ParamSets::FindSps(uint32_t id) const {
  return FindNearest(sps_, id);
}
const H264Pps* H264ParamSets::FindPps(uint32_t id) const {
  return FindNearest(pps_, id);
}

namespace {

constexpr uint8_t kFieldPeriods[16] = {2, 1, 1, 2, 2, 3, 3, 4, 6, 0, 0, 0, 0, 0, 0, 0};

// payloadType or payloadSize: a run of 0xFF bytes, each worth 255, and a last byte.
uint32_t ReadSeiNumber(ByteReader& in) {
  uint32_t value = 0;
  uint8_t b = 0;
  do {
    b = in.U8();
    value += b;
  } while (b == 0xFF && in.ok());
  return value;
}

// Reads a pic_timing payload; true when it gave pic_struct (which ends the SEI reading).
bool ReadPicTiming(std::span<const uint8_t> payload, const H264Sps& sps, H264PicTiming& timing) {
  BitReader br(payload);
  const H264Vui& vui = sps.vui;
  if (vui.nal_hrd_parameters_present_flag || vui.vcl_hrd_parameters_present_flag) {
    const H264Hrd& hrd = vui.nal_hrd_parameters_present_flag ? vui.nal_hrd : vui.vcl_hrd;
    const uint32_t cpb = static_cast<uint32_t>(br.Bits(hrd.cpb_removal_delay_length_minus1 + 1));
    const uint32_t dpb = static_cast<uint32_t>(br.Bits(hrd.dpb_output_delay_length_minus1 + 1));
    if (br.ok()) {
      timing.has_delays = true;
      timing.cpb_removal_delay = cpb;
      timing.dpb_output_delay = dpb;
    }
  }
  if (!vui.pic_struct_present_flag) return false;
  const uint8_t pic_struct = static_cast<uint8_t>(br.Bits(4));
  if (!br.ok()) return false;
  timing.has_pic_struct = true;
  timing.pic_struct = pic_struct;
  return true;
}

}  // namespace

uint32_t H264FieldPeriods(uint8_t pic_struct) {
  return kFieldPeriods[pic_struct & 15];
}

void ParseH264Sei(std::span<const uint8_t> rbsp, const H264Sps* sps, H264PicTiming& timing) {
  ByteReader in(rbsp);
  while (in.remaining() >= 2) {
    const uint32_t type = ReadSeiNumber(in);
    const uint32_t size = ReadSeiNumber(in);
    if (!in.ok()) return;
    // A payload that claims more than the message holds is read only as far as it goes.
    const size_t avail = std::min<size_t>(size, in.remaining());
    const std::span<const uint8_t> payload = rbsp.subspan(in.pos(), avail);
    if (type == 1 && size != 0 && sps != nullptr && ReadPicTiming(payload, *sps, timing)) return;
    in.Skip(avail);
  }
}

namespace {

int ReadSliceOrder(BitReader& br, const H264Sps& sps, const H264Pps& pps, H264SliceHeader& s) {
  if (sps.separate_colour_plane_flag) br.Skip(2);  // colour_plane_id
  s.frame_num = static_cast<uint32_t>(br.Bits(sps.log2_max_frame_num));
  if (!sps.frame_mbs_only_flag) {
    s.field_pic_flag = br.Flag();
    if (s.field_pic_flag) s.bottom_field_flag = br.Flag();
  }
  if (s.idr()) s.idr_pic_id = br.Ue();
  if (sps.pic_order_cnt_type == 0) {
    s.pic_order_cnt_lsb = static_cast<uint32_t>(br.Bits(sps.log2_max_pic_order_cnt_lsb));
    if (pps.bottom_field_pic_order_in_frame_present_flag && !s.field_pic_flag) {
      s.delta_pic_order_cnt_bottom = br.Se();
    }
  } else if (sps.pic_order_cnt_type == 1 && !sps.delta_pic_order_always_zero_flag) {
    s.delta_pic_order_cnt[0] = br.Se();
    if (pps.bottom_field_pic_order_in_frame_present_flag && !s.field_pic_flag) {
      s.delta_pic_order_cnt[1] = br.Se();
    }
  }
  if (pps.redundant_pic_cnt_present_flag) s.redundant_pic_cnt = br.Ue();
  if (s.slice_type == h264::kSliceB) s.direct_spatial_mv_pred_flag = br.Flag();
  return br.ok() ? 0 : 8;
}

}  // namespace

int ParseH264SliceHeader(std::span<const uint8_t> rbsp, uint8_t nal_header,
                         const H264ParamSets& sets, H264SliceHeader& slice) {
  slice = H264SliceHeader{};
  slice.nal_unit_type = nal_header & 0x1F;
  slice.nal_ref_idc = (nal_header >> 5) & 3;
  BitReader br(rbsp);
  slice.first_mb_in_slice = br.Ue();
  uint32_t type = br.Ue();
  if (type > 4) type -= 5;
  if (!br.ok()) return 8;
  if (type > 4) return 42;
  slice.slice_type = static_cast<uint8_t>(type);
  slice.pic_parameter_set_id = br.Ue();
  slice.pps = sets.FindPps(slice.pic_parameter_set_id);
  if (slice.pps == nullptr) return 38;
  slice.sps = sets.FindSps(slice.pps->seq_parameter_set_id);
  if (slice.sps == nullptr) return 37;
  slice.pic_order_cnt_type = slice.sps->pic_order_cnt_type;
  return ReadSliceOrder(br, *slice.sps, *slice.pps, slice);
}

bool H264IsNewPicture(const H264SliceHeader& prev, const H264SliceHeader& cur) {
  if (prev.frame_num != cur.frame_num || prev.pic_parameter_set_id != cur.pic_parameter_set_id ||
      prev.field_pic_flag != cur.field_pic_flag) {
    return true;
  }
  if (prev.field_pic_flag && prev.bottom_field_flag != cur.bottom_field_flag) return true;
  if (prev.nal_ref_idc != cur.nal_ref_idc && (prev.nal_ref_idc == 0 || cur.nal_ref_idc == 0)) {
    return true;
  }
  if (prev.idr() != cur.idr()) return true;
  if (prev.idr() && prev.idr_pic_id != cur.idr_pic_id) return true;
  const uint32_t prev_type = prev.pic_order_cnt_type;
  const uint32_t cur_type = cur.pic_order_cnt_type;
  if (prev_type == 0 && cur_type == 0) {
    return prev.pic_order_cnt_lsb != cur.pic_order_cnt_lsb ||
           prev.delta_pic_order_cnt_bottom != cur.delta_pic_order_cnt_bottom;
  }
  if (prev_type == 1 && cur_type == 1) {
    return prev.delta_pic_order_cnt[0] != cur.delta_pic_order_cnt[0] ||
           prev.delta_pic_order_cnt[1] != cur.delta_pic_order_cnt[1];
  }
  return false;
}

namespace {

// Field order counts wrap like the stream's own arithmetic would; int64 keeps every step defined.
int32_t ToPoc(int64_t v) {
  return static_cast<int32_t>(static_cast<uint32_t>(v));
}

int64_t PocOfPicture(const H264SliceHeader& s, int64_t top, int64_t bottom) {
  if (!s.field_pic_flag) return std::min(top, bottom);
  return s.bottom_field_flag ? bottom : top;
}

}  // namespace

int32_t H264PocState::Compute(const H264SliceHeader& s) {
  const H264Sps& sps = *s.sps;
  const bool ref = s.nal_ref_idc != 0;
  if (sps.pic_order_cnt_type == 0) {
    if (s.idr()) prev_msb_ = prev_lsb_ = 0;
    const int64_t max_lsb = int64_t{1} << sps.log2_max_pic_order_cnt_lsb;
    const int64_t lsb = s.pic_order_cnt_lsb;
    int64_t msb = prev_msb_;
    if (lsb < prev_lsb_ && prev_lsb_ - lsb >= max_lsb / 2) {
      msb = prev_msb_ + max_lsb;
    } else if (lsb > prev_lsb_ && lsb - prev_lsb_ > max_lsb / 2) {
      msb = prev_msb_ - max_lsb;
    }
    if (ref) {
      prev_msb_ = msb;
      prev_lsb_ = lsb;
    }
    const int64_t top = msb + lsb;  // msb moves by at most 2^16 per picture: no overflow
    const int64_t bottom = s.field_pic_flag ? top : top + s.delta_pic_order_cnt_bottom;
    return ToPoc(PocOfPicture(s, top, bottom));
  }

  const int64_t max_frame_num = int64_t{1} << sps.log2_max_frame_num;
  int64_t frame_num_offset = 0;
  if (!s.idr()) {
    frame_num_offset = prev_frame_num_offset_ + (prev_frame_num_ > s.frame_num ? max_frame_num : 0);
  }
  prev_frame_num_offset_ = frame_num_offset;
  prev_frame_num_ = s.frame_num;

  if (sps.pic_order_cnt_type == 2) {
    int64_t poc = s.idr() ? 0 : 2 * (frame_num_offset + s.frame_num) - (ref ? 0 : 1);
    return ToPoc(poc);
  }

  // Type 1 sums stream-chosen offsets; unsigned arithmetic wraps where a hostile set overflows.
  const uint64_t cycle = sps.offset_for_ref_frame.size();
  uint64_t abs_frame_num = cycle != 0 ? static_cast<uint64_t>(frame_num_offset) + s.frame_num : 0;
  if (!ref && abs_frame_num > 0) --abs_frame_num;
  uint64_t expected = 0;
  if (abs_frame_num > 0) {
    uint64_t delta_per_cycle = 0;
    for (const int32_t o : sps.offset_for_ref_frame) delta_per_cycle += static_cast<uint64_t>(o);
    expected = (abs_frame_num - 1) / cycle * delta_per_cycle;
    const uint64_t in_cycle = (abs_frame_num - 1) % cycle;
    for (uint64_t i = 0; i <= in_cycle; ++i) {
      expected += static_cast<uint64_t>(sps.offset_for_ref_frame[i]);
    }
  }
  if (!ref) expected += static_cast<uint64_t>(sps.offset_for_non_ref_pic);
  const auto add = [](uint64_t a, int32_t b) { return a + static_cast<uint64_t>(b); };
  const uint64_t top = add(expected, s.delta_pic_order_cnt[0]);
  const uint64_t bottom =
      s.field_pic_flag
          ? add(add(expected, sps.offset_for_top_to_bottom_field), s.delta_pic_order_cnt[0])
          : add(add(top, sps.offset_for_top_to_bottom_field), s.delta_pic_order_cnt[1]);
  return static_cast<int32_t>(
      PocOfPicture(s, ToPoc(static_cast<int64_t>(top)), ToPoc(static_cast<int64_t>(bottom))));
}

}  // namespace tessel
