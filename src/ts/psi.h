// Program-specific information: the program association (`PAT`), program map (`PMT`) and
// selection information (`SIT`) sections, their CRC, and their transport in TS packets.
//
// Each table has a reader (section bytes, table_id first, to record) and a writer (record to
// section bytes, SectionLength and CRC32 recomputed). Readers do not check the CRC: callers that
// care ask SectionCrcOk. Sections are gathered from packets by SectionAssembler, kept apart from
// the table parsers.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "formats/dump.h"
#include "formats/field_access.h"
#include "ts/esi.h"
#include "ts/ts_packet.h"

namespace tessel {

// Whether a whole section (table_id up to and including its CRC) checks out.
bool SectionCrcOk(std::span<const uint8_t> section);
// Total bytes of the section that starts at `bytes` (3 + SectionLength); 0 when under 3 bytes.
size_t SectionTotalSize(std::span<const uint8_t> bytes);

// table_id of the sections a Blu-ray transport stream carries.
namespace table_id {
inline constexpr uint8_t kPat = 0x00;
inline constexpr uint8_t kPmt = 0x02;
inline constexpr uint8_t kSit = 0x7F;
}  // namespace table_id

struct PI {
  uint16_t ProgramNumber = 0;
  uint16_t PID = 0;  // 13 bits: the network PID for program 0, else the program map PID
};

struct PAT {
  uint8_t TableId = table_id::kPat;
  bool SectionSyntaxIndicator = true;
  bool PrivateIndicator = false;
  uint16_t SectionLength = 0;
  uint16_t TransportStreamId = 0;
  uint8_t VersionNumber = 0;
  bool CurrentNextIndicator = true;
  uint8_t SectionNumber = 0;
  uint8_t LastSectionNumber = 0;
  std::vector<PI> Programs;
  uint32_t CRC32 = 0;
};

// The program association of a written stream: program 0 -> SIT, program 1 -> PMT.
PAT MakeMuxerPat();

struct CopyControlDescriptor {
  std::array<uint8_t, 2> CaSystemId = {0x0F, 0xFF};
  std::vector<uint8_t> PrivateData = {0xFF, 0xFC};
};

struct PMT {
  uint8_t TableId = table_id::kPmt;
  bool SectionSyntaxIndicator = true;
  bool PrivateIndicator = false;
  uint16_t SectionLength = 0;
  uint16_t ProgramNumber = 1;
  uint8_t VersionNumber = 0;
  bool CurrentNextIndicator = true;
  uint8_t SectionNumber = 0;
  uint8_t LastSectionNumber = 0;
  uint16_t PcrPid = 0x1001;
  uint16_t ProgramInfoLength = 0;
  std::optional<FourCc> Registration = kHdmvFormat;  // FormatIdentifier
  std::optional<CopyControlDescriptor> CopyControl = CopyControlDescriptor{};
  std::optional<std::vector<uint8_t>> PrivateProgramDescriptor;  // tag 0x89, its bytes
  std::vector<RawDescriptor> OtherDescriptors;                   // program descriptors not modelled
  std::vector<ESI> Streams;
  uint32_t CRC32 = 0;
};

// The selection information section of a Blu-ray transport stream.
struct PartialTransportStreamDescriptor {
  uint32_t PeakRate = 120000;                       // 22 bits, units of 400 bit/s
  uint32_t MinimumOverallSmoothingRate = 0x3FFFFF;  // 22 bits
  uint16_t MaximumOverallSmoothingBuffer = 0x3FFF;  // 14 bits
};

struct SIT {
  uint8_t TableId = table_id::kSit;
  bool SectionSyntaxIndicator = true;
  bool PrivateIndicator = true;  // reserved_future_use: 1
  uint16_t SectionLength = 0;
  uint8_t VersionNumber = 0;
  bool CurrentNextIndicator = true;
  uint8_t SectionNumber = 0;
  uint8_t LastSectionNumber = 0;
  uint16_t TransmissionInfoLength = 0;
  std::optional<PartialTransportStreamDescriptor> PartialTransportStream =
      PartialTransportStreamDescriptor{};
  std::vector<RawDescriptor> OtherTransmissionDescriptors;
  uint16_t ServiceID = 1;
  uint8_t RunningStatus = 0;  // 3 bits
  uint16_t ServiceLoopLength = 0;
  std::vector<uint8_t> ServiceDescriptors;
  std::vector<uint8_t> MoreServices;  // further service entries, kept as read
  uint32_t CRC32 = 0;
};

// Writers append one whole section and return its size, or 0 when it would not fit a section.
size_t WritePat(ByteWriter& out, PAT& pat);
size_t WritePmt(ByteWriter& out, PMT& pmt);
size_t WriteSit(ByteWriter& out, SIT& sit);
// Readers take the section bytes from table_id on. A section cut short is read as far as it
// goes, and the reader returns false; so does a wrong table_id.
bool ReadPat(std::span<const uint8_t> section, PAT& pat);
bool ReadPmt(std::span<const uint8_t> section, PMT& pmt);
bool ReadSit(std::span<const uint8_t> section, SIT& sit);

void DumpPat(const PAT& pat, std::string_view prefix, DumpArchive& archive);
void DumpPmt(const PMT& pmt, std::string_view prefix, DumpArchive& archive);
void DumpSit(const SIT& sit, std::string_view prefix, DumpArchive& archive);

// TS packets a section of n bytes needs: the first carries a pointer_field and 183 section bytes,
// each later one 184.
size_t SectionPacketCount(size_t n);
// Fills, in place, packet `index` of the 188-byte packets that carry a section on a PID: only the
// first has payload_unit_start_indicator and a pointer_field; the unused end of the last is 0xFF.
// False when the section needs fewer packets.
bool FillSectionPacket(std::span<uint8_t, kTransportPacketSize> out,
                       std::span<const uint8_t> section, size_t index, uint16_t pid,
                       uint8_t continuity_counter);
// The same as a 192-byte source packet, the TP_extra_header carrying the arrival time.
bool FillSectionPacket(std::span<uint8_t, kSourcePacketSize> out, Ticks27M arrival,
                       std::span<const uint8_t> section, size_t index, uint16_t pid,
                       uint8_t continuity_counter);
// Appends every packet of a section; the continuity counter advances by one per packet.
void WriteSectionPackets(std::span<const uint8_t> section, uint16_t pid,
                         uint8_t& continuity_counter, std::vector<uint8_t>& out);

// Gathers the sections of one PID from the payloads of its packets.
class SectionAssembler {
 public:
  using Handler = std::function<void(std::span<const uint8_t> section)>;

  // `payload` is what follows the TS header and adaptation field.
  void Feed(std::span<const uint8_t> payload, bool unit_start, const Handler& on_section);

 private:
  void Append(std::span<const uint8_t> bytes, const Handler& on_section);

  std::vector<uint8_t> buffer_;
  bool active_ = false;
};

// The payload of a 188-byte packet, after its header and adaptation field; empty when the packet
// has none or is malformed.
std::span<const uint8_t> PacketPayload(std::span<const uint8_t> packet);

// The first complete PMT section (PID 0x0100) of a stream file of source packets; none when the
// file holds none or cannot be read.
std::optional<PMT> ReadPmtFromFile(const std::filesystem::path& path);

}  // namespace tessel
