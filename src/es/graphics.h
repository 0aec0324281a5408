// Presentation (0x90) and interactive (0x91) graphics segment files: every segment behind a
// 10-byte "PG"/"IG" header with its time stamps becomes one access unit.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "es/parser_base.h"
#include "es/stream_info.h"
#include "es/video_sif.h"

namespace tessel {

namespace segment_type {
inline constexpr uint8_t kPalette = 0x14;
inline constexpr uint8_t kObject = 0x15;
inline constexpr uint8_t kPresentationComposition = 0x16;
inline constexpr uint8_t kWindow = 0x17;
inline constexpr uint8_t kInteractiveComposition = 0x18;
inline constexpr uint8_t kEnd = 0x80;
}  // namespace segment_type

struct SVideoDescriptor {
  uint16_t width = 0;
  uint16_t height = 0;
  uint8_t frame_rate = 0;
  uint8_t extra = 0;  // graphics: the low 4 bits of the frame-rate byte

  // "%dx%d %s" with the frame-rate name, or "%dx%d" for a code above 7.
  std::string Text() const;
  // Width, height and frame rate of a video stream, for display.
  static SVideoDescriptor FromVideo(const CVideoSif& video);
};

class SGsSif : public CSifData {
 public:
  SGsSif() : CSifData(0) {}

  uint8_t coding_type = coding::kPg;
  uint8_t stream_model = 0;  // interactive graphics: 0 multiplexed, 1 not multiplexed
  SVideoDescriptor video;

  std::unique_ptr<CSifData> Clone() const override;
  bool IsEqual(const CSifData& other) const override;
  bool IsMultiplexed() const override { return stream_model == 0; }
  void FillAttributes(StreamAttributeValues& values) const override;
  void FillPmtStream(ESI& entry) const override { entry.StreamType = coding_type; }
  int StdModels(SStdSpec (&models)[2]) const override;
  bool Read(LeReader& in) override;
  void Write(LeWriter& out) const override;
};

// Composition state in bits 8..9 of a graphics entry's flags.
inline uint8_t CompositionState(uint32_t flags) {
  return (flags >> 8) & 3;
}

struct SDisplaySetRange {
  uint32_t start_time = 0;  // 90 kHz
  uint32_t end_time = 0;
  uint32_t first = 0;  // entry indexes
  uint32_t last = 0;
};

// The display sets of a graphics stream's entries.
std::vector<SDisplaySetRange> FindDisplaySets(std::span<const SAuEntry> entries);
// The entries that cover the display sets of a time range (90 kHz); false when none does.
bool FindDisplaySetRange(std::span<const SDisplaySetRange> sets, uint32_t au_count, uint32_t start,
                         uint32_t end, uint32_t& first, uint32_t& last);
// The same over the entries of an open stream info file.
bool FindDisplaySetRange(const CStreamInfo& info, uint32_t start, uint32_t end, uint32_t& first,
                         uint32_t& last);

class CGsParser : public CParserBase {
 public:
  CGsParser();
  bool ProbeFile(BitFile& file) override;
  int ParseFile(BitFile& file, ByteSource& source, CStreamInfo& info,
                const ProgressCallback& progress) override;
};

}  // namespace tessel
