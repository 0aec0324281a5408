// Walks the 192-byte source packets of a byte range in fixed-size chunks. A packet whose sync
// byte is missing starts a search for the next place where the sync byte recurs at 192-byte
// steps; what was skipped, and a cut last packet, are reported as damage with their offsets.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "mux/byte_io.h"

namespace tessel {

// Damage found in a stream file. `pid` is -1 where no packet could be named.
struct SStreamDamage {
  uint64_t offset = 0;
  int pid = -1;
  std::string what;
};

// The fields of a 188-byte transport packet the demultiplexer needs, read without copying.
struct SPacketView {
  uint16_t pid = 0;
  bool unit_start = false;
  bool priority = false;  // transport_priority
  bool discontinuity = false;
  uint8_t continuity_counter = 0;
  std::span<const uint8_t> payload;  // after the header and the adaptation field
};
// False when the adaptation field runs past the packet.
bool ViewPacket(const uint8_t* transport_packet, SPacketView& view);

// The times of a PES packet: 33-bit values at 90 kHz, the DTS only when present.
struct SPesTimes {
  std::optional<uint64_t> pts;
  std::optional<uint64_t> dts;
};

// The PES header at the start of a unit's payload: its times and where the elementary bytes
// begin. False when the header is not whole or not consistent.
bool ReadPesStart(std::span<const uint8_t> payload, SPesTimes& times, size_t& es_offset);

class CPacketReader {
 public:
  // Called before each chunk with the bytes consumed so far; false cancels.
  using ChunkHook = std::function<bool(uint64_t done)>;

  // Reads [begin, end) of the source (end is clipped to its size).
  CPacketReader(CByteSource& source, uint64_t begin, uint64_t end, size_t chunk_size,
                std::vector<SStreamDamage>* damage);

  // The next whole source packet, valid until the next call, and its file offset. False at the
  // end of the range, on a read error (damage names it) or when the hook cancelled.
  bool Next(const uint8_t*& packet, uint64_t& offset);

  void set_chunk_hook(ChunkHook hook) { hook_ = std::move(hook); }
  bool cancelled() const { return cancelled_; }
  bool failed() const { return failed_; }

 private:
  bool Refill();
  bool Resync();
  void Damage(uint64_t offset, std::string what);

  CByteSource& source_;
  uint64_t end_;
  uint64_t next_read_;  // file offset of the next byte to read
  size_t chunk_size_;
  std::vector<uint8_t> buffer_;
  size_t pos_ = 0;
  size_t len_ = 0;
  uint64_t buffer_offset_ = 0;  // file offset of buffer_[0]
  uint64_t begin_;
  bool at_end_ = false;
  bool cancelled_ = false;
  bool failed_ = false;
  std::vector<SStreamDamage>* damage_;
  ChunkHook hook_;
};

}  // namespace tessel
