// Analysis of an H.264 Annex B stream: the attributes a disc needs, and one entry per frame (field
// pairs merged) with picture type, random-access flag and time stamps, plus one GOP record per IDR
// period.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "es/parser_base.h"
#include "es/start_code.h"
#include "es/video_codes.h"
#include "es/video_sif.h"

namespace tessel {

struct H264Analysis {
  video::VideoAttributes video;
  uint32_t cpb_size = 0;         // bits, from the NAL HRD
  uint8_t still_flag = 0;        // 0x80 for a single-picture stream
  uint8_t constraint_flags = 0;  // kept only for a single-picture stream
  uint8_t aspect_ratio_idc = 0;
  uint32_t bit_rate = 0;   // bit/s, from the NAL HRD
  double au_duration = 0;  // one frame, milliseconds
  uint64_t total_size = 0;
  uint32_t au_count = 0;
  std::vector<video::AccessUnit> units;
  std::vector<video::GopInfo> gops;
};

// Whether the bytes begin like the streams this analysis takes: with a 4-byte start code.
bool ProbeH264(std::span<const uint8_t> first_bytes);

// The disc checks on the attributes of the first accepted sequence parameter set; derives the
// video format on the way. 0 when a disc may carry the stream. Without `check_aspect_idc` the
// aspect_ratio_idc rules are passed over (a record read back from its file no longer knows it).
int ValidateH264(H264Analysis& analysis, bool check_aspect_idc = true);

// Walks the whole stream. Returns a parse result (0 on success).
int AnalyzeH264(ByteSource& source, const video::Progress& progress, H264Analysis& out);

// The stream info record of an H.264 stream.
class CH264VideoSif : public CVideoSif {
 public:
  uint32_t cpb_size = 0;                // bits
  uint8_t still_flag = 0;               // 0x80 for a single-picture stream
  uint8_t constraint_flags = 0;         // the byte after profile_idc, for a single-picture stream
  uint8_t aspect_ratio_idc = 0;         // not stored: only the disc checks use it
  bool aspect_ratio_idc_known = false;  // false for a record read from a file

  // Takes the attributes and the stream-wide values of a finished analysis.
  void Fill(const H264Analysis& analysis);

  uint8_t VideoCodingType() const override { return coding::kH264; }
  std::unique_ptr<CSifData> Clone() const override;
  bool IsEqual(const CSifData& other) const override;
  int Validate() const override;
  int StdModels(SStdSpec (&models)[2]) const override;
  // Adds the AVC video descriptor of a single-picture stream.
  void FillPmtStream(ESI& entry) const override;
  bool Read(LeReader& in) override;
  void Write(LeWriter& out) const override;
};

class CH264Parser : public CParserBase {
 public:
  CH264Parser();
  bool ProbeFile(BitFile& file) override;
  int ParseFile(BitFile& file, ByteSource& source, CStreamInfo& info,
                const ProgressCallback& progress) override;
};

}  // namespace tessel
