// The part of a video stream's stream info record that every video codec shares, its GOP table,
// and the Blu-ray video attribute rules (format from the height, allowed frame rates, aspect).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "es/stream_info.h"

namespace tessel {

// One GOP of the GOP table that follows the access-unit entries of a video stream.
struct GOP_INF {
  static constexpr size_t kDiskSize = 25;

  uint8_t au_count = 0;  // the low 8 bits of the GOP's unit count
  uint32_t i_picture_index = 0;
  uint64_t i_picture_offset = 0;  // byte offset in the source
  uint32_t i_picture_size = 0;
  uint32_t min_pts = 0;
  uint32_t max_pts = 0;

  void Write(LeWriter& out) const;
};

// Video records: version 3 is written, 2 or later is read.
class CVideoSif : public CSifData {
 public:
  static constexpr uint32_t kVersion = 3;
  static constexpr uint32_t kMinVersion = 2;
  CVideoSif() : CSifData(kVersion) {}

  uint8_t profile = 0;
  uint8_t level = 0;
  uint8_t video_format = 0;
  uint8_t aspect_code = 0;
  uint8_t frame_rate_code = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint8_t progressive = 0;
  uint32_t gop_count = 0;
  uint32_t gop_table_offset = 0;
  // Filled while parsing and written as the GOP table; not read back.
  std::vector<GOP_INF> gops;

  // The stream coding type of the codec's record.
  virtual uint8_t VideoCodingType() const = 0;

  void Clear() override { gops.clear(); }
  // Compares the fields that define a video stream (subclasses add their own).
  bool IsEqual(const CSifData& other) const override;
  bool IsSecondaryOnly() const override { return video_format == 3 || video_format == 7; }
  void FillAttributes(StreamAttributeValues& values) const override;
  bool Read(LeReader& in) override;
  void Write(LeWriter& out) const override;
  uint64_t EntriesEnd(uint64_t) const override { return gop_table_offset; }
};

// Video format from the height and the progressive flag; other heights keep `current`.
uint8_t VideoFormatFromHeight(uint32_t height, bool progressive, uint8_t current);
// Whether a frame-rate code is allowed with a video format.
bool FrameRateAllowed(uint8_t video_format, uint8_t frame_rate_code);
// Aspect code (2 = 4:3, 3 = 16:9, 0 = none) from the sample aspect ratio index (1..13) and size.
uint8_t AspectFromSar(uint32_t index, uint32_t width, uint32_t height);

// Ends the analysis of a video stream whose record is a CVideoSif: header and record (with the GOP
// count and table offset), the access-unit entries after them, then the GOP table. False when
// the record is not a video record or a write fails.
bool WriteVideoStreamInfo(CStreamInfo& info, std::span<const uint8_t> entries);

}  // namespace tessel
