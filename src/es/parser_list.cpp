// The parsers and stream info records the analysis knows. A new codec adds its parser here, at
// its place in the order of trial, and its record class under its coding types.
#include "es/ac3.h"
#include "es/dts.h"
#include "es/graphics.h"
#include "es/h264.h"
#include "es/lpcm.h"
#include "es/mlp.h"
#include "es/mpeg2.h"
#include "es/parser_base.h"
#include "es/vc1.h"

namespace tessel {

std::vector<std::unique_ptr<CParserBase>> CreateParsers() {
  std::vector<std::unique_ptr<CParserBase>> parsers;
  parsers.push_back(std::make_unique<CM2VParser>());
  parsers.push_back(std::make_unique<CH264Parser>());
  parsers.push_back(std::make_unique<CVc1Parser>());
  parsers.push_back(std::make_unique<CLPCMParser>());
  parsers.push_back(std::make_unique<CAC3Parser>());
  parsers.push_back(std::make_unique<CMlpParser>());
  parsers.push_back(std::make_unique<CDTSParser>());
  parsers.push_back(std::make_unique<CGsParser>());
  return parsers;
}

std::unique_ptr<CSifData> CreateSifRecord(uint8_t coding_type) {
  switch (coding_type) {
    case coding::kMpeg2Video:
      return std::make_unique<CMpeg2VideoSif>();
    case coding::kH264:
      return std::make_unique<CH264VideoSif>();
    case coding::kVc1:
      return std::make_unique<CVc1Sif>();
    case coding::kLpcm:
      return std::make_unique<PCM_WAVE_FORMAT>();
    case coding::kAc3:
    case coding::kEac3:
    case coding::kEac3Secondary:
      return std::make_unique<AC3_AUDIO_DESCRIPTOR>();
    case coding::kTrueHd:
      return std::make_unique<MLP_HEADER_INFO>();
    case coding::kDts:
    case coding::kDtsHd:
    case coding::kDtsHdXll:
    case coding::kDtsHdSecondary:
      return std::make_unique<CDTSSif>();
    case coding::kPg:
    case coding::kIg:
      return std::make_unique<SGsSif>();
    default:
      return nullptr;
  }
}

}  // namespace tessel
