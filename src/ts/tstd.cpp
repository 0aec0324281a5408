#include "ts/tstd.h"

#include <algorithm>

namespace tessel {
namespace {

// A rate in bit/s is rate / 216000000 bytes per 27 MHz tick; the conversions below keep that as
// an exact fraction and truncate only the result.
constexpr uint64_t kBitTicksPerSecond = 8 * 27000000ull;
constexpr uint64_t kEmptyInterval = 26460000;  // 0.98 s
constexpr int64_t kPacketSize = 188;
constexpr uint64_t kElementaryPacketPayload = 184;

// Bytes a stage drains in `ticks`, truncated.
uint64_t DrainedBytes(uint64_t ticks, uint32_t rate) {
  return static_cast<uint64_t>(static_cast<unsigned __int128>(ticks) * rate / kBitTicksPerSecond);
}

// Ticks a stage needs to drain `bytes`, truncated.
uint64_t TicksToDrain(uint64_t bytes, uint64_t rate) {
  return rate ? bytes * kBitTicksPerSecond / rate : 0;
}

constexpr AudioStdValues kAc3 = {2000000, 18640, 0, 0};
constexpr AudioStdValues kDdp = {48000000, 137936, 2000000, 7456};
constexpr AudioStdValues kDts = {5000000, 43972, 0, 0};
constexpr AudioStdValues kDtsHd = {48000000, 713563, 2000000, 7456};
constexpr AudioStdValues kLpcm = {20000000, 536832, 0, 0};
constexpr AudioStdValues kLpcm192k = {30000000, 1073664, 0, 0};
constexpr AudioStdValues kMlp = {48000000, 404250, 0, 0};
constexpr uint32_t kAudioArrivalRate = 48000000;
constexpr uint32_t kMlpExtraSize = 120000;
constexpr uint32_t kGraphicsElementarySize = 1048576;

struct VideoLevelRow {
  int level;
  int primary;  // -1 = either
  uint32_t r1;
  uint32_t r2;
  uint32_t multiplex_size;  // 0 = unchanged
  uint32_t elementary_size;
};

constexpr VideoLevelRow kAvcLevels[] = {
    {30, -1, 14400000, 12000000, 0, 1500000}, {31, -1, 20160000, 16800000, 0, 2100000},
    {32, 1, 28800000, 24000000, 0, 3000000},  {32, 0, 9600000, 8000000, 0, 1500000},
    {40, -1, 28800000, 24000000, 0, 3750000}, {41, -1, 48000000, 40000000, 0, 3750000},
};
constexpr VideoLevelRow kAvcOtherLevel = {0, -1, 18000000, 15000000, 0, 1500000};
constexpr uint32_t kAvcMultiplexSize = 40000;

constexpr VideoLevelRow kMpeg2Levels[] = {
    {0x44, -1, 48000000, 42000000, 53333, 1222656},
    {0x46, -1, 48000000, 42000000, 40000, 917504},
    {0x48, -1, 18000000, 15000000, 10000, 229376},
};

constexpr VideoLevelRow kVc1Levels[] = {
    {2, 1, 24000000, 20000000, 0, 3750000},
    {2, 0, 24000000, 20000000, 0, 1500000},
    {3, -1, 48000000, 40000000, 0, 3750000},
};
constexpr VideoLevelRow kVc1Start = {0, -1, 48000000, 40000000, 26666, 3750000};

template <size_t N>
const VideoLevelRow* FindLevel(const VideoLevelRow (&rows)[N], int level, bool primary) {
  for (const VideoLevelRow& row : rows) {
    if (row.level == level && (row.primary < 0 || row.primary == (primary ? 1 : 0))) return &row;
  }
  return nullptr;
}

}  // namespace

void CTransBuffer::PacketArrived(uint64_t t) {
  const uint64_t elapsed = t > LastTime ? t - LastTime : 0;
  if (Fullness != 0) {
    Fullness -= static_cast<int64_t>(DrainedBytes(elapsed, DrainRate));
    if (Fullness <= 0) {
      Fullness = 0;
      EmptyTime = t;
    }
  } else {
    EmptyTime = t;
  }
  Fullness += kPacketSize;
  LastTime = t;
  const int64_t room = int64_t{Size} - Fullness - kPacketSize;
  if (room >= 0) {
    NextTime = 0;
  } else {
    int64_t next = static_cast<int64_t>(t + TicksToDrain(static_cast<uint64_t>(-room), DrainRate));
    if (ArrivalRate > 0) {
      next -= static_cast<int64_t>(kPacketSize * kBitTicksPerSecond /
                                   static_cast<uint64_t>(ArrivalRate));
    }
    NextTime = static_cast<uint64_t>(std::max<int64_t>(next, 0));
  }
  // Running empty in time: the stage empties at t + fullness / rate; that must come within
  // 0.98 s of the last time it was empty, else the next packet waits for it.
  if (EmptyRule) {
    const uint64_t deadline = EmptyTime + kEmptyInterval;
    const bool late =
        deadline <= t || static_cast<unsigned __int128>(deadline - t) * DrainRate <=
                             static_cast<unsigned __int128>(Fullness) * kBitTicksPerSecond;
    if (late) NextTime = t + TicksToDrain(static_cast<uint64_t>(Fullness), DrainRate);
  }
}

void CElementaryBuffer::PacketArrived(uint64_t t, uint32_t payload) {
  if (Units.empty()) return;
  Units.back().Bytes += payload;
  // Decoded units leave; the newest stays, as it is still arriving.
  const auto decoded = [t](const Unit& u) { return uint64_t{u.Dts} * 300 <= t; };
  Units.erase(std::remove_if(Units.begin(), Units.end() - 1, decoded), Units.end() - 1);
  uint64_t held = 0;
  for (const Unit& u : Units) held += u.Bytes;
  if (held == 0) EmptyTime = t;
  int64_t room = int64_t{Size} - static_cast<int64_t>(held + kElementaryPacketPayload);
  NextTime = 0;
  if (room < 0) {
    // The next packet fits once enough of the oldest units have been decoded.
    NextTime = uint64_t{Units.back().Dts} * 300;
    for (const Unit& u : Units) {
      room += static_cast<int64_t>(u.Bytes);
      if (room >= 0) {
        NextTime = uint64_t{u.Dts} * 300;
        break;
      }
    }
  }
  // A buffer that counts units holds the stream back while too many are waiting.
  if (UnitLimit != 0 && Units.size() > UnitLimit) {
    const Unit& must_leave = Units[Units.size() - UnitLimit - 1];
    NextTime = std::max(NextTime, uint64_t{must_leave.Dts} * 300);
  }
}

void CStdBase::PacketArrived(uint64_t t, uint32_t payload) {
  transport_.PacketArrived(t);
  elementary_.PacketArrived(t, payload);
}

CAudioStd::CAudioStd(const AudioStdValues& values) : values_(values) {
  transport_.DrainRate = values.drain_rate;
  transport_.ArrivalRate = kAudioArrivalRate;
  transport_.EmptyRule = true;
  elementary_.Size = values.elementary_size;
}

uint64_t CAudioStd::NextTime() const {
  return std::max(transport_.NextTime, elementary_.NextTime);
}

void CAudioStd::SetPrimary(bool primary) {
  primary_ = primary;
  if (primary || values_.secondary_drain_rate == 0) return;
  transport_.DrainRate = values_.secondary_drain_rate;
  elementary_.Size = values_.secondary_elementary_size;
}

CAc3Std::CAc3Std() : CAudioStd(kAc3) {}
CDdpStd::CDdpStd() : CAudioStd(kDdp) {}
CDtsStd::CDtsStd() : CAudioStd(kDts) {}
CDtsHdStd::CDtsHdStd() : CAudioStd(kDtsHd) {}
CLpcmStd::CLpcmStd() : CAudioStd(kLpcm) {}
CMlpStd::CMlpStd() : CAudioStd(kMlp) {
  extra_.Size = kMlpExtraSize;
}

void CLpcmStd::SetSamplingFrequency(uint8_t code) {
  const AudioStdValues* values = code == 5                  ? &kLpcm192k
                                 : (code == 1 || code == 4) ? &kLpcm
                                                            : nullptr;
  if (!values) return;
  transport_.DrainRate = values->drain_rate;
  elementary_.Size = values->elementary_size;
}

CGraphicsStd::CGraphicsStd(uint32_t unit_limit) {
  elementary_.Size = kGraphicsElementarySize;
  elementary_.UnitLimit = unit_limit;
}

CVideoStd::CVideoStd() = default;

uint64_t CVideoStd::NextTime() const {
  return std::max({transport_.NextTime, multiplex_.NextTime, elementary_.NextTime});
}

void CVideoStd::PacketArrived(uint64_t t, uint32_t payload) {
  transport_.PacketArrived(t);
  multiplex_.PacketArrived(t);
  elementary_.PacketArrived(t, payload);
}

void CVideoStd::SetRates(uint32_t r1, uint32_t r2, uint32_t elementary_size) {
  transport_.DrainRate = r1;
  multiplex_.DrainRate = r2;
  multiplex_.ArrivalRate = r1;
  elementary_.Size = elementary_size;
}

CAvcStd::CAvcStd(bool primary) {
  SetLevel(41, primary);
  multiplex_.Size = kAvcMultiplexSize;
}

void CAvcStd::SetLevel(int level, bool primary) {
  primary_ = primary;
  const VideoLevelRow* row = FindLevel(kAvcLevels, level, primary);
  if (!row) row = &kAvcOtherLevel;
  SetRates(row->r1, row->r2, row->elementary_size);
}

CMpeg2Std::CMpeg2Std(bool primary) {
  SetLevel(0x44, primary);
}

void CMpeg2Std::SetLevel(int level, bool primary) {
  primary_ = primary;
  if (const VideoLevelRow* row = FindLevel(kMpeg2Levels, level, primary)) {
    SetRates(row->r1, row->r2, row->elementary_size);
    multiplex_.Size = row->multiplex_size;
  }
  multiplex_.ArrivalRate = transport_.DrainRate;
}

CVc1Std::CVc1Std() {
  SetRates(kVc1Start.r1, kVc1Start.r2, kVc1Start.elementary_size);
  multiplex_.Size = kVc1Start.multiplex_size;
}

void CVc1Std::SetLevel(int level, bool primary) {
  primary_ = primary;
  if (const VideoLevelRow* row = FindLevel(kVc1Levels, level, primary)) {
    SetRates(row->r1, row->r2, row->elementary_size);
  }
  multiplex_.ArrivalRate = transport_.DrainRate;
}

}  // namespace tessel
