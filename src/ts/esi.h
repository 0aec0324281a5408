// One elementary stream of a program map section (`ESI`) with the descriptors the system knows by
// stream type. Descriptors the system does not model are kept as raw bytes and written back after
// the modelled ones, so that a stream's descriptors survive a remultiplex.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "formats/dump.h"
#include "formats/field_access.h"

namespace tessel {

using FourCc = std::array<uint8_t, 4>;
inline constexpr FourCc kHdmvFormat = {'H', 'D', 'M', 'V'};
inline constexpr FourCc kAc3Format = {'A', 'C', '-', '3'};
inline constexpr FourCc kVc1Format = {'V', 'C', '-', '1'};

struct RawDescriptor {
  uint8_t Tag = 0;
  std::vector<uint8_t> Data;  // the bytes after the length
};

struct HdmvVideoRegistrationDescriptor {
  uint8_t StreamCodingType = 0;
  uint8_t VideoFormat = 0;  // 4 bits
  uint8_t FrameRate = 0;    // 4 bits
  uint8_t AspectRatio = 0;  // 4 bits
};

struct HdmvLpcmRegistrationDescriptor {
  uint8_t StreamCodingType = 0x80;
  uint8_t AudioPresentationType = 0;  // 4 bits
  uint8_t SamplingFrequency = 0;      // 4 bits
  uint8_t BitsPerSample = 0;          // 2 bits
};

struct Ac3RegistrationDescriptor {
  FourCc FormatIdentifier = kAc3Format;
};

struct Vc1RegistrationDescriptor {
  std::optional<uint8_t> ProfileLevel;   // sub-descriptor 0x01
  std::optional<uint8_t> AlignmentType;  // sub-descriptor 0x02
  bool HasBufferSize = false;            // sub-descriptor 0x03
  uint8_t BufferSizeExponent = 0;        // 4 bits
  uint16_t HrdBuffer = 0;
};

// ATSC A/52 audio descriptor (tag 0x81) of the program map. The analysis of AC-3 files keeps
// its own record of these fields (AC3_AUDIO_DESCRIPTOR); the multiplexer copies between them.
struct AC3_PMT_DESCRIPTOR {
  uint8_t SampleRateCode = 0;  // 3 bits
  uint8_t Bsid = 0;            // 5 bits
  uint8_t BitRateCode = 0;     // 6 bits
  uint8_t SurroundMode = 0;    // 2 bits
  uint8_t BsMode = 0;          // 3 bits
  uint8_t NumChannels = 0;     // 4 bits
  bool FullSVC = false;
  uint8_t LangCode = 0;
  // Written only when NumChannels is 0:
  uint8_t LangCode2 = 0;
  uint8_t MainID = 0;     // 3 bits
  uint8_t Priority = 0;   // 2 bits
  uint8_t AsvcFlags = 0;  // instead of MainID and Priority when BsMode > 1
  uint8_t TextLen = 0;    // 7 bits
  bool TextCode = false;
  std::vector<uint8_t> Text;
  bool LanguageFlag = false;
  bool LanguageFlag2 = false;
  std::array<uint8_t, 3> Language{};
  std::array<uint8_t, 3> Language2{};
  std::vector<uint8_t> AdditionInfo;
};

struct AvcVideoDescriptor {
  uint8_t AvcProfile = 0;
  bool constraint_set0_flag = false;
  bool constraint_set1_flag = false;
  bool constraint_set2_flag = false;
  uint8_t AVC_compatible_flags = 0;  // 5 bits
  uint8_t AvcLevel = 0;
  bool AVC_still_present = false;
  bool AVC_24_hour_picture_flag = false;
};

struct AvcTimingHrdDescriptor {
  std::array<uint8_t, 2> Data{};
};

struct CAPTION_SERVICE_INFO {
  std::array<uint8_t, 3> Language = {'e', 'n', 'g'};
  bool DigitalCC = false;
  bool Line21Field = false;          // when DigitalCC is clear
  uint8_t CaptionServiceNumber = 1;  // 6 bits, when DigitalCC is set
  bool EasyReader = true;
  bool WideAspectRatio = false;
};

struct CaptionServiceDescriptor {
  std::vector<CAPTION_SERVICE_INFO> Services;  // NumberOfServices on the wire (5 bits)
};

struct Iso639LanguageDescriptor {
  std::array<uint8_t, 3> Language{};
  uint8_t AudioType = 0;
};

struct ESI {
  uint8_t StreamType = 0;
  uint16_t ElementaryPid = 0;  // 13 bits
  uint16_t ES_IfoLength = 0;   // recomputed on writing
  std::optional<HdmvVideoRegistrationDescriptor> HdmvVideoRegistration;
  std::optional<Vc1RegistrationDescriptor> Vc1Registration;
  std::optional<HdmvLpcmRegistrationDescriptor> HdmvLpcmRegistration;
  std::optional<Ac3RegistrationDescriptor> Ac3Registration;
  std::optional<AC3_PMT_DESCRIPTOR> Ac3Audio;
  std::optional<AvcVideoDescriptor> AvcVideo;
  std::optional<AvcTimingHrdDescriptor> AvcTimingHrd;
  std::optional<CaptionServiceDescriptor> CaptionService;
  std::vector<RawDescriptor> OtherDescriptors;  // in the order read
  std::optional<Iso639LanguageDescriptor> Language;
};

// Each returns the bytes written; the entry's ES_IfoLength is updated.
size_t WriteEsi(ByteWriter& out, ESI& esi);
// Reads one entry at the cursor; false when its bytes run short.
bool ReadEsi(ByteReader& in, ESI& esi);
void DumpEsi(const ESI& esi, std::string_view prefix, DumpArchive& archive);

// The descriptors on their own (tag and length included), for tests and for other writers.
void WriteAc3AudioDescriptor(ByteWriter& out, const AC3_PMT_DESCRIPTOR& d);
bool ReadAc3AudioDescriptor(std::span<const uint8_t> body, AC3_PMT_DESCRIPTOR& d);
void WriteCaptionServiceDescriptor(ByteWriter& out, const CaptionServiceDescriptor& d);
bool ReadCaptionServiceDescriptor(std::span<const uint8_t> body, CaptionServiceDescriptor& d);

}  // namespace tessel
