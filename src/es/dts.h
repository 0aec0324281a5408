// DTS audio: a core stream (0x82), a core followed frame by frame by a DTS-HD extension substream
// (0x85, or 0x86 for the lossless extension), or substreams alone carrying a low-bit-rate asset
// (0xA2, secondary audio only); raw, or inside a DTS-HD file container ("DTSHDHDR").
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "es/parser_base.h"
#include "es/stream_info.h"

namespace tessel {

namespace dts_extension {
inline constexpr uint8_t kNone = 0;
inline constexpr uint8_t kXch = 1;
inline constexpr uint8_t kX96 = 2;
inline constexpr uint8_t kXxch = 3;
inline constexpr uint8_t kLbr = 4;
inline constexpr uint8_t kXll = 5;
inline constexpr uint8_t kXbr = 6;
}  // namespace dts_extension

// What one frame header says: the core, or an extension substream.
struct SDtsFrameInfo {
  static constexpr size_t kDiskSize = 29;

  uint8_t substream = 0;
  uint8_t extension_type = 0;
  uint8_t word_format = 16;  // 14 or 16 bits per stored word (core)
  uint8_t byte_order = 1;    // 1 big-endian, 0 little-endian (core)
  uint8_t rate_code = 0;
  uint8_t bits_per_sample = 0;
  uint32_t sample_rate = 0;
  uint8_t amode = 0;
  uint8_t lfe = 0;
  uint32_t header_size = 0;
  uint8_t deficit_samples = 0;
  uint32_t samples_per_frame = 0;
  uint32_t frame_size = 0;
  uint8_t channels = 0;
  uint8_t ext_audio = 0;
  uint8_t ext_audio_id = 0;

  void Write(LeWriter& out) const;
  void Read(LeReader& in);
  bool operator==(const SDtsFrameInfo&) const = default;
};

class CDTSSif : public CAudioSif {
 public:
  static constexpr uint32_t kVersion = 3;
  CDTSSif() : CAudioSif(kVersion) {}

  SDtsFrameInfo first;
  std::optional<SDtsFrameInfo> extension;

  void Clear() override { extension.reset(); }
  std::unique_ptr<CSifData> Clone() const override;
  bool IsEqual(const CSifData& other) const override;
  int Validate() const override;
  bool IsSecondaryOnly() const override { return !extension && first.substream; }
  int StdModels(SStdSpec (&models)[2]) const override;
  bool Read(LeReader& in) override;
  void Write(LeWriter& out) const override;

  uint8_t CodingType(bool primary) const override;
  uint8_t PresentationType() const override;
  uint8_t SamplingFrequency() const override;
};

// Frame headers held in memory (at least the first 6 bytes of the frame).
enum class DtsFrameKind { kNotDts, kCore14Le, kCore14Be, kCore16Le, kCore16Be, kSubstream };
DtsFrameKind ClassifyDtsFrame(std::span<const uint8_t> frame);
// Parses a core or substream header; false when the bytes end too early.
bool ParseDtsCoreHeader(std::span<const uint8_t> frame, DtsFrameKind kind, SDtsFrameInfo& info);
bool ParseDtsSubstreamHeader(std::span<const uint8_t> frame, SDtsFrameInfo& info);

class CDTSParser : public CParserBase {
 public:
  CDTSParser();
  int ParseSource(ByteSource& source, CStreamInfo& info, const ProgressCallback& progress) override;
};

}  // namespace tessel
