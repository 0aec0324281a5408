#include "model/atc_delta.h"

#include <algorithm>
#include <functional>
#include <set>
#include <span>
#include <vector>

#include "formats/clpi.h"
#include "platform/file_copy.h"
#include "platform/prompt.h"
#include "ts/ts_packet.h"

namespace tessel {
namespace {

constexpr uint64_t kPacketBytes = kSourcePacketSize;
constexpr uint64_t kFirstPtsBlock = 1024;  // source packets: 196608 bytes
constexpr uint64_t kLargeBlock = 32768;    // 6291456 bytes
constexpr uint64_t kRatePackets = 100;
constexpr size_t kPtsSamples = 4;
constexpr uint32_t kAtsMask = 0x3FFFFFFF;  // the 30-bit arrival time stamp wraps every 39.8 s
constexpr uint64_t kAtsHalfRange = uint64_t{1} << 29;
constexpr uint64_t kClock = 27000000;
constexpr uint64_t kPacketBits = 1504;  // one 188-byte transport packet
constexpr uint64_t kPcrBits = 81;  // start of a transport packet to the last bit of the PCR base
constexpr uint64_t kPacketBytesTs = 188;
constexpr uint16_t kVideoPid = 0x1011;

uint32_t Ats(const uint8_t* packet) {
  const uint32_t word = (uint32_t{packet[0]} << 24) | (uint32_t{packet[1]} << 16) |
                        (uint32_t{packet[2]} << 8) | packet[3];
  return word & kAtsMask;
}

uint16_t PidOf(const uint8_t* packet) {
  return static_cast<uint16_t>(((packet[5] & 0x1F) << 8) | packet[6]);
}

// Arrival ticks from `from` to `to`, across a wrap of the stamp.
uint64_t AtsStep(uint32_t from, uint32_t to) {
  return (to - from) & kAtsMask;
}

std::optional<TransportPacket> Parse(const uint8_t* packet) {
  TransportPacket parsed;
  const std::span<const uint8_t> bytes(packet + kTpExtraHeaderSize, kTransportPacketSize);
  if (ReadTransportPacket(bytes, parsed) == 0) return std::nullopt;
  return parsed;
}

std::optional<uint64_t> VideoPts(const uint8_t* packet) {
  if (PidOf(packet) != kVideoPid || !(packet[5] & 0x40)) return std::nullopt;
  const std::optional<TransportPacket> parsed = Parse(packet);
  if (!parsed || !parsed->Pes || !parsed->Pes->PTS) return std::nullopt;
  return parsed->Pes->PTS->Value * 300;
}

std::optional<uint64_t> PcrValue(const uint8_t* packet) {
  if (PidOf(packet) != pid::kPcr) return std::nullopt;
  const std::optional<TransportPacket> parsed = Parse(packet);
  if (!parsed || !parsed->Adaptation || !parsed->Adaptation->Pcr) return std::nullopt;
  return parsed->Adaptation->Pcr->Base * 300 + parsed->Adaptation->Pcr->Extension;
}

// Visits packets until the visitor answers false; false when a read fails.
using PacketVisitor = std::function<bool(const uint8_t* packet, uint64_t index)>;

// Reads the stream through one buffer of `block` packets, counting packets from the file start.
class CPacketScan {
 public:
  explicit CPacketScan(CByteSource& stream)
      : stream_(stream), count_(stream.Size() / kPacketBytes) {}

  uint64_t count() const { return count_; }

  bool Forward(uint64_t block, const PacketVisitor& visit) {
    for (uint64_t first = 0; first < count_; first += block) {
      const uint64_t n = std::min(block, count_ - first);
      if (!Load(first, n)) return false;
      for (uint64_t i = 0; i < n; ++i) {
        if (!visit(buffer_.data() + i * kPacketBytes, first + i)) return true;
      }
    }
    return true;
  }

  bool Backward(uint64_t block, const PacketVisitor& visit) {
    for (uint64_t end = count_; end > 0;) {
      const uint64_t n = std::min(block, end);
      const uint64_t first = end - n;
      if (!Load(first, n)) return false;
      for (uint64_t i = n; i-- > 0;) {
        if (!visit(buffer_.data() + i * kPacketBytes, first + i)) return true;
      }
      end = first;
    }
    return true;
  }

  // Arrival time stamp of one packet; nothing when it cannot be read.
  std::optional<uint32_t> AtsAt(uint64_t index) {
    uint8_t header[4];
    if (stream_.ReadAt(index * kPacketBytes, header) != 4) return std::nullopt;
    return Ats(header);
  }

 private:
  bool Load(uint64_t first, uint64_t n) {
    buffer_.resize(n * kPacketBytes);
    return stream_.ReadAt(first * kPacketBytes, buffer_) == static_cast<int64_t>(buffer_.size());
  }

  CByteSource& stream_;
  uint64_t count_;
  std::vector<uint8_t> buffer_;
};

// The PTS values of the first four video PES packets met in the direction of the scan.
std::optional<std::vector<uint64_t>> VideoPtsSamples(CPacketScan& scan, bool forward) {
  std::vector<uint64_t> samples;
  const PacketVisitor collect = [&samples](const uint8_t* packet, uint64_t) {
    if (const std::optional<uint64_t> pts = VideoPts(packet)) samples.push_back(*pts);
    return samples.size() < kPtsSamples;
  };
  const bool read =
      forward ? scan.Forward(kFirstPtsBlock, collect) : scan.Backward(kLargeBlock, collect);
  if (!read || samples.empty()) return std::nullopt;
  return samples;
}

struct SPcrPacket {
  uint64_t pcr = 0;
  uint32_t ats = 0;
};

std::optional<SPcrPacket> FindPcr(CPacketScan& scan, bool forward) {
  std::optional<SPcrPacket> found;
  const PacketVisitor find = [&found](const uint8_t* packet, uint64_t) {
    if (const std::optional<uint64_t> pcr = PcrValue(packet)) found = SPcrPacket{*pcr, Ats(packet)};
    return !found;
  };
  if (!(forward ? scan.Forward(kLargeBlock, find) : scan.Backward(kLargeBlock, find))) {
    return std::nullopt;
  }
  return found;
}

// The arrival step at the start of the stream in bits per second: one packet over the first
// step to a later stamp. A first stamp of 0 is taken from the next packet.
std::optional<uint64_t> MeasureRate(CPacketScan& scan) {
  const uint64_t n = std::min(kRatePackets, scan.count());
  uint64_t first = 0;
  std::optional<uint32_t> base = scan.AtsAt(0);
  if (base && *base == 0 && n > 1) base = scan.AtsAt(first = 1);
  if (!base) return std::nullopt;
  for (uint64_t i = first + 1; i < n; ++i) {
    const std::optional<uint32_t> ats = scan.AtsAt(i);
    if (!ats) return std::nullopt;
    const uint64_t d = AtsStep(*base, *ats);
    if (d != 0 && d < kAtsHalfRange) return kPacketBits * kClock / d;
  }
  return std::nullopt;
}

std::optional<SStreamTiming> Measure(CPacketScan& scan) {
  if (scan.count() == 0) return std::nullopt;
  SStreamTiming timing;
  const std::optional<uint64_t> rate = MeasureRate(scan);
  if (!rate || *rate == 0) return std::nullopt;
  timing.rate = *rate;
  const auto first_pts = VideoPtsSamples(scan, true);
  const auto last_pts = VideoPtsSamples(scan, false);
  if (!first_pts || !last_pts) return std::nullopt;
  timing.first_video_pts = *std::min_element(first_pts->begin(), first_pts->end());
  timing.last_video_pts = *std::max_element(last_pts->begin(), last_pts->end());

  const std::optional<SPcrPacket> first_pcr = FindPcr(scan, true);
  const std::optional<SPcrPacket> last_pcr = FindPcr(scan, false);
  const std::optional<uint32_t> first_ats = scan.AtsAt(0);
  const std::optional<uint32_t> last_ats = scan.AtsAt(scan.count() - 1);
  if (!first_pcr || !last_pcr || !first_ats || !last_ats) return std::nullopt;
  const uint64_t pcr_offset = kPcrBits * kClock / timing.rate;
  const uint64_t packet_time = kPacketBits * kClock / timing.rate;
  const uint64_t lead = AtsStep(*first_ats, first_pcr->ats) + pcr_offset;
  if (first_pcr->pcr < lead) return std::nullopt;
  timing.first_packet_time = first_pcr->pcr - lead;
  timing.end_packet_time =
      last_pcr->pcr + AtsStep(last_pcr->ats, *last_ats) + packet_time - pcr_offset;
  return timing;
}

bool KeepsAnyTrack(const CClpiObject& clip) {
  return clip.new_tracks.size() > 0 ||
         std::any_of(clip.original_tracks.begin(), clip.original_tracks.end(),
                     [](const auto& track) { return track->keep != 0; });
}

class CAtcUpdate {
 public:
  CAtcUpdate(CCofObject& clips, const std::string& output_bdmv, const ProgressCallback& progress)
      : clips_(clips), output_(output_bdmv), progress_(progress) {}

  JobResult Run() {
    const int count = clips_.GetCount();
    for (int c = 0; c < count; ++c) {
      CClpiObject* clip = clips_.GetAt(c);
      if (!clip || !KeepsAnyTrack(*clip)) continue;
      std::vector<ATC_DELTA_ENTRY> entries = clip->clip_info.AtcDeltaEntries;
      bool qualified = false;
      for (ATC_DELTA_ENTRY& entry : entries) {
        CClpiObject* follower = Follower(entry);
        if (!follower || !KeepsAnyTrack(*follower)) continue;
        if (!clip->IsModified() && !follower->IsModified()) continue;
        qualified = true;
        if (!ReportPosition(progress_,
                            PercentOf(static_cast<uint64_t>(c), static_cast<uint64_t>(count)))) {
          return JobResult::kCancelled;
        }
        if (Complete(*clip) && Complete(*follower)) {
          entry.AtcDelta = AtcDelta(clip->output_timing, follower->output_timing);
        }
      }
      if (qualified && !Patch(*clip, entries)) return JobResult::kFailed;
    }
    return JobResult::kDone;
  }

 private:
  CClpiObject* Follower(const ATC_DELTA_ENTRY& entry) const {
    const std::string name(std::begin(entry.FollowingClipId), std::end(entry.FollowingClipId));
    const int number = FileNumberFromName(name);
    return number < 0 ? nullptr : clips_.FindClip(number);
  }

  std::string OutputPath(const char* folder, const CClpiObject& clip, const char* ext) const {
    return output_ + folder + NumberedFileName(clip.id(), ext);
  }

  // Completes the clip's output timing from a stream file: a rebuilt clip's written stream fills
  // only what the multiplexer left open; a copied clip's source stream adds the four measured
  // values to its source timing.
  bool Complete(CClpiObject& clip) {
    if (IsTimingComplete(clip.output_timing)) return true;
    if (failed_.contains(&clip)) return false;
    const std::string path = clip.built ? OutputPath("STREAM/", clip, "m2ts") : clip.stream_path;
    CFileSource source(path);
    std::optional<SStreamTiming> measured;
    if (source.ok()) measured = MeasureStreamTiming(source);
    if (!measured) {
      failed_.insert(&clip);
      return false;
    }
    SClipTiming& timing = clip.output_timing;
    if (!clip.built) timing = clip.source_timing;
    auto fill = [&clip](uint64_t& field, uint64_t value) {
      if (!clip.built || field == 0) field = value;
    };
    fill(timing.first_video_pts, measured->first_video_pts);
    fill(timing.last_video_pts, measured->last_video_pts);
    fill(timing.first_packet_time, measured->first_packet_time);
    fill(timing.end_packet_time, measured->end_packet_time);
    return IsTimingComplete(timing);
  }

  bool Patch(const CClpiObject& clip, const std::vector<ATC_DELTA_ENTRY>& entries) const {
    const std::string path = OutputPath("CLIPINF/", clip, "clpi");
    std::string error;
    if (!SetFollowingClips(path, entries, &error) ||
        CopyFile(path, OutputPath("BACKUP/CLIPINF/", clip, "clpi"), nullptr, &error) !=
            JobResult::kDone) {
      ShowMessage(error);
      return false;
    }
    return true;
  }

  CCofObject& clips_;
  const std::string& output_;
  const ProgressCallback& progress_;
  std::set<const CClpiObject*> failed_;  // measured once without a result
};

}  // namespace

bool IsTimingComplete(const SClipTiming& timing) {
  return timing.first_video_pts != 0 && timing.last_video_pts != 0 &&
         timing.first_packet_time != 0 && timing.end_packet_time != 0;
}

std::optional<SStreamTiming> MeasureStreamTiming(CByteSource& stream) {
  CPacketScan scan(stream);
  return Measure(scan);
}

uint32_t AtcDelta(const SClipTiming& c, const SClipTiming& n) {
  if (c.rate == 0 || c.frame_duration == 0) return 0;
  auto s = [](uint64_t v) { return static_cast<int64_t>(v); };
  int64_t v = s(c.frame_duration) + s(c.last_video_pts) - s(n.first_video_pts) +
              s(n.first_packet_time) - s(c.end_packet_time);
  if (s(c.end_margin[0]) >= v) v = s(c.end_margin[0]);
  if (v < 0) return 0;
  const uint64_t one_packet = kPacketBytesTs * kClock / c.rate;
  return static_cast<uint32_t>(static_cast<uint64_t>(v) + one_packet);
}

JobResult UpdateAtcDeltas(CBDDisc& disc, const std::string& output_bdmv,
                          const ProgressCallback& progress) {
  if (!disc.clips()) return JobResult::kDone;
  return CAtcUpdate(*disc.clips(), output_bdmv, progress).Run();
}

}  // namespace tessel
