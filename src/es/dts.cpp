#include "es/dts.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "formats/field_access.h"

namespace tessel {
namespace {

constexpr std::array<uint32_t, 16> kCoreSampleRates = {
    0, 8000, 16000, 32000, 0, 0, 11025, 22050, 44100, 0, 0, 12000, 24000, 48000, 96000, 192000};
constexpr std::array<uint32_t, 16> kSubstreamSampleRates = {
    8000,   16000,  32000, 64000, 128000, 22050, 44100,  88200,
    176400, 352800, 12000, 24000, 48000,  96000, 192000, 384000};
constexpr std::array<uint32_t, 32> kBitRates = {
    32000,   56000,   64000,   96000,   112000,  128000,  192000,  224000,
    256000,  320000,  384000,  448000,  512000,  576000,  640000,  768000,
    896000,  1024000, 1152000, 1280000, 1344000, 1408000, 1411200, 1472000,
    1536000, 1920000, 2048000, 3072000, 3840000, 1,       2,       3};
constexpr std::array<uint8_t, 16> kAmodeChannels = {1, 2, 2, 2, 2, 3, 3, 4, 4, 5, 6, 6, 6, 7, 8, 8};
constexpr std::array<uint8_t, 4> kPcmrBits = {16, 20, 24, 24};

struct ExtensionSync {
  uint32_t word;
  uint8_t type;
};
constexpr std::array<ExtensionSync, 6> kExtensionSyncs = {{{0x5A5A5A5A, dts_extension::kXch},
                                                           {0x1D95F262, dts_extension::kX96},
                                                           {0x47004A03, dts_extension::kXxch},
                                                           {0x0A801921, dts_extension::kLbr},
                                                           {0x41A29547, dts_extension::kXll},
                                                           {0x655E315E, dts_extension::kXbr}}};

constexpr uint32_t kSubstreamSync = 0x64582025;
constexpr size_t kHeaderBytes = 64;
constexpr size_t kPrefixBytes = 1 << 20;  // where the first frames are looked for
constexpr size_t kWalkHeader = 14;        // sync word and the 10 bytes after it
constexpr size_t kEntryFlush = 1 << 20;

uint32_t Be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

uint8_t ExtensionTypeOf(uint32_t word) {
  for (const ExtensionSync& s : kExtensionSyncs) {
    if (s.word == word) return s.type;
  }
  return dts_extension::kNone;
}

// A sync word candidate; the 14-bit ones are confirmed by the 16 bits that follow.
bool IsPlainSync(uint32_t word) {
  return word == 0x7FFE8001 || word == 0xFE7F0180 || word == kSubstreamSync;
}
bool Is14BitSync(uint32_t word) {
  return word == 0x1FFFE800 || word == 0xFF1F00E8;
}
bool Confirms14Bit(uint32_t word, uint32_t next16) {
  return word == 0x1FFFE800 ? (next16 & 0xFFF0) == 0x07F0 : (next16 & 0xF0FF) == 0xF007;
}

// The first sync word at or after `from` in memory; npos when none.
size_t FindSyncIn(std::span<const uint8_t> data, size_t from) {
  for (size_t i = from; i + 4 <= data.size(); ++i) {
    const uint32_t word = Be32(&data[i]);
    if (IsPlainSync(word)) return i;
    if (Is14BitSync(word) && i + 6 <= data.size() &&
        Confirms14Bit(word, static_cast<uint32_t>(data[i + 4] << 8 | data[i + 5]))) {
      return i;
    }
  }
  return std::string::npos;
}

// Moves the reader just past the next sync word and returns it; false at the end of the file.
bool FindSync(BitFile& file, uint32_t& sync) {
  uint32_t word = 0;
  int have = 0;
  for (;;) {
    const std::span<const uint8_t> window = file.Window();
    if (window.empty()) return false;
    for (size_t i = 0; i < window.size(); ++i) {
      word = word << 8 | window[i];
      if (++have < 4) continue;
      if (IsPlainSync(word)) {
        file.Advance(i + 1);
        sync = word;
        return true;
      }
      if (!Is14BitSync(word)) continue;
      if (i + 2 < window.size()) {
        if (Confirms14Bit(word, static_cast<uint32_t>(window[i + 1] << 8 | window[i + 2]))) {
          file.Advance(i + 1);
          sync = word;
          return true;
        }
        continue;
      }
      // The confirming bytes lie in the next block: look without consuming.
      file.Advance(i + 1);
      uint32_t next16 = 0;
      if (file.Peek16(next16) && Confirms14Bit(word, next16)) {
        sync = word;
        return true;
      }
      if (file.read_failed()) return false;
      break;  // carry on after the candidate with the window refreshed
    }
    if (!file.read_failed() && file.Window().data() == window.data()) file.Advance(window.size());
  }
}

// The header bytes in 16-bit big-endian form (little-endian words swapped, 14-bit words packed).
std::vector<uint8_t> CoreHeaderBits(std::span<const uint8_t> frame, DtsFrameKind kind) {
  const bool little = kind == DtsFrameKind::kCore14Le || kind == DtsFrameKind::kCore16Le;
  const bool packed = kind == DtsFrameKind::kCore14Le || kind == DtsFrameKind::kCore14Be;
  BitWriter out;
  for (size_t i = 0; i + 1 < frame.size(); i += 2) {
    const uint16_t w = little ? static_cast<uint16_t>(frame[i + 1] << 8 | frame[i])
                              : static_cast<uint16_t>(frame[i] << 8 | frame[i + 1]);
    if (packed) {
      out.Bits(w & 0x3FFF, 14);
    } else {
      out.Bits(w, 16);
    }
  }
  out.AlignToByte();
  return out.bytes();
}

bool Is14Bit(DtsFrameKind kind) {
  return kind == DtsFrameKind::kCore14Le || kind == DtsFrameKind::kCore14Be;
}

uint32_t CoreFrameBytes(uint32_t fsize, DtsFrameKind kind) {
  return Is14Bit(kind) ? (fsize + 1) * 8 / 14 * 2 : fsize + 1;
}

// Frame size from the first 14 bytes of a frame (0 when they do not tell).
uint32_t FrameSizeAt(std::span<const uint8_t> head, DtsFrameKind kind) {
  if (kind == DtsFrameKind::kSubstream) {
    BitReader bits(head);
    bits.Skip(32 + 8 + 2);
    const bool long_sizes = bits.Flag();
    bits.Skip(long_sizes ? 12 : 8);
    const uint32_t size = static_cast<uint32_t>(bits.Bits(long_sizes ? 20 : 16)) + 1;
    return bits.ok() ? size : 0;
  }
  const std::vector<uint8_t> be = CoreHeaderBits(head, kind);
  BitReader bits(be);
  bits.Skip(32 + 1 + 5 + 1 + 7);
  const auto fsize = static_cast<uint32_t>(bits.Bits(14));
  return bits.ok() ? CoreFrameBytes(fsize, kind) : 0;
}

uint32_t SubstreamSamples(uint32_t duration, uint32_t rate) {
  switch (rate) {
    case 8000:
    case 12000:
      return duration * 128;
    case 16000:
    case 22050:
    case 24000:
      return duration * 256;
    case 32000:
    case 44100:
    case 48000:
      return duration * 512;
    case 64000:
    case 88200:
    case 96000:
      return duration * 1024;
    case 128000:
    case 176400:
    case 192000:
      return duration * 2048;
    case 352800:
    case 384000:
      return duration * 4096;
    default:
      return 0;
  }
}

uint8_t CodingTypeOf(const CDTSSif& record, bool header) {
  if (record.extension) {
    return record.extension->extension_type == dts_extension::kXll ? coding::kDtsHdXll
                                                                   : coding::kDtsHd;
  }
  if (!record.first.substream) return coding::kDts;
  if (header) return coding::kDtsHdSecondary;
  return record.first.extension_type == dts_extension::kXll ? coding::kDtsHdXll : coding::kDtsHd;
}

// Reads the first frame (and the substream after a first core frame) from the file's start.
int ReadFirstFrames(std::span<const uint8_t> prefix, CDTSSif& record, size_t& start) {
  start = 0;
  if (prefix.size() >= 8 && std::memcmp(prefix.data(), "DTSHDHDR", 8) == 0) {
    start = FindSyncIn(prefix, 8);
    if (start == std::string::npos) return parse_result::kUnknownFormat;
  }
  if (prefix.size() - start < kHeaderBytes) return parse_result::kOpenError;
  const auto frame = prefix.subspan(start, kHeaderBytes);
  const DtsFrameKind kind = ClassifyDtsFrame(frame);
  if (kind == DtsFrameKind::kNotDts) return parse_result::kUnknownFormat;
  const bool ok = kind == DtsFrameKind::kSubstream ? ParseDtsSubstreamHeader(frame, record.first)
                                                   : ParseDtsCoreHeader(frame, kind, record.first);
  if (!ok || record.first.frame_size < 95 || record.first.frame_size > 16383) {
    return parse_result::kSyntaxIllegal;
  }
  if (kind == DtsFrameKind::kSubstream) return parse_result::kOk;
  const size_t next = FindSyncIn(prefix, start + record.first.frame_size);
  if (next == std::string::npos) return parse_result::kSyntaxIllegal;
  if (prefix.size() - next < kHeaderBytes) return parse_result::kOpenError;
  const auto second = prefix.subspan(next, prefix.size() - next);
  if (ClassifyDtsFrame(second) == DtsFrameKind::kSubstream) {
    SDtsFrameInfo extension;
    if (ParseDtsSubstreamHeader(second, extension)) record.extension = extension;
  }
  return parse_result::kOk;
}

}  // namespace

void SDtsFrameInfo::Write(LeWriter& out) const {
  out.U8(0);
  for (uint8_t v :
       {substream, extension_type, word_format, byte_order, rate_code, bits_per_sample}) {
    out.U8(v);
  }
  out.U32(sample_rate);
  out.U8(amode);
  out.U8(lfe);
  out.U32(header_size);
  out.U8(deficit_samples);
  out.U32(samples_per_frame);
  out.U32(frame_size);
  out.U8(channels);
  out.U8(ext_audio);
  out.U8(ext_audio_id);
}

void SDtsFrameInfo::Read(LeReader& in) {
  in.U8();
  for (uint8_t* v :
       {&substream, &extension_type, &word_format, &byte_order, &rate_code, &bits_per_sample}) {
    *v = in.U8();
  }
  sample_rate = in.U32();
  amode = in.U8();
  lfe = in.U8();
  header_size = in.U32();
  deficit_samples = in.U8();
  samples_per_frame = in.U32();
  frame_size = in.U32();
  channels = in.U8();
  ext_audio = in.U8();
  ext_audio_id = in.U8();
}

DtsFrameKind ClassifyDtsFrame(std::span<const uint8_t> f) {
  if (f.size() < 6) return DtsFrameKind::kNotDts;
  const uint32_t word = Be32(f.data());
  if (word == 0xFF1F00E8 && f[4] >= 0xF0 && f[5] == 0x07) return DtsFrameKind::kCore14Le;
  if (word == 0x1FFFE800 && f[4] == 0x07 && f[5] >= 0xF0) return DtsFrameKind::kCore14Be;
  if (word == 0xFE7F0180) return DtsFrameKind::kCore16Le;
  if (word == 0x7FFE8001) return DtsFrameKind::kCore16Be;
  if (word == kSubstreamSync) return DtsFrameKind::kSubstream;
  return DtsFrameKind::kNotDts;
}

bool ParseDtsCoreHeader(std::span<const uint8_t> frame, DtsFrameKind kind, SDtsFrameInfo& info) {
  info = SDtsFrameInfo{};
  info.word_format = Is14Bit(kind) ? 14 : 16;
  info.byte_order = (kind == DtsFrameKind::kCore14Le || kind == DtsFrameKind::kCore16Le) ? 0 : 1;
  const std::vector<uint8_t> be = CoreHeaderBits(frame, kind);
  BitReader bits(be);
  bits.Skip(32 + 1);  // sync, FTYPE
  info.deficit_samples = static_cast<uint8_t>(bits.Bits(5) + 1);
  const bool crc_present = bits.Flag();
  info.samples_per_frame = static_cast<uint32_t>(bits.Bits(7) + 1) * 32;
  info.frame_size = CoreFrameBytes(static_cast<uint32_t>(bits.Bits(14)), kind);
  info.amode = static_cast<uint8_t>(bits.Bits(6));
  info.sample_rate = kCoreSampleRates[bits.Bits(4)];
  info.rate_code = static_cast<uint8_t>(bits.Bits(5));
  bits.Skip(5);  // MIX, DYNF, TIMEF, AUXF, HDCD
  info.ext_audio_id = static_cast<uint8_t>(bits.Bits(3));
  info.ext_audio = static_cast<uint8_t>(bits.Bits(1));
  if (info.ext_audio) {
    constexpr uint8_t kById[8] = {
        dts_extension::kXch, 0, dts_extension::kX96, dts_extension::kXxch, 0, 0, 0, 0};
    info.extension_type = kById[info.ext_audio_id];
  }
  bits.Skip(1);  // ASPF
  info.lfe = static_cast<uint8_t>(bits.Bits(2));
  bits.Skip(1);                    // HFLAG
  if (crc_present) bits.Skip(16);  // HCRC
  bits.Skip(1 + 4 + 2);            // FILTS, VERNUM, CHIST
  info.bits_per_sample = kPcmrBits[bits.Bits(3) >> 1];
  info.header_size = 14;
  info.channels = static_cast<uint8_t>(
      (info.amode < kAmodeChannels.size() ? kAmodeChannels[info.amode] : 0) + (info.lfe ? 1 : 0));
  if (info.ext_audio && frame.size() >= 18) {
    const uint8_t type = ExtensionTypeOf(Be32(&frame[14]));
    if (type != dts_extension::kNone) info.extension_type = type;
  }
  return bits.ok();
}

bool ParseDtsSubstreamHeader(std::span<const uint8_t> frame, SDtsFrameInfo& info) {
  info = SDtsFrameInfo{};
  info.substream = 1;
  BitReader bits(frame);
  bits.Skip(32 + 8);  // sync, UserDefinedBits
  const auto index = static_cast<uint32_t>(bits.Bits(2));
  const bool long_sizes = bits.Flag();
  info.header_size = static_cast<uint32_t>(bits.Bits(long_sizes ? 12 : 8)) + 1;
  info.frame_size = static_cast<uint32_t>(bits.Bits(long_sizes ? 20 : 16)) + 1;
  const bool static_fields = bits.Flag();
  uint32_t duration = 0, presentations = 1, assets = 1;
  if (static_fields) {
    bits.Skip(2);  // reference clock
    duration = static_cast<uint32_t>(bits.Bits(3)) + 1;
    if (bits.Flag()) bits.Skip(36);  // time stamp
    presentations = static_cast<uint32_t>(bits.Bits(3)) + 1;
    assets = static_cast<uint32_t>(bits.Bits(3)) + 1;
    std::vector<uint32_t> masks(presentations);
    for (uint32_t& mask : masks) mask = static_cast<uint32_t>(bits.Bits(index + 1));
    for (uint32_t mask : masks) {
      for (uint32_t ss = 0; ss <= index; ++ss) {
        if ((mask >> ss) & 1) bits.Skip(8);
      }
    }
    if (bits.Flag()) {  // mixing metadata
      bits.Skip(2);
      const auto mask_bits = static_cast<unsigned>((bits.Bits(2) + 1) << 2);
      const auto configs = static_cast<uint32_t>(bits.Bits(2)) + 1;
      bits.Skip(uint64_t{mask_bits} * configs);
    }
  }
  bits.Skip(uint64_t{assets} * (long_sizes ? 20 : 16));
  bits.Skip(9 + 3);  // descriptor size, asset index
  if (static_fields) {
    if (bits.Flag()) bits.Skip(4);   // asset type
    if (bits.Flag()) bits.Skip(24);  // language
    if (bits.Flag()) bits.Skip(uint64_t{static_cast<uint32_t>(bits.Bits(10)) + 1} * 8);
    info.bits_per_sample = static_cast<uint8_t>(bits.Bits(5) + 1);
    info.sample_rate = kSubstreamSampleRates[bits.Bits(4)];
    info.channels = static_cast<uint8_t>(bits.Bits(8) + 1);
  }
  info.samples_per_frame = SubstreamSamples(duration, info.sample_rate);
  if (info.header_size + 4 <= frame.size()) {
    info.extension_type = ExtensionTypeOf(Be32(&frame[info.header_size]));
  }
  return bits.ok();
}

std::unique_ptr<CSifData> CDTSSif::Clone() const {
  return std::make_unique<CDTSSif>(*this);
}

bool CDTSSif::IsEqual(const CSifData& other) const {
  const auto* o = dynamic_cast<const CDTSSif*>(&other);
  if (!o) return false;
  const auto same = [](const SDtsFrameInfo& a, const SDtsFrameInfo& b) {
    return a.substream == b.substream && a.word_format == b.word_format &&
           a.sample_rate == b.sample_rate && a.bits_per_sample == b.bits_per_sample;
  };
  if (!same(first, o->first) || first.rate_code != o->first.rate_code ||
      first.amode != o->first.amode || first.lfe != o->first.lfe) {
    return false;
  }
  if (!extension || !o->extension) return !extension && !o->extension;
  return same(*extension, *o->extension) && extension->amode == o->extension->amode &&
         extension->lfe == o->extension->lfe;
}

int CDTSSif::Validate() const {
  if (first.substream) {
    return first.extension_type == dts_extension::kLbr ? parse_result::kOk
                                                       : parse_result::kWrongExtensionMode;
  }
  if (first.sample_rate != 48000) return parse_result::kWrongSampleRate;
  if (first.ext_audio &&
      (first.extension_type < dts_extension::kXch || first.extension_type > dts_extension::kXxch)) {
    return parse_result::kWrongExtensionMode;
  }
  if (first.amode == 1 || first.amode == 3 || first.amode >= 10) {
    return parse_result::kWrongAudioCodingMode;
  }
  return parse_result::kOk;
}

int CDTSSif::StdModels(SStdSpec (&models)[2]) const {
  if (extension) {
    models[0] = {StdKind::kDts, 0, true};
    models[1] = {StdKind::kDtsHd, 0, true};
    return 2;
  }
  models[0] =
      first.substream ? SStdSpec{StdKind::kDtsHd, 0, false} : SStdSpec{StdKind::kDts, 0, true};
  return 1;
}

bool CDTSSif::Read(LeReader& in) {
  version_ = in.U32();
  if (version_ < kVersion) return false;
  const bool has_extension = in.U8() == 1;
  first.Read(in);
  extension.reset();
  if (has_extension) {
    SDtsFrameInfo e;
    e.Read(in);
    extension = e;
  }
  return in.ok();
}

void CDTSSif::Write(LeWriter& out) const {
  out.U32(kVersion);
  out.U8(extension ? 1 : 0);
  first.Write(out);
  if (extension) extension->Write(out);
}

uint8_t CDTSSif::CodingType(bool primary) const {
  return primary ? CodingTypeOf(*this, false) : coding::kDtsHdSecondary;
}

uint8_t CDTSSif::PresentationType() const {
  return PresentationTypeFromChannels(first.channels, extension ? extension->channels : 0);
}

uint8_t CDTSSif::SamplingFrequency() const {
  const uint32_t b = extension ? extension->sample_rate : 0;
  if (first.sample_rate == 48000) return b == 96000 ? 14 : b == 192000 ? 12 : 1;
  if (first.sample_rate == 96000) return b == 192000 ? 12 : 4;
  return 0;
}

CDTSParser::CDTSParser() : CParserBase(coding::kDts, {".dts", ".dca", ".dtshd"}) {}

int CDTSParser::ParseSource(ByteSource& source, CStreamInfo& info,
                            const ProgressCallback& progress) {
  const uint64_t file_size = source.length();
  BitFile file;
  if (!file.Open(source) || file_size < kHeaderBytes) return parse_result::kOpenError;
  std::vector<uint8_t> prefix(std::min<uint64_t>(file_size, kPrefixBytes));
  prefix.resize(file.ReadBytes(prefix.data(), prefix.size()));
  auto record = std::make_unique<CDTSSif>();
  size_t start = 0;
  if (const int r = ReadFirstFrames(prefix, *record, start); r != parse_result::kOk) return r;
  if (const int r = record->Validate(); r != parse_result::kOk) return r;

  info.header = SSifHeader{};
  SSifHeader& header = info.header;
  header.sourceTime = source.modification_time();
  coding_type_ = CodingTypeOf(*record, true);
  header.streamCodingType = coding_type_;
  header.auDuration = record->first.sample_rate
                          ? record->first.samples_per_frame * 1000.0 / record->first.sample_rate
                          : 0;
  header.bitRate = kBitRates[record->first.rate_code & 31];
  if (record->extension) header.bitRate2 = kBitRates[record->extension->rate_code & 31];
  info.record = std::move(record);
  if (!info.WriteHeaderAndRecord()) return parse_result::kWriteError;

  if (!file.Open(source) || !file.SkipBits(uint64_t{start} * 8)) return parse_result::kOpenError;
  const bool two_part = coding_type_ == coding::kDtsHd || coding_type_ == coding::kDtsHdXll;
  ProgressTicker ticker(progress, file_size);
  LeWriter entries;
  uint32_t pts = 0, base_count = 0;
  while (file.byte_offset() < file_size) {
    if (!ticker.Update(file.byte_offset())) return parse_result::kCancelled;
    uint32_t sync;
    if (!FindSync(file, sync)) break;
    uint8_t head[kWalkHeader] = {static_cast<uint8_t>(sync >> 24), static_cast<uint8_t>(sync >> 16),
                                 static_cast<uint8_t>(sync >> 8), static_cast<uint8_t>(sync)};
    if (file.ReadBytes(head + 4, kWalkHeader - 4) != kWalkHeader - 4) break;
    const DtsFrameKind kind = ClassifyDtsFrame(head);
    if (kind == DtsFrameKind::kNotDts) break;
    const uint32_t size = FrameSizeAt(head, kind);
    const uint64_t offset = file.byte_offset() - kWalkHeader;
    // A frame cut off by the end of the file is not a unit that can be played.
    if (size < kWalkHeader || offset + size > file_size) break;
    SAuEntry entry;
    entry.offset = offset;
    entry.size = size;
    if (two_part && (header.auCount & 1)) {
      entry.flags = au_flag::kExtensionPart;
      entry.pts = entry.dts = pts;
    } else {
      entry.pts = entry.dts = pts = ConstantRateTime(base_count++, header.auDuration);
    }
    entry.Write(entries);
    header.totalSize += size;
    ++header.auCount;
    file.SkipBits(uint64_t{size - kWalkHeader} * 8);
    if (entries.size() >= kEntryFlush) {
      if (!info.Append(entries.bytes())) return parse_result::kWriteError;
      entries = LeWriter{};
    }
  }
  if (!info.Append(entries.bytes()) || !info.WriteHeaderAndRecord()) {
    return parse_result::kWriteError;
  }
  ReportPosition(progress, 100);
  return parse_result::kOk;
}

}  // namespace tessel
