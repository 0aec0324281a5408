#include "ts/ts_packet.h"

#include <algorithm>

#include "formats/tables.h"

namespace tessel {
namespace {

// Stream ids whose PES packets carry PES_packet_data_bytes right after the length.
constexpr uint8_t kBareStreamIds[] = {0xBC, 0xBE, 0xBF, 0xF0, 0xF1, 0xFF};

constexpr uint8_t kAlignmentDescriptorTag = 0x06;

uint8_t Bit(bool flag, int shift) {
  return static_cast<uint8_t>((flag ? 1 : 0) << shift);
}

// The 48-bit ESCR layout: base in three marker-separated parts, then the extension.
void WriteEscr(ByteWriter& out, const PCR& escr) {
  const uint64_t b = escr.Base;
  const uint64_t v = uint64_t{3} << 46 | ((b >> 30) & 7) << 43 | uint64_t{1} << 42 |
                     ((b >> 15) & 0x7FFF) << 27 | uint64_t{1} << 26 | (b & 0x7FFF) << 11 |
                     uint64_t{1} << 10 | uint64_t{escr.Extension & 0x1FFu} << 1 | 1;
  out.U16(static_cast<uint16_t>(v >> 32));
  out.U32(static_cast<uint32_t>(v));
}

PCR ReadEscr(ByteReader& in) {
  const uint64_t high = in.U16();
  const uint64_t v = high << 32 | in.U32();
  PCR escr;
  escr.Base = ((v >> 43) & 7) << 30 | ((v >> 27) & 0x7FFF) << 15 | ((v >> 11) & 0x7FFF);
  escr.Extension = static_cast<uint16_t>((v >> 1) & 0x1FF);
  return escr;
}

void WriteAdaptationExtension(ByteWriter& out, const AdaptationFieldExtension& ext) {
  const size_t at = out.BeginLength8();
  out.U8(Bit(ext.LtwFlag, 7) | Bit(ext.PiecewiseRateFlag, 6) | Bit(ext.SeamlessSpliceFlag, 5) |
         0x1F);
  if (ext.LtwFlag)
    out.U16(static_cast<uint16_t>((ext.LtwValidFlag ? 0x8000 : 0) | (ext.LtwOffset & 0x7FFF)));
  if (ext.PiecewiseRateFlag) out.U24(0xC00000 | (ext.PiecewiseRate & 0x3FFFFF));
  if (ext.SeamlessSpliceFlag) WriteTimestamp(out, {ext.SpliceType, ext.DtsNextAu});
  out.Bytes(ext.Reserved);
  out.EndLength8(at);
}

bool ReadAdaptationExtension(ByteReader& in, AdaptationFieldExtension& ext) {
  ext.AdaptationFieldExtensionLength = in.U8();
  ByteReader body = in.Sub(ext.AdaptationFieldExtensionLength);
  if (body.remaining() > 0) {
    const uint8_t flags = body.U8();
    ext.LtwFlag = flags & 0x80;
    ext.PiecewiseRateFlag = flags & 0x40;
    ext.SeamlessSpliceFlag = flags & 0x20;
  }
  if (ext.LtwFlag) {
    const uint16_t v = body.U16();
    ext.LtwValidFlag = v & 0x8000;
    ext.LtwOffset = v & 0x7FFF;
  }
  if (ext.PiecewiseRateFlag) ext.PiecewiseRate = body.U24() & 0x3FFFFF;
  if (ext.SeamlessSpliceFlag) {
    const Timestamp splice = ReadTimestamp(body);
    ext.SpliceType = splice.Prefix;
    ext.DtsNextAu = splice.Value;
  }
  ext.Reserved = body.Vector(body.remaining());
  return in.ok() && body.ok();
}

void WritePesExtension(ByteWriter& out, const PesExtension& ext) {
  out.U8(Bit(ext.PrivateData.has_value(), 7) | Bit(ext.PackHeader.has_value(), 6) |
         Bit(ext.ProgramPacketSequenceCounterFlag, 5) | Bit(ext.P_STD_BufferFlag, 4) |
         (ext.Reserved & 7) << 1 | Bit(ext.Extension2.has_value(), 0));
  if (ext.PrivateData) out.Bytes(*ext.PrivateData);
  if (ext.PackHeader) {
    const size_t at = out.BeginLength8();
    out.Bytes(*ext.PackHeader);
    out.EndLength8(at);
  }
  if (ext.ProgramPacketSequenceCounterFlag) {
    out.U8(0x80 | (ext.ProgramPacketSequenceCounter & 0x7F));
    out.U8(0x80 | Bit(ext.Mpeg1Mpeg2Identifier, 6) | (ext.OriginalStuffLength & 0x3F));
  }
  if (ext.P_STD_BufferFlag) {
    out.U16(static_cast<uint16_t>(0x4000 | (ext.P_STD_BufferScale ? 0x2000 : 0) |
                                  (ext.P_STD_BufferSize & 0x1FFF)));
  }
  if (ext.Extension2) {
    // A 7-bit length with the marker bit above it.
    out.Require(ext.Extension2->size() <= 0x7F);
    out.U8(static_cast<uint8_t>(0x80 | (ext.Extension2->size() & 0x7F)));
    out.Bytes(*ext.Extension2);
  }
}

void ReadPesExtension(ByteReader& in, PesExtension& ext) {
  const uint8_t flags = in.U8();
  ext.Reserved = (flags >> 1) & 7;
  if (flags & 0x80) {
    ext.PrivateData.emplace();
    in.Bytes(ext.PrivateData->data(), ext.PrivateData->size());
  }
  if (flags & 0x40) ext.PackHeader = in.Vector(in.U8());
  ext.ProgramPacketSequenceCounterFlag = flags & 0x20;
  if (ext.ProgramPacketSequenceCounterFlag) {
    ext.ProgramPacketSequenceCounter = in.U8() & 0x7F;
    const uint8_t v = in.U8();
    ext.Mpeg1Mpeg2Identifier = v & 0x40;
    ext.OriginalStuffLength = v & 0x3F;
  }
  ext.P_STD_BufferFlag = flags & 0x10;
  if (ext.P_STD_BufferFlag) {
    const uint16_t v = in.U16();
    ext.P_STD_BufferScale = v & 0x2000;
    ext.P_STD_BufferSize = v & 0x1FFF;
  }
  if (flags & 0x01) ext.Extension2 = in.Vector(in.U8() & 0x7F);
}

// The optional fields selected by the two flag bytes, up to the stuffing.
void ReadPesOptionalFields(ByteReader& in, uint8_t flags, PesHeader& pes) {
  const uint8_t pts_dts = flags >> 6;
  if (pts_dts & 2) pes.PTS = ReadTimestamp(in);
  if (pts_dts == 3) pes.DTS = ReadTimestamp(in);
  if (flags & 0x20) pes.ESCR = ReadEscr(in);
  if (flags & 0x10) pes.ES_Rate = (in.U24() >> 1) & 0x3FFFFF;
  if (flags & 0x08) pes.TrickMode = in.U8();
  if (flags & 0x04) pes.AdditionalCopyInfo = in.U8() & 0x7F;
  if (flags & 0x02) pes.PreviousPES_PacketCRC = in.U16();
  if (flags & 0x01) ReadPesExtension(in, pes.Extension.emplace());
}

}  // namespace

bool CarriesPesHeader(uint16_t pid) {
  return IsKnownPid(pid);
}

void WriteTpExtraHeader(uint8_t* out, uint8_t copy_permission, Ticks27M arrival) {
  const uint32_t ats = static_cast<uint32_t>(arrival.count() & 0x3FFFFFFF);
  out[0] = static_cast<uint8_t>((copy_permission & 3) << 6 | ats >> 24);
  out[1] = static_cast<uint8_t>(ats >> 16);
  out[2] = static_cast<uint8_t>(ats >> 8);
  out[3] = static_cast<uint8_t>(ats);
}

TpExtraHeader ReadTpExtraHeader(const uint8_t* in) {
  const uint32_t v = uint32_t{in[0]} << 24 | uint32_t{in[1]} << 16 | uint32_t{in[2]} << 8 | in[3];
  return {static_cast<uint8_t>(v >> 30), v & 0x3FFFFFFF};
}

void WritePcr(ByteWriter& out, const PCR& pcr) {
  const uint64_t base = pcr.Base & 0x1FFFFFFFFull;
  out.U32(static_cast<uint32_t>(base >> 1));
  out.U8(static_cast<uint8_t>((base & 1) << 7 | 0x7E | ((pcr.Extension >> 8) & 1)));
  out.U8(static_cast<uint8_t>(pcr.Extension));
}

PCR ReadPcr(ByteReader& in) {
  const uint64_t high = in.U32();
  const uint8_t b4 = in.U8();
  const uint8_t b5 = in.U8();
  return {high << 1 | b4 >> 7, static_cast<uint16_t>((b4 & 1) << 8 | b5)};
}

void WriteTimestamp(ByteWriter& out, const Timestamp& ts) {
  const uint64_t v = ts.Value & 0x1FFFFFFFFull;
  out.U8(static_cast<uint8_t>((ts.Prefix & 0xF) << 4 | ((v >> 30) & 7) << 1 | 1));
  out.U16(static_cast<uint16_t>(((v >> 15) & 0x7FFF) << 1 | 1));
  out.U16(static_cast<uint16_t>((v & 0x7FFF) << 1 | 1));
}

Timestamp ReadTimestamp(ByteReader& in) {
  const uint8_t b0 = in.U8();
  const uint64_t mid = in.U16();
  const uint64_t low = in.U16();
  return {static_cast<uint8_t>(b0 >> 4),
          uint64_t{(b0 >> 1) & 7u} << 30 | (mid >> 1) << 15 | (low >> 1)};
}

size_t WriteAdaptationField(ByteWriter& out, const AdaptationField& field) {
  const size_t at = out.BeginLength8();
  if (field.AdaptationFieldLength == 0) return out.ok() ? 1 : 0;
  out.U8(Bit(field.DiscontinuityIndicator, 7) | Bit(field.RandomAccessIndicator, 6) |
         Bit(field.ElementaryStreamPriorityIndicator, 5) | Bit(field.Pcr.has_value(), 4) |
         Bit(field.Opcr.has_value(), 3) | Bit(field.SplicingPointFlag, 2) |
         Bit(field.PrivateData.has_value(), 1) | Bit(field.Extension.has_value(), 0));
  if (field.Pcr) WritePcr(out, *field.Pcr);
  if (field.Opcr) WritePcr(out, *field.Opcr);
  if (field.SplicingPointFlag) out.U8(static_cast<uint8_t>(field.SpliceCountdown));
  if (field.PrivateData) {
    const size_t data_at = out.BeginLength8();
    out.Bytes(*field.PrivateData);
    out.EndLength8(data_at);
  }
  if (field.Extension) WriteAdaptationExtension(out, *field.Extension);
  out.Fill(0xFF, field.StuffingSize);
  return out.EndLength8(at) ? out.pos() - at : 0;
}

bool ReadAdaptationField(ByteReader& in, AdaptationField& field) {
  field = AdaptationField{};
  field.AdaptationFieldLength = in.U8();
  if (field.AdaptationFieldLength == 0) return in.ok();
  ByteReader body = in.Sub(field.AdaptationFieldLength);
  const uint8_t flags = body.U8();
  field.DiscontinuityIndicator = flags & 0x80;
  field.RandomAccessIndicator = flags & 0x40;
  field.ElementaryStreamPriorityIndicator = flags & 0x20;
  field.SplicingPointFlag = flags & 0x04;
  if (flags & 0x10) field.Pcr = ReadPcr(body);
  if (flags & 0x08) field.Opcr = ReadPcr(body);
  if (field.SplicingPointFlag) field.SpliceCountdown = static_cast<int8_t>(body.U8());
  if (flags & 0x02) field.PrivateData = body.Vector(body.U8());
  if (flags & 0x01 && !ReadAdaptationExtension(body, field.Extension.emplace())) body.Fail();
  field.StuffingSize = body.remaining();
  return in.ok() && body.ok();
}

void StuffAdaptationField(TransportPacket& packet, size_t n) {
  packet.AdaptationFieldControl = packet.HasPayload() ? 3 : 2;
  AdaptationField& field = packet.Adaptation.emplace();
  field.AdaptationFieldLength = static_cast<uint8_t>(n - 1);
  field.StuffingSize = n > 2 ? n - 2 : 0;
}

bool PesHasOptionalHeader(uint8_t stream_id) {
  for (uint8_t id : kBareStreamIds) {
    if (id == stream_id) return false;
  }
  return true;
}

size_t WritePesHeader(ByteWriter& out, const PesHeader& pes) {
  const size_t start = out.pos();
  out.U24(pes.PacketStartCodePrefix);
  out.U8(pes.StreamID);
  out.U16(pes.PES_PacketLength);
  if (!PesHasOptionalHeader(pes.StreamID)) return out.ok() ? out.pos() - start : 0;
  out.U8(0x80 | (pes.PES_ScramblingControl & 3) << 4 | Bit(pes.PES_Priority, 3) |
         Bit(pes.DataAlignmentIndicator, 2) | Bit(pes.Copyright, 1) | Bit(pes.OriginalOrCopy, 0));
  out.U8(static_cast<uint8_t>(pes.PtsDtsFlag() << 6) | Bit(pes.ESCR.has_value(), 5) |
         Bit(pes.ES_Rate.has_value(), 4) | Bit(pes.TrickMode.has_value(), 3) |
         Bit(pes.AdditionalCopyInfo.has_value(), 2) |
         Bit(pes.PreviousPES_PacketCRC.has_value(), 1) | Bit(pes.Extension.has_value(), 0));
  const size_t at = out.BeginLength8();
  if (pes.PTS) {
    WriteTimestamp(out, {pes.DTS ? kPrefixPtsWithDts : kPrefixPtsOnly, pes.PTS->Value});
    if (pes.DTS) WriteTimestamp(out, {kPrefixDts, pes.DTS->Value});
  }
  if (pes.ESCR) WriteEscr(out, *pes.ESCR);
  if (pes.ES_Rate) out.U24(0x800001 | (*pes.ES_Rate & 0x3FFFFF) << 1);
  if (pes.TrickMode) out.U8(*pes.TrickMode);
  if (pes.AdditionalCopyInfo) out.U8(0x80 | (*pes.AdditionalCopyInfo & 0x7F));
  if (pes.PreviousPES_PacketCRC) out.U16(*pes.PreviousPES_PacketCRC);
  if (pes.Extension) WritePesExtension(out, *pes.Extension);
  out.Fill(0xFF, pes.StuffingSize);
  out.EndLength8(at);
  if (pes.DataAlignmentIndicator && pes.DataStreamAlignmentType) {
    out.U8(kAlignmentDescriptorTag);
    out.U8(1);
    out.U8(*pes.DataStreamAlignmentType);
  }
  return out.ok() ? out.pos() - start : 0;
}

bool ReadPesHeader(ByteReader& in, PesHeader& pes) {
  pes = PesHeader{};
  pes.PacketStartCodePrefix = in.U24();
  pes.StreamID = in.U8();
  pes.PES_PacketLength = in.U16();
  if (!in.ok() || pes.PacketStartCodePrefix != 1) return false;
  if (!PesHasOptionalHeader(pes.StreamID)) return true;
  const uint8_t b6 = in.U8();
  const uint8_t flags = in.U8();
  if ((b6 & 0xC0) != 0x80) return false;  // not the MPEG-2 header layout
  pes.PES_ScramblingControl = (b6 >> 4) & 3;
  pes.PES_Priority = b6 & 0x08;
  pes.DataAlignmentIndicator = b6 & 0x04;
  pes.Copyright = b6 & 0x02;
  pes.OriginalOrCopy = b6 & 0x01;
  pes.PES_HeaderDataLength = in.U8();
  ByteReader body = in.Sub(pes.PES_HeaderDataLength);
  ReadPesOptionalFields(body, flags, pes);
  if (!in.ok() || !body.ok()) return false;
  pes.StuffingSize = body.remaining();
  // Only an aligned payload may open with the descriptor; a payload that merely begins with its
  // tag byte keeps its bytes.
  const auto rest = in.data().subspan(in.pos());
  if (pes.DataAlignmentIndicator && rest.size() >= 3 && rest[0] == kAlignmentDescriptorTag &&
      rest[1] == 1) {
    in.Skip(2);
    pes.DataStreamAlignmentType = in.U8();
  }
  return in.ok();
}

size_t WriteTransportPacket(ByteWriter& out, const TransportPacket& packet) {
  const size_t start = out.pos();
  out.U8(packet.SyncByte);
  out.U8(Bit(packet.TransportErrorIndicator, 7) | Bit(packet.PayloadUnitStartIndicator, 6) |
         Bit(packet.TransportPriority, 5) | ((packet.PID >> 8) & 0x1F));
  out.U8(static_cast<uint8_t>(packet.PID));
  out.U8(static_cast<uint8_t>((packet.TransportScramblingControl & 3) << 6 |
                              (packet.AdaptationFieldControl & 3) << 4 |
                              (packet.ContinuityCounter & 0xF)));
  if (packet.HasAdaptationField()) {
    if (packet.Adaptation) {
      WriteAdaptationField(out, *packet.Adaptation);
    } else {
      out.U8(0);
    }
  }
  if (packet.PayloadUnitStartIndicator && packet.Pes && CarriesPesHeader(packet.PID)) {
    WritePesHeader(out, *packet.Pes);
  }
  out.Require(out.pos() - start <= kTransportPacketSize);
  return out.ok() ? out.pos() - start : 0;
}

std::optional<size_t> FillTransportPacket(std::span<uint8_t, kTransportPacketSize> out,
                                          const TransportPacket& packet,
                                          std::span<const uint8_t> payload) {
  ByteWriter w(out);
  if (WriteTransportPacket(w, packet) == 0) return std::nullopt;
  const size_t take = std::min(payload.size(), kTransportPacketSize - w.pos());
  w.Bytes(payload.first(take));
  w.Fill(0xFF, kTransportPacketSize - w.pos());
  return take;
}

std::optional<size_t> FillSourcePacket(std::span<uint8_t, kSourcePacketSize> out, Ticks27M arrival,
                                       const TransportPacket& packet,
                                       std::span<const uint8_t> payload) {
  WriteTpExtraHeader(out.data(), 0, arrival);
  return FillTransportPacket(out.subspan<kTpExtraHeaderSize, kTransportPacketSize>(), packet,
                             payload);
}

size_t ReadTransportPacket(std::span<const uint8_t> bytes, TransportPacket& packet) {
  packet = TransportPacket{};
  if (bytes.size() < kTransportPacketSize || bytes[0] != kSyncByte) return 0;
  ByteReader in(bytes.first(kTransportPacketSize));
  in.Skip(1);
  const uint16_t b12 = in.U16();
  const uint8_t b3 = in.U8();
  packet.TransportErrorIndicator = b12 & 0x8000;
  packet.PayloadUnitStartIndicator = b12 & 0x4000;
  packet.TransportPriority = b12 & 0x2000;
  packet.TransportScramblingControl = b3 >> 6;
  packet.AdaptationFieldControl = (b3 >> 4) & 3;
  packet.ContinuityCounter = b3 & 0xF;
  if (packet.HasAdaptationField() && !ReadAdaptationField(in, packet.Adaptation.emplace())) {
    return 0;
  }
  packet.PID = b12 & 0x1FFF;
  if (packet.PayloadUnitStartIndicator && packet.HasPayload() && CarriesPesHeader(packet.PID)) {
    ByteReader pes_in = in;
    if (ReadPesHeader(pes_in, packet.Pes.emplace())) {
      in = pes_in;
    } else {
      packet.Pes.reset();
    }
  }
  return in.pos();
}

}  // namespace tessel
