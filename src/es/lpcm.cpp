#include "es/lpcm.h"

#include <algorithm>
#include <cstring>

namespace tessel {
namespace {

constexpr uint64_t kMinimumFileSize = 44;
// The format block fields the parser understands (the extensible block is 40 bytes).
constexpr uint32_t kFormatBlockBytes = 40;
constexpr double kUnitDurationMs = 5.0;

bool ReadChunkHeader(BitFile& file, uint8_t (&id)[4], uint32_t& size) {
  uint8_t raw[8];
  if (file.ReadBytes(raw, 8) != 8) return false;
  std::memcpy(id, raw, 4);
  size = raw[4] | raw[5] << 8 | raw[6] << 16 | static_cast<uint32_t>(raw[7]) << 24;
  return true;
}

// Chunks are word aligned: an odd size is followed by a pad byte.
uint64_t PaddedSize(uint32_t size) {
  return uint64_t{size} + (size & 1);
}

}  // namespace

void PCM_WAVE_FORMAT::FillPmtStream(ESI& entry) const {
  entry.StreamType = coding::kLpcm;
  entry.HdmvLpcmRegistration = HdmvLpcmRegistrationDescriptor{coding::kLpcm, PresentationType(),
                                                              SamplingFrequency(), BitsCode()};
}

std::unique_ptr<CSifData> PCM_WAVE_FORMAT::Clone() const {
  return std::make_unique<PCM_WAVE_FORMAT>(*this);
}

bool PCM_WAVE_FORMAT::IsEqual(const CSifData& other) const {
  const auto* o = dynamic_cast<const PCM_WAVE_FORMAT*>(&other);
  return o && format_tag == o->format_tag && channels == o->channels &&
         samples_per_second == o->samples_per_second &&
         average_bytes_per_second == o->average_bytes_per_second && block_align == o->block_align &&
         bits_per_sample == o->bits_per_sample &&
         valid_bits_per_sample == o->valid_bits_per_sample && channel_mask == o->channel_mask &&
         guid_data1 == o->guid_data1 && guid_data2 == o->guid_data2 &&
         guid_data3 == o->guid_data3 && std::memcmp(guid_data4, o->guid_data4, 8) == 0;
}

int PCM_WAVE_FORMAT::Validate() const {
  if (format_tag != kFormatPcm && format_tag != kFormatExtensible) {
    return parse_result::kUnknownFormat;
  }
  if (samples_per_second != 48000 && samples_per_second != 96000 && samples_per_second != 192000) {
    return parse_result::kWrongSampleRate;
  }
  if (valid_bits_per_sample != 16 && valid_bits_per_sample != 20 && valid_bits_per_sample != 24) {
    return parse_result::kWrongSampleBits;
  }
  // The multiplexer turns 16-bit samples and 3-byte samples to big-endian; other containers
  // (a 24-bit sample in 4 bytes) would come out garbled.
  if (bits_per_sample != 16 && bits_per_sample != 24) return parse_result::kWrongSampleBits;
  const bool count_allowed = channels == 2 || channels == 4 || channels == 6 ||
                             (channels == 8 && samples_per_second != 192000);
  if (!count_allowed) return parse_result::kWrongChannelCount;
  // The unit size and the sample layout come from these; a header that contradicts itself
  // would cut the samples apart.
  if (block_align != channels * (bits_per_sample / 8) ||
      average_bytes_per_second != samples_per_second * block_align) {
    return parse_result::kSyntaxIllegal;
  }
  return parse_result::kOk;
}

int PCM_WAVE_FORMAT::StdModels(SStdSpec (&models)[2]) const {
  models[0] = {StdKind::kLpcm, SamplingFrequency(), true};
  return 1;
}

int PCM_WAVE_FORMAT::ReadFormatBlock(LeReader& in) {
  *this = PCM_WAVE_FORMAT{};
  format_tag = in.U16();
  if (format_tag != kFormatPcm && format_tag != kFormatExtensible) {
    return parse_result::kUnknownFormat;
  }
  channels = in.U16();
  samples_per_second = in.U32();
  average_bytes_per_second = in.U32();
  block_align = in.U16();
  bits_per_sample = in.U16();
  valid_bits_per_sample = bits_per_sample;
  if (format_tag == kFormatExtensible) {
    const uint16_t extension_size = in.U16();
    if (extension_size < 22) {
      *this = PCM_WAVE_FORMAT{};
      return parse_result::kUnknownFormat;
    }
    valid_bits_per_sample = in.U16();
    if (valid_bits_per_sample > bits_per_sample) return parse_result::kUnknownFormat;
    channel_mask = in.U32();
    guid_data1 = in.U32();
    guid_data2 = in.U16();
    guid_data3 = in.U16();
    in.Bytes(guid_data4, 8);
  }
  return in.ok() ? parse_result::kOk : parse_result::kUnknownFormat;
}

bool PCM_WAVE_FORMAT::Read(LeReader& in) {
  const uint16_t tag = in.U16();
  // The stored layout is the format block itself, with 22 as the extension size.
  std::vector<uint8_t> block;
  LeWriter rebuilt;
  rebuilt.U16(tag);
  const size_t rest = tag == kFormatExtensible ? 38 : 14;
  block.resize(rest);
  in.Bytes(block.data(), rest);
  rebuilt.Bytes(block);
  LeReader block_in(rebuilt.bytes());
  return in.ok() && ReadFormatBlock(block_in) == parse_result::kOk;
}

void PCM_WAVE_FORMAT::Write(LeWriter& out) const {
  out.U16(format_tag);
  out.U16(channels);
  out.U32(samples_per_second);
  out.U32(average_bytes_per_second);
  out.U16(block_align);
  out.U16(bits_per_sample);
  if (format_tag != kFormatExtensible) return;
  out.U16(22);
  out.U16(valid_bits_per_sample);
  out.U32(channel_mask);
  out.U32(guid_data1);
  out.U16(guid_data2);
  out.U16(guid_data3);
  out.Bytes(guid_data4);
}

std::optional<SAuEntry> PCM_WAVE_FORMAT::ComputeEntry(const SSifHeader& header,
                                                      uint32_t index) const {
  SAuEntry entry;
  entry.size = UnitPayloadSize();
  entry.offset = header.startOffset + uint64_t{entry.size} * index;
  entry.pts = entry.dts = ConstantRateTime(index, header.auDuration);
  return entry;
}

uint8_t PCM_WAVE_FORMAT::PresentationType() const {
  if (channels == 0) return 0;
  if (channels == 1) return 1;
  return channels == 2 ? 3 : 6;
}

uint8_t PCM_WAVE_FORMAT::SamplingFrequency() const {
  switch (samples_per_second) {
    case 48000:
      return 1;
    case 96000:
      return 4;
    case 192000:
      return 5;
    default:
      return 0;
  }
}

uint8_t PCM_WAVE_FORMAT::ChannelAssignment() const {
  constexpr uint32_t kFrontCentre = 1u << 2, kLfe = 1u << 3, kBackCentre = 1u << 8;
  switch (channels) {
    case 4:
      if (channel_mask == 0) return 4;
      if (channel_mask & kFrontCentre) return (channel_mask & kBackCentre) ? 6 : 4;
      return (channel_mask & kBackCentre) ? 5 : 7;
    case 6:
      return (channel_mask & kLfe) ? 9 : 8;
    case 8:
      return (channel_mask & kLfe) ? 11 : 10;
    default:
      return 3;
  }
}

uint8_t PCM_WAVE_FORMAT::BitsCode() const {
  switch (valid_bits_per_sample) {
    case 16:
      return 1;
    case 20:
      return 2;
    case 24:
      return 3;
    default:
      return 0;
  }
}

CLPCMParser::CLPCMParser() : CParserBase(coding::kLpcm, {".wav"}) {}

bool CLPCMParser::ProbeFile(BitFile& file) {
  uint8_t head[16];
  return file.ReadBytes(head, 16) == 16 && std::memcmp(head, "RIFF", 4) == 0 &&
         std::memcmp(head + 8, "WAVE", 4) == 0 && std::memcmp(head + 12, "fmt ", 4) == 0;
}

int CLPCMParser::ParseSource(ByteSource& source, CStreamInfo& info,
                             const ProgressCallback& progress) {
  BitFile file;
  if (!file.Open(source)) return parse_result::kOpenError;
  if (source.length() < kMinimumFileSize || !ProbeFile(file)) {
    return parse_result::kUnknownFormat;
  }
  return ParseFile(file, source, info, progress);
}

int CLPCMParser::ParseFile(BitFile& file, ByteSource& source, CStreamInfo& info,
                           const ProgressCallback&) {
  info.header = SSifHeader{};
  info.CreateRecord(coding::kLpcm);
  auto& format = static_cast<PCM_WAVE_FORMAT&>(*info.record);
  uint8_t size_bytes[4];
  if (file.ReadBytes(size_bytes, 4) != 4) return parse_result::kUnknownFormat;
  const uint32_t format_size = size_bytes[0] | size_bytes[1] << 8 | size_bytes[2] << 16 |
                               static_cast<uint32_t>(size_bytes[3]) << 24;
  std::vector<uint8_t> block(std::min(format_size, kFormatBlockBytes));
  if (file.ReadBytes(block.data(), block.size()) != block.size()) {
    return parse_result::kUnknownFormat;
  }
  LeReader block_in(block);
  if (const int r = format.ReadFormatBlock(block_in); r != parse_result::kOk) return r;
  if (const int r = format.Validate(); r != parse_result::kOk) return r;
  if (!info.WriteHeaderAndRecord()) return parse_result::kWriteError;
  file.SkipBits((PaddedSize(format_size) - block.size()) * 8);

  SSifHeader& header = info.header;
  header.auDuration = kUnitDurationMs;
  header.bitRate = format.average_bytes_per_second * 8;
  const uint64_t file_size = source.length();
  for (;;) {
    uint8_t id[4];
    uint32_t size;
    if (!ReadChunkHeader(file, id, size)) return parse_result::kReadError;
    if (std::memcmp(id, "data", 4) != 0) {
      if (!file.SkipBits(PaddedSize(size) * 8)) return parse_result::kReadError;
      continue;
    }
    const uint64_t start = file.byte_offset();
    header.startOffset = static_cast<uint32_t>(start);
    header.totalSize = std::min<uint64_t>(size, file_size - std::min(file_size, start));
    break;
  }
  header.sourceTime = source.modification_time();
  header.auCount = static_cast<uint32_t>(header.totalSize / format.UnitPayloadSize());
  if (!info.WriteHeaderAndRecord()) return parse_result::kWriteError;
  return parse_result::kOk;
}

}  // namespace tessel
