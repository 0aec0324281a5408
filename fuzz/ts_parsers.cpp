// Feeds bytes to the transport stream readers: as 188-byte packets and as 192-byte source
// packets (headers, adaptation fields, PES headers, sections gathered from payloads), and whole
// as one section, one PES header and one stream entry. Whatever reads is written back.
#include <cstddef>
#include <cstdint>
#include <span>

#include "ts/esi.h"
#include "ts/psi.h"
#include "ts/ts_packet.h"

namespace {

using namespace tessel;

void Section(std::span<const uint8_t> bytes) {
  PAT pat;
  PMT pmt;
  SIT sit;
  ByteWriter out;
  if (ReadPat(bytes, pat)) WritePat(out, pat);
  if (ReadPmt(bytes, pmt)) WritePmt(out, pmt);
  if (ReadSit(bytes, sit)) WriteSit(out, sit);
  SectionCrcOk(bytes);
}

void Packets(std::span<const uint8_t> data, size_t stride, size_t offset) {
  SectionAssembler assembler;
  for (size_t at = offset; at + kTransportPacketSize <= data.size(); at += stride) {
    const auto bytes = data.subspan(at, kTransportPacketSize);
    TransportPacket packet;
    if (ReadTransportPacket(bytes, packet) > 0) {
      ByteWriter out;
      WriteTransportPacket(out, packet);
    }
    assembler.Feed(PacketPayload(bytes), bytes[1] & 0x40, Section);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  Packets(bytes, kTransportPacketSize, 0);
  Packets(bytes, kTransportPacketSize + kTpExtraHeaderSize, kTpExtraHeaderSize);
  Section(bytes);
  ByteReader pes_in(bytes);
  PesHeader pes;
  if (ReadPesHeader(pes_in, pes)) {
    ByteWriter out;
    WritePesHeader(out, pes);
  }
  ByteReader esi_in(bytes);
  ESI esi;
  if (ReadEsi(esi_in, esi)) {
    ByteWriter out;
    WriteEsi(out, esi);
  }
  return 0;
}
