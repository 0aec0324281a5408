// Analysis of an MPEG-2 video elementary stream: the sequence attributes a disc needs, one entry
// per coded frame (a frame picture or a field pair) with picture type, random-access flags and
// time stamps that follow temporal references and 3:2 pulldown, and one GOP record per GOP header.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "es/parser_base.h"
#include "es/start_code.h"
#include "es/video_codes.h"
#include "es/video_sif.h"

namespace tessel {

struct Mpeg2Analysis {
  video::VideoAttributes video;
  uint32_t sequence_header_count = 0;
  uint32_t sequence_end_count = 0;
  uint32_t first_sequence_header_offset = 0;
  // From the first sequence header to the first user data or GOP header.
  uint32_t first_sequence_header_length = 0;
  uint32_t bit_rate = 0;   // bit/s
  double au_duration = 0;  // one frame, milliseconds
  // The offset of the last unit + 1 (what the stream info header keeps for MPEG-2).
  uint64_t total_size = 0;
  uint32_t au_count = 0;
  std::vector<video::AccessUnit> units;
  std::vector<video::GopInfo> gops;
};

// Whether the bytes start like an MPEG-2 video stream: a sequence header as the first start code
// within 8192 bytes, then a GOP header or an extension within 8192 bytes more.
bool ProbeMpeg2(std::span<const uint8_t> first_bytes);
// Enough of the file's first bytes for that decision.
inline constexpr size_t kMpeg2ProbeLength = 2 * 8192 + 16;

// Derives the video format and checks it against the frame rate; 0 when a disc may carry it.
int ValidateMpeg2(Mpeg2Analysis& analysis);

// Walks the whole stream. Returns a parse result (0 on success).
int AnalyzeMpeg2(ByteSource& source, const video::Progress& progress, Mpeg2Analysis& out);

// The stream info record of an MPEG-2 video stream; it keeps the older record version.
class CMpeg2VideoSif : public CVideoSif {
 public:
  static constexpr uint32_t kVersion = 2;
  CMpeg2VideoSif() : CVideoSif(kVersion) {}

  uint32_t sequence_header_count = 0;
  uint32_t sequence_end_count = 0;
  uint32_t first_sequence_header_offset = 0;
  uint32_t first_sequence_header_length = 0;

  // Takes the attributes and the header counts of a finished analysis.
  void Fill(const Mpeg2Analysis& analysis);

  uint8_t VideoCodingType() const override { return coding::kMpeg2Video; }
  std::unique_ptr<CSifData> Clone() const override;
  int Validate() const override;
  int StdModels(SStdSpec (&models)[2]) const override;
  bool Read(LeReader& in) override;
  void Write(LeWriter& out) const override;
};

class CM2VParser : public CParserBase {
 public:
  CM2VParser();
  bool ProbeFile(BitFile& file) override;
  int ParseFile(BitFile& file, ByteSource& source, CStreamInfo& info,
                const ProgressCallback& progress) override;
};

}  // namespace tessel
