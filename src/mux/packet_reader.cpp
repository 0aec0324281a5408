#include "mux/packet_reader.h"

#include <algorithm>
#include <cstring>

#include "platform/common.h"
#include "platform/format.h"
#include "ts/ts_packet.h"

namespace tessel {
namespace {

constexpr size_t kPacket = kSourcePacketSize;
// Sync is trusted again only where it holds for this many packets in a row (fewer at the end).
constexpr size_t kSyncConfirmations = 3;
constexpr size_t kLookahead = kPacket * kSyncConfirmations;

}  // namespace

bool ViewPacket(const uint8_t* ts, SPacketView& view) {
  view.pid = static_cast<uint16_t>((ts[1] & 0x1F) << 8 | ts[2]);
  view.unit_start = ts[1] & 0x40;
  view.priority = ts[1] & 0x20;
  view.continuity_counter = ts[3] & 0x0F;
  view.discontinuity = false;
  const uint8_t control = (ts[3] >> 4) & 3;
  size_t header = 4;
  if (control & 2) {
    const size_t length = ts[4];
    header += 1 + length;
    if (header > kTransportPacketSize) return false;
    view.discontinuity = length > 0 && (ts[5] & 0x80);
  }
  view.payload = (control & 1) ? std::span(ts + header, kTransportPacketSize - header)
                               : std::span<const uint8_t>();
  return true;
}

bool ReadPesStart(std::span<const uint8_t> payload, SPesTimes& times, size_t& es_offset) {
  ByteReader in(payload);
  PesHeader pes;
  if (!ReadPesHeader(in, pes)) return false;
  times.pts.reset();
  times.dts.reset();
  if (pes.PTS) times.pts = pes.PTS->Value;
  if (pes.DTS) times.dts = pes.DTS->Value;
  es_offset = PesHasOptionalHeader(pes.StreamID) ? 9u + pes.PES_HeaderDataLength : 6u;
  return es_offset <= payload.size();
}

CPacketReader::CPacketReader(CByteSource& source, uint64_t begin, uint64_t end, size_t chunk_size,
                             std::vector<SStreamDamage>* damage)
    : source_(source),
      end_(std::min(end, source.Size())),
      next_read_(begin),
      chunk_size_(std::max(chunk_size, kLookahead)),
      buffer_(chunk_size_ + kLookahead),
      buffer_offset_(begin),
      begin_(begin),
      damage_(damage) {}

void CPacketReader::Damage(uint64_t offset, std::string what) {
  if (damage_) damage_->push_back({offset, -1, std::move(what)});
}

bool CPacketReader::Refill() {
  if (at_end_) return false;
  std::memmove(buffer_.data(), buffer_.data() + pos_, len_ - pos_);
  buffer_offset_ += pos_;
  len_ -= pos_;
  pos_ = 0;
  if (next_read_ >= end_) {
    at_end_ = true;
    return false;
  }
  if (hook_ && !hook_(next_read_ - begin_)) {
    cancelled_ = true;
    return false;
  }
  const size_t want =
      static_cast<size_t>(std::min<uint64_t>(buffer_.size() - len_, end_ - next_read_));
  const int64_t got = source_.ReadAt(next_read_, std::span(buffer_.data() + len_, want));
  if (got < 0) {
    Damage(next_read_, "read error");
    failed_ = true;
    return false;
  }
  if (got == 0) at_end_ = true;
  len_ += static_cast<size_t>(got);
  next_read_ += static_cast<uint64_t>(got);
  return true;
}

bool CPacketReader::Resync() {
  const uint64_t lost_at = buffer_offset_ + pos_;
  for (;;) {
    // Room to confirm the sync byte over several packets, or the end of the data.
    while (len_ - pos_ < kPacket + kLookahead && Refill()) {
    }
    if (cancelled_ || failed_) return false;
    for (size_t k = pos_ + 1; k + kPacket <= len_; ++k) {
      bool holds = true;
      for (size_t n = 0; n < kSyncConfirmations && k + n * kPacket + kPacket <= len_; ++n) {
        holds = holds && buffer_[k + n * kPacket + kTpExtraHeaderSize] == kSyncByte;
      }
      if (!holds) continue;
      const uint64_t found = buffer_offset_ + k;
      Damage(lost_at, Format("lost sync, %llu bytes skipped",
                             static_cast<unsigned long long>(found - lost_at)));
      pos_ = k;
      return true;
    }
    // Keep the tail that may still hold the start of a packet.
    if (at_end_ || len_ - pos_ < kPacket) {
      Damage(lost_at, Format("lost sync, %llu bytes skipped to the end",
                             static_cast<unsigned long long>(buffer_offset_ + len_ - lost_at)));
      pos_ = len_;
      return false;
    }
    pos_ = len_ - kPacket + 1;
    if (!Refill() && (cancelled_ || failed_)) return false;
  }
}

bool CPacketReader::Next(const uint8_t*& packet, uint64_t& offset) {
  for (;;) {
    if (len_ - pos_ < kPacket) {
      while (len_ - pos_ < kPacket && Refill()) {
      }
      if (cancelled_ || failed_) return false;
      if (len_ - pos_ < kPacket) {
        if (len_ > pos_) {
          Damage(buffer_offset_ + pos_,
                 Format("last packet cut, %zu of %u bytes", len_ - pos_, kSourcePacketSize));
        }
        pos_ = len_;
        return false;
      }
    }
    if (buffer_[pos_ + kTpExtraHeaderSize] != kSyncByte) {
      if (!Resync()) return false;
      continue;
    }
    packet = buffer_.data() + pos_;
    offset = buffer_offset_ + pos_;
    pos_ += kPacket;
    return true;
  }
}

}  // namespace tessel
