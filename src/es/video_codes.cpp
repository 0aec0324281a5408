#include "es/video_codes.h"

#include <cmath>
#include <cstddef>

namespace tessel::video {

namespace {

// Allowed frame-rate codes per video format (index = format 0..7), as bit sets.
constexpr uint8_t Rates(std::initializer_list<int> codes) {
  uint8_t bits = 0;
  for (const int c : codes) bits = static_cast<uint8_t>(bits | (1u << c));
  return bits;
}
constexpr uint8_t kAllowedRates[8] = {
    0,                    // reserved
    Rates({4}),           // 480i
    Rates({3}),           // 576i
    Rates({1, 2, 4}),     // 480p
    Rates({4, 3}),        // 1080i
    Rates({1, 2, 6, 7}),  // 720p
    Rates({1, 2}),        // 1080p
    Rates({3}),           // 576p
};

constexpr double kNominalRates[8] = {0, 23.976, 24, 25, 29.97, 0, 50, 59.94};

struct SarRule {
  uint8_t first_index, last_index;
  bool by_width;  // compare the width, else the height
  uint32_t sizes[3];
  uint8_t aspect;
};

constexpr SarRule kSarRules[] = {
    {1, 1, false, {480, 0, 0}, 2},    {1, 1, false, {720, 1080, 1088}, 3},
    {2, 2, false, {576, 288, 0}, 2},  {3, 3, false, {240, 480, 486}, 2},
    {4, 5, true, {528, 540, 0}, 2},   {4, 5, true, {704, 720, 0}, 3},
    {6, 7, true, {352, 0, 0}, 2},     {6, 7, true, {480, 0, 0}, 3},
    {8, 9, true, {352, 0, 0}, 3},     {10, 11, true, {480, 0, 0}, 2},
    {12, 13, true, {528, 540, 0}, 3},
};

}  // namespace

uint8_t VideoFormatFromHeight(uint32_t height, bool progressive, uint8_t current) {
  switch (height) {
    case 480:
      return progressive ? 3 : 1;
    case 576:
      return progressive ? 7 : 2;
    case 720:
      return 5;
    case 1080:
    case 1088:
      return progressive ? 6 : 4;
    default:
      return current;
  }
}

bool FrameRateAllowed(uint8_t video_format, uint8_t frame_rate_code) {
  if (video_format >= 8 || frame_rate_code >= 8) return false;
  return (kAllowedRates[video_format] >> frame_rate_code) & 1;
}

uint8_t AspectFromSar(uint32_t sar_index, uint32_t width, uint32_t height) {
  for (const SarRule& rule : kSarRules) {
    if (sar_index < rule.first_index || sar_index > rule.last_index) continue;
    const uint32_t value = rule.by_width ? width : height;
    for (const uint32_t size : rule.sizes) {
      if (size != 0 && size == value) return rule.aspect;
    }
  }
  return 0;
}

uint8_t FrameRateCode(double rate) {
  for (size_t i = 0; i < 8; ++i) {
    if (std::fabs(kNominalRates[i] - rate) <= 0.01) return static_cast<uint8_t>(i);
  }
  return 255;
}

}  // namespace tessel::video
