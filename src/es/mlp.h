// TrueHD and MLP streams: access units with a 4-byte header, some carrying a major sync with the
// stream parameters. Always stream coding type 0x83; the AC-3 companion is a file of its own.
#pragma once

#include <cstdint>

#include "es/parser_base.h"
#include "es/stream_info.h"

namespace tessel {

class MLP_HEADER_INFO : public CSifData {
 public:
  static constexpr uint8_t kFormatMlp = 0xBB;
  static constexpr uint8_t kFormatTrueHd = 0xBA;
  MLP_HEADER_INFO() : CSifData(0) {}

  uint8_t format = 0;
  uint8_t bits_per_sample_1 = 0;
  uint8_t bits_per_sample_2 = 0;
  uint32_t sample_rate_1 = 0;
  uint32_t sample_rate_2 = 0;
  uint8_t channel_arrangement = 0;        // MLP
  uint8_t six_channel_assignment = 0;     // TrueHD
  uint16_t eight_channel_assignment = 0;  // TrueHD
  uint32_t samples_per_au = 0;
  uint32_t rate_value = 0;  // 64 << (rate code & 7)
  uint8_t variable_rate = 0;
  uint32_t peak_data_rate = 0;  // bit/s
  uint8_t substreams = 0;

  std::unique_ptr<CSifData> Clone() const override;
  bool IsEqual(const CSifData& other) const override;
  // Coding type 0x83; the presentation type from the AC-3 part's already in `values`.
  void FillAttributes(StreamAttributeValues& values) const override;
  void FillPmtStream(ESI& entry) const override { entry.StreamType = coding::kTrueHd; }
  int StdModels(SStdSpec (&models)[2]) const override;
  bool Read(LeReader& in) override;
  void Write(LeWriter& out) const override;

  // Channels of the stream: MLP by its arrangement, TrueHD by its presentation assignments.
  int ChannelCount() const;
  // Parses a major sync (the bytes from its sync word on); a parse result code.
  int ReadMajorSync(std::span<const uint8_t> bytes);
};

class CMlpParser : public CParserBase {
 public:
  CMlpParser();
  bool ProbeFile(BitFile& file) override;
  int ParseFile(BitFile& file, ByteSource& source, CStreamInfo& info,
                const ProgressCallback& progress) override;
};

}  // namespace tessel
