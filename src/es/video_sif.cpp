#include "es/video_sif.h"

#include <algorithm>

#include "es/parser_base.h"

namespace tessel {

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

void CVideoSif::SetAttributes(const video::VideoAttributes& a) {
  profile = a.profile;
  level = a.level;
  video_format = a.video_format;
  aspect_code = a.aspect_code;
  frame_rate_code = a.frame_rate_code;
  width = a.width;
  height = a.height;
  progressive = a.progressive ? 1 : 0;
}

video::VideoAttributes CVideoSif::Attributes() const {
  return {profile,         level, video_format, aspect_code,
          frame_rate_code, width, height,       progressive != 0};
}

void CVideoSif::FillAttributes(StreamAttributeValues& values) const {
  values.coding_type = VideoCodingType();
  values.video_format = video_format;
  values.frame_rate = frame_rate_code;
  values.aspect_ratio = aspect_code;
}

void CVideoSif::FillPmtStream(ESI& entry) const {
  entry.StreamType = VideoCodingType();
  entry.HdmvVideoRegistration = HdmvVideoRegistrationDescriptor{VideoCodingType(), video_format,
                                                                frame_rate_code, aspect_code};
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
  out.U32(written_version_);
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

namespace {

bool HasPictures(std::span<const SAuEntry> units) {
  return std::any_of(units.begin(), units.end(), [](const SAuEntry& unit) {
    return (unit.flags & au_flag::kPictureTypeMask) != 0;
  });
}

}  // namespace

int StoreVideoAnalysis(CStreamInfo& info, std::unique_ptr<CVideoSif> record,
                       const VideoStreamSummary& summary) {
  if (!HasPictures(summary.units)) return video::result::kSyntaxIllegal;
  for (const video::GopInfo& g : summary.gops) {
    record->gops.push_back({static_cast<uint8_t>(g.count & 0xFF), g.i_index, g.i_offset, g.i_size,
                            g.min_pts, g.max_pts});
  }
  SSifHeader& header = info.header;
  header.streamCodingType = record->VideoCodingType();
  // Entries are found by their index times the entry size, so the count must be the entries'.
  header.auCount = static_cast<uint32_t>(summary.units.size());
  header.auDuration = summary.au_duration;
  header.bitRate = summary.bit_rate;
  header.totalSize = summary.total_size;
  info.record = std::move(record);
  LeWriter entries;
  for (const SAuEntry& unit : summary.units) unit.Write(entries);
  return WriteVideoStreamInfo(info, entries.bytes()) ? video::result::kOk
                                                     : parse_result::kWriteError;
}

video::Progress PercentProgress(const ProgressCallback& progress) {
  if (!progress) return nullptr;
  return [&progress](int percent) { return ReportPosition(progress, percent); };
}

}  // namespace tessel
