// Start-code scanning for the video parsers (H.264 Annex B, MPEG-2 and VC-1 all frame their units
// with 00 00 01). The bulk of a video file is slice data that no parser looks at, so the scanner
// skips it a machine word at a time and hands out only the first bytes of each unit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/byte_source.h"

namespace tessel {

// First position p in [begin, end) with p[0..2] = 00 00 01, or `end` when there is none.
const uint8_t* FindStartCode(const uint8_t* begin, const uint8_t* end);

// One unit between two start codes.
struct StartCodeUnit {
  // Offset of the first zero of the prefix; zero bytes before 00 00 01 count as part of it.
  uint64_t start = 0;
  // Offset of the byte after 00 00 01 (NAL header byte, MPEG-2/VC-1 start code value).
  uint64_t header = 0;
  // The unit's bytes from `header`, up to the next start code but at most the head limit. Valid
  // until the next call of Next().
  std::span<const uint8_t> head;
  // Whether `head` holds the whole unit.
  bool complete = false;
};

// Walks the start codes of a source in fixed-size chunks; memory use does not grow with the file.
class StartCodeScanner {
 public:
  static constexpr size_t kChunkSize = size_t{1} << 20;  // stays in the cache while it is scanned
  static constexpr size_t kHeadLimit = size_t{64} << 10;

  explicit StartCodeScanner(ByteSource& source, size_t chunk_size = kChunkSize,
                            size_t head_limit = kHeadLimit);

  // The next unit; false at the end of the source.
  bool Next(StartCodeUnit& unit);
  // Bytes taken from the source so far.
  uint64_t consumed() const { return base_ + end_; }

 private:
  // Drops the bytes before `keep` and fills the buffer up; false when nothing new arrived.
  bool Refill(size_t keep);
  size_t LeadingZeros(size_t at) const;

  ByteSource& source_;
  size_t head_limit_;
  std::vector<uint8_t> buffer_;
  uint64_t base_ = 0;  // source offset of buffer_[0]
  size_t end_ = 0;     // valid bytes in buffer_
  size_t scan_ = 0;    // where the next search starts
  bool eof_ = false;
  // Zero bytes that ended the data dropped before buffer_[0], so a prefix split by a refill is
  // still counted whole.
  uint64_t carried_zeros_ = 0;
  // Offset of the last unit's header byte (+1), below which no prefix zero may be counted.
  uint64_t floor_ = 0;
};

}  // namespace tessel
