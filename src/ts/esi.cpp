#include "ts/esi.h"

#include <algorithm>

#include "platform/format.h"

namespace tessel {
namespace {

enum class StreamGroup { kVideo, kVc1, kLpcm, kAc3, kOther };

struct StreamGroupRow {
  uint8_t stream_type;
  StreamGroup group;
};

constexpr StreamGroupRow kStreamGroups[] = {
    {0x02, StreamGroup::kVideo}, {0x1B, StreamGroup::kVideo}, {0xEA, StreamGroup::kVc1},
    {0x80, StreamGroup::kLpcm},  {0x81, StreamGroup::kAc3},   {0x83, StreamGroup::kAc3},
    {0x84, StreamGroup::kAc3},   {0xA1, StreamGroup::kAc3},
};

StreamGroup GroupOf(uint8_t stream_type) {
  for (const StreamGroupRow& row : kStreamGroups) {
    if (row.stream_type == stream_type) return row.group;
  }
  return StreamGroup::kOther;
}

constexpr uint8_t kRegistrationTag = 0x05;
constexpr uint8_t kLanguageTag = 0x0A;
constexpr uint8_t kAvcVideoTag = 0x28;
constexpr uint8_t kAvcTimingHrdTag = 0x2A;
constexpr uint8_t kAc3AudioTag = 0x81;
constexpr uint8_t kCaptionServiceTag = 0x86;

bool StartsWith(std::span<const uint8_t> body, const FourCc& id) {
  return body.size() >= 4 && std::equal(id.begin(), id.end(), body.begin());
}

// "HDMV", 0xFF, coding type, then two attribute bytes: the registration of video and LPCM.
bool IsHdmvRegistration(std::span<const uint8_t> body) {
  return body.size() == 8 && StartsWith(body, kHdmvFormat);
}

bool ReadVc1Registration(std::span<const uint8_t> body, Vc1RegistrationDescriptor& d) {
  ByteReader in(body);
  in.Skip(4);
  while (in.remaining() > 0) {
    const uint8_t tag = in.U8();
    if (tag == 0x01) {
      d.ProfileLevel = in.U8();
    } else if (tag == 0x02) {
      d.AlignmentType = in.U8();
    } else if (tag == 0x03) {
      d.HasBufferSize = true;
      d.BufferSizeExponent = in.U8() & 0x0F;
      d.HrdBuffer = in.U16();
    } else {
      return false;  // padding or an unknown sub-descriptor: kept raw so nothing is lost
    }
  }
  return in.ok();
}

// Places a descriptor in its modelled slot; false leaves it to the raw list.
bool ReadKnownDescriptor(ESI& esi, uint8_t tag, std::span<const uint8_t> body) {
  const StreamGroup group = GroupOf(esi.StreamType);
  const bool video = group == StreamGroup::kVideo;
  if (tag == kRegistrationTag) {
    if (video && !esi.HdmvVideoRegistration && IsHdmvRegistration(body)) {
      esi.HdmvVideoRegistration = {body[5], static_cast<uint8_t>(body[6] >> 4),
                                   static_cast<uint8_t>(body[6] & 0xF),
                                   static_cast<uint8_t>(body[7] >> 4)};
      return true;
    }
    if (group == StreamGroup::kLpcm && !esi.HdmvLpcmRegistration && IsHdmvRegistration(body)) {
      esi.HdmvLpcmRegistration = {body[5], static_cast<uint8_t>(body[6] >> 4),
                                  static_cast<uint8_t>(body[6] & 0xF),
                                  static_cast<uint8_t>(body[7] >> 6)};
      return true;
    }
    if (group == StreamGroup::kAc3 && !esi.Ac3Registration && body.size() == 4) {
      std::copy(body.begin(), body.end(), esi.Ac3Registration.emplace().FormatIdentifier.begin());
      return true;
    }
    if (group == StreamGroup::kVc1 && !esi.Vc1Registration && StartsWith(body, kVc1Format)) {
      Vc1RegistrationDescriptor d;
      if (!ReadVc1Registration(body, d)) return false;
      esi.Vc1Registration = d;
      return true;
    }
    return false;
  }
  if (tag == kAvcVideoTag && video && !esi.AvcVideo && body.size() == 4) {
    esi.AvcVideo = {body[0],
                    static_cast<bool>(body[1] & 0x80),
                    static_cast<bool>(body[1] & 0x40),
                    static_cast<bool>(body[1] & 0x20),
                    static_cast<uint8_t>(body[1] & 0x1F),
                    body[2],
                    static_cast<bool>(body[3] & 0x80),
                    static_cast<bool>(body[3] & 0x40)};
    return true;
  }
  if (tag == kAvcTimingHrdTag && video && !esi.AvcTimingHrd && body.size() == 2) {
    esi.AvcTimingHrd = AvcTimingHrdDescriptor{{body[0], body[1]}};
    return true;
  }
  if (tag == kCaptionServiceTag && (video || group == StreamGroup::kVc1) && !esi.CaptionService) {
    CaptionServiceDescriptor d;
    if (!ReadCaptionServiceDescriptor(body, d)) return false;
    esi.CaptionService = std::move(d);
    return true;
  }
  if (tag == kAc3AudioTag && group == StreamGroup::kAc3 && !esi.Ac3Audio) {
    AC3_PMT_DESCRIPTOR d;
    if (!ReadAc3AudioDescriptor(body, d)) return false;
    esi.Ac3Audio = std::move(d);
    return true;
  }
  if (tag == kLanguageTag && !video && group != StreamGroup::kVc1 && !esi.Language &&
      body.size() == 4) {
    esi.Language = Iso639LanguageDescriptor{{body[0], body[1], body[2]}, body[3]};
    return true;
  }
  return false;
}

void WriteHdmvRegistration(ByteWriter& out, uint8_t coding_type, uint8_t b6, uint8_t b7) {
  out.U8(kRegistrationTag);
  out.U8(8);
  out.Bytes(kHdmvFormat);
  out.U8(0xFF);
  out.U8(coding_type);
  out.U8(b6);
  out.U8(b7);
}

void WriteVc1Registration(ByteWriter& out, const Vc1RegistrationDescriptor& d) {
  out.U8(kRegistrationTag);
  const size_t at = out.BeginLength8();
  out.Bytes(kVc1Format);
  if (d.ProfileLevel) {
    out.U8(0x01);
    out.U8(*d.ProfileLevel);
  }
  if (d.AlignmentType) {
    out.U8(0x02);
    out.U8(*d.AlignmentType);
  }
  if (d.HasBufferSize) {
    out.U8(0x03);
    out.U8(0xF0 | (d.BufferSizeExponent & 0x0F));
    out.U16(d.HrdBuffer);
  }
  out.EndLength8(at);
}

void WriteModelledDescriptors(ByteWriter& out, const ESI& esi) {
  if (const auto& d = esi.HdmvVideoRegistration) {
    WriteHdmvRegistration(out, d->StreamCodingType,
                          static_cast<uint8_t>(d->VideoFormat << 4 | (d->FrameRate & 0xF)),
                          static_cast<uint8_t>(d->AspectRatio << 4 | 0xF));
  }
  if (esi.Vc1Registration) WriteVc1Registration(out, *esi.Vc1Registration);
  if (const auto& d = esi.HdmvLpcmRegistration) {
    WriteHdmvRegistration(
        out, d->StreamCodingType,
        static_cast<uint8_t>(d->AudioPresentationType << 4 | (d->SamplingFrequency & 0xF)),
        static_cast<uint8_t>(d->BitsPerSample << 6 | 0x3F));
  }
  if (esi.Ac3Registration) {
    out.U8(kRegistrationTag);
    out.U8(4);
    out.Bytes(esi.Ac3Registration->FormatIdentifier);
  }
  if (esi.Ac3Audio) WriteAc3AudioDescriptor(out, *esi.Ac3Audio);
  if (const auto& d = esi.AvcVideo) {
    out.U8(kAvcVideoTag);
    out.U8(4);
    out.U8(d->AvcProfile);
    out.U8(static_cast<uint8_t>(d->constraint_set0_flag << 7 | d->constraint_set1_flag << 6 |
                                d->constraint_set2_flag << 5 | (d->AVC_compatible_flags & 0x1F)));
    out.U8(d->AvcLevel);
    out.U8(static_cast<uint8_t>(d->AVC_still_present << 7 | d->AVC_24_hour_picture_flag << 6));
  }
  if (esi.AvcTimingHrd) {
    out.U8(kAvcTimingHrdTag);
    out.U8(2);
    out.Bytes(esi.AvcTimingHrd->Data);
  }
  if (esi.CaptionService) WriteCaptionServiceDescriptor(out, *esi.CaptionService);
}

void DumpBytes(std::string_view prefix, std::string_view name, std::span<const uint8_t> bytes,
               DumpArchive& archive) {
  std::string text;
  for (uint8_t b : bytes) text += Format(text.empty() ? "%02X" : " %02X", b);
  archive.Text(prefix, name, text);
}

}  // namespace

void WriteAc3AudioDescriptor(ByteWriter& out, const AC3_PMT_DESCRIPTOR& d) {
  out.U8(kAc3AudioTag);
  const size_t at = out.BeginLength8();
  out.U8(static_cast<uint8_t>(d.SampleRateCode << 5 | (d.Bsid & 0x1F)));
  out.U8(static_cast<uint8_t>(d.BitRateCode << 2 | (d.SurroundMode & 3)));
  out.U8(static_cast<uint8_t>(d.BsMode << 5 | (d.NumChannels & 0xF) << 1 | d.FullSVC));
  out.U8(d.LangCode);
  if (d.NumChannels == 0) {
    out.U8(d.LangCode2);
    out.U8(d.BsMode > 1 ? d.AsvcFlags
                        : static_cast<uint8_t>(d.MainID << 5 | (d.Priority & 3) << 3 | 0x07));
    out.Require(d.Text.size() <= 0x7F);  // a 7-bit TextLen
    out.U8(static_cast<uint8_t>((d.Text.size() & 0x7F) << 1 | d.TextCode));
    out.Bytes(d.Text);
    out.U8(static_cast<uint8_t>(d.LanguageFlag << 7 | d.LanguageFlag2 << 6 | 0x3F));
    if (d.LanguageFlag) out.Bytes(d.Language);
    if (d.LanguageFlag2) out.Bytes(d.Language2);
    out.Bytes(d.AdditionInfo);
  }
  out.EndLength8(at);
}

bool ReadAc3AudioDescriptor(std::span<const uint8_t> body, AC3_PMT_DESCRIPTOR& d) {
  ByteReader in(body);
  const uint8_t b0 = in.U8(), b1 = in.U8(), b2 = in.U8();
  d.SampleRateCode = b0 >> 5;
  d.Bsid = b0 & 0x1F;
  d.BitRateCode = b1 >> 2;
  d.SurroundMode = b1 & 3;
  d.BsMode = b2 >> 5;
  d.NumChannels = (b2 >> 1) & 0xF;
  d.FullSVC = b2 & 1;
  if (!in.ok()) return false;
  // The rest is optional on the wire: each part is read only when bytes remain.
  if (in.remaining()) d.LangCode = in.U8();
  if (d.NumChannels == 0 && in.remaining()) d.LangCode2 = in.U8();
  if (in.remaining()) {
    const uint8_t v = in.U8();
    if (d.BsMode > 1) {
      d.AsvcFlags = v;
    } else {
      d.MainID = v >> 5;
      d.Priority = (v >> 3) & 3;
    }
  }
  if (in.remaining()) {
    const uint8_t v = in.U8();
    d.TextLen = v >> 1;
    d.TextCode = v & 1;
    d.Text = in.Vector(d.TextLen);
  }
  if (in.remaining()) {
    const uint8_t v = in.U8();
    d.LanguageFlag = v & 0x80;
    d.LanguageFlag2 = v & 0x40;
    if (d.LanguageFlag) in.Bytes(d.Language.data(), 3);
    if (d.LanguageFlag2) in.Bytes(d.Language2.data(), 3);
  }
  d.AdditionInfo = in.Vector(in.remaining());
  return in.ok();
}

void WriteCaptionServiceDescriptor(ByteWriter& out, const CaptionServiceDescriptor& d) {
  out.U8(kCaptionServiceTag);
  const size_t at = out.BeginLength8();
  const size_t count = d.Services.size();
  out.Require(count <= 0x1F);  // a 5-bit count
  out.U8(static_cast<uint8_t>(0xE0 | (count & 0x1F)));
  for (size_t i = 0; i < count; ++i) {
    const CAPTION_SERVICE_INFO& s = d.Services[i];
    out.Bytes(s.Language);
    out.U8(s.DigitalCC ? 0xC0 | (s.CaptionServiceNumber & 0x3F) : 0x7E | s.Line21Field);
    out.U8(static_cast<uint8_t>(s.EasyReader << 7 | s.WideAspectRatio << 6 | 0x3F));
    out.U8(0xFF);
  }
  out.EndLength8(at);
}

bool ReadCaptionServiceDescriptor(std::span<const uint8_t> body, CaptionServiceDescriptor& d) {
  ByteReader in(body);
  const size_t count = in.U8() & 0x1F;
  if (!in.Has(count * 6)) return false;
  for (size_t i = 0; i < count; ++i) {
    CAPTION_SERVICE_INFO& s = d.Services.emplace_back();
    in.Bytes(s.Language.data(), 3);
    const uint8_t b3 = in.U8();
    const uint8_t b4 = in.U8();
    in.Skip(1);
    s.DigitalCC = b3 & 0x80;
    s.CaptionServiceNumber = s.DigitalCC ? b3 & 0x3F : 0;
    s.Line21Field = !s.DigitalCC && (b3 & 1);
    s.EasyReader = b4 & 0x80;
    s.WideAspectRatio = b4 & 0x40;
  }
  return in.ok() && in.remaining() == 0;
}

size_t WriteEsi(ByteWriter& out, ESI& esi) {
  const size_t start = out.pos();
  out.U8(esi.StreamType);
  out.U16(static_cast<uint16_t>(0xE000 | (esi.ElementaryPid & 0x1FFF)));
  const size_t length_at = out.Reserve(2);
  WriteModelledDescriptors(out, esi);
  for (const RawDescriptor& d : esi.OtherDescriptors) {
    out.U8(d.Tag);
    const size_t at = out.BeginLength8();
    out.Bytes(d.Data);
    out.EndLength8(at);
  }
  if (esi.Language) {
    out.U8(kLanguageTag);
    out.U8(4);
    out.Bytes(esi.Language->Language);
    out.U8(esi.Language->AudioType);
  }
  out.PatchU8(length_at, 0xF0);
  if (!out.EndLengthBits(length_at, 12)) return 0;
  esi.ES_IfoLength = static_cast<uint16_t>(out.pos() - length_at - 2);
  return out.pos() - start;
}

bool ReadEsi(ByteReader& in, ESI& esi) {
  esi = ESI{};
  esi.StreamType = in.U8();
  esi.ElementaryPid = in.U16() & 0x1FFF;
  esi.ES_IfoLength = in.U16() & 0x0FFF;
  ByteReader loop = in.Sub(esi.ES_IfoLength);
  while (loop.remaining() >= 2) {
    const uint8_t tag = loop.U8();
    const uint8_t length = loop.U8();
    ByteReader body = loop.Sub(length);
    if (!body.ok()) break;
    if (!ReadKnownDescriptor(esi, tag, body.data())) {
      esi.OtherDescriptors.push_back({tag, {body.data().begin(), body.data().end()}});
    }
  }
  return in.ok() && loop.ok() && loop.remaining() == 0;
}

void DumpEsi(const ESI& esi, std::string_view prefix, DumpArchive& archive) {
  archive.Hex8(prefix, "StreamType", esi.StreamType);
  archive.Hex16(prefix, "ElementaryPid", esi.ElementaryPid);
  archive.Int(prefix, "ES_IfoLength", esi.ES_IfoLength);
  const std::string p = Nested(prefix);
  if (const auto& d = esi.HdmvVideoRegistration) {
    archive.Heading(prefix, "HdmvVideoRegistrationDescriptor");
    archive.Hex8(p, "StreamCodingType", d->StreamCodingType);
    archive.Int(p, "VideoFormat", d->VideoFormat);
    archive.Int(p, "FrameRate", d->FrameRate);
    archive.Int(p, "AspectRatio", d->AspectRatio);
  }
  if (const auto& d = esi.Vc1Registration) {
    archive.Heading(prefix, "Vc1RegistrationDescriptor");
    if (d->ProfileLevel) archive.Hex8(p, "ProfileLevel", *d->ProfileLevel);
    if (d->AlignmentType) archive.Int(p, "AlignmentType", *d->AlignmentType);
    if (d->HasBufferSize) {
      archive.Int(p, "BufferSizeExponent", d->BufferSizeExponent);
      archive.Int(p, "HrdBuffer", d->HrdBuffer);
    }
  }
  if (const auto& d = esi.HdmvLpcmRegistration) {
    archive.Heading(prefix, "HdmvLpcmRegistrationDescriptor");
    archive.Hex8(p, "StreamCodingType", d->StreamCodingType);
    archive.Int(p, "AudioPresentationType", d->AudioPresentationType);
    archive.Int(p, "SamplingFrequency", d->SamplingFrequency);
    archive.Int(p, "BitsPerSample", d->BitsPerSample);
  }
  if (esi.Ac3Registration) {
    archive.Heading(prefix, "Ac3RegistrationDescriptor");
    archive.Chars(p, "FormatIdentifier", esi.Ac3Registration->FormatIdentifier);
  }
  if (const auto& d = esi.Ac3Audio) {
    archive.Heading(prefix, "Ac3AudioDescriptor");
    archive.Int(p, "SampleRateCode", d->SampleRateCode);
    archive.Int(p, "Bsid", d->Bsid);
    archive.Int(p, "BitRateCode", d->BitRateCode);
    archive.Int(p, "SurroundMode", d->SurroundMode);
    archive.Int(p, "BsMode", d->BsMode);
    archive.Int(p, "NumChannels", d->NumChannels);
    archive.Int(p, "FullSVC", d->FullSVC);
  }
  if (const auto& d = esi.AvcVideo) {
    archive.Heading(prefix, "AvcVideoDescriptor");
    archive.Int(p, "AvcProfile", d->AvcProfile);
    archive.Int(p, "AvcLevel", d->AvcLevel);
    archive.Int(p, "AVC_still_present", d->AVC_still_present);
    archive.Int(p, "AVC_24_hour_picture_flag", d->AVC_24_hour_picture_flag);
  }
  if (esi.AvcTimingHrd)
    DumpBytes(prefix, "AvcTimingHrdDescriptor", esi.AvcTimingHrd->Data, archive);
  if (const auto& d = esi.CaptionService) {
    archive.Heading(prefix, "CaptionServiceDescriptor");
    archive.Int(p, "NumberOfServices", static_cast<int64_t>(d->Services.size()));
    for (size_t i = 0; i < d->Services.size(); ++i) {
      archive.Element(p, "CaptionService", static_cast<int>(i));
      archive.Chars(Nested(p), "Language", d->Services[i].Language);
    }
  }
  for (const RawDescriptor& d : esi.OtherDescriptors) {
    DumpBytes(prefix, Format("Descriptor 0x%02X", d.Tag), d.Data, archive);
  }
  if (esi.Language) {
    archive.Heading(prefix, "Iso639LanguageDescriptor");
    archive.Chars(p, "Language", esi.Language->Language);
    archive.Int(p, "AudioType", esi.Language->AudioType);
  }
}

}  // namespace tessel
