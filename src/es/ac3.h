// AC-3 and E-AC-3 elementary streams: AC-3 alone (0x81), E-AC-3 alone (0xA1, secondary audio
// only) and AC-3 core frames alternating with E-AC-3 frames (0x84).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "es/parser_base.h"
#include "es/stream_info.h"

namespace tessel {

// The AC-3 part follows the field order of the AC-3 audio descriptor of a program map.
class AC3_AUDIO_DESCRIPTOR : public CAudioSif {
 public:
  static constexpr uint32_t kVersion = 1;
  AC3_AUDIO_DESCRIPTOR() : CAudioSif(kVersion) {}

  uint8_t descriptor_tag = 0x81;
  uint8_t descriptor_length = 0;
  uint8_t sample_rate_code = 0;
  uint8_t bsid = 0;
  uint8_t frame_size_code = 0;
  uint8_t bit_rate_code = 0;
  uint8_t surround_mode = 0;
  uint8_t bsmod = 0;
  uint8_t acmod = 0;
  uint8_t num_channels = 0;
  uint8_t full_svc = 0;
  uint8_t langcod = 0;
  uint8_t langcod2 = 0;
  uint8_t mainid = 0;
  uint8_t priority = 0;
  uint8_t asvcflags = 0;
  uint8_t text_length = 0;
  uint8_t text_code = 0;
  std::vector<uint8_t> text;
  uint8_t language_flag = 0;
  uint8_t language_flag_2 = 0;
  char language[3] = {'e', 'n', 'g'};
  char language_2[3] = {'e', 'n', 'g'};
  std::vector<uint8_t> additional_info;
  uint8_t eac3_present = 0;
  uint8_t ac3_present = 0;
  uint8_t eac3_stream_type = 0;
  uint8_t eac3_substream_id = 0;
  uint8_t eac3_bsid = 16;
  uint16_t eac3_frame_words = 0;
  uint8_t eac3_reserved = 0;
  uint8_t eac3_acmod = 0;
  uint8_t eac3_reserved_2 = 0;
  uint16_t eac3_channel_map = 0;
  uint32_t frame_size = 0;  // one frame, or one AC-3 + E-AC-3 pair

  void Clear() override;
  std::unique_ptr<CSifData> Clone() const override;
  bool IsEqual(const CSifData& other) const override;
  bool IsSecondaryOnly() const override { return eac3_present && !ac3_present; }
  int StdModels(SStdSpec (&models)[2]) const override;
  // The AC-3 registration descriptor and this record as the audio descriptor.
  void FillPmtStream(ESI& entry) const override;
  bool Read(LeReader& in) override;
  void Write(LeWriter& out) const override;
  bool ComputesEntries() const override { return true; }
  std::optional<SAuEntry> ComputeEntry(const SSifHeader& header, uint32_t index) const override;

  uint8_t CodingType(bool primary) const override;
  uint8_t PresentationType() const override;
  uint8_t SamplingFrequency() const override { return 1; }

  // Bytes of the core frame and of the extension frame of a pair (alternating form).
  uint32_t ExtensionFrameSize() const { return 2u * eac3_frame_words; }
  uint32_t CoreFrameSize() const { return frame_size - ExtensionFrameSize(); }

  // The AC-3 audio descriptor of a program map built from this record, and its reverse.
  std::vector<uint8_t> DescriptorBytes() const;
  bool ReadDescriptor(std::span<const uint8_t> bytes);
};

// Full-bandwidth channels of an acmod (0..7).
int Ac3ChannelCount(uint8_t acmod);

class CAC3Parser : public CParserBase {
 public:
  CAC3Parser();
  bool ProbeFile(BitFile& file) override;
  int ParseFile(BitFile& file, ByteSource& source, CStreamInfo& info,
                const ProgressCallback& progress) override;
};

}  // namespace tessel
