#include "es/ac3.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "formats/field_access.h"

namespace tessel {
namespace {

// Frame size in 16-bit words at 48 kHz and nominal bit rate in kbit/s, by frmsizecod / 2.
constexpr std::array<uint16_t, 19> kFrameWords = {
    64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 640, 768, 896, 1024, 1152, 1280};
constexpr std::array<uint16_t, 19> kBitRateKbps = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                                   192, 224, 256, 320, 384, 448, 512, 576, 640};
constexpr std::array<uint8_t, 8> kChannels = {2, 1, 2, 3, 3, 4, 4, 5};

constexpr double kFrameDurationMs = 1536 / 48.0;
// Bytes of a frame that hold every header field the parser reads.
constexpr size_t kHeaderBytes = 10;

struct FrameInfo {
  AC3_AUDIO_DESCRIPTOR fields;
  bool eac3 = false;
  uint32_t size = 0;
};

int ParseEac3Fields(BitReader& bits, uint16_t w1, uint16_t w2, FrameInfo& frame) {
  AC3_AUDIO_DESCRIPTOR& d = frame.fields;
  d.eac3_present = 1;
  d.eac3_bsid = 16;
  d.eac3_acmod = (w2 >> 9) & 7;
  if (d.eac3_acmod == 0) return parse_result::kWrongAudioCodingMode;
  if (((w2 >> 12) & 3) != 3) return parse_result::kWrongAudioBlocks;
  d.eac3_frame_words = static_cast<uint16_t>((w1 & 0x7FF) + 1);
  d.eac3_stream_type = static_cast<uint8_t>(w1 >> 14);
  d.eac3_substream_id = (w1 >> 11) & 7;
  bits.Skip(2);                   // the rest of dialnorm
  if (bits.Flag()) bits.Skip(8);  // compre, compr
  if (d.eac3_stream_type != 0 && bits.Flag()) {
    d.eac3_channel_map = static_cast<uint16_t>(bits.Bits(16));
  }
  frame.eac3 = true;
  frame.size = 2u * d.eac3_frame_words;
  return bits.ok() ? parse_result::kOk : parse_result::kReadError;
}

int ParseAc3Fields(BitReader& bits, uint16_t w2, FrameInfo& frame) {
  AC3_AUDIO_DESCRIPTOR& d = frame.fields;
  d.ac3_present = 1;
  d.frame_size_code = (w2 >> 8) & 0x3F;
  if (d.frame_size_code < 8 || d.frame_size_code > 37) return parse_result::kWrongBitrate;
  d.bit_rate_code = d.frame_size_code / 2;
  d.bsmod = w2 & 7;
  d.acmod = static_cast<uint8_t>(bits.Bits(3));
  d.num_channels = d.acmod;
  if (d.acmod == 0) return parse_result::kWrongAudioCodingMode;
  if ((d.acmod & 1) && d.acmod != 1) bits.Skip(2);  // cmixlev
  if (d.acmod & 4) bits.Skip(2);                    // surmixlev
  if (d.acmod == 2) d.surround_mode = static_cast<uint8_t>(bits.Bits(2));
  frame.size = 2u * kFrameWords[d.bit_rate_code];
  return bits.ok() ? parse_result::kOk : parse_result::kReadError;
}

// Parses the header of the sync frame starting at the reader's position and moves to its end.
int ReadFrame(BitFile& file, FrameInfo& frame) {
  uint8_t head[kHeaderBytes];
  const size_t got = file.ReadBytes(head, sizeof head);
  if (got < 2) return parse_result::kReadError;
  if (head[0] != 0x0B || head[1] != 0x77) return parse_result::kUnknownFormat;
  if (got < 6) return parse_result::kReadError;
  BitReader bits(std::span<const uint8_t>(head, got));
  bits.Skip(16);
  const auto w1 = static_cast<uint16_t>(bits.Bits(16));
  const auto w2 = static_cast<uint16_t>(bits.Bits(16));
  frame.fields.bsid = (w2 >> 3) & 0x1F;
  if (frame.fields.bsid != 6 && frame.fields.bsid != 8 && frame.fields.bsid != 16) {
    return parse_result::kWrongBitstreamId;
  }
  frame.fields.sample_rate_code = static_cast<uint8_t>(w2 >> 14);
  if (frame.fields.sample_rate_code != 0) return parse_result::kWrongSampleRate;
  const int result = frame.fields.bsid == 16 ? ParseEac3Fields(bits, w1, w2, frame)
                                             : ParseAc3Fields(bits, w2, frame);
  if (result != parse_result::kOk) return result;
  // A frame shorter than the header bytes already read cannot be a real frame.
  if (frame.size < sizeof head) return parse_result::kSyntaxIllegal;
  file.SkipBits(uint64_t{frame.size - got} * 8);
  return parse_result::kOk;
}

void TakeAc3Part(const AC3_AUDIO_DESCRIPTOR& from, AC3_AUDIO_DESCRIPTOR& to) {
  to.sample_rate_code = from.sample_rate_code;
  to.bsid = from.bsid;
  to.frame_size_code = from.frame_size_code;
  to.bit_rate_code = from.bit_rate_code;
  to.surround_mode = from.surround_mode;
  to.bsmod = from.bsmod;
  to.acmod = from.acmod;
  to.num_channels = from.num_channels;
}

void TakeEac3Part(const AC3_AUDIO_DESCRIPTOR& from, AC3_AUDIO_DESCRIPTOR& to) {
  to.eac3_stream_type = from.eac3_stream_type;
  to.eac3_substream_id = from.eac3_substream_id;
  to.eac3_bsid = from.eac3_bsid;
  to.eac3_frame_words = from.eac3_frame_words;
  to.eac3_acmod = from.eac3_acmod;
  to.eac3_channel_map = from.eac3_channel_map;
}

uint32_t Eac3BitRate(uint16_t frame_words) {
  return static_cast<uint32_t>(std::trunc(frame_words * 16000.0 * kFrameDurationMs / 1024));
}

}  // namespace

int Ac3ChannelCount(uint8_t acmod) {
  return kChannels[acmod & 7];
}

void AC3_AUDIO_DESCRIPTOR::Clear() {
  text.clear();
  additional_info.clear();
}

void AC3_AUDIO_DESCRIPTOR::FillPmtStream(ESI& entry) const {
  entry.StreamType = CodingType(true);
  entry.Ac3Registration.emplace();
  AC3_PMT_DESCRIPTOR& d = entry.Ac3Audio.emplace();
  d.SampleRateCode = sample_rate_code;
  d.Bsid = bsid;
  d.BitRateCode = bit_rate_code;
  d.SurroundMode = surround_mode;
  d.BsMode = bsmod;
  d.NumChannels = num_channels;
  d.FullSVC = full_svc;
  d.LangCode = langcod;
  d.LangCode2 = langcod2;
  d.MainID = mainid;
  d.Priority = priority;
  d.AsvcFlags = asvcflags;
  d.TextLen = text_length;
  d.TextCode = text_code;
  d.Text = text;
  d.LanguageFlag = language_flag;
  d.LanguageFlag2 = language_flag_2;
  std::copy(language, language + 3, d.Language.begin());
  std::copy(language_2, language_2 + 3, d.Language2.begin());
  d.AdditionInfo = additional_info;
}

std::unique_ptr<CSifData> AC3_AUDIO_DESCRIPTOR::Clone() const {
  return std::make_unique<AC3_AUDIO_DESCRIPTOR>(*this);
}

bool AC3_AUDIO_DESCRIPTOR::IsEqual(const CSifData& other) const {
  const auto* o = dynamic_cast<const AC3_AUDIO_DESCRIPTOR*>(&other);
  return o && eac3_present == o->eac3_present && ac3_present == o->ac3_present &&
         descriptor_tag == o->descriptor_tag && sample_rate_code == o->sample_rate_code &&
         bsid == o->bsid && frame_size_code == o->frame_size_code &&
         bit_rate_code == o->bit_rate_code && surround_mode == o->surround_mode &&
         bsmod == o->bsmod && acmod == o->acmod && num_channels == o->num_channels &&
         eac3_bsid == o->eac3_bsid && eac3_stream_type == o->eac3_stream_type &&
         eac3_substream_id == o->eac3_substream_id && eac3_frame_words == o->eac3_frame_words &&
         eac3_acmod == o->eac3_acmod && eac3_reserved == o->eac3_reserved &&
         eac3_reserved_2 == o->eac3_reserved_2 && eac3_channel_map == o->eac3_channel_map;
}

int AC3_AUDIO_DESCRIPTOR::StdModels(SStdSpec (&models)[2]) const {
  if (eac3_present && !ac3_present) {
    models[0] = {StdKind::kDdp, 0, false};
    return 1;
  }
  models[0] = {StdKind::kAc3, 0, true};
  if (!eac3_present) return 1;
  models[1] = {StdKind::kDdp, 1, true};
  return 2;
}

bool AC3_AUDIO_DESCRIPTOR::Read(LeReader& in) {
  version_ = in.U32();
  for (uint8_t* field : {&sample_rate_code, &bsid, &frame_size_code, &surround_mode, &bsmod, &acmod,
                         &num_channels, &full_svc, &mainid, &priority, &asvcflags}) {
    *field = in.U8();
  }
  bit_rate_code = frame_size_code / 2;
  if (version_ == 0) return in.ok();
  eac3_present = in.U8();
  ac3_present = in.U8();
  if (eac3_present == 1) {
    eac3_frame_words = in.U16();
    eac3_stream_type = in.U8();
    eac3_substream_id = in.U8();
    eac3_reserved = in.U8();
    eac3_acmod = in.U8();
    eac3_reserved_2 = in.U8();
    eac3_channel_map = in.U16();
  }
  frame_size = in.U32();
  return in.ok();
}

void AC3_AUDIO_DESCRIPTOR::Write(LeWriter& out) const {
  out.U32(kVersion);
  for (uint8_t field : {sample_rate_code, bsid, frame_size_code, surround_mode, bsmod, acmod,
                        num_channels, full_svc, mainid, priority, asvcflags}) {
    out.U8(field);
  }
  out.U8(eac3_present);
  out.U8(ac3_present);
  if (eac3_present == 1) {
    out.U16(eac3_frame_words);
    out.U8(eac3_stream_type);
    out.U8(eac3_substream_id);
    out.U8(eac3_reserved);
    out.U8(eac3_acmod);
    out.U8(eac3_reserved_2);
    out.U16(eac3_channel_map);
  }
  out.U32(frame_size);
}

std::optional<SAuEntry> AC3_AUDIO_DESCRIPTOR::ComputeEntry(const SSifHeader& header,
                                                           uint32_t index) const {
  SAuEntry entry;
  if (eac3_present && ac3_present) {
    const uint32_t pair = index / 2;
    const bool extension = index & 1;
    entry.size = extension ? ExtensionFrameSize() : CoreFrameSize();
    entry.offset =
        header.startOffset + uint64_t{frame_size} * pair + (extension ? CoreFrameSize() : 0);
    entry.flags = extension ? au_flag::kExtensionPart : 0;
    entry.pts = entry.dts = ConstantRateTime(pair, header.auDuration);
  } else {
    entry.size = frame_size;
    entry.offset = header.startOffset + uint64_t{frame_size} * index;
    entry.pts = entry.dts = ConstantRateTime(index, header.auDuration);
  }
  return entry;
}

uint8_t AC3_AUDIO_DESCRIPTOR::CodingType(bool) const {
  if (eac3_present && ac3_present) return coding::kEac3;
  if (eac3_present) return coding::kEac3Secondary;
  return coding::kAc3;
}

uint8_t AC3_AUDIO_DESCRIPTOR::PresentationType() const {
  const int core = Ac3ChannelCount(ac3_present ? acmod : eac3_acmod);
  const int extension = (ac3_present && eac3_present) ? Ac3ChannelCount(eac3_acmod) : 0;
  return PresentationTypeFromChannels(core, extension);
}

std::vector<uint8_t> AC3_AUDIO_DESCRIPTOR::DescriptorBytes() const {
  std::vector<uint8_t> out = {
      descriptor_tag,
      0,
      static_cast<uint8_t>(sample_rate_code << 5 | (bsid & 0x1F)),
      static_cast<uint8_t>(bit_rate_code << 2 | (surround_mode & 3)),
      static_cast<uint8_t>(bsmod << 5 | (num_channels & 0xF) << 1 | (full_svc & 1)),
      langcod};
  if (num_channels == 0) {
    out.push_back(langcod2);
    out.push_back(bsmod > 1 ? asvcflags
                            : static_cast<uint8_t>(mainid << 5 | (priority & 3) << 3 | 7));
    out.push_back(static_cast<uint8_t>(text_length << 1 | (text_code & 1)));
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0x3F);
  }
  out[1] = static_cast<uint8_t>(out.size() - 2);
  return out;
}

bool AC3_AUDIO_DESCRIPTOR::ReadDescriptor(std::span<const uint8_t> bytes) {
  ByteReader in(bytes);
  descriptor_tag = in.U8();
  descriptor_length = in.U8();
  ByteReader body = in.Sub(descriptor_length);
  const uint8_t b0 = body.U8(), b1 = body.U8(), b2 = body.U8();
  sample_rate_code = b0 >> 5;
  bsid = b0 & 0x1F;
  bit_rate_code = b1 >> 2;
  surround_mode = b1 & 3;
  bsmod = b2 >> 5;
  num_channels = (b2 >> 1) & 0xF;
  full_svc = b2 & 1;
  if (descriptor_length > 3) langcod = body.U8();
  return body.ok();
}

CAC3Parser::CAC3Parser() : CParserBase(coding::kAc3, {".ac3"}) {}

bool CAC3Parser::ProbeFile(BitFile& file) {
  uint8_t sync[2];
  return file.ReadBytes(sync, 2) == 2 && sync[0] == 0x0B && sync[1] == 0x77;
}

int CAC3Parser::ParseFile(BitFile& file, ByteSource& source, CStreamInfo& info,
                          const ProgressCallback& progress) {
  if (!file.is_open() && !file.Open(source)) return parse_result::kOpenError;
  FrameInfo frames[3];
  for (FrameInfo& frame : frames) {
    if (const int result = ReadFrame(file, frame); result != parse_result::kOk) return result;
  }
  if (frames[0].eac3 != frames[2].eac3) return parse_result::kIncompatible;
  auto record = std::make_unique<AC3_AUDIO_DESCRIPTOR>();
  SSifHeader& header = info.header;
  const bool alternating = frames[1].eac3 != frames[0].eac3;
  uint64_t counted = 3;
  uint32_t sizes[2] = {frames[0].size, frames[0].size};  // by kind: core, extension
  if (!alternating) {
    *record = frames[0].fields;
    record->frame_size = frames[0].size;
  } else {
    const FrameInfo& core = frames[0].eac3 ? frames[1] : frames[0];
    const FrameInfo& extension = frames[0].eac3 ? frames[0] : frames[1];
    TakeAc3Part(core.fields, *record);
    TakeEac3Part(extension.fields, *record);
    record->ac3_present = record->eac3_present = 1;
    record->frame_size = core.size + extension.size;
    sizes[0] = core.size;
    sizes[1] = extension.size;
    if (frames[0].eac3) {
      header.startOffset = frames[0].size;
      counted = 2;
    }
  }
  ProgressTicker ticker(progress, source.length());
  for (;;) {
    if (!ticker.Update(file.byte_offset())) return parse_result::kCancelled;
    uint8_t sync[2];
    if (file.ReadBytes(sync, 2) < 2) break;
    if (sync[0] != 0x0B || sync[1] != 0x77) return parse_result::kSyntaxIllegal;
    const uint32_t size = alternating ? sizes[counted & 1] : sizes[0];
    file.SkipBits(uint64_t{size - 2} * 8);
    ++counted;
  }
  header.auCount = static_cast<uint32_t>(counted);
  header.auDuration = kFrameDurationMs;
  if (alternating) {
    header.bitRate = kBitRateKbps[record->bit_rate_code] * 1000u;
    header.bitRate2 = Eac3BitRate(record->eac3_frame_words);
    header.totalSize = (counted / 2) * uint64_t{record->frame_size};
  } else {
    header.bitRate = record->ac3_present ? kBitRateKbps[record->bit_rate_code] * 1000u
                                         : Eac3BitRate(record->eac3_frame_words);
    header.totalSize = uint64_t{record->frame_size} * counted;
  }
  coding_type_ = record->CodingType(true);
  header.streamCodingType = coding_type_;
  info.record = std::move(record);
  return parse_result::kOk;
}

}  // namespace tessel
