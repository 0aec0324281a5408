// H.264 syntax read by the stream analysis: NAL headers, parameter sets with VUI and HRD, the
// picture timing SEI, the start of slice headers, new-picture detection and picture order counts.
// Everything reads RBSP bytes held in memory (emulation prevention already removed).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace tessel {

namespace h264 {
inline constexpr uint8_t kNalSlice = 1;
inline constexpr uint8_t kNalIdrSlice = 5;
inline constexpr uint8_t kNalSei = 6;
inline constexpr uint8_t kNalSps = 7;
inline constexpr uint8_t kNalPps = 8;
inline constexpr uint8_t kNalAud = 9;
inline constexpr uint8_t kNalSubsetSps = 15;
inline constexpr uint8_t kNalDependencyDelimiter = 26;
inline constexpr uint8_t kSliceP = 0;
inline constexpr uint8_t kSliceB = 1;
inline constexpr uint8_t kSliceI = 2;
}  // namespace h264

// Copies `nal` without its emulation-prevention bytes (the 03 of 00 00 03) into `out`.
void RemoveEmulationPrevention(std::span<const uint8_t> nal, std::vector<uint8_t>& out);

struct H264Hrd {
  uint32_t cpb_cnt_minus1 = 0;
  uint8_t bit_rate_scale = 0;
  uint8_t cpb_size_scale = 0;
  uint32_t bit_rate_value_minus1[32] = {};
  uint32_t cpb_size_value_minus1[32] = {};
  bool cbr_flag[32] = {};
  uint8_t initial_cpb_removal_delay_length_minus1 = 0;
  uint8_t cpb_removal_delay_length_minus1 = 0;
  uint8_t dpb_output_delay_length_minus1 = 0;
  uint8_t time_offset_length = 0;

  // Largest bit rate (bit/s) and CPB size (bits) over the schedules.
  uint64_t MaxBitRate() const;
  uint64_t MaxCpbSize() const;
};

struct H264Vui {
  bool aspect_ratio_info_present_flag = false;
  uint8_t aspect_ratio_idc = 0;
  uint16_t sar_width = 0;
  uint16_t sar_height = 0;
  bool timing_info_present_flag = false;
  uint32_t num_units_in_tick = 0;
  uint32_t time_scale = 0;
  bool fixed_frame_rate_flag = false;
  bool nal_hrd_parameters_present_flag = false;
  bool vcl_hrd_parameters_present_flag = false;
  H264Hrd nal_hrd;
  H264Hrd vcl_hrd;
  bool low_delay_hrd_flag = false;
  bool pic_struct_present_flag = false;
};

struct H264Sps {
  uint8_t profile_idc = 0;
  uint8_t constraint_flags = 0;  // constraint_set0_flag in bit 7
  uint8_t level_idc = 0;
  uint32_t seq_parameter_set_id = 0;
  uint32_t chroma_format_idc = 1;
  bool separate_colour_plane_flag = false;
  uint32_t log2_max_frame_num = 4;
  uint32_t pic_order_cnt_type = 0;
  uint32_t log2_max_pic_order_cnt_lsb = 4;
  bool delta_pic_order_always_zero_flag = false;
  int32_t offset_for_non_ref_pic = 0;
  int32_t offset_for_top_to_bottom_field = 0;
  std::vector<int32_t> offset_for_ref_frame;
  uint32_t max_num_ref_frames = 0;
  bool gaps_in_frame_num_value_allowed_flag = false;
  uint32_t pic_width_in_mbs_minus1 = 0;
  uint32_t pic_height_in_map_units_minus1 = 0;
  bool frame_mbs_only_flag = true;
  bool mb_adaptive_frame_field_flag = false;
  bool frame_cropping_flag = false;
  uint32_t frame_crop_left_offset = 0;
  uint32_t frame_crop_right_offset = 0;
  uint32_t frame_crop_top_offset = 0;
  uint32_t frame_crop_bottom_offset = 0;
  bool vui_parameters_present_flag = false;
  H264Vui vui;

  // Displayed size after cropping (frame lines, both fields).
  uint32_t Width() const;
  uint32_t Height() const;
};

struct H264Pps {
  uint32_t pic_parameter_set_id = 0;
  uint32_t seq_parameter_set_id = 0;
  bool entropy_coding_mode_flag = false;
  bool bottom_field_pic_order_in_frame_present_flag = false;
  uint32_t num_slice_groups_minus1 = 0;
  bool redundant_pic_cnt_present_flag = false;
};

// Reads a set from the RBSP that follows the NAL header byte; false when it is malformed or its
// id is out of range. The VUI is read only as far as the analysis needs it.
bool ParseH264Sps(std::span<const uint8_t> rbsp, H264Sps& sps);
bool ParseH264Pps(std::span<const uint8_t> rbsp, H264Pps& pps);

// The parameter sets seen so far, by id.
class H264ParamSets {
 public:
  void Store(std::unique_ptr<H264Sps> sps);
  void Store(std::unique_ptr<H264Pps> pps);
  // The set with this id; a missing id falls back to the nearest present one below, then above.
  const H264Sps* FindSps(uint32_t id) const;
  const H264Pps* FindPps(uint32_t id) const;

 private:
  std::array<std::unique_ptr<H264Sps>, 32> sps_;
  std::array<std::unique_ptr<H264Pps>, 256> pps_;
};

// What a picture timing SEI says (kept until the next one).
struct H264PicTiming {
  bool has_delays = false;
  uint32_t cpb_removal_delay = 0;
  uint32_t dpb_output_delay = 0;
  bool has_pic_struct = false;
  uint8_t pic_struct = 0;
};

// Reads the SEI messages of an SEI RBSP and updates `timing` from a picture timing message.
// `sps` may be null (nothing but message framing is read then).
void ParseH264Sei(std::span<const uint8_t> rbsp, const H264Sps* sps, H264PicTiming& timing);

// Field periods a picture lasts for a pic_struct value (0 for reserved values).
uint32_t H264FieldPeriods(uint8_t pic_struct);

struct H264SliceHeader {
  uint8_t nal_unit_type = 0;
  uint8_t nal_ref_idc = 0;
  uint32_t first_mb_in_slice = 0;
  uint8_t slice_type = 0;  // 0..4
  uint32_t pic_parameter_set_id = 0;
  uint32_t frame_num = 0;
  bool field_pic_flag = false;
  bool bottom_field_flag = false;
  uint32_t idr_pic_id = 0;
  uint32_t pic_order_cnt_lsb = 0;
  int32_t delta_pic_order_cnt_bottom = 0;
  int32_t delta_pic_order_cnt[2] = {};
  uint32_t redundant_pic_cnt = 0;
  bool direct_spatial_mv_pred_flag = false;
  uint32_t pic_order_cnt_type = 0;  // of its set, kept for comparing with later slices
  // The sets the slice refers to (owned by the H264ParamSets, and replaced when a set with the
  // same id arrives: valid only until the next set).
  const H264Pps* pps = nullptr;
  const H264Sps* sps = nullptr;

  bool idr() const { return nal_unit_type == h264::kNalIdrSlice; }
};

// Reads a slice header up to direct_spatial_mv_pred_flag from the RBSP after the NAL header.
// Returns 0, or the tolerated results 37 (no SPS), 38 (no PPS), 42 (wrong slice type) and 8
// (header cut short).
int ParseH264SliceHeader(std::span<const uint8_t> rbsp, uint8_t nal_header,
                         const H264ParamSets& sets, H264SliceHeader& slice);

// Whether `cur` is the first slice of a picture other than the one `prev` belongs to.
bool H264IsNewPicture(const H264SliceHeader& prev, const H264SliceHeader& cur);

// Picture order counts of successive slices (types 0, 1 and 2).
class H264PocState {
 public:
  // The POC of the slice's picture (a frame's smaller field count; a field's own count).
  int32_t Compute(const H264SliceHeader& slice);

 private:
  int64_t prev_msb_ = 0;
  int64_t prev_lsb_ = 0;
  uint32_t prev_frame_num_ = 0;
  int64_t prev_frame_num_offset_ = 0;
};

}  // namespace tessel
