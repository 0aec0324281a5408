// The part of a video stream's stream info record that every video codec shares, its GOP table,
// and the step that stores a finished video analysis in the stream info file.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "es/stream_info.h"
#include "es/video_codes.h"
#include "platform/progress.h"

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

// Video records: version 3 is written unless a codec's record keeps an older one; 2 or later is
// read.
class CVideoSif : public CSifData {
 public:
  static constexpr uint32_t kVersion = 3;
  static constexpr uint32_t kMinVersion = 2;
  explicit CVideoSif(uint32_t version = kVersion) : CSifData(version), written_version_(version) {}

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
  // Takes the attributes an analysis derived.
  void SetAttributes(const video::VideoAttributes& attributes);
  video::VideoAttributes Attributes() const;

  void Clear() override { gops.clear(); }
  // Compares the fields that define a video stream (subclasses add their own).
  bool IsEqual(const CSifData& other) const override;
  bool IsSecondaryOnly() const override { return video_format == 3 || video_format == 7; }
  void FillAttributes(StreamAttributeValues& values) const override;
  // The stream type and the HDMV video registration descriptor.
  void FillPmtStream(ESI& entry) const override;
  bool Read(LeReader& in) override;
  void Write(LeWriter& out) const override;
  uint64_t EntriesEnd(uint64_t) const override { return gop_table_offset; }
  // The GOP table (a count and the records) ends the file.
  bool FitsFileLength(uint64_t file_length) const override {
    return file_length == uint64_t{gop_table_offset} + 4 + uint64_t{gop_count} * GOP_INF::kDiskSize;
  }

 private:
  // What Write stores, whatever version a record read from a file had.
  uint32_t written_version_;
};

// The video attribute rules live with the analyses that apply them first.
using video::AspectFromSar;
using video::FrameRateAllowed;
using video::VideoFormatFromHeight;

// Ends the analysis of a video stream whose record is a CVideoSif: header and record (with the GOP
// count and table offset), the access-unit entries after them, then the GOP table. False when
// the record is not a video record or a write fails.
bool WriteVideoStreamInfo(CStreamInfo& info, std::span<const uint8_t> entries);
// What a finished video analysis hands to its stream info file besides its record.
struct VideoStreamSummary {
  double au_duration = 0;  // milliseconds
  uint32_t bit_rate = 0;
  uint64_t total_size = 0;
  std::span<const SAuEntry> units;  // decoding order
  std::span<const video::GopInfo> gops;
};

// Stores an analysis: header, record, entries and GOP table. A parse result: 8 when no entry
// holds a picture (units of parameter sets or delimiters alone hold none), since such a file
// would serve no later reader.
int StoreVideoAnalysis(CStreamInfo& info, std::unique_ptr<CVideoSif> record,
                       const VideoStreamSummary& summary);

// The percentage reports of a video analysis as position records; none without a callback, so
// that an analysis run without one does not pay for the calls.
video::Progress PercentProgress(const ProgressCallback& progress);

}  // namespace tessel
