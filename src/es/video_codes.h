// Attribute codes shared by the three video parsers (Blu-ray video format, frame-rate and aspect
// codes), the entry records they produce, and their result codes.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "es/stream_info.h"

namespace tessel::video {

// Parse results the video parsers give (the numbering of the parser framework).
namespace result {
inline constexpr int kOk = 0;
inline constexpr int kCancelled = 1;
inline constexpr int kUnknownFormat = 2;
inline constexpr int kOpenError = 4;
inline constexpr int kSyntaxIllegal = 8;
inline constexpr int kBitrateOverflow = 9;
inline constexpr int kBufferOverflow = 10;
inline constexpr int kNoSequenceHeader = 11;
inline constexpr int kNoGopHeader = 12;
inline constexpr int kNoAspectInfo = 13;
inline constexpr int kNoFramerateInfo = 14;
inline constexpr int kWrongProfile = 22;
inline constexpr int kWrongLevel = 23;
inline constexpr int kWrongVideoFormat = 24;
inline constexpr int kWrongAspectRatio = 25;
inline constexpr int kWrongFrameRate = 26;
inline constexpr int kWrongPulldown = 28;
inline constexpr int kWrongChromaFormat = 29;
inline constexpr int kWrongEntryPoint = 31;
inline constexpr int kWrongCodedSize = 32;
inline constexpr int kWrongFrameRateInfo = 33;
inline constexpr int kWrongPanscan = 34;
inline constexpr int kNoHrd = 35;
inline constexpr int kFrameGaps = 36;
inline constexpr int kNoSps = 37;
inline constexpr int kNoPps = 38;
inline constexpr int kNoVui = 39;
inline constexpr int kNoTimingInfo = 40;
inline constexpr int kFixedFrameRate = 41;
inline constexpr int kWrongSliceType = 42;
inline constexpr int kCpbOverflow = 43;
inline constexpr int kWrongLowDelay = 44;
}  // namespace result

// Picture types in the low bits of an entry's flags; the other flags are the stream info file's.
inline constexpr uint32_t kPictureI = 1;
inline constexpr uint32_t kPictureP = 2;
inline constexpr uint32_t kPictureB = 3;
inline constexpr uint32_t kPictureTypeMask = au_flag::kPictureTypeMask;
inline constexpr uint32_t kSequenceHeaderFlag = au_flag::kSequenceHeader;
inline constexpr uint32_t kRandomAccessFlag = au_flag::kRandomAccess;
inline constexpr uint32_t kSequenceEndFlag = au_flag::kSequenceEnd;

// Presentation time of the first unit in display order, 90 kHz.
inline constexpr double kFirstTime = kFirstAuTime;

// One access unit (a frame; a field pair counts once), in decoding order: the analyses produce
// the stream info file's entries as they are stored.
using AccessUnit = SAuEntry;

// One group of pictures: its unit count and the I picture it is entered by.
struct GopInfo {
  uint32_t count = 0;
  uint32_t i_index = 0;
  uint64_t i_offset = 0;
  uint32_t i_size = 0;
  uint32_t min_pts = 0;
  uint32_t max_pts = 0;
};

// The attributes every video record carries.
struct VideoAttributes {
  uint8_t profile = 0;
  uint8_t level = 0;
  uint8_t video_format = 0;
  uint8_t aspect_code = 0;
  uint8_t frame_rate_code = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  bool progressive = false;
};

// Progress of an analysis: gets the percentage done, answers false to cancel.
using Progress = std::function<bool(int percent)>;

// 480 -> 480i/480p, 576 -> 576i/576p, 720 -> 720p, 1080/1088 -> 1080i/1080p; else `current`.
uint8_t VideoFormatFromHeight(uint32_t height, bool progressive, uint8_t current);
// Whether a disc may carry this pair of video format and frame-rate code.
bool FrameRateAllowed(uint8_t video_format, uint8_t frame_rate_code);
// Aspect code (2 = 4:3, 3 = 16:9, 0 = unknown) from a sample aspect ratio index and the size.
uint8_t AspectFromSar(uint32_t sar_index, uint32_t width, uint32_t height);
// The code whose nominal rate is within 0.01 frames/s of `rate`, 255 when none is.
uint8_t FrameRateCode(double rate);

}  // namespace tessel::video
