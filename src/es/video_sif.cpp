#include "es/video_sif.h"

#include <array>

namespace tessel {
namespace {

// Allowed frame-rate codes by video format (bit n set: code n allowed).
constexpr std::array<uint8_t, 8> kAllowedRates = {
    0,                                  // 0: none
    1 << 4,                             // 480i: 29.97
    1 << 3,                             // 576i: 25
    1 << 1 | 1 << 2 | 1 << 4,           // 480p: 23.976, 24, 29.97
    1 << 4 | 1 << 3,                    // 1080i: 29.97, 25
    1 << 1 | 1 << 2 | 1 << 6 | 1 << 7,  // 720p: 23.976, 24, 50, 59.94
    1 << 1 | 1 << 2,                    // 1080p: 23.976, 24
    1 << 3,                             // 576p: 25
};

}  // namespace

void GOP_INF::Write(LeWriter& out) const {
  out.U8(au_count);
  out.U32(i_picture_index);
  out.U64(i_picture_offset);
  out.U32(i_picture_size);
  out.U32(min_pts);
  out.U32(max_pts);
}

bool CVideoSif::IsEqual(const CSifData& other) const {
  const auto* o = dynamic_cast<const CVideoSif*>(&other);
  return o && VideoCodingType() == o->VideoCodingType() && profile == o->profile &&
         level == o->level && video_format == o->video_format && aspect_code == o->aspect_code &&
         frame_rate_code == o->frame_rate_code && width == o->width && height == o->height &&
         progressive == o->progressive;
}

void CVideoSif::FillAttributes(StreamAttributeValues& values) const {
  values.coding_type = VideoCodingType();
  values.video_format = video_format;
  values.frame_rate = frame_rate_code;
  values.aspect_ratio = aspect_code;
}

bool CVideoSif::Read(LeReader& in) {
  version_ = in.U32();
  if (version_ < kMinVersion) return false;
  profile = in.U8();
  level = in.U8();
  video_format = in.U8();
  aspect_code = in.U8();
  frame_rate_code = in.U8();
  width = in.U32();
  height = in.U32();
  progressive = in.U8();
  gop_count = in.U32();
  gop_table_offset = in.U32();
  if (video_format == 0) video_format = VideoFormatFromHeight(height, progressive, 0);
  return in.ok();
}

void CVideoSif::Write(LeWriter& out) const {
  out.U32(kVersion);
  out.U8(profile);
  out.U8(level);
  out.U8(video_format);
  out.U8(aspect_code);
  out.U8(frame_rate_code);
  out.U32(width);
  out.U32(height);
  out.U8(progressive);
  out.U32(gop_count);
  out.U32(gop_table_offset);
}

uint8_t VideoFormatFromHeight(uint32_t height, bool progressive, uint8_t current) {
  switch (height) {
    case 480:
      return progressive ? 3 : 1;
    case 576:
      return progressive ? 7 : 2;
    case 720:
      return 5;
    case 1080:
    case 1088:
      return progressive ? 6 : 4;
    default:
      return current;
  }
}

bool FrameRateAllowed(uint8_t video_format, uint8_t frame_rate_code) {
  return video_format < kAllowedRates.size() && frame_rate_code < 8 &&
         (kAllowedRates[video_format] >> frame_rate_code & 1);
}

uint8_t AspectFromSar(uint32_t index, uint32_t width, uint32_t height) {
  switch (index) {
    case 1:
      if (height == 480) return 2;
      return (height == 720 || height == 1080 || height == 1088) ? 3 : 0;
    case 2:
      return (height == 576 || height == 288) ? 2 : 0;
    case 3:
      return (height == 240 || height == 480 || height == 486) ? 2 : 0;
    case 4:
    case 5:
      if (width == 528 || width == 540) return 2;
      return (width == 704 || width == 720) ? 3 : 0;
    case 6:
    case 7:
      if (width == 352) return 2;
      return width == 480 ? 3 : 0;
    case 8:
    case 9:
      return width == 352 ? 3 : 0;
    case 10:
    case 11:
      return width == 480 ? 2 : 0;
    case 12:
    case 13:
      return (width == 528 || width == 540) ? 3 : 0;
    default:
      return 0;
  }
}

bool WriteVideoStreamInfo(CStreamInfo& info, std::span<const uint8_t> entries) {
  auto* video = dynamic_cast<CVideoSif*>(info.record.get());
  if (!video) return false;
  CVideoSif& record = *video;
  record.gop_count = static_cast<uint32_t>(record.gops.size());
  if (!info.WriteHeaderAndRecord()) return false;  // places auTableOffset
  record.gop_table_offset = static_cast<uint32_t>(info.header.auTableOffset + entries.size());
  LeWriter table;
  table.U32(0);
  for (const GOP_INF& gop : record.gops) gop.Write(table);
  std::vector<uint8_t> tail(entries.begin(), entries.end());
  tail.insert(tail.end(), table.bytes().begin(), table.bytes().end());
  return info.WriteHeaderAndRecord() && info.ReplaceFrom(info.header.auTableOffset, tail);
}

}  // namespace tessel
