#include "es/start_code.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessel {

namespace {

inline bool IsPrefixAt(const uint8_t* p) {
  return p[0] == 0 && p[1] == 0 && p[2] == 1;
}

}  // namespace

#if defined(__SSE2__)

// Sixteen bytes at a time: only a zero byte can begin a prefix, and compressed data holds few.
const uint8_t* FindStartCode(const uint8_t* begin, const uint8_t* end) {
  const uint8_t* p = begin;
  if (end - begin < 3) return end;
  const uint8_t* const last = end - 2;  // a prefix must start before this
  const __m128i zero = _mm_setzero_si128();
  while (end - p >= 32) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(a, zero))) |
                    static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(b, zero))) << 16;
    while (mask != 0) {
      const uint8_t* const q = p + __builtin_ctz(mask);
      if (q < last && IsPrefixAt(q)) return q;
      mask &= mask - 1;
    }
    p += 32;
  }
  for (; p < last; ++p) {
    if (IsPrefixAt(p)) return p;
  }
  return end;
}

#else

namespace {

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;

// Whether any byte of the word is zero; a start code can only begin at a zero byte.
inline bool HasZeroByte(uint64_t w) {
  return ((w - kOnes) & ~w & kHighs) != 0;
}

inline uint64_t Load64(const uint8_t* p) {
  uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

}  // namespace

const uint8_t* FindStartCode(const uint8_t* begin, const uint8_t* end) {
  const uint8_t* p = begin;
  if (end - begin < 3) return end;
  const uint8_t* const last = end - 2;  // a prefix must start before this
  while (end - p >= 16) {
    if (!HasZeroByte(Load64(p)) && !HasZeroByte(Load64(p + 8))) {
      p += 16;
      continue;
    }
    const uint8_t* const stop = p + 16;
    for (; p < stop; ++p) {
      if (p[0] == 0 && p < last && IsPrefixAt(p)) return p;
    }
  }
  for (; p < last; ++p) {
    if (IsPrefixAt(p)) return p;
  }
  return end;
}

#endif

namespace {

// A short source needs no more buffer than it has bytes. A refill keeps up to two bytes of a
// split prefix, so a chunk must hold more than that.
size_t ChunkFor(const ByteSource& source, size_t chunk_size) {
  const uint64_t length = source.length();
  if (length != 0 && length < chunk_size) chunk_size = static_cast<size_t>(length);
  return std::max<size_t>(chunk_size, 16);
}

}  // namespace

StartCodeScanner::StartCodeScanner(ByteSource& source, size_t chunk_size, size_t head_limit)
    : source_(source),
      head_limit_(std::max<size_t>(head_limit, 1)),
      buffer_(ChunkFor(source, chunk_size) + head_limit_ + 3) {}

bool StartCodeScanner::Refill(size_t keep) {
  keep = std::min(keep, end_);
  if (keep != 0) {
    size_t tail = 0;
    while (tail < keep && buffer_[keep - 1 - tail] == 0) ++tail;
    carried_zeros_ = tail == keep ? carried_zeros_ + keep : tail;
    std::memmove(buffer_.data(), buffer_.data() + keep, end_ - keep);
    base_ += keep;
    end_ -= keep;
    scan_ -= std::min(scan_, keep);
  }
  if (eof_) return false;
  const size_t got = source_.Read(buffer_.data() + end_, buffer_.size() - end_);
  if (got == 0) eof_ = true;
  end_ += got;
  return got != 0;
}

size_t StartCodeScanner::LeadingZeros(size_t at) const {
  size_t zeros = 0;
  while (zeros < at && buffer_[at - 1 - zeros] == 0) ++zeros;
  return zeros;
}

bool StartCodeScanner::Next(StartCodeUnit& unit) {
  size_t prefix_at = 0;
  for (;;) {
    const uint8_t* const data = buffer_.data();
    const uint8_t* p = FindStartCode(data + scan_, data + end_);
    if (p != data + end_) {
      prefix_at = static_cast<size_t>(p - data);
      break;
    }
    // Keep the last two bytes: they may be the zeros of a prefix completed by the next chunk.
    scan_ = end_ > scan_ + 2 ? end_ - 2 : scan_;
    if (!Refill(scan_)) return false;
  }

  uint64_t zeros = LeadingZeros(prefix_at);
  if (zeros == prefix_at) zeros += carried_zeros_;
  const uint64_t prefix = base_ + prefix_at;
  unit.start = std::max(prefix - std::min(prefix, zeros), floor_);
  size_t header = prefix_at + 3;

  // Make the unit's head contiguous: move it to the front when it would run past the buffer. Three
  // bytes more than the head are looked at, to see a prefix that starts right after it.
  const size_t want = head_limit_ + 3;
  if (end_ - header < want && !eof_) {
    Refill(header);
    header = 0;
    while (end_ < want && Refill(0)) {
    }
  }
  const size_t limit = header + head_limit_;
  const size_t search_end = std::min(end_, limit + 3);
  const uint8_t* const data = buffer_.data();
  const uint8_t* const next = FindStartCode(data + header + 1, data + search_end);
  const bool found = next != data + search_end;
  const size_t stop = found ? static_cast<size_t>(next - data) : search_end;

  unit.header = base_ + header;
  unit.head = std::span<const uint8_t>(data + header, std::min(stop, limit) - header);
  unit.complete = stop <= limit && (found || eof_);
  floor_ = unit.header + 1;
  scan_ = found ? stop : std::max(header + 1, search_end > 2 ? search_end - 2 : 0);
  scan_ = std::min(scan_, end_);
  return true;
}

}  // namespace tessel
