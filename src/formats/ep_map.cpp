#include "formats/ep_map.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace tessel {
namespace {

constexpr size_t kStreamEntrySize = 12;
constexpr size_t kCoarseEntrySize = 8;
constexpr size_t kFineEntrySize = 4;
constexpr uint32_t kMaxCoarseEntries = 0xFFFF;  // 16-bit count
constexpr uint32_t kMaxFineEntries = 0x3FFFF;   // 18-bit count and fine reference
constexpr size_t kMaxStreams = 0xFF;
constexpr uint64_t kPtsMask = (uint64_t{1} << 33) - 1;
constexpr uint32_t kFineSpnMask = 0x1FFFF;  // the 17 low bits a fine entry holds
constexpr uint32_t kSourcePacketSize = 192;

// Upper size bounds (exclusive) of the I-picture end classes 1..6; anything larger is class 7.
constexpr uint32_t kIEndClassLimits[] = {0x20000, 0x40000, 0x60000, 0x90000, 0xE0000, 0x140000};

struct CoarseEntry {
  uint32_t FineRef = 0;
  uint32_t PtsHigh = 0;  // PTS bits 32..19
  uint32_t Spn = 0;
};

// Every fine entry must belong to exactly one coarse entry, or key points would keep half-built
// values (or be written outside the list).
bool CoarseRefsConsistent(const std::vector<CoarseEntry>& coarse, uint32_t fine_count) {
  for (size_t c = 0; c < coarse.size(); ++c) {
    const uint32_t next = c + 1 < coarse.size() ? coarse[c + 1].FineRef : fine_count;
    if (coarse[c].FineRef > next || next > fine_count) return false;
  }
  return fine_count == 0 || (!coarse.empty() && coarse.front().FineRef == 0);
}

bool ReadStreamMap(ByteReader map, STREAM_PID_ENTRY& entry) {
  const uint32_t fine_address = map.U32();
  if (!map.Has(size_t{entry.NumberOfCoarseEntries} * kCoarseEntrySize)) return false;
  std::vector<CoarseEntry> coarse(entry.NumberOfCoarseEntries);
  for (CoarseEntry& c : coarse) {
    const uint32_t word = map.U32();
    c.FineRef = word >> 14;
    c.PtsHigh = word & 0x3FFF;
    c.Spn = map.U32();
  }
  ByteReader fine = map.From(fine_address);
  if (!fine.Has(size_t{entry.NumberOfFineEntries} * kFineEntrySize)) return false;
  if (!CoarseRefsConsistent(coarse, entry.NumberOfFineEntries)) return false;

  entry.KeyPoints.assign(entry.NumberOfFineEntries, KEY_POINT_INFO{});
  for (KEY_POINT_INFO& point : entry.KeyPoints) {
    const uint32_t word = fine.U32();
    point.IEndPostion = static_cast<uint8_t>((word >> 28) & 7);
    point.Pts = uint64_t{(word >> 17) & 0x7FF} << 9;
    point.SpnStart = word & kFineSpnMask;
  }
  // PTS bit 19 is in both levels; the fine entry's copy is the one used.
  for (size_t c = 0; c < coarse.size(); ++c) {
    const uint32_t next = c + 1 < coarse.size() ? coarse[c + 1].FineRef : entry.NumberOfFineEntries;
    for (uint32_t i = coarse[c].FineRef; i < next; ++i) {
      KEY_POINT_INFO& point = entry.KeyPoints[i];
      point.Pts |= uint64_t{coarse[c].PtsHigh >> 1} << 20;
      point.SpnStart |= coarse[c].Spn & ~kFineSpnMask;
    }
  }
  return fine.ok() && map.ok();
}

bool WriteStreamMap(ByteWriter& w, const STREAM_PID_ENTRY& entry, EpStreamLayout& layout) {
  const std::vector<size_t> starts = CoarseEntryStarts(entry.KeyPoints);
  if (!w.Require(entry.KeyPoints.size() <= kMaxFineEntries && starts.size() <= kMaxCoarseEntries))
    return false;
  const size_t start = w.pos();
  const size_t fine_address_at = w.Reserve(4);
  for (size_t k : starts) {
    const KEY_POINT_INFO& point = entry.KeyPoints[k];
    w.U32(static_cast<uint32_t>(k << 14) | static_cast<uint32_t>((point.Pts & kPtsMask) >> 19));
    w.U32(point.SpnStart);
  }
  w.PatchU32(fine_address_at, static_cast<uint32_t>(w.pos() - start));
  for (const KEY_POINT_INFO& point : entry.KeyPoints) {
    const uint32_t i_end = entry.EpStreamType == ep_stream_type::kVideo ? IEndClass(point) : 0;
    w.U32((i_end & 7) << 28 | static_cast<uint32_t>((point.Pts >> 9) & 0x7FF) << 17 |
          (point.SpnStart & kFineSpnMask));
  }
  layout.NumberOfCoarseEntries = static_cast<uint16_t>(starts.size());
  layout.NumberOfFineEntries = static_cast<uint32_t>(entry.KeyPoints.size());
  return w.ok();
}

void ReadStreamEntry(ByteReader& r, STREAM_PID_ENTRY& entry) {
  entry.StreamPid = r.U16();
  r.Skip(1);
  const uint8_t b3 = r.U8();
  const uint8_t b4 = r.U8();
  const uint8_t b5 = r.U8();
  const uint16_t fine_low = r.U16();
  entry.EpStreamType = (b3 >> 2) & 0xF;
  entry.NumberOfCoarseEntries = static_cast<uint16_t>((b3 & 3) << 14 | b4 << 6 | b5 >> 2);
  entry.NumberOfFineEntries = uint32_t{b5 & 3u} << 16 | fine_low;
  entry.EpMapForOneStreamStartAddress = r.U32();
}

void WriteStreamEntry(ByteWriter& w, const STREAM_PID_ENTRY& entry, const EpStreamLayout& layout) {
  const uint32_t coarse = layout.NumberOfCoarseEntries;
  const uint32_t fine = layout.NumberOfFineEntries;
  w.U16(entry.StreamPid);
  w.U8(0);
  w.U8(static_cast<uint8_t>((entry.EpStreamType & 0xF) << 2 | coarse >> 14));
  w.U8(static_cast<uint8_t>(coarse >> 6));
  w.U8(static_cast<uint8_t>((coarse & 0x3F) << 2 | fine >> 16));
  w.U16(static_cast<uint16_t>(fine));
  w.U32(layout.EpMapForOneStreamStartAddress);
}

void DumpKeyPoints(std::string_view prefix, DumpArchive& archive, const CKpiFolder& points) {
  archive.Int(prefix, "KeyPointCount", static_cast<int64_t>(points.size()));
  const std::string inner = Nested(prefix);
  for (size_t i = 0; i < points.size(); ++i) {
    archive.ElementJoined(prefix, "KeyPoint", static_cast<int>(i));
    archive.Uint(inner, "PTS", static_cast<uint32_t>(points[i].Pts));
    archive.Uint(inner, "Spn Start", points[i].SpnStart);
    archive.Int(inner, "IEndPostion", points[i].IEndPostion);
  }
}

}  // namespace

std::vector<size_t> CoarseEntryStarts(std::span<const KEY_POINT_INFO> points) {
  // A coarse entry holds PTS bits 32..19 and SPN bits 31..17 for the fine entries it covers, so a
  // new one starts whenever either changes, in whichever direction.
  std::vector<size_t> starts;
  for (size_t i = 0; i < points.size(); ++i) {
    if (i == 0 || (points[i].Pts & kPtsMask) >> 19 != (points[i - 1].Pts & kPtsMask) >> 19 ||
        points[i].SpnStart >> 17 != points[i - 1].SpnStart >> 17) {
      starts.push_back(i);
    }
  }
  return starts;
}

uint8_t IEndClass(const KEY_POINT_INFO& point) {
  if (point.IEndPostion != 0) return point.IEndPostion;
  // An end before the start is as good as unknown.
  if (point.SpnEnd == 0 || point.SpnEnd < point.SpnStart) return 0;
  const uint64_t size = (uint64_t{point.SpnEnd} - point.SpnStart + 1) * kSourcePacketSize;
  const auto* limit = std::find_if(std::begin(kIEndClassLimits), std::end(kIEndClassLimits),
                                   [size](uint32_t l) { return size < l; });
  return static_cast<uint8_t>(limit - std::begin(kIEndClassLimits) + 1);
}

int NearestKeyPoint(std::span<const KEY_POINT_INFO> points, uint32_t time) {
  uint64_t earlier_distance = 0;
  for (size_t i = 0; i < points.size(); ++i) {
    const uint64_t pts = points[i].Pts;
    if (pts == time) return static_cast<int>(i);
    if (pts > time) {
      if (i == 0) return 0;
      return pts - time < earlier_distance ? static_cast<int>(i) : static_cast<int>(i - 1);
    }
    earlier_distance = time - pts;
  }
  return -1;
}

bool EpMap::Read(ByteReader map) {
  Entries.clear();
  map.Skip(1);
  const uint8_t count = map.U8();
  if (!map.Has(count * kStreamEntrySize)) return false;
  Entries.resize(count);
  for (STREAM_PID_ENTRY& entry : Entries) ReadStreamEntry(map, entry);
  for (STREAM_PID_ENTRY& entry : Entries) {
    if (!ReadStreamMap(map.From(entry.EpMapForOneStreamStartAddress), entry)) return false;
  }
  return map.ok();
}

std::optional<std::vector<EpStreamLayout>> EpMap::Write(ByteWriter& w) const {
  std::vector<EpStreamLayout> layouts(Entries.size());
  if (Entries.empty()) return layouts;
  if (!w.Require(Entries.size() <= kMaxStreams)) return std::nullopt;
  const size_t start = w.pos();
  w.U8(0);
  w.U8(static_cast<uint8_t>(Entries.size()));
  const size_t table = w.Reserve(Entries.size() * kStreamEntrySize);
  for (size_t i = 0; i < Entries.size(); ++i) {
    if (!w.Require(w.pos() - start <= UINT32_MAX)) return std::nullopt;
    layouts[i].EpMapForOneStreamStartAddress = static_cast<uint32_t>(w.pos() - start);
    if (!WriteStreamMap(w, Entries[i], layouts[i])) return std::nullopt;
  }
  const size_t end = w.pos();
  w.Seek(table);
  for (size_t i = 0; i < Entries.size(); ++i) WriteStreamEntry(w, Entries[i], layouts[i]);
  w.Seek(end);
  if (!w.ok()) return std::nullopt;
  return layouts;
}

void STREAM_PID_ENTRY::Dump(std::string_view prefix, DumpArchive& archive) const {
  archive.Hex16(prefix, "StreamPid", StreamPid);
  archive.Int(prefix, "EpStreamType", EpStreamType);
  archive.Int(prefix, "NumberOfCoarseEntries", NumberOfCoarseEntries);
  archive.Int(prefix, "NumberOfFineEntries", NumberOfFineEntries);
  archive.Int(prefix, "EpMapForOneStreamStartAddress", EpMapForOneStreamStartAddress);
  DumpKeyPoints(prefix, archive, KeyPoints);
}

void EpMap::Dump(std::string_view prefix, DumpArchive& archive) const {
  if (archive.IsLoading()) return;
  archive.Int(prefix, "NumberOfPidEnties", static_cast<int64_t>(Entries.size()));
  const std::string inner = Nested(prefix);
  for (const STREAM_PID_ENTRY& entry : Entries) {
    archive.HeadingTight(prefix, "PidEntry");
    entry.Dump(inner, archive);
  }
}

}  // namespace tessel
