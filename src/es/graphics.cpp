#include "es/graphics.h"

#include <array>

#include "formats/field_access.h"
#include "platform/format.h"

namespace tessel {
namespace {

constexpr std::array<const char*, 8> kFrameRateNames = {"Reserved", "23.976",   "24", "25",
                                                        "29.97",    "Reserved", "50", "59.94"};

constexpr size_t kSegmentHeader = 10;
// Segment data the parser looks into: the composition header up to the stream model byte.
constexpr size_t kLookedInto = 13;

bool IsGraphicsLetters(const uint8_t* two) {
  const auto upper = [](uint8_t c) { return static_cast<uint8_t>(c & ~0x20); };
  return (upper(two[0]) == 'P' || upper(two[0]) == 'I') && upper(two[1]) == 'G';
}

bool IsDisplaySetStart(const SAuEntry& entry) {
  const uint8_t type = entry.flags & 0xFF;
  if (type == segment_type::kInteractiveComposition) return true;
  return type == segment_type::kPresentationComposition &&
         !(entry.flags & au_flag::kEmptyComposition);
}

bool IsEmptyComposition(const SAuEntry& entry) {
  return (entry.flags & 0xFF) == segment_type::kPresentationComposition &&
         (entry.flags & au_flag::kEmptyComposition);
}

// Reads the composition fields of a segment's first bytes into the entry and the record.
void ReadComposition(std::span<const uint8_t> data, uint8_t type, SAuEntry& entry,
                     SVideoDescriptor& video, SGsSif& record, bool& first_ics_seen) {
  ByteReader in(data);
  video.width = in.U16();
  video.height = in.U16();
  const uint8_t rate = in.U8();
  video.frame_rate = rate >> 4;
  video.extra = rate & 0x0F;
  in.Skip(2);  // composition number
  entry.flags |= static_cast<uint32_t>(in.U8() >> 6) << 8;
  if (type == segment_type::kPresentationComposition) {
    in.Skip(2);  // palette update flag, palette id
    if (in.Has(1) && in.U8() == 0) entry.flags |= au_flag::kEmptyComposition;
    return;
  }
  if (!first_ics_seen && in.Has(5)) {
    in.Skip(4);  // sequence descriptor, data length
    record.stream_model = in.U8() >> 7;
  }
  first_ics_seen = true;
}

}  // namespace

std::string SVideoDescriptor::Text() const {
  if (frame_rate > 7) return Format("%dx%d", width, height);
  return Format("%dx%d %s", width, height, kFrameRateNames[frame_rate]);
}

SVideoDescriptor SVideoDescriptor::FromVideo(const CVideoSif& video) {
  SVideoDescriptor d;
  d.width = static_cast<uint16_t>(video.width);
  d.height = static_cast<uint16_t>(video.height);
  d.frame_rate = video.frame_rate_code;
  return d;
}

std::unique_ptr<CSifData> SGsSif::Clone() const {
  return std::make_unique<SGsSif>(*this);
}

bool SGsSif::IsEqual(const CSifData& other) const {
  const auto* o = dynamic_cast<const SGsSif*>(&other);
  return o && coding_type == o->coding_type && stream_model == o->stream_model &&
         video.width == o->video.width && video.height == o->video.height &&
         video.frame_rate == o->video.frame_rate;
}

void SGsSif::FillAttributes(StreamAttributeValues& values) const {
  values.coding_type = coding_type;
}

int SGsSif::StdModels(SStdSpec (&models)[2]) const {
  models[0] = {coding_type == coding::kIg ? StdKind::kIg : StdKind::kPg, 0, true};
  return 1;
}

bool SGsSif::Read(LeReader& in) {
  version_ = in.U32();
  coding_type = in.U8();
  stream_model = in.U8();
  video.width = in.U16();
  video.height = in.U16();
  video.frame_rate = in.U8();
  return in.ok();
}

void SGsSif::Write(LeWriter& out) const {
  out.U32(version_);
  out.U8(coding_type);
  out.U8(stream_model);
  out.U16(video.width);
  out.U16(video.height);
  out.U8(video.frame_rate);
}

std::vector<SDisplaySetRange> FindDisplaySets(std::span<const SAuEntry> entries) {
  std::vector<SDisplaySetRange> sets;
  bool open = false, end_set = false;
  for (uint32_t i = 0; i < entries.size(); ++i) {
    const SAuEntry& entry = entries[i];
    if (IsDisplaySetStart(entry)) {
      if (open) {
        sets.back().last = i - 1;
        if (!end_set) sets.back().end_time = entry.dts;
      }
      sets.push_back({entry.dts, 0, i, 0});
      open = true;
      end_set = false;
    } else if (IsEmptyComposition(entry) && open) {
      sets.back().end_time = entry.dts;
      end_set = true;
    }
  }
  if (open) {
    sets.back().end_time = entries.back().dts;
    sets.back().last = static_cast<uint32_t>(entries.size() - 1);
  }
  return sets;
}

bool FindDisplaySetRange(std::span<const SDisplaySetRange> sets, uint32_t au_count, uint32_t start,
                         uint32_t end, uint32_t& first, uint32_t& last) {
  size_t j = 0;
  while (j < sets.size() && sets[j].start_time < start) ++j;
  if (j == sets.size()) return false;
  first = sets[j].first;
  last = au_count - 1;
  for (size_t k = j; k < sets.size(); ++k) {
    if (sets[k].start_time >= end) {
      if (k == j) return false;
      last = sets[k - 1].last;
      return true;
    }
    if (sets[k].end_time == end) {
      last = sets[k].last;
      return true;
    }
  }
  return true;
}

bool FindDisplaySetRange(const CStreamInfo& info, uint32_t start, uint32_t end, uint32_t& first,
                         uint32_t& last) {
  std::vector<SAuEntry> entries;
  entries.reserve(info.header.auCount);
  for (uint32_t i = 0; i < info.header.auCount; ++i) {
    const auto entry = info.GetAu(i);
    if (!entry) return false;
    entries.push_back(*entry);
  }
  return FindDisplaySetRange(FindDisplaySets(entries), info.header.auCount, start, end, first,
                             last);
}

CGsParser::CGsParser() : CParserBase(coding::kPg, {".sup", ".pg", ".ig"}) {}

bool CGsParser::ProbeFile(BitFile& file) {
  uint8_t two[2];
  return file.ReadBytes(two, 2) == 2 && IsGraphicsLetters(two);
}

int CGsParser::ParseFile(BitFile& file, ByteSource& source, CStreamInfo& info,
                         const ProgressCallback& progress) {
  coding_type_ = coding::kPg;
  auto record = std::make_unique<SGsSif>();
  SVideoDescriptor video;
  bool first_ics_seen = false;
  const uint64_t file_size = source.length();
  ProgressTicker ticker(progress, file_size);
  LeWriter entries;
  SSifHeader& header = info.header;
  while (file.byte_offset() < file_size) {
    if (!ticker.Update(file.byte_offset())) return parse_result::kCancelled;
    const uint64_t segment_start = file.byte_offset();
    uint8_t head[kSegmentHeader];
    const size_t got = file.ReadBytes(head, 2);
    // A trailing fragment is a damaged file, not a cancel: say so.
    if (got < 2) return parse_result::kSyntaxIllegal;
    if (!IsGraphicsLetters(head)) return parse_result::kUnknownFormat;
    uint8_t fields[11];
    if (file.ReadBytes(fields, 11) != 11) return parse_result::kSyntaxIllegal;
    ByteReader in(fields);
    SAuEntry entry;
    entry.pts = in.U32();
    entry.dts = in.U32();
    const uint8_t type = in.U8();
    const uint16_t length = in.U16();
    entry.offset = segment_start + kSegmentHeader;
    entry.size = length + 3u;
    entry.flags = type;
    if (coding_type_ == coding::kPg && type != segment_type::kInteractiveComposition) {
      entry.pts += kFirstAuTime;
      if (entry.dts != 0) entry.dts += kFirstAuTime;
    }
    uint8_t data[kLookedInto];
    const size_t wanted = std::min<size_t>(length, sizeof data);
    if (file.ReadBytes(data, wanted) != wanted) return parse_result::kSyntaxIllegal;
    if (type == segment_type::kPresentationComposition ||
        type == segment_type::kInteractiveComposition) {
      ReadComposition({data, wanted}, type, entry, video, *record, first_ics_seen);
      if (type == segment_type::kInteractiveComposition) coding_type_ = coding::kIg;
    }
    if (!file.SkipBits(uint64_t{length - wanted} * 8)) return parse_result::kSyntaxIllegal;
    entry.Write(entries);
    header.totalSize += entry.size;
    ++header.auCount;
  }
  if (!info.Append(entries.bytes())) return parse_result::kWriteError;
  record->coding_type = coding_type_;
  record->video = video;
  if (coding_type_ != coding::kIg) record->stream_model = 0;
  header.streamCodingType = coding_type_;
  info.record = std::move(record);
  return parse_result::kOk;
}

}  // namespace tessel
