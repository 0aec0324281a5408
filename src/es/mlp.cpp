#include "es/mlp.h"

#include <array>

#include "formats/field_access.h"

namespace tessel {
namespace {

constexpr double kUnitDurationMs = 1000.0 / 1200;
constexpr std::array<uint8_t, 21> kArrangementChannels = {1, 2, 3, 4, 3, 4, 5, 3, 4, 5, 4,
                                                          5, 6, 4, 5, 4, 5, 6, 5, 5, 6};
constexpr std::array<uint8_t, 13> kAssignmentChannels = {2, 1, 1, 2, 2, 2, 2, 1, 1, 2, 2, 1, 1};
// Bytes of a unit start that hold its header and a major sync.
constexpr size_t kLookedInto = 32;
constexpr size_t kMajorSyncEnd = 21;
constexpr size_t kEntryFlush = 1 << 20;

uint32_t SampleRate(uint32_t code) {
  if (code == 15) return 0;
  return ((code & 8) ? 44100u : 48000u) << (code & 7);
}

uint8_t BitsPerSample(uint32_t code) {
  constexpr uint8_t kBits[3] = {16, 20, 24};
  return code < 3 ? kBits[code] : 0;
}

int AssignmentChannels(uint32_t mask) {
  int channels = 0;
  for (size_t bit = 0; bit < kAssignmentChannels.size(); ++bit) {
    if (mask & (1u << bit)) channels += kAssignmentChannels[bit];
  }
  return channels;
}

bool HasMajorSync(const uint8_t* unit, size_t got) {
  return got >= 7 && unit[4] == 0xF8 && unit[5] == 0x72 && unit[6] == 0x6F;
}

}  // namespace

std::unique_ptr<CSifData> MLP_HEADER_INFO::Clone() const {
  return std::make_unique<MLP_HEADER_INFO>(*this);
}

bool MLP_HEADER_INFO::IsEqual(const CSifData& other) const {
  const auto* o = dynamic_cast<const MLP_HEADER_INFO*>(&other);
  return o && format == o->format && bits_per_sample_1 == o->bits_per_sample_1 &&
         bits_per_sample_2 == o->bits_per_sample_2 && sample_rate_1 == o->sample_rate_1 &&
         sample_rate_2 == o->sample_rate_2 && channel_arrangement == o->channel_arrangement &&
         six_channel_assignment == o->six_channel_assignment &&
         eight_channel_assignment == o->eight_channel_assignment && substreams == o->substreams;
}

int MLP_HEADER_INFO::ChannelCount() const {
  if (format == kFormatMlp) {
    return channel_arrangement < kArrangementChannels.size()
               ? kArrangementChannels[channel_arrangement]
               : 0;
  }
  return AssignmentChannels(eight_channel_assignment ? eight_channel_assignment
                                                     : six_channel_assignment);
}

void MLP_HEADER_INFO::FillAttributes(StreamAttributeValues& values) const {
  values.coding_type = coding::kTrueHd;
  const uint8_t a = values.presentation_type;
  const int b = ChannelCount();
  if (a == 1) {
    values.presentation_type = b == 0 ? 1 : 0;
  } else if (a == 3) {
    values.presentation_type = b < 3 ? 3 : 12;
  } else {
    values.presentation_type = a == 6 ? 6 : 0;
  }
  values.sampling_frequency = sample_rate_1 == 96000 ? 14 : sample_rate_1 == 192000 ? 12 : 1;
}

int MLP_HEADER_INFO::StdModels(SStdSpec (&models)[2]) const {
  models[0] = {StdKind::kAc3, 0, true};
  models[1] = {StdKind::kMlp, 0, true};
  return 2;
}

bool MLP_HEADER_INFO::Read(LeReader& in) {
  version_ = in.U32();
  format = in.U8();
  bits_per_sample_1 = in.U8();
  in.U8();  // the first depth again; the second is not stored
  sample_rate_1 = in.U32();
  sample_rate_2 = in.U32();
  channel_arrangement = in.U8();
  six_channel_assignment = in.U8();
  eight_channel_assignment = in.U16();
  samples_per_au = in.U32();
  rate_value = in.U32();
  variable_rate = in.U8();
  peak_data_rate = in.U32();
  substreams = in.U8();
  return in.ok();
}

void MLP_HEADER_INFO::Write(LeWriter& out) const {
  out.U32(version_);
  out.U8(format);
  out.U8(bits_per_sample_1);
  out.U8(bits_per_sample_1);
  out.U32(sample_rate_1);
  out.U32(sample_rate_2);
  out.U8(channel_arrangement);
  out.U8(six_channel_assignment);
  out.U16(eight_channel_assignment);
  out.U32(samples_per_au);
  out.U32(rate_value);
  out.U8(variable_rate);
  out.U32(peak_data_rate);
  out.U8(substreams);
}

int MLP_HEADER_INFO::ReadMajorSync(std::span<const uint8_t> bytes) {
  BitReader bits(bytes);
  if (bits.Bits(24) != 0xF8726F) return parse_result::kUnknownFormat;
  format = static_cast<uint8_t>(bits.Bits(8));
  uint32_t rate_code = 0;
  if (format == kFormatMlp) {
    bits_per_sample_1 = BitsPerSample(static_cast<uint32_t>(bits.Bits(4)));
    bits_per_sample_2 = BitsPerSample(static_cast<uint32_t>(bits.Bits(4)));
    rate_code = static_cast<uint32_t>(bits.Bits(4));
    sample_rate_1 = SampleRate(rate_code);
    sample_rate_2 = SampleRate(static_cast<uint32_t>(bits.Bits(4)));
    bits.Skip(11);
    channel_arrangement = static_cast<uint8_t>(bits.Bits(5));
  } else if (format == kFormatTrueHd) {
    bits_per_sample_1 = 24;
    bits_per_sample_2 = 0;
    rate_code = static_cast<uint32_t>(bits.Bits(4));
    sample_rate_1 = SampleRate(rate_code);
    sample_rate_2 = 0;
    bits.Skip(8);
    six_channel_assignment = static_cast<uint8_t>(bits.Bits(5));
    bits.Skip(2);
    eight_channel_assignment = static_cast<uint16_t>(bits.Bits(13));
  } else {
    return parse_result::kSyntaxIllegal;
  }
  samples_per_au = 40u << (rate_code & 7);
  rate_value = 64u << (rate_code & 7);
  bits.Skip(48);
  variable_rate = static_cast<uint8_t>(bits.Bits(1));
  const auto peak = static_cast<uint32_t>(bits.Bits(15));
  peak_data_rate = static_cast<uint32_t>((uint64_t{peak} * sample_rate_1 + 8) >> 4);
  substreams = static_cast<uint8_t>(bits.Bits(4));
  return bits.ok() ? parse_result::kOk : parse_result::kSyntaxIllegal;
}

CMlpParser::CMlpParser() : CParserBase(coding::kTrueHd, {".mlp", ".thd"}) {}

bool CMlpParser::ProbeFile(BitFile& file) {
  uint8_t head[7];
  return file.ReadBytes(head, 7) == 7 && HasMajorSync(head, 7);
}

int CMlpParser::ParseFile(BitFile& file, ByteSource& source, CStreamInfo& info,
                          const ProgressCallback& progress) {
  auto record = std::make_unique<MLP_HEADER_INFO>();
  SSifHeader& header = info.header;
  header.auDuration = kUnitDurationMs;
  const uint64_t file_size = source.length();
  ProgressTicker ticker(progress, file_size);
  LeWriter entries;
  bool seen_major_sync = false;
  while (file.byte_offset() < file_size) {
    if (!ticker.Update(file.byte_offset())) return parse_result::kCancelled;
    const uint64_t start = file.byte_offset();
    uint8_t unit[kLookedInto];
    if (file.ReadBytes(unit, 4) != 4) return parse_result::kSyntaxIllegal;
    const uint32_t length = 2u * ((unit[0] & 0x0Fu) << 8 | unit[1]);
    // A unit shorter than its header, or one that runs past the end of the file, is damage.
    if (length < 4 || length > file_size - start) return parse_result::kSyntaxIllegal;
    const size_t looked = std::min<size_t>(length, kLookedInto);
    if (file.ReadBytes(unit + 4, looked - 4) != looked - 4) return parse_result::kSyntaxIllegal;
    SAuEntry entry;
    if (HasMajorSync(unit, looked)) {
      entry.flags = au_flag::kMajorSync;
      if (!seen_major_sync) {
        if (looked < kMajorSyncEnd) return parse_result::kSyntaxIllegal;
        const int result = record->ReadMajorSync({unit + 4, looked - 4});
        if (result != parse_result::kOk) return parse_result::kSyntaxIllegal;
      }
      seen_major_sync = true;
    } else if (!seen_major_sync) {
      return parse_result::kSyntaxIllegal;
    }
    if (!file.SkipBits(uint64_t{length - looked} * 8)) return parse_result::kSyntaxIllegal;
    entry.offset = start;
    entry.size = length;
    entry.pts = entry.dts = ConstantRateTime(header.auCount, header.auDuration);
    entry.Write(entries);
    header.totalSize += length;
    ++header.auCount;
    if (entries.size() >= kEntryFlush) {
      if (!info.Append(entries.bytes())) return parse_result::kWriteError;
      entries = LeWriter{};
    }
  }
  if (!info.Append(entries.bytes())) return parse_result::kWriteError;
  header.bitRate = record->peak_data_rate;
  header.streamCodingType = coding::kTrueHd;
  info.record = std::move(record);
  return parse_result::kOk;
}

}  // namespace tessel
