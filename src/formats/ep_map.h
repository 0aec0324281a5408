// The entry point map of a clip: where decoding can start in the transport stream, per stream.
//
// The file holds it in a two-level form (coarse entries with the high bits of time and packet
// number, fine entries with the low bits). In memory each stream keeps one flat list of key points
// and the two levels are derived again on writing, so edits never have to maintain them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "formats/dump.h"
#include "formats/field_access.h"

namespace tessel {

// EpStreamType: the kind of stream a map entry serves.
namespace ep_stream_type {
inline constexpr uint8_t kVideo =
    1;  // primary or secondary video; the only kind with I-end classes
inline constexpr uint8_t kAudio = 3;
inline constexpr uint8_t kSecondaryAudio = 4;
inline constexpr uint8_t kPresentationGraphics = 6;
inline constexpr uint8_t kInteractiveGraphics = 7;
}  // namespace ep_stream_type

// One entry point of a stream.
struct KEY_POINT_INFO {
  int32_t Ordinal = 0;      // access unit position in the stream; 0 when read from a file
  uint64_t Pts = 0;         // 90 kHz, 33 bits used
  uint32_t SpnStart = 0;    // source packet that starts the entry point
  uint32_t SpnEnd = 0;      // source packet holding the end of the I picture; 0 when unknown
  uint8_t IEndPostion = 0;  // I-picture end offset class 1..7; 0 when not yet known
};
using CKpiFolder = std::vector<KEY_POINT_INFO>;

// One stream of the map with its key points. Counts and address are recomputed on writing.
struct STREAM_PID_ENTRY {
  uint16_t StreamPid = 0;
  uint8_t EpStreamType = ep_stream_type::kVideo;
  uint16_t NumberOfCoarseEntries = 0;
  uint32_t NumberOfFineEntries = 0;
  uint32_t EpMapForOneStreamStartAddress = 0;  // from the first byte of the map
  CKpiFolder KeyPoints;

  void Dump(std::string_view prefix, DumpArchive& archive) const;
};
using CSpeFolder = std::vector<STREAM_PID_ENTRY>;

// What writing works out for one stream of the map.
struct EpStreamLayout {
  uint16_t NumberOfCoarseEntries = 0;
  uint32_t NumberOfFineEntries = 0;
  uint32_t EpMapForOneStreamStartAddress = 0;

  friend bool operator==(const EpStreamLayout&, const EpStreamLayout&) = default;
};

struct EpMap {
  CSpeFolder Entries;

  // `map` starts at the first byte of the map and ends where its enclosing block ends. Fails on a
  // table, address or fine reference that points outside it or contradicts the counts.
  bool Read(ByteReader map);
  // Writes nothing when no stream is held. Computes the counts and addresses (and the I-picture
  // end classes of video key points) from the key points and returns them per stream, in order,
  // leaving the record as it is; nothing (and the writer failed) when a count does not fit.
  std::optional<std::vector<EpStreamLayout>> Write(ByteWriter& w) const;
  void Dump(std::string_view prefix, DumpArchive& archive) const;
};

// Indices of the key points that start a coarse entry.
std::vector<size_t> CoarseEntryStarts(std::span<const KEY_POINT_INFO> points);

// The I-picture end offset class 1..7 of a key point (the one it holds when already known), or 0
// when its end packet is unknown.
uint8_t IEndClass(const KEY_POINT_INFO& point);

// The key point nearest to `time` (equal distances go to the earlier one); -1 when every key point
// is earlier than the time.
int NearestKeyPoint(std::span<const KEY_POINT_INFO> points, uint32_t time);

}  // namespace tessel
