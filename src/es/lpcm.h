// Uncompressed PCM in a RIFF/WAVE file, described as Blu-ray LPCM (0x80) and cut into 5 ms units.
#pragma once

#include <cstdint>

#include "es/parser_base.h"
#include "es/stream_info.h"

namespace tessel {

// The WAVE format block (no version field on disk).
class PCM_WAVE_FORMAT : public CAudioSif {
 public:
  static constexpr uint16_t kFormatPcm = 1;
  static constexpr uint16_t kFormatExtensible = 0xFFFE;
  PCM_WAVE_FORMAT() : CAudioSif(0) {}

  uint16_t format_tag = 0;
  uint16_t channels = 0;
  uint32_t samples_per_second = 0;
  uint32_t average_bytes_per_second = 0;
  uint16_t block_align = 0;
  uint16_t bits_per_sample = 0;
  uint16_t valid_bits_per_sample = 0;
  uint32_t channel_mask = 0;
  uint32_t guid_data1 = 0;
  uint16_t guid_data2 = 0;
  uint16_t guid_data3 = 0;
  uint8_t guid_data4[8] = {};

  std::unique_ptr<CSifData> Clone() const override;
  bool IsEqual(const CSifData& other) const override;
  int Validate() const override;
  int StdModels(SStdSpec (&models)[2]) const override;
  void FillPmtStream(ESI& entry) const override;
  bool Read(LeReader& in) override;
  void Write(LeWriter& out) const override;
  bool ComputesEntries() const override { return true; }
  std::optional<SAuEntry> ComputeEntry(const SSifHeader& header, uint32_t index) const override;

  uint8_t CodingType(bool) const override { return coding::kLpcm; }
  uint8_t PresentationType() const override;
  uint8_t SamplingFrequency() const override;

  // Values of the 4-byte LPCM header that the multiplexer puts before each unit.
  uint32_t UnitPayloadSize() const { return average_bytes_per_second / 200; }
  uint8_t ChannelAssignment() const;
  uint8_t BitsCode() const;

  // Reads the format block (after its chunk size) from `in`; 2 when it is not usable PCM.
  int ReadFormatBlock(LeReader& in);
};

class CLPCMParser : public CParserBase {
 public:
  CLPCMParser();
  int ParseSource(ByteSource& source, CStreamInfo& info, const ProgressCallback& progress) override;
  bool ProbeFile(BitFile& file) override;
  int ParseFile(BitFile& file, ByteSource& source, CStreamInfo& info,
                const ProgressCallback& progress) override;
};

}  // namespace tessel
