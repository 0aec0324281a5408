// Analysis of a VC-1 Advanced Profile stream (byte-stream form with start codes): the sequence
// and entry-point headers checked against what a disc allows, and one entry per frame with
// picture type, random-access flags and time stamps from the decoding order.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "es/parser_base.h"
#include "es/start_code.h"
#include "es/video_codes.h"
#include "es/video_sif.h"

namespace tessel {

namespace vc1 {
inline constexpr uint8_t kFrameCode = 0x0D;
inline constexpr uint8_t kEntryPointCode = 0x0E;
inline constexpr uint8_t kSequenceHeaderCode = 0x0F;
}  // namespace vc1

struct Vc1SequenceHeader {
  uint8_t PROFILE = 0;
  uint8_t LEVEL = 0;
  uint8_t COLORDIFF_FORMAT = 0;
  uint16_t MAX_CODED_WIDTH = 0;
  uint16_t MAX_CODED_HEIGHT = 0;
  bool PULLDOWN = false;
  bool INTERLACE = false;
  bool TFCNTRFLAG = false;
  bool FINTERPFLAG = false;
  bool PSF = false;
  bool DISPLAY_EXT = false;
  uint16_t DISP_HORIZ_SIZE = 0;
  uint16_t DISP_VERT_SIZE = 0;
  bool ASPECT_RATIO_FLAG = false;
  uint8_t ASPECT_RATIO = 0;
  uint8_t ASPECT_HORIZ_SIZE = 0;
  uint8_t ASPECT_VERT_SIZE = 0;
  bool FRAMERATE_FLAG = false;
  bool FRAMERATEIND = false;
  uint8_t FRAMERATENR = 0;
  uint8_t FRAMERATEDR = 0;
  bool HRD_PARAM_FLAG = false;
  uint8_t HRD_NUM_LEAKY_BUCKETS = 0;
  uint8_t BIT_RATE_EXPONENT = 0;
  uint8_t BUFFER_SIZE_EXPONENT = 0;
  uint16_t HRD_RATE[32] = {};
  uint16_t HRD_BUFFER[32] = {};

  double FrameRate() const;
  uint64_t HrdBitRate() const;     // largest over the leaky buckets, bit/s
  uint64_t HrdBufferSize() const;  // largest over the leaky buckets, bits
};

struct Vc1EntryPoint {
  bool BROKEN_LINK = false;
  bool CLOSED_ENTRY = false;
  bool PANSCAN_FLAG = false;
  bool EXTENDED_MV = false;
  bool CODED_SIZE_FLAG = false;
  uint16_t CODED_WIDTH = 0;
  uint16_t CODED_HEIGHT = 0;
};

enum class Vc1PictureType : uint8_t { kP, kB, kI, kBI, kSkipped };

struct Vc1FrameHeader {
  uint8_t FCM = 0;  // 0 progressive, 2 frame interlace, 3 field interlace
  Vc1PictureType type = Vc1PictureType::kP;
  uint8_t TFCNTR = 0;
  uint8_t RPTFRM = 0;
  bool TFF = false;
  bool RFF = false;
};

// Each reads the bytes after the start code value (encapsulation already removed) and returns a
// parse result: 0, or the code of the first check that fails.
int ParseVc1SequenceHeader(std::span<const uint8_t> data, Vc1SequenceHeader& seq);
int ParseVc1EntryPoint(std::span<const uint8_t> data, const Vc1SequenceHeader& seq,
                       Vc1EntryPoint& entry);
bool ParseVc1FrameHeader(std::span<const uint8_t> data, const Vc1SequenceHeader& seq,
                         Vc1FrameHeader& frame);

struct Vc1Analysis {
  video::VideoAttributes video;
  uint32_t hrd_bit_rate = 0;     // bit/s
  uint32_t hrd_buffer_size = 0;  // bits
  double au_duration = 0;        // milliseconds
  uint64_t first_sequence_header_offset = 0;
  // From the first sequence header to the end of the last segment.
  uint64_t total_size = 0;
  uint32_t au_count = 0;
  std::vector<video::AccessUnit> units;
};

// Fills the record's attributes from the first sequence header.
void FillVc1Attributes(const Vc1SequenceHeader& seq, Vc1Analysis& analysis);
int ValidateVc1(const Vc1Analysis& analysis);

// Whether the bytes begin with a sequence header start code.
bool ProbeVc1(std::span<const uint8_t> first_bytes);

// Walks the whole stream. Returns a parse result (0 on success).
int AnalyzeVc1(ByteSource& source, const video::Progress& progress, Vc1Analysis& out);

// The stream info record of a VC-1 stream; records older than version 3 are refused.
class CVc1Sif : public CVideoSif {
 public:
  uint32_t hrd_bit_rate = 0;     // bit/s
  uint32_t hrd_buffer_size = 0;  // bits

  // Takes the attributes and the HRD values of a finished analysis.
  void Fill(const Vc1Analysis& analysis);

  uint8_t VideoCodingType() const override { return coding::kVc1; }
  std::unique_ptr<CSifData> Clone() const override;
  int Validate() const override;
  int StdModels(SStdSpec (&models)[2]) const override;
  // Adds the VC-1 registration descriptor with the profile-level sub-descriptor.
  void FillPmtStream(ESI& entry) const override;
  bool Read(LeReader& in) override;
  void Write(LeWriter& out) const override;
};

class CVc1Parser : public CParserBase {
 public:
  CVc1Parser();
  bool ProbeFile(BitFile& file) override;
  int ParseFile(BitFile& file, ByteSource& source, CStreamInfo& info,
                const ProgressCallback& progress) override;
};

}  // namespace tessel
