#include "ts/psi.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "platform/common.h"
#include "platform/file_handle.h"
#include "platform/format.h"
#include "ts/crc32.h"
#include "ts/ts_packet.h"

namespace tessel {
namespace {

constexpr size_t kSectionHeaderSize = 8;  // table_id up to last_section_number
constexpr size_t kCrcSize = 4;
constexpr size_t kMaxPsiSectionLength = 1021;      // PAT and PMT
constexpr size_t kMaxPrivateSectionLength = 4093;  // SIT
constexpr uint8_t kRegistrationTag = 0x05;
constexpr uint8_t kCopyControlTag = 0x88;
constexpr uint8_t kPrivateProgramTag = 0x89;
constexpr uint8_t kPartialTransportStreamTag = 0x63;

template <typename Table>
size_t BeginSection(ByteWriter& out, const Table& t, uint16_t id_extension) {
  const size_t start = out.pos();
  out.U8(t.TableId);
  out.U16(static_cast<uint16_t>((t.SectionSyntaxIndicator ? 0x8000 : 0) |
                                (t.PrivateIndicator ? 0x4000 : 0) | 0x3000));
  out.U16(id_extension);
  out.U8(static_cast<uint8_t>(0xC0 | (t.VersionNumber & 0x1F) << 1 | t.CurrentNextIndicator));
  out.U8(t.SectionNumber);
  out.U8(t.LastSectionNumber);
  return start;
}

// Sets the section length, appends the CRC; 0 when the section is longer than allowed.
template <typename Table>
size_t FinishSection(ByteWriter& out, size_t start, Table& t, size_t max_length) {
  const size_t length = out.pos() - start - 3 + kCrcSize;
  if (!out.Require(length <= max_length)) return 0;
  t.SectionLength = static_cast<uint16_t>(length);
  const uint8_t* bytes = out.bytes().data() + start;
  out.PatchU16(start + 1, static_cast<uint16_t>((bytes[1] << 8 & 0xF000) | length));
  t.CRC32 = Crc32Mpeg2(out.bytes().subspan(start, out.pos() - start));
  out.U32(t.CRC32);
  return out.ok() ? out.pos() - start : 0;
}

// Reads the common header and returns a cursor over the table body (between the header and the
// CRC). `complete` tells whether the section holds all its declared bytes.
template <typename Table>
ByteReader OpenSection(std::span<const uint8_t> section, Table& t, uint16_t& id_extension,
                       bool& complete) {
  ByteReader in(section);
  t.TableId = in.U8();
  const uint16_t v = in.U16();
  t.SectionSyntaxIndicator = v & 0x8000;
  t.PrivateIndicator = v & 0x4000;
  t.SectionLength = v & 0x0FFF;
  id_extension = in.U16();
  const uint8_t b5 = in.U8();
  t.VersionNumber = (b5 >> 1) & 0x1F;
  t.CurrentNextIndicator = b5 & 1;
  t.SectionNumber = in.U8();
  t.LastSectionNumber = in.U8();
  const size_t total = 3 + size_t{t.SectionLength};
  complete = in.ok() && total >= kSectionHeaderSize + kCrcSize && section.size() >= total;
  if (!in.ok()) return in;
  const size_t body_end =
      std::min(section.size(), std::max(total, kSectionHeaderSize + kCrcSize) - kCrcSize);
  if (complete) {
    ByteReader crc = in.Slice(total - kCrcSize, kCrcSize);
    t.CRC32 = crc.U32();
  }
  return in.Slice(kSectionHeaderSize, body_end - kSectionHeaderSize);
}

void ReadProgramDescriptors(ByteReader& in, PMT& pmt) {
  while (in.remaining() >= 2) {
    const uint8_t tag = in.U8();
    ByteReader body = in.Sub(in.U8());
    if (!body.ok()) return;
    const auto bytes = body.data();
    if (tag == kRegistrationTag && !pmt.Registration && bytes.size() == 4) {
      pmt.Registration.emplace();
      std::copy(bytes.begin(), bytes.end(), pmt.Registration->begin());
    } else if (tag == kCopyControlTag && !pmt.CopyControl && bytes.size() >= 2) {
      pmt.CopyControl =
          CopyControlDescriptor{{bytes[0], bytes[1]}, {bytes.begin() + 2, bytes.end()}};
    } else if (tag == kPrivateProgramTag && !pmt.PrivateProgramDescriptor) {
      pmt.PrivateProgramDescriptor.emplace(bytes.begin(), bytes.end());
    } else {
      pmt.OtherDescriptors.push_back({tag, {bytes.begin(), bytes.end()}});
    }
  }
}

void WriteRaw(ByteWriter& out, uint8_t tag, std::span<const uint8_t> bytes) {
  out.U8(tag);
  const size_t at = out.BeginLength8();
  out.Bytes(bytes);
  out.EndLength8(at);
}

// A 12-bit loop length after four set bits; returns the length written.
uint16_t EndLoopLength(ByteWriter& out, size_t at) {
  out.PatchU8(at, 0xF0);
  return out.EndLengthBits(at, 12) ? static_cast<uint16_t>(out.pos() - at - 2) : 0;
}

void DumpSectionHeader(const auto& t, std::string_view prefix, DumpArchive& archive) {
  archive.Hex8(prefix, "TableId", t.TableId);
  archive.Int(prefix, "SectionSyntaxIndicator", t.SectionSyntaxIndicator);
  archive.Int(prefix, "SectionLength", t.SectionLength);
}

void DumpSectionTrailer(const auto& t, std::string_view prefix, DumpArchive& archive) {
  archive.Int(prefix, "VersionNumber", t.VersionNumber);
  archive.Int(prefix, "CurrentNextIndicator", t.CurrentNextIndicator);
  archive.Int(prefix, "SectionNumber", t.SectionNumber);
  archive.Int(prefix, "LastSectionNumber", t.LastSectionNumber);
}

void DumpRawDescriptors(const std::vector<RawDescriptor>& list, std::string_view prefix,
                        DumpArchive& archive) {
  for (const RawDescriptor& d : list) {
    archive.Heading(prefix, Format("Descriptor 0x%02X", d.Tag));
    archive.Int(Nested(prefix), "DescriptorLength", static_cast<int64_t>(d.Data.size()));
  }
}

}  // namespace

bool SectionCrcOk(std::span<const uint8_t> section) {
  const size_t total = SectionTotalSize(section);
  if (total < kSectionHeaderSize + kCrcSize || total > section.size()) return false;
  return Crc32Mpeg2(section.first(total)) == 0;
}

size_t SectionTotalSize(std::span<const uint8_t> bytes) {
  if (bytes.size() < 3) return 0;
  return 3 + ((bytes[1] & 0x0F) << 8 | bytes[2]);
}

PAT MakeMuxerPat() {
  PAT pat;
  pat.Programs = {{0, pid::kSit}, {1, pid::kPmt}};
  return pat;
}

size_t WritePat(ByteWriter& out, PAT& pat) {
  const size_t start = BeginSection(out, pat, pat.TransportStreamId);
  for (const PI& program : pat.Programs) {
    out.U16(program.ProgramNumber);
    out.U16(static_cast<uint16_t>(0xE000 | (program.PID & 0x1FFF)));
  }
  return FinishSection(out, start, pat, kMaxPsiSectionLength);
}

bool ReadPat(std::span<const uint8_t> section, PAT& pat) {
  pat = PAT{};
  bool complete = false;
  ByteReader body = OpenSection(section, pat, pat.TransportStreamId, complete);
  while (body.remaining() >= 4) {
    const uint16_t number = body.U16();
    pat.Programs.push_back({number, static_cast<uint16_t>(body.U16() & 0x1FFF)});
  }
  return complete && body.ok() && body.remaining() == 0 && pat.TableId == table_id::kPat;
}

size_t WritePmt(ByteWriter& out, PMT& pmt) {
  const size_t start = BeginSection(out, pmt, pmt.ProgramNumber);
  out.U16(static_cast<uint16_t>(0xE000 | (pmt.PcrPid & 0x1FFF)));
  const size_t info_at = out.Reserve(2);
  if (pmt.Registration) WriteRaw(out, kRegistrationTag, *pmt.Registration);
  if (pmt.CopyControl) {
    out.U8(kCopyControlTag);
    const size_t at = out.BeginLength8();
    out.Bytes(pmt.CopyControl->CaSystemId);
    out.Bytes(pmt.CopyControl->PrivateData);
    out.EndLength8(at);
  }
  if (pmt.PrivateProgramDescriptor)
    WriteRaw(out, kPrivateProgramTag, *pmt.PrivateProgramDescriptor);
  for (const RawDescriptor& d : pmt.OtherDescriptors) WriteRaw(out, d.Tag, d.Data);
  pmt.ProgramInfoLength = EndLoopLength(out, info_at);
  for (ESI& esi : pmt.Streams) WriteEsi(out, esi);
  return FinishSection(out, start, pmt, kMaxPsiSectionLength);
}

bool ReadPmt(std::span<const uint8_t> section, PMT& pmt) {
  pmt = PMT{};
  pmt.Registration.reset();
  pmt.CopyControl.reset();
  bool complete = false;
  ByteReader body = OpenSection(section, pmt, pmt.ProgramNumber, complete);
  pmt.PcrPid = body.U16() & 0x1FFF;
  pmt.ProgramInfoLength = body.U16() & 0x0FFF;
  ByteReader info = body.Sub(pmt.ProgramInfoLength);
  ReadProgramDescriptors(info, pmt);
  while (body.remaining() > 0) {
    ESI esi;
    if (!ReadEsi(body, esi)) return false;
    pmt.Streams.push_back(std::move(esi));
  }
  return complete && body.ok() && info.ok() && pmt.TableId == table_id::kPmt;
}

size_t WriteSit(ByteWriter& out, SIT& sit) {
  const size_t start = BeginSection(out, sit, 0xFFFF);
  const size_t info_at = out.Reserve(2);
  if (const auto& d = sit.PartialTransportStream) {
    out.U8(kPartialTransportStreamTag);
    out.U8(8);
    out.U24(0xC00000 | (d->PeakRate & 0x3FFFFF));
    out.U24(0xC00000 | (d->MinimumOverallSmoothingRate & 0x3FFFFF));
    out.U16(static_cast<uint16_t>(0xC000 | (d->MaximumOverallSmoothingBuffer & 0x3FFF)));
  }
  for (const RawDescriptor& d : sit.OtherTransmissionDescriptors) WriteRaw(out, d.Tag, d.Data);
  sit.TransmissionInfoLength = EndLoopLength(out, info_at);
  out.U16(sit.ServiceID);
  const size_t loop_at = out.Reserve(2);
  out.Bytes(sit.ServiceDescriptors);
  out.PatchU8(loop_at, static_cast<uint8_t>(0x80 | (sit.RunningStatus & 7) << 4));
  sit.ServiceLoopLength =
      out.EndLengthBits(loop_at, 12) ? static_cast<uint16_t>(sit.ServiceDescriptors.size()) : 0;
  out.Bytes(sit.MoreServices);
  return FinishSection(out, start, sit, kMaxPrivateSectionLength);
}

bool ReadSit(std::span<const uint8_t> section, SIT& sit) {
  sit = SIT{};
  sit.PartialTransportStream.reset();
  bool complete = false;
  uint16_t id_extension = 0;
  ByteReader body = OpenSection(section, sit, id_extension, complete);
  sit.TransmissionInfoLength = body.U16() & 0x0FFF;
  ByteReader info = body.Sub(sit.TransmissionInfoLength);
  while (info.remaining() >= 2) {
    const uint8_t tag = info.U8();
    ByteReader d = info.Sub(info.U8());
    if (tag == kPartialTransportStreamTag && d.size() == 8 && !sit.PartialTransportStream) {
      auto& p = sit.PartialTransportStream.emplace();
      p.PeakRate = d.U24() & 0x3FFFFF;
      p.MinimumOverallSmoothingRate = d.U24() & 0x3FFFFF;
      p.MaximumOverallSmoothingBuffer = d.U16() & 0x3FFF;
    } else if (d.ok()) {
      sit.OtherTransmissionDescriptors.push_back({tag, {d.data().begin(), d.data().end()}});
    }
  }
  sit.ServiceID = body.U16();
  const uint16_t v = body.U16();
  sit.RunningStatus = (v >> 12) & 7;
  sit.ServiceLoopLength = v & 0x0FFF;
  sit.ServiceDescriptors = body.Vector(sit.ServiceLoopLength);
  sit.MoreServices = body.Vector(body.remaining());
  return complete && body.ok() && info.ok() && sit.TableId == table_id::kSit;
}

void DumpPat(const PAT& pat, std::string_view prefix, DumpArchive& archive) {
  DumpSectionHeader(pat, prefix, archive);
  archive.Int(prefix, "TransportStreamId", pat.TransportStreamId);
  DumpSectionTrailer(pat, prefix, archive);
  for (size_t i = 0; i < pat.Programs.size(); ++i) {
    archive.Element(prefix, "Program", static_cast<int>(i));
    archive.Int(Nested(prefix), "ProgramNumber", pat.Programs[i].ProgramNumber);
    archive.Hex16(Nested(prefix), "PID", pat.Programs[i].PID);
  }
  archive.Text(prefix, "CRC32", Format("0x%08X", pat.CRC32));
}

void DumpPmt(const PMT& pmt, std::string_view prefix, DumpArchive& archive) {
  DumpSectionHeader(pmt, prefix, archive);
  archive.Int(prefix, "ProgramNumber", pmt.ProgramNumber);
  DumpSectionTrailer(pmt, prefix, archive);
  archive.Hex16(prefix, "PcrPid", pmt.PcrPid);
  archive.Int(prefix, "ProgramInfoLength", pmt.ProgramInfoLength);
  const std::string nested = Nested(prefix);
  if (pmt.Registration) archive.Chars(prefix, "FormatIdentifier", *pmt.Registration);
  if (pmt.CopyControl) {
    archive.Heading(prefix, "CopyControlDescriptor");
    archive.Hex16(nested, "CaSystemId",
                  pmt.CopyControl->CaSystemId[0] << 8 | pmt.CopyControl->CaSystemId[1]);
    archive.Int(nested, "PrivateDataLength",
                static_cast<int64_t>(pmt.CopyControl->PrivateData.size()));
  }
  if (pmt.PrivateProgramDescriptor) {
    archive.Int(prefix, "PrivateProgramDescriptorLength",
                static_cast<int64_t>(pmt.PrivateProgramDescriptor->size()));
  }
  DumpRawDescriptors(pmt.OtherDescriptors, prefix, archive);
  for (size_t i = 0; i < pmt.Streams.size(); ++i) {
    archive.Element(prefix, "Stream", static_cast<int>(i));
    DumpEsi(pmt.Streams[i], nested, archive);
  }
  archive.Text(prefix, "CRC32", Format("0x%08X", pmt.CRC32));
}

void DumpSit(const SIT& sit, std::string_view prefix, DumpArchive& archive) {
  DumpSectionHeader(sit, prefix, archive);
  DumpSectionTrailer(sit, prefix, archive);
  archive.Int(prefix, "TransmissionInfoLength", sit.TransmissionInfoLength);
  if (const auto& d = sit.PartialTransportStream) {
    const std::string nested = Nested(prefix);
    archive.Heading(prefix, "PartialTransportStreamDescriptor");
    archive.Int(nested, "PeakRate", d->PeakRate);
    archive.Int(nested, "MinimumOverallSmoothingRate", d->MinimumOverallSmoothingRate);
    archive.Int(nested, "MaximumOverallSmoothingBuffer", d->MaximumOverallSmoothingBuffer);
  }
  DumpRawDescriptors(sit.OtherTransmissionDescriptors, prefix, archive);
  archive.Int(prefix, "ServiceID", sit.ServiceID);
  archive.Int(prefix, "RunningStatus", sit.RunningStatus);
  archive.Int(prefix, "ServiceLoopLength", sit.ServiceLoopLength);
  archive.Text(prefix, "CRC32", Format("0x%08X", sit.CRC32));
}

size_t SectionPacketCount(size_t n) {
  if (n < 184) return 1;
  return 1 + (n - 183 + 184 - 1) / 184;
}

bool FillSectionPacket(std::span<uint8_t, kTransportPacketSize> out,
                       std::span<const uint8_t> section, size_t index, uint16_t pid,
                       uint8_t continuity_counter) {
  // The first packet gives one byte to the pointer_field; each later one starts where the
  // previous one ended.
  const size_t first = kTransportPacketSize - 5;
  const size_t offset = index == 0 ? 0 : first + (index - 1) * (kTransportPacketSize - 4);
  if (index >= SectionPacketCount(section.size()) || offset > section.size()) return false;
  TransportPacket packet;
  packet.PID = pid;
  packet.PayloadUnitStartIndicator = index == 0;
  packet.ContinuityCounter = continuity_counter & 0xF;
  ByteWriter w(out);
  WriteTransportPacket(w, packet);
  if (index == 0) w.U8(0);  // pointer_field
  const size_t take = std::min(section.size() - offset, kTransportPacketSize - w.pos());
  w.Bytes(section.subspan(offset, take));
  w.Fill(0xFF, kTransportPacketSize - w.pos());
  return w.ok();
}

bool FillSectionPacket(std::span<uint8_t, kSourcePacketSize> out, Ticks27M arrival,
                       std::span<const uint8_t> section, size_t index, uint16_t pid,
                       uint8_t continuity_counter) {
  WriteTpExtraHeader(out.data(), 0, arrival);
  return FillSectionPacket(out.subspan<kTpExtraHeaderSize, kTransportPacketSize>(), section, index,
                           pid, continuity_counter);
}

void WriteSectionPackets(std::span<const uint8_t> section, uint16_t pid,
                         uint8_t& continuity_counter, std::vector<uint8_t>& out) {
  const size_t count = SectionPacketCount(section.size());
  const size_t at = out.size();
  out.resize(at + count * kTransportPacketSize);
  for (size_t i = 0; i < count; ++i) {
    const auto packet = std::span(out).subspan(at + i * kTransportPacketSize);
    FillSectionPacket(packet.first<kTransportPacketSize>(), section, i, pid, continuity_counter);
    continuity_counter = (continuity_counter + 1) & 0xF;
  }
}

std::span<const uint8_t> PacketPayload(std::span<const uint8_t> packet) {
  if (packet.size() < kTransportPacketSize || packet[0] != kSyncByte) return {};
  const uint8_t control = (packet[3] >> 4) & 3;
  if (!(control & 1)) return {};
  size_t offset = 4;
  if (control & 2) offset += 1 + size_t{packet[4]};
  if (offset > kTransportPacketSize) return {};
  return packet.subspan(offset, kTransportPacketSize - offset);
}

void SectionAssembler::Feed(std::span<const uint8_t> payload, bool unit_start,
                            const Handler& on_section) {
  if (!unit_start) {
    if (active_) Append(payload, on_section);
    return;
  }
  if (payload.empty()) return;
  const size_t pointer = payload[0];
  if (1 + pointer > payload.size()) {
    active_ = false;
    buffer_.clear();
    return;
  }
  if (active_) Append(payload.subspan(1, pointer), on_section);
  buffer_.clear();
  active_ = true;
  Append(payload.subspan(1 + pointer), on_section);
}

void SectionAssembler::Append(std::span<const uint8_t> bytes, const Handler& on_section) {
  buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
  while (active_ && buffer_.size() >= 3) {
    if (buffer_[0] == 0xFF) {  // stuffing: no further section in this unit
      active_ = false;
      break;
    }
    const size_t total = SectionTotalSize(buffer_);
    if (buffer_.size() < total) return;
    on_section({buffer_.data(), total});
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(total));
  }
  if (!active_) buffer_.clear();
}

std::optional<PMT> ReadPmtFromFile(const std::filesystem::path& path) {
  constexpr size_t kPacketsPerRead = 100;
  FileHandle file;
  if (!file.Open(path)) return std::nullopt;
  std::vector<uint8_t> block(kPacketsPerRead * kSourcePacketSize);
  SectionAssembler assembler;
  std::optional<PMT> result;
  const auto on_section = [&result](std::span<const uint8_t> section) {
    PMT pmt;
    if (!result && ReadPmt(section, pmt)) result = std::move(pmt);
  };
  while (!result) {
    const int64_t read = file.Read(block.data(), block.size());
    const size_t got = read > 0 ? static_cast<size_t>(read) : 0;
    for (size_t at = 0; at + kSourcePacketSize <= got && !result; at += kSourcePacketSize) {
      const auto packet =
          std::span<const uint8_t>(block).subspan(at + kTpExtraHeaderSize, kTransportPacketSize);
      if (packet[0] != kSyncByte || ((packet[1] & 0x1F) << 8 | packet[2]) != pid::kPmt) continue;
      assembler.Feed(PacketPayload(packet), packet[1] & 0x40, on_section);
    }
    if (got < block.size()) break;
  }
  return result;
}

}  // namespace tessel
