#include "support/ts_conformance.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <deque>
#include <fstream>

namespace tessel::test {
namespace {

constexpr int kPacket = 192;
constexpr int kAlignedUnit = 6144;
constexpr int64_t kClock = 27000000;
constexpr int64_t kAtsModulo = int64_t{1} << 30;
constexpr size_t kDetailsPerFault = 16;
constexpr uint16_t kPatPid = 0x0000;
constexpr uint16_t kSitPid = 0x001F;
constexpr uint16_t kNullPid = 0x1FFF;
constexpr int kTransportBufferSize = 512;

std::string Format(const char* format, auto... args) {
  char text[256];
  std::snprintf(text, sizeof text, format, args...);
  return text;
}

double Ms(double ticks) {
  return ticks / 27000.0;
}

uint32_t Be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// ---------------------------------------------------------------------------------------------
// The parts of one source packet the checks look at.

struct Packet {
  uint32_t ats = 0;
  bool sync = false;
  bool unit_start = false;
  uint16_t pid = 0;
  uint8_t continuity = 0;
  bool has_payload = false;
  bool discontinuity = false;
  std::optional<int64_t> pcr;  // 27 MHz
  std::span<const uint8_t> payload;
};

Packet ParsePacket(const uint8_t* p) {
  Packet packet;
  packet.ats = Be32(p) & 0x3FFFFFFF;
  const uint8_t* ts = p + 4;
  packet.sync = ts[0] == 0x47;
  if (!packet.sync) return packet;
  packet.unit_start = (ts[1] & 0x40) != 0;
  packet.pid = static_cast<uint16_t>((ts[1] & 0x1F) << 8 | ts[2]);
  const int control = (ts[3] >> 4) & 3;
  packet.continuity = ts[3] & 0x0F;
  packet.has_payload = (control & 1) != 0;
  int start = 4;
  if (control & 2) {
    const int length = ts[4];
    start = 5 + length;
    if (start > 188) return packet;  // a damaged length: no payload to trust
    if (length > 0) {
      packet.discontinuity = (ts[5] & 0x80) != 0;
      if ((ts[5] & 0x10) && length >= 7) {
        const uint8_t* c = ts + 6;
        const int64_t base = int64_t{c[0]} << 25 | int64_t{c[1]} << 17 | int64_t{c[2]} << 9 |
                             int64_t{c[3]} << 1 | c[4] >> 7;
        const int64_t extension = (c[4] & 1) << 8 | c[5];
        packet.pcr = base * 300 + extension;
      }
    }
  }
  if (packet.has_payload) packet.payload = std::span<const uint8_t>(ts + start, 188 - start);
  return packet;
}

// A PES header at the start of a payload: its length and its decoding time (the DTS, else the
// PTS, 90 kHz), when it has one.
struct PesHeader {
  size_t length = 0;
  std::optional<int64_t> dts;
};

int64_t Timestamp(const uint8_t* p) {
  return int64_t{(p[0] >> 1) & 7} << 30 | int64_t{p[1]} << 22 | int64_t{p[2] >> 1} << 15 |
         int64_t{p[3]} << 7 | p[4] >> 1;
}

std::optional<PesHeader> ParsePes(std::span<const uint8_t> b) {
  if (b.size() < 9 || b[0] != 0 || b[1] != 0 || b[2] != 1) return std::nullopt;
  PesHeader pes;
  pes.length = 9 + b[8];
  if (pes.length > b.size()) return std::nullopt;
  const int flags = b[7] >> 6;
  if (flags == 2 && b.size() >= 14) pes.dts = Timestamp(&b[9]);
  if (flags == 3 && b.size() >= 19) pes.dts = Timestamp(&b[14]);
  return pes;
}

// ---------------------------------------------------------------------------------------------
// Sections, gathered across packets.

class SectionReader {
 public:
  // The bytes of a section completed by this packet, or an empty span.
  std::span<const uint8_t> Add(const Packet& packet) {
    std::span<const uint8_t> b = packet.payload;
    if (packet.unit_start) {
      if (b.empty() || size_t{b[0]} + 1 > b.size()) return {};
      b = b.subspan(1 + b[0]);
      bytes_.assign(b.begin(), b.end());
      gathering_ = true;
    } else if (gathering_) {
      bytes_.insert(bytes_.end(), b.begin(), b.end());
    } else {
      return {};
    }
    if (bytes_.size() < 3) return {};
    const size_t total = 3 + ((bytes_[1] & 0x0F) << 8 | bytes_[2]);
    if (bytes_.size() < total) {
      if (bytes_.size() > 4096) gathering_ = false;
      return {};
    }
    gathering_ = false;
    return std::span<const uint8_t>(bytes_.data(), total);
  }

 private:
  std::vector<uint8_t> bytes_;
  bool gathering_ = false;
};

// ---------------------------------------------------------------------------------------------
// The buffer model: for each (sub-)stream a transport buffer, for video a multiplex buffer, and an
// elementary buffer from which whole units leave at their decoding times. Bytes move on as a
// leaky bucket drains, first in, first out; a packet's payload reaches the next stage when its
// last byte leaves the one before.

struct ModelParams {
  const char* name;
  int64_t tb_rate;  // bit/s; 0: no transport buffer
  int64_t mb_rate;  // bit/s; 0: no multiplex buffer
  int64_t mb_size;
  int64_t eb_size;
};

// Audio and graphics sizes and rates.
constexpr ModelParams kAc3{"ac3", 2000000, 0, 0, 18640};
constexpr ModelParams kDdp{"eac3", 48000000, 0, 0, 137936};
constexpr ModelParams kDdpSecondary{"eac3 secondary", 2000000, 0, 0, 7456};
constexpr ModelParams kDts{"dts", 5000000, 0, 0, 43972};
constexpr ModelParams kDtsHd{"dts-hd", 48000000, 0, 0, 713563};
constexpr ModelParams kDtsHdSecondary{"dts-hd secondary", 2000000, 0, 0, 7456};
constexpr ModelParams kLpcm{"lpcm", 20000000, 0, 0, 536832};
constexpr ModelParams kLpcm192{"lpcm 192k", 30000000, 0, 0, 1073664};
constexpr ModelParams kMlp{"truehd", 48000000, 0, 0, 404250};
constexpr ModelParams kGraphics{"graphics", 0, 0, 0, 1048576};

struct VideoLevel {
  int level;
  bool primary_only;  // a row that holds for primary streams alone
  ModelParams params;
};

constexpr std::array kAvcLevels{
    VideoLevel{30, false, {"avc 30", 14400000, 12000000, 40000, 1500000}},
    VideoLevel{31, false, {"avc 31", 20160000, 16800000, 40000, 2100000}},
    VideoLevel{32, true, {"avc 32", 28800000, 24000000, 40000, 3000000}},
    VideoLevel{32, false, {"avc 32 secondary", 9600000, 8000000, 40000, 1500000}},
    VideoLevel{40, false, {"avc 40", 28800000, 24000000, 40000, 3750000}},
    VideoLevel{41, false, {"avc 41", 48000000, 40000000, 40000, 3750000}},
};
constexpr ModelParams kAvcOther{"avc other level", 18000000, 15000000, 40000, 1500000};

constexpr std::array kMpeg2Levels{
    VideoLevel{0x44, false, {"mpeg2 0x44", 48000000, 42000000, 53333, 1222656}},
    VideoLevel{0x46, false, {"mpeg2 0x46", 48000000, 42000000, 40000, 917504}},
    VideoLevel{0x48, false, {"mpeg2 0x48", 18000000, 15000000, 10000, 229376}},
};

constexpr std::array kVc1Levels{
    VideoLevel{2, true, {"vc1 2", 24000000, 20000000, 26666, 3750000}},
    VideoLevel{2, false, {"vc1 2 secondary", 24000000, 20000000, 26666, 1500000}},
    VideoLevel{3, false, {"vc1 3", 48000000, 40000000, 26666, 3750000}},
};
constexpr ModelParams kVc1Default{"vc1", 48000000, 40000000, 26666, 3750000};

template <size_t N>
std::optional<ModelParams> FindLevel(const std::array<VideoLevel, N>& table, int level,
                                     bool primary) {
  for (const VideoLevel& row : table) {
    if (row.level == level && (!row.primary_only || primary)) return row.params;
  }
  return std::nullopt;
}

bool IsVideo(uint8_t type) {
  return type == 0x02 || type == 0x1B || type == 0x20 || type == 0xEA;
}

struct Unit {
  int64_t decode_stc;  // 27 MHz, the stream's own time base
  double bytes = 0;
  double last_in = 0;  // arrival clock
  uint64_t first_packet;
  bool complete = false;
};

class Leak {
 public:
  // Takes `bytes` at `time` (after draining since the last call) and returns the time the last
  // of them leaves.
  double Add(double time, double bytes, double rate) {
    level_ = std::max(0.0, level_ - rate * std::max(0.0, time - time_));
    time_ = time;
    level_ += bytes;
    return time + level_ / rate;
  }
  double level() const { return level_; }

 private:
  double level_ = 0;
  double time_ = 0;
};

struct Finder {
  virtual ~Finder() = default;
  virtual void Fault(TsFault fault, uint64_t packet, uint16_t pid, std::string text) = 0;
  virtual std::optional<int64_t> StcOffset() const = 0;
};

// Where a packet or a unit is, for the findings.
struct Where {
  uint64_t packet;
  Finder& finder;
  TsStream& stream;
  const TsCheckOptions& options;
};

class BufferModel {
 public:
  explicit BufferModel(ModelParams params) : params_(params) {}

  void SetParams(ModelParams params) { params_ = params; }
  const ModelParams& params() const { return params_; }

  void StartUnit(int64_t decode_stc, uint64_t packet) {
    units_.push_back({decode_stc, 0, 0, packet});
  }

  // One packet of the stream: 188 bytes arriving over [start, end], `payload` of them moving on
  // from the transport buffer, `es_bytes` of those into the elementary buffer.
  void Packet(double start, double end, int payload, int es_bytes, const Where& where) {
    double t = end;
    if (params_.tb_rate > 0) {
      const double rate = static_cast<double>(params_.tb_rate) / 8 / kClock;
      // It drains while the packet comes in, and never below empty.
      const double before = std::max(0.0, tb_level_ - rate * std::max(0.0, start - tb_time_));
      tb_level_ = std::max(0.0, before + 188 - rate * (end - start));
      tb_time_ = end;
      Peak(&TsStream::peak_tb, tb_level_, kTransportBufferSize, "transport", where);
      t = end + tb_level_ / rate;
    }
    if (params_.mb_rate > 0) {
      const double rate = static_cast<double>(params_.mb_rate) / 8 / kClock;
      t = mb_.Add(t, payload, rate);
      Peak(&TsStream::peak_mb, mb_.level(), static_cast<double>(params_.mb_size), "multiplex",
           where);
    }
    if (units_.empty()) return;
    RemoveDecoded(t, where.finder);
    eb_ += es_bytes;
    units_.back().bytes += es_bytes;
    units_.back().last_in = t;
    Peak(&TsStream::peak_eb, eb_, static_cast<double>(params_.eb_size), "elementary", where);
  }

  // The newest unit has its last byte; it must be there by its decoding time.
  void CompleteUnit(const Where& where) {
    if (units_.empty() || units_.back().complete) return;
    Unit& unit = units_.back();
    unit.complete = true;
    const std::optional<int64_t> offset = where.finder.StcOffset();
    if (!offset || unit.bytes == 0) return;
    const double slack = static_cast<double>(unit.decode_stc - *offset) - unit.last_in;
    TsStream& stream = where.stream;
    stream.least_slack = std::min(stream.least_slack, static_cast<int64_t>(std::floor(slack)));
    if (slack < -static_cast<double>(where.options.late_tolerance)) {
      ++stream.late_units;
      where.finder.Fault(TsFault::kUnitLate, unit.first_packet, stream.pid,
                         Format("unit from packet %llu complete %.3f ms after its DTS",
                                static_cast<unsigned long long>(unit.first_packet), Ms(-slack)));
    }
  }

 private:
  void RemoveDecoded(double t, const Finder& finder) {
    const std::optional<int64_t> offset = finder.StcOffset();
    if (!offset) return;
    while (!units_.empty() && units_.front().complete &&
           static_cast<double>(units_.front().decode_stc - *offset) <= t) {
      eb_ -= units_.front().bytes;
      units_.pop_front();
    }
  }

  void Peak(int64_t TsStream::*peak, double level, double size, const char* stage,
            const Where& where) {
    int64_t& highest = where.stream.*peak;
    highest = std::max(highest, static_cast<int64_t>(std::ceil(level - 1e-6)));
    if (level <= size + 1e-6) return;
    ++where.stream.overflows;
    if (!where.options.check_overflow) return;
    where.finder.Fault(
        TsFault::kBufferOverflow, where.packet, where.stream.pid,
        Format("%s buffer (%s) holds %.0f bytes of %.0f", stage, params_.name, level, size));
  }

  ModelParams params_;
  double tb_level_ = 0;
  double tb_time_ = 0;
  Leak mb_;
  double eb_ = 0;
  std::deque<Unit> units_;
};

// Which buffer a unit of a two-part stream goes to, from its first bytes: the core (AC-3 with
// bsid up to 10, a DTS core) or the extension.
bool IsCoreUnit(uint8_t type, std::span<const uint8_t> es) {
  if (es.size() < 6) return true;
  if (type == 0x85 || type == 0x86) return Be32(es.data()) == 0x7FFE8001;
  return es[0] == 0x0B && es[1] == 0x77 && (es[5] >> 3) <= 10;
}

// The models of one PID: the core first, an extension model second.
std::vector<BufferModel> ModelsFor(uint8_t type) {
  switch (type) {
    case 0x80:
      return {BufferModel(kLpcm)};
    case 0x81:
      return {BufferModel(kAc3)};
    case 0x82:
      return {BufferModel(kDts)};
    case 0x83:
      return {BufferModel(kAc3), BufferModel(kMlp)};
    case 0x84:
      return {BufferModel(kAc3), BufferModel(kDdp)};
    case 0x85:
    case 0x86:
      return {BufferModel(kDts), BufferModel(kDtsHd)};
    case 0xA1:
      return {BufferModel(kDdpSecondary)};
    case 0xA2:
      return {BufferModel(kDtsHdSecondary)};
    case 0x90:
    case 0x91:
      return {BufferModel(kGraphics)};
    case 0x02:
      return {BufferModel(kMpeg2Levels[0].params)};
    case 0x1B:
    case 0x20:
      return {BufferModel(kAvcLevels[5].params)};
    case 0xEA:
      return {BufferModel(kVc1Default)};
    default:
      return {};
  }
}

// The level a video stream states in its first sequence header, if the payload holds one.
std::optional<int> VideoLevelIn(uint8_t type, std::span<const uint8_t> b) {
  for (size_t i = 0; i + 6 < b.size(); ++i) {
    if (b[i] != 0 || b[i + 1] != 0 || b[i + 2] != 1) continue;
    const uint8_t code = b[i + 3];
    if ((type == 0x1B || type == 0x20) && (code & 0x1F) == 7) return b[i + 6];
    if (type == 0x02 && code == 0xB5 && (b[i + 4] >> 4) == 1) {
      return ((b[i + 4] & 0x0F) << 4 | b[i + 5] >> 4) & 0x7F;
    }
    if (type == 0xEA && code == 0x0F && (b[i + 4] >> 6) == 3) return (b[i + 4] >> 3) & 7;
  }
  return std::nullopt;
}

std::optional<ModelParams> VideoParams(uint8_t type, int level, bool primary) {
  if (type == 0x02) return FindLevel(kMpeg2Levels, level, primary);
  if (type == 0xEA) return FindLevel(kVc1Levels, level, primary);
  const std::optional<ModelParams> avc = FindLevel(kAvcLevels, level, primary);
  return avc ? avc : kAvcOther;
}

// ---------------------------------------------------------------------------------------------

struct PidState {
  size_t stream = 0;  // index into the report's streams
  uint8_t type = 0;
  std::vector<BufferModel> models;
  int current = -1;   // the model receiving the current PES; -1 before the first PES start
  unsigned used = 0;  // a bit per model that has received a unit
  bool level_known = false;
  int probe_packets = 0;
};

struct Continuity {
  int last = -1;
  bool repeated = false;
};

class Checker : public Finder {
 public:
  explicit Checker(const TsCheckOptions& options) : options_(options) {
    if (options_.recording_rate == 0) options_.recording_rate = TsCheckOptions().recording_rate;
    report_.recording_rate = options_.recording_rate;
    packet_time_ = 1504.0 * kClock / options_.recording_rate;
    report_.interval = static_cast<int64_t>(packet_time_);
    min_step_ = options.min_arrival_step > 0 ? options.min_arrival_step : report_.interval;
  }

  void Feed(const uint8_t* p) {
    const uint64_t index = report_.packets++;
    const Packet packet = ParsePacket(p);
    Arrival(packet, index);
    if (!packet.sync) {
      Fault(TsFault::kSync, index, 0, Format("sync byte 0x%02X", p[4]));
      return;
    }
    if (packet.pid == kNullPid) return;
    CheckContinuity(packet, index);
    if (packet.pcr && packet.pid == PcrPid()) Pcr(*packet.pcr, index);
    if (packet.pid == kPatPid) {
      Pat(packet, index);
    } else if (packet.pid == kSitPid) {
      Sit(packet, index);
    } else if (pmt_pid_ && packet.pid == *pmt_pid_) {
      Pmt(packet, index);
    } else if (IsElementary(packet.pid)) {
      Elementary(packet, index);
    }
  }

  TsReport Finish(uint64_t file_size) {
    report_.file_size = file_size;
    if (file_size % kAlignedUnit != 0) {
      Fault(TsFault::kSize, file_size / kPacket, 0,
            Format("size %llu is no multiple of 6144 (%llu bytes over)",
                   static_cast<unsigned long long>(file_size),
                   static_cast<unsigned long long>(file_size % kAlignedUnit)));
    }
    for (auto& [pid, state] : pids_) {
      if (state.current < 0) continue;
      const Where where{report_.packets, *this, report_.streams[state.stream], options_};
      state.models[state.current].CompleteUnit(where);
    }
    if (report_.pat_count == 0) Fault(TsFault::kPatGap, 0, kPatPid, "no PAT");
    if (report_.pmt_count == 0) Fault(TsFault::kPmtGap, 0, report_.pmt_pid, "no PMT");
    if (report_.pcr_count == 0) Fault(TsFault::kPcrGap, 0, report_.pcr_pid, "no PCR");
    if (options_.max_rounds_per_sit > 0 && report_.sit_count == 0) {
      Fault(TsFault::kSitGap, 0, kSitPid, "no SIT");
    }
    return std::move(report_);
  }

  void Fault(TsFault fault, uint64_t packet, uint16_t pid, std::string text) override {
    if (report_.counts[fault]++ < kDetailsPerFault) {
      report_.findings.push_back({fault, packet, pid, std::move(text)});
    }
  }

  std::optional<int64_t> StcOffset() const override { return stc_offset_; }

 private:
  uint16_t PcrPid() const { return report_.pcr_pid; }

  void Arrival(const Packet& packet, uint64_t index) {
    if (index == 0) {
      atc_ = packet.ats;
    } else {
      int64_t step = (int64_t{packet.ats} - (atc_ % kAtsModulo) + kAtsModulo) % kAtsModulo;
      if (step >= kAtsModulo / 2) step -= kAtsModulo;
      if (step < min_step_) {
        Fault(TsFault::kArrivalOrder, index, packet.pid,
              Format("arrival time %+lld ticks after the previous packet (interval %lld)",
                     static_cast<long long>(step), static_cast<long long>(report_.interval)));
      }
      atc_ += step;
    }
    // The channel carries one packet at a time, however the stamps were squeezed.
    arrival_start_ = std::max(static_cast<double>(atc_), channel_free_);
    channel_free_ = arrival_start_ + packet_time_;
  }

  void CheckContinuity(const Packet& packet, uint64_t index) {
    if (!packet.has_payload) return;
    Continuity& c = continuity_[packet.pid];
    const int cc = packet.continuity;
    if (c.last >= 0 && !packet.discontinuity && cc != ((c.last + 1) & 15)) {
      if (cc == c.last && !c.repeated) {
        c.repeated = true;  // one duplicate packet is allowed
        return;
      }
      Fault(TsFault::kContinuity, index, packet.pid,
            Format("continuity counter %d after %d", cc, c.last));
    }
    c.last = cc;
    c.repeated = false;
  }

  void Pcr(int64_t value, uint64_t index) {
    if (report_.pcr_count++ == 0) {
      stc_offset_ = value - atc_;
    } else {
      // Arrival stamps and PCRs count the same 27 MHz clock: their distance stays put.
      const int64_t drift = value - atc_ - *stc_offset_;
      report_.largest_pcr_drift = std::max(report_.largest_pcr_drift, std::abs(drift));
      if (std::abs(drift) > options_.max_pcr_drift) {
        Fault(TsFault::kPcrDrift, index, PcrPid(),
              Format("PCR %+lld ticks off the arrival clock", static_cast<long long>(drift)));
      }
      const int64_t gap = value - last_pcr_;
      report_.largest_pcr_gap = std::max(report_.largest_pcr_gap, gap);
      if (gap < 0 || gap > options_.max_pcr_gap) {
        Fault(TsFault::kPcrGap, index, PcrPid(),
              Format("PCR %.3f ms after the previous one", Ms(gap)));
      }
    }
    last_pcr_ = value;
  }

  // The distance of a PAT or a PMT from the one before.
  void Period(TsFault fault, uint64_t index, uint16_t pid, std::optional<int64_t>& last,
              int64_t& largest) {
    if (last) {
      const int64_t gap = atc_ - *last;
      largest = std::max(largest, gap);
      if (gap > options_.max_psi_gap + options_.psi_slack_intervals * report_.interval) {
        Fault(fault, index, pid, Format("%.3f ms after the previous one", Ms(gap)));
      }
    }
    last = atc_;
  }

  void Pat(const Packet& packet, uint64_t index) {
    if (packet.unit_start) {
      ++report_.pat_count;
      Period(TsFault::kPatGap, index, kPatPid, last_pat_, report_.largest_pat_gap);
      if (options_.max_rounds_per_sit > 0 && rounds_since_sit_ >= options_.max_rounds_per_sit &&
          report_.sit_count > 0) {
        Fault(TsFault::kSitGap, index, kSitPid,
              Format("%d PSI rounds without a SIT", rounds_since_sit_ + 1));
      }
      ++rounds_since_sit_;
      report_.most_rounds_without_sit =
          std::max(report_.most_rounds_without_sit, rounds_since_sit_);
    }
    const std::span<const uint8_t> s = pat_reader_.Add(packet);
    if (s.size() < 12 || s[0] != 0x00 || pmt_pid_) return;
    for (size_t i = 8; i + 4 <= s.size() - 4; i += 4) {
      const int program = s[i] << 8 | s[i + 1];
      if (program != 0) {
        pmt_pid_ = static_cast<uint16_t>((s[i + 2] & 0x1F) << 8 | s[i + 3]);
        report_.pmt_pid = *pmt_pid_;
        break;
      }
    }
  }

  void Sit(const Packet& packet, uint64_t) {
    if (!packet.unit_start) return;
    ++report_.sit_count;
    rounds_since_sit_ = 0;
  }

  void Pmt(const Packet& packet, uint64_t index) {
    if (packet.unit_start) {
      ++report_.pmt_count;
      Period(TsFault::kPmtGap, index, *pmt_pid_, last_pmt_, report_.largest_pmt_gap);
    }
    const std::span<const uint8_t> s = pmt_reader_.Add(packet);
    if (s.size() < 16 || s[0] != 0x02 || pmt_known_) return;
    pmt_known_ = true;
    report_.pcr_pid = static_cast<uint16_t>((s[8] & 0x1F) << 8 | s[9]);
    size_t i = 12 + ((s[10] & 0x0F) << 8 | s[11]);
    while (i + 5 <= s.size() - 4) {
      TsStream stream;
      stream.stream_type = s[i];
      stream.pid = static_cast<uint16_t>((s[i + 1] & 0x1F) << 8 | s[i + 2]);
      PidState& state = pids_[stream.pid];
      state.stream = report_.streams.size();
      state.type = stream.stream_type;
      if (options_.check_buffers) state.models = ModelsFor(stream.stream_type);
      report_.streams.push_back(stream);
      i += 5 + ((s[i + 3] & 0x0F) << 8 | s[i + 4]);
    }
  }

  // Without a PMT yet, the PIDs a disc gives its elementary streams.
  bool IsElementary(uint16_t pid) const {
    if (pmt_known_) return pids_.count(pid) != 0;
    return (pid >= 0x1011 && pid <= 0x1012) || (pid >= 0x1100 && pid <= 0x1B1F);
  }

  void FirstElementary(const Packet& packet, uint64_t index) {
    report_.first_elementary_packet = index;
    const std::pair<bool, const char*> due[] = {
        {report_.pat_count > 0, "PAT"},
        {report_.pmt_count > 0, "PMT"},
        {report_.sit_count > 0 || options_.max_rounds_per_sit == 0, "SIT"},
        {report_.pcr_count > 0, "PCR"},  // this packet's own PCR counts
    };
    for (const auto& [seen, name] : due) {
      if (!seen) {
        Fault(TsFault::kLateSystemPacket, index, packet.pid,
              Format("no %s before the first elementary packet", name));
      }
    }
  }

  void Elementary(const Packet& packet, uint64_t index) {
    if (report_.first_elementary_packet == UINT64_MAX) FirstElementary(packet, index);
    auto it = pids_.find(packet.pid);
    if (it == pids_.end()) return;
    PidState& state = it->second;
    TsStream& stream = report_.streams[state.stream];
    if (stream.packets++ == 0) stream.first_packet = index;
    if (state.models.empty()) return;
    int es_bytes = static_cast<int>(packet.payload.size());
    if (packet.unit_start) {
      const std::optional<PesHeader> pes = ParsePes(packet.payload);
      if (pes) {
        ++stream.units;
        es_bytes -= static_cast<int>(pes->length);
        StartUnit(state, stream, packet, *pes, index);
      }
    }
    if (state.current < 0) return;  // before the stream's first PES start
    Probe(state, stream, packet);
    state.models[state.current].Packet(arrival_start_, channel_free_,
                                       static_cast<int>(packet.payload.size()), es_bytes,
                                       Where{index, *this, stream, options_});
  }

  void StartUnit(PidState& state, TsStream& stream, const Packet& packet, const PesHeader& pes,
                 uint64_t index) {
    if (state.current >= 0) {
      state.models[state.current].CompleteUnit({index, *this, stream, options_});
    }
    if (!pes.dts) return;  // no time of its own: it continues the unit before
    const std::span<const uint8_t> es = packet.payload.subspan(pes.length);
    state.current = state.models.size() > 1 && !IsCoreUnit(state.type, es) ? 1 : 0;
    if (state.type == 0x80 && es.size() >= 4 && (es[2] & 0x0F) == 5) {
      state.models[0].SetParams(kLpcm192);
    }
    if (!(state.used & (1u << state.current))) {
      state.used |= 1u << state.current;
      stream.buffer_model.clear();
      for (size_t m = 0; m < state.models.size(); ++m) {
        if (!(state.used & (1u << m))) continue;
        if (!stream.buffer_model.empty()) stream.buffer_model += " + ";
        stream.buffer_model += state.models[m].params().name;
      }
    }
    state.models[state.current].StartUnit(*pes.dts * 300, index);
  }

  // The first packets of a video stream tell its level, which picks its buffer sizes and rates.
  void Probe(PidState& state, TsStream& stream, const Packet& packet) {
    if (!IsVideo(state.type) || state.level_known || state.probe_packets++ > 64) return;
    const std::optional<int> level = VideoLevelIn(state.type, packet.payload);
    if (!level) return;
    state.level_known = true;
    const bool primary = packet.pid < 0x1B00;
    if (const std::optional<ModelParams> params = VideoParams(state.type, *level, primary)) {
      state.models[0].SetParams(*params);
      stream.buffer_model = params->name;
    }
  }

  TsCheckOptions options_;
  TsReport report_;
  double packet_time_ = 846;
  int64_t min_step_ = 846;
  int64_t atc_ = 0;
  double arrival_start_ = 0;
  double channel_free_ = 0;
  std::optional<int64_t> stc_offset_;
  int64_t last_pcr_ = 0;
  std::optional<int64_t> last_pat_;
  std::optional<int64_t> last_pmt_;
  int rounds_since_sit_ = 0;
  std::optional<uint16_t> pmt_pid_;
  bool pmt_known_ = false;
  SectionReader pat_reader_;
  SectionReader pmt_reader_;
  std::map<uint16_t, PidState> pids_;
  std::map<uint16_t, Continuity> continuity_;
};

}  // namespace

const char* TsFaultName(TsFault fault) {
  switch (fault) {
    case TsFault::kUnreadable:
      return "unreadable";
    case TsFault::kSize:
      return "size";
    case TsFault::kSync:
      return "sync";
    case TsFault::kArrivalOrder:
      return "arrival order";
    case TsFault::kPcrGap:
      return "PCR gap";
    case TsFault::kPcrDrift:
      return "PCR drift";
    case TsFault::kPatGap:
      return "PAT gap";
    case TsFault::kPmtGap:
      return "PMT gap";
    case TsFault::kSitGap:
      return "SIT gap";
    case TsFault::kLateSystemPacket:
      return "late system packet";
    case TsFault::kContinuity:
      return "continuity";
    case TsFault::kBufferOverflow:
      return "buffer overflow";
    case TsFault::kUnitLate:
      return "unit late";
  }
  return "?";
}

uint64_t TsReport::Count(TsFault fault) const {
  const auto it = counts.find(fault);
  return it == counts.end() ? 0 : it->second;
}

const TsStream* TsReport::Stream(uint16_t pid) const {
  for (const TsStream& s : streams) {
    if (s.pid == pid) return &s;
  }
  return nullptr;
}

std::string TsReport::Text() const {
  std::string out =
      Format("%llu bytes, %llu packets, %u bit/s (interval %lld)\n",
             static_cast<unsigned long long>(file_size), static_cast<unsigned long long>(packets),
             recording_rate, static_cast<long long>(interval));
  out += Format("PAT %llu (largest gap %.3f ms), PMT 0x%04X %llu (%.3f ms), SIT %llu (%d rounds)\n",
                static_cast<unsigned long long>(pat_count), Ms(largest_pat_gap), pmt_pid,
                static_cast<unsigned long long>(pmt_count), Ms(largest_pmt_gap),
                static_cast<unsigned long long>(sit_count), most_rounds_without_sit);
  out += Format("PCR 0x%04X %llu (largest gap %.3f ms, drift %lld), first elementary packet %lld\n",
                pcr_pid, static_cast<unsigned long long>(pcr_count), Ms(largest_pcr_gap),
                static_cast<long long>(largest_pcr_drift),
                first_elementary_packet == UINT64_MAX
                    ? -1LL
                    : static_cast<long long>(first_elementary_packet));
  for (const TsStream& s : streams) {
    out += Format("stream 0x%04X type 0x%02X: %llu packets, %llu units, model %s, peaks TB %lld",
                  s.pid, s.stream_type, static_cast<unsigned long long>(s.packets),
                  static_cast<unsigned long long>(s.units),
                  s.buffer_model.empty() ? "none" : s.buffer_model.c_str(),
                  static_cast<long long>(s.peak_tb));
    out += Format(" MB %lld EB %lld", static_cast<long long>(s.peak_mb),
                  static_cast<long long>(s.peak_eb));
    if (s.least_slack != INT64_MAX) out += Format(", least slack %.3f ms", Ms(s.least_slack));
    out += "\n";
  }
  for (const auto& [fault, count] : counts) {
    out += Format("%s: %llu\n", TsFaultName(fault), static_cast<unsigned long long>(count));
  }
  for (const TsFinding& f : findings) {
    out += Format("  %s at packet %llu, PID 0x%04X: ", TsFaultName(f.fault),
                  static_cast<unsigned long long>(f.packet), f.pid) +
           f.text + "\n";
  }
  return out;
}

uint32_t ClpiRecordingRate(const std::filesystem::path& clpi) {
  std::ifstream in(clpi, std::ios::binary);
  uint8_t header[56];
  if (!in.read(reinterpret_cast<char*>(header), sizeof header)) return 0;
  // TS_recording_rate (bytes per second) sits at a fixed place in ClipInfo.
  return Be32(header + 52) * 8;
}

TsReport CheckTransportStream(std::span<const uint8_t> bytes, const TsCheckOptions& options) {
  Checker checker(options);
  for (size_t at = 0; at + kPacket <= bytes.size(); at += kPacket) checker.Feed(&bytes[at]);
  return checker.Finish(bytes.size());
}

TsReport CheckTransportStream(const std::filesystem::path& m2ts,
                              const std::optional<std::filesystem::path>& clpi,
                              TsCheckOptions options) {
  if (clpi) {
    if (const uint32_t rate = ClpiRecordingRate(*clpi)) options.recording_rate = rate;
  }
  Checker checker(options);
  std::ifstream in(m2ts, std::ios::binary);
  if (!in) checker.Fault(TsFault::kUnreadable, 0, 0, "cannot open " + m2ts.string());
  std::vector<uint8_t> block(kAlignedUnit * 128);
  uint64_t size = 0;
  size_t held = 0;
  while (in) {
    in.read(reinterpret_cast<char*>(block.data() + held),
            static_cast<std::streamsize>(block.size() - held));
    const size_t got = static_cast<size_t>(in.gcount());
    size += got;
    held += got;
    size_t at = 0;
    for (; at + kPacket <= held; at += kPacket) checker.Feed(&block[at]);
    std::copy(block.begin() + static_cast<std::ptrdiff_t>(at),
              block.begin() + static_cast<std::ptrdiff_t>(held), block.begin());
    held -= at;
    if (got == 0) break;
  }
  if (in.bad()) checker.Fault(TsFault::kUnreadable, size / kPacket, 0, "read error");
  return checker.Finish(size);
}

}  // namespace tessel::test
