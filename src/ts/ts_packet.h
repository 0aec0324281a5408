// Source packets, transport packets with their adaptation fields, the program clock reference and
// PES packet headers: the records, how they are parsed from bytes and serialised back.
//
// Parsers never read outside the span they are given and report failure with `false` (or a
// length of 0). Serialisers leave the record as it is: they append to a ByteWriter, compute every
// length field they own from what they write, and fail the writer (returning 0) when a length does
// not fit its field or a packet would outgrow 188 bytes. Whole packets are filled in place into a
// fixed 192-byte span, not assembled in a growing buffer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "formats/field_access.h"
#include "platform/common.h"
#include "platform/ticks.h"

namespace tessel {

inline constexpr size_t kTransportPacketSize = 188;
inline constexpr size_t kTpExtraHeaderSize = 4;
inline constexpr uint8_t kSyncByte = 0x47;

// PIDs of a Blu-ray transport stream.
namespace pid {
inline constexpr uint16_t kPat = 0x0000;
inline constexpr uint16_t kSit = 0x001F;
inline constexpr uint16_t kPmt = 0x0100;
inline constexpr uint16_t kPcr = 0x1001;
inline constexpr uint16_t kNull = 0x1FFF;
}  // namespace pid

// Whether packets of a PID start with PES headers: the elementary-stream PID classes of a
// Blu-ray transport stream.
bool CarriesPesHeader(uint16_t pid);

// The 4-byte TP_extra_header before each transport packet.
struct TpExtraHeader {
  uint8_t CopyPermissionIndicator = 0;  // 2 bits
  uint32_t ArriveTimeStamp = 0;         // 30 bits of a 27 MHz clock
};
// Only the low 30 bits of the arrival clock are kept.
void WriteTpExtraHeader(uint8_t* out, uint8_t copy_permission, Ticks27M arrival);
TpExtraHeader ReadTpExtraHeader(const uint8_t* in);

// A program clock reference: 33-bit base at 90 kHz and 9-bit extension at 27 MHz.
struct PCR {
  uint64_t Base = 0;
  uint16_t Extension = 0;

  Ticks27M Value() const { return Ticks27M(Base * 300 + Extension); }
  static PCR FromValue(Ticks27M value) {
    return {value.count() / 300, static_cast<uint16_t>(value.count() % 300)};
  }
};
void WritePcr(ByteWriter& out, const PCR& pcr);
PCR ReadPcr(ByteReader& in);

// A PTS, DTS or splice DTS: a 4-bit prefix and a 33-bit value at 90 kHz.
struct Timestamp {
  uint8_t Prefix = 0;
  uint64_t Value = 0;
};
inline constexpr uint8_t kPrefixPtsOnly = 0x2;
inline constexpr uint8_t kPrefixPtsWithDts = 0x3;
inline constexpr uint8_t kPrefixDts = 0x1;
void WriteTimestamp(ByteWriter& out, const Timestamp& ts);
Timestamp ReadTimestamp(ByteReader& in);

struct AdaptationFieldExtension {
  uint8_t AdaptationFieldExtensionLength = 0;  // as read; written as computed
  bool LtwFlag = false;
  bool PiecewiseRateFlag = false;
  bool SeamlessSpliceFlag = false;
  bool LtwValidFlag = false;
  uint16_t LtwOffset = 0;         // 15 bits
  uint32_t PiecewiseRate = 0;     // 22 bits
  uint8_t SpliceType = 0;         // 4 bits
  uint64_t DtsNextAu = 0;         // 33 bits, with SpliceType
  std::vector<uint8_t> Reserved;  // bytes after the known fields, kept as they were
};

struct AdaptationField {
  uint8_t AdaptationFieldLength = 255;  // as read; written as computed, but 0 writes the byte 0
  bool DiscontinuityIndicator = false;
  bool RandomAccessIndicator = false;
  bool ElementaryStreamPriorityIndicator = false;
  bool SplicingPointFlag = false;
  std::optional<PCR> Pcr;   // PCR_Flag
  std::optional<PCR> Opcr;  // OPCR_Flag
  int8_t SpliceCountdown = 0;
  std::optional<std::vector<uint8_t>> PrivateData;    // TransportPrivateDataFlag
  std::optional<AdaptationFieldExtension> Extension;  // AdaptationFieldExtensionFlag
  size_t StuffingSize = 0;                            // 0xFF bytes at the end
};

// The optional extension part of a PES header.
struct PesExtension {
  std::optional<std::array<uint8_t, 16>> PrivateData;  // PES_PrivateDataFlag
  std::optional<std::vector<uint8_t>> PackHeader;      // PackHeaderFieldFlag (PackFieldLength)
  bool ProgramPacketSequenceCounterFlag = false;
  uint8_t ProgramPacketSequenceCounter = 0;  // 7 bits
  bool Mpeg1Mpeg2Identifier = false;
  uint8_t OriginalStuffLength = 0;  // 6 bits
  bool P_STD_BufferFlag = false;
  bool P_STD_BufferScale = false;
  uint16_t P_STD_BufferSize = 0;  // 13 bits
  std::optional<std::vector<uint8_t>>
      Extension2;          // PES_ExtensionFlag2; first byte stream_id_extension
  uint8_t Reserved = 0x7;  // the 3 reserved bits of the flag byte, kept as read
};

struct PesHeader {
  uint32_t PacketStartCodePrefix = 0x000001;
  uint8_t StreamID = 0;
  uint16_t PES_PacketLength = 0;
  uint8_t PES_ScramblingControl = 0;  // 2 bits
  bool PES_Priority = false;
  bool DataAlignmentIndicator = true;
  bool Copyright = false;
  bool OriginalOrCopy = false;
  uint8_t PES_HeaderDataLength = 0;  // as read; written as computed from the fields
  std::optional<Timestamp> PTS;
  std::optional<Timestamp> DTS;  // written only together with a PTS
  std::optional<PCR> ESCR;
  std::optional<uint32_t> ES_Rate;            // 22 bits
  std::optional<uint8_t> TrickMode;           // the whole byte: control in the top 3 bits
  std::optional<uint8_t> AdditionalCopyInfo;  // 7 bits
  std::optional<uint16_t> PreviousPES_PacketCRC;
  std::optional<PesExtension> Extension;
  size_t StuffingSize = 0;  // 0xFF bytes inside the header
  // A data stream alignment descriptor right after the header: its alignment type.
  std::optional<uint8_t> DataStreamAlignmentType;

  // PTS_DTS_Flag as it goes on the wire (0, 2 or 3).
  uint8_t PtsDtsFlag() const { return PTS ? (DTS ? 3 : 2) : 0; }
};

// Stream ids whose PES packets have no optional header (padding, private stream 2, ...).
bool PesHasOptionalHeader(uint8_t stream_id);
// Appends the header with PES_HeaderDataLength computed from the fields present; returns its
// length (the descriptor after it included), or 0 (the writer failed) when a field does not fit.
size_t WritePesHeader(ByteWriter& out, const PesHeader& pes);
// Parses a header at the cursor; the cursor ends after it (and after a data stream alignment
// descriptor). False when the bytes do not hold a whole, consistent header.
bool ReadPesHeader(ByteReader& in, PesHeader& pes);

struct TransportPacket {
  uint8_t SyncByte = kSyncByte;
  bool TransportErrorIndicator = false;
  bool PayloadUnitStartIndicator = true;
  bool TransportPriority = false;
  uint16_t PID = pid::kNull;
  uint8_t TransportScramblingControl = 0;  // 2 bits
  uint8_t AdaptationFieldControl = 1;      // 1 payload, 2 adaptation field, 3 both
  uint8_t ContinuityCounter = 0;           // 4 bits
  std::optional<AdaptationField> Adaptation;
  std::optional<PesHeader> Pes;

  bool HasAdaptationField() const { return AdaptationFieldControl & 2; }
  bool HasPayload() const { return AdaptationFieldControl & 1; }
};

// Serialises the header, the adaptation field and (for a PES-carrying PID starting a unit) the
// PES header; returns the bytes written, or 0 (the writer failed) when they exceed 188 bytes or a
// field does not fit. The caller appends the payload.
size_t WriteTransportPacket(ByteWriter& out, const TransportPacket& packet);

// Fills a 188-byte transport packet in place: the header part of `packet`, then as much of
// `payload` as fits, then 0xFF in whatever is left (the stuffing after a section; a PES packet is
// stuffed through its adaptation field instead, so that its payload fills the packet). Returns the
// payload bytes taken; none when the header part does not fit.
std::optional<size_t> FillTransportPacket(std::span<uint8_t, kTransportPacketSize> out,
                                          const TransportPacket& packet,
                                          std::span<const uint8_t> payload);
// The same for a 192-byte source packet, whose TP_extra_header gets copy permission 0 and the
// arrival time.
std::optional<size_t> FillSourcePacket(std::span<uint8_t, kSourcePacketSize> out, Ticks27M arrival,
                                       const TransportPacket& packet,
                                       std::span<const uint8_t> payload);
// Parses a 188-byte packet: header, adaptation field and, for a PES-carrying PID starting a unit,
// the PES header. Returns the bytes consumed (the payload starts there), or 0 when the packet is
// not one (bad sync byte, inconsistent lengths); then the PID is 0x1FFF.
size_t ReadTransportPacket(std::span<const uint8_t> bytes, TransportPacket& packet);

// Makes room for n stuffing bytes (n >= 1) through a fresh adaptation field.
void StuffAdaptationField(TransportPacket& packet, size_t n);

// Returns the bytes written (the length byte included); 0 when a field does not fit.
size_t WriteAdaptationField(ByteWriter& out, const AdaptationField& field);
bool ReadAdaptationField(ByteReader& in, AdaptationField& field);

}  // namespace tessel
