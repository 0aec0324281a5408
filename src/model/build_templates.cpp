#include "model/build_templates.h"

#include <array>
#include <span>

#include "formats/clpi.h"
#include "formats/mpls.h"
#include "platform/format.h"
#include "platform/ticks.h"
#include "ts/psi.h"
#include "ts/ts_packet.h"

namespace tessel {
namespace {

constexpr uint32_t kEmptyClipRate = 6000000;  // bytes per second: 48 Mbit/s
// One packet every 188 bytes at the rate, in 27 MHz ticks.
constexpr uint64_t kPacketInterval = uint64_t{188} * 27000000 / kEmptyClipRate;
// The tables and the clock come round every 32 packets (one aligned unit).
constexpr uint32_t kRound = 32;

std::vector<uint8_t> Section(const auto& write) {
  ByteWriter w;
  write(w);
  return w.Take();
}

void AppendPcrPacket(std::span<uint8_t, kSourcePacketSize> out, Ticks27M at, uint8_t cc) {
  TransportPacket packet;
  packet.PID = pid::kPcr;
  packet.PayloadUnitStartIndicator = false;
  packet.AdaptationFieldControl = 2;
  packet.ContinuityCounter = cc;
  packet.Adaptation = AdaptationField{};
  packet.Adaptation->Pcr = PCR::FromValue(at);
  packet.Adaptation->StuffingSize = 176;
  FillSourcePacket(out, at, packet, {});
}

void AppendNullPacket(std::span<uint8_t, kSourcePacketSize> out, Ticks27M at) {
  TransportPacket packet;
  packet.PID = pid::kNull;
  packet.PayloadUnitStartIndicator = false;
  FillSourcePacket(out, at, packet, {});
}

}  // namespace

std::vector<uint8_t> EmptyClipStream() {
  PAT pat = MakeMuxerPat();
  PMT pmt;
  SIT sit;
  const std::vector<uint8_t> pat_section = Section([&](ByteWriter& w) { WritePat(w, pat); });
  const std::vector<uint8_t> pmt_section = Section([&](ByteWriter& w) { WritePmt(w, pmt); });
  const std::vector<uint8_t> sit_section = Section([&](ByteWriter& w) { WriteSit(w, sit); });

  std::vector<uint8_t> stream(size_t{kEmptyClipPackets} * kSourcePacketSize, 0xFF);
  // The clock starts at the presentation start, as in every clip we write.
  const uint64_t start = uint64_t{kEmptyClipStart} * 600;
  uint8_t round = 0;
  for (uint32_t i = 0; i < kEmptyClipPackets; ++i) {
    const Ticks27M at(start + i * kPacketInterval);
    const auto out = std::span<uint8_t, kSourcePacketSize>(
        stream.data() + size_t{i} * kSourcePacketSize, kSourcePacketSize);
    const uint8_t cc = round & 0x0F;
    switch (i % kRound) {
      case 0:
        FillSectionPacket(out, at, pat_section, 0, pid::kPat, cc);
        break;
      case 1:
        FillSectionPacket(out, at, pmt_section, 0, pid::kPmt, cc);
        break;
      case 2:
        FillSectionPacket(out, at, sit_section, 0, pid::kSit, cc);
        break;
      case 3:
        AppendPcrPacket(out, at, cc);
        break;
      default:
        AppendNullPacket(out, at);
        break;
    }
    if (i % kRound == kRound - 1) ++round;
  }
  return stream;
}

std::vector<uint8_t> EmptyClipInfo() {
  Clpi clpi;
  clpi.clip_info.TsRecordingRate = kEmptyClipRate;
  clpi.clip_info.NumberOfSourcePackets = kEmptyClipPackets;
  clpi.sequence_info.StcInfos.push_back(
      StcInfo{pid::kPcr, 0, kEmptyClipStart, kEmptyClipStart + kEmptyClipLength});
  return clpi.Write().value_or(std::vector<uint8_t>{});
}

std::vector<uint8_t> EmptyPlaylist(int clip) {
  Mpls mpls;
  if (clip < 0) return mpls.Write();
  PLAY_ITEM item;
  const std::string name = Format("%05d", clip);
  std::copy_n(name.begin(), std::min<size_t>(name.size(), 5), item.ClipInformationFileName);
  item.InTime = kEmptyClipStart;
  item.OutTime = kEmptyClipStart + kEmptyClipLength;
  mpls.play_items.push_back(item);
  return mpls.Write();
}

}  // namespace tessel
