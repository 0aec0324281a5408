#include "formats/clpi.h"

#include <algorithm>
#include <cstring>

#include "formats/file_header.h"
#include "platform/files.h"

namespace tessel {
namespace {

constexpr size_t kAtcDeltaEntrySize = 14;
constexpr size_t kStcInfoSize = 14;
constexpr size_t kMaxListCount = 0xFF;  // every list of the file has an 8-bit count
constexpr uint16_t kTsTypeInfoBlockLength = 30;

constexpr std::string_view kApplicationTypeTexts[] = {
    "Reserved",
    "MainTS for a MainPath of Movie",
    "MainTS for a MainPath of Timebased Slidershow",
    "MainTS for a MainPath of Browsable Slidershow",
    "SubTS for a SubPath of Browsable Slidershow",
    "SubTS for a SubPath of Interactive Graphics menu",
    "SubTS for a SubPath of Text subtitle",
    "SubTS for a SubPath of one or more elementary streams path",
    "SubTS for a SubPath of Stereoscopic Movie",
    "SubTS for a SubPath of Stereoscopic IG Menu",
    "MainTS for a Movie (AVCHD 1080P50/60)",
};

template <typename T>
std::unique_ptr<SExtDataBase> Make() {
  return std::make_unique<T>();
}

bool RegisterClipRecords() {
  RegisterExtDataRecord(0x0002, 0x0005, &Make<SPiMeta>);
  RegisterExtDataRecord(0x0002, 0x0006, &Make<SCpiMeta>);
  return true;
}
const bool kClipRecordsRegistered = RegisterClipRecords();

void Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

// "length points outside" when the block's own length was wrong, else its fields or counts were.
std::string BlockFailure(std::string_view name, const ByteReader& parent) {
  return std::string(name) + (parent.ok() ? ": fields or counts run past its length"
                                          : ": length points outside the file");
}

}  // namespace

std::string_view ApplicationTypeText(uint8_t type) {
  return type < std::size(kApplicationTypeTexts) ? kApplicationTypeTexts[type]
                                                 : kApplicationTypeTexts[0];
}

std::vector<uint8_t> ChooseEpStreamTypes(std::span<const uint16_t> pids, uint8_t application_type) {
  std::vector<uint8_t> types(pids.size(), 0);
  bool video = false;
  for (size_t i = 0; i < pids.size(); ++i) {
    const int stream_class = StreamClassOfPid(pids[i]);
    if (stream_class == kClassPrimaryVideo || stream_class == kClassSecondaryVideo) {
      types[i] = ep_stream_type::kVideo;
      video = true;
    }
  }
  if (video || pids.empty()) return types;
  const int first = StreamClassOfPid(pids[0]);
  if (application_type == application_type::kBrowsableSlideshowSub) {
    types[0] = ep_stream_type::kAudio;
  } else if (application_type == application_type::kElementaryStreams) {
    const auto last_secondary_audio = std::find_if(pids.rbegin(), pids.rend(), [](uint16_t pid) {
      return StreamClassOfPid(pid) == kClassSecondaryAudio;
    });
    if (first == kClassPrimaryAudio) {
      types[0] = ep_stream_type::kAudio;
    } else if (last_secondary_audio != pids.rend()) {
      types[static_cast<size_t>(pids.rend() - last_secondary_audio) - 1] =
          ep_stream_type::kSecondaryAudio;
    } else if (first == kClassPresentationGraphics) {
      types[0] = ep_stream_type::kPresentationGraphics;
    } else if (first == kClassInteractiveGraphics) {
      types[0] = ep_stream_type::kInteractiveGraphics;
    }
  }
  return types;
}

// ---- ClipInfo ----

bool ClipInfo::Read(ByteReader& r) {
  Length = r.U32();
  ByteReader body = r.Sub(Length);
  body.Skip(2);
  ClipStreamType = body.U8();
  ApplicationType = body.U8();
  body.Skip(3);
  IsAtcDelta = (body.U8() & 1) != 0;
  TsRecordingRate = body.U32();
  NumberOfSourcePackets = body.U32();
  body.Bytes(Reserved);
  TsTypeInfoBlockLength = body.U16();
  const size_t type_info_end = body.pos() + TsTypeInfoBlockLength;
  ByteReader type_info = body.Sub(TsTypeInfoBlockLength);
  ValidityFlags = type_info.U8();
  type_info.Bytes(FormatIdentifier);
  type_info.Bytes(NetworkInformation);
  type_info.Bytes(StreamFormatName);
  AtcDeltaEntries.clear();
  if (IsAtcDelta) {
    body.Seek(type_info_end);
    body.Skip(1);
    const uint8_t count = body.U8();
    if (!body.Require(body.Has(count * kAtcDeltaEntrySize))) return false;
    AtcDeltaEntries.resize(count);
    for (ATC_DELTA_ENTRY& entry : AtcDeltaEntries) {
      entry.AtcDelta = body.U32();
      body.Bytes(entry.FollowingClipId);
      body.Bytes(entry.ClipCodecId);
      body.Skip(1);
    }
  }
  return body.ok() && r.ok();
}

bool ClipInfo::Write(ByteWriter& w) const {
  if (AtcDeltaEntries.size() > kMaxListCount) return false;
  const size_t length_at = w.BeginLength32();
  w.Zeros(2);
  w.U8(ClipStreamType);
  w.U8(ApplicationType);
  w.Zeros(3);
  w.U8(AtcDeltaEntries.empty() ? 0 : 1);
  w.U32(TsRecordingRate);
  w.U32(NumberOfSourcePackets);
  w.Bytes(Reserved, kReservedSize);
  w.U16(kTsTypeInfoBlockLength);
  w.U8(ValidityFlags);
  w.Bytes(FormatIdentifier, 4);
  w.Bytes(NetworkInformation, 9);
  w.Bytes(StreamFormatName, 16);
  if (!AtcDeltaEntries.empty()) {
    w.U8(0);
    w.U8(static_cast<uint8_t>(AtcDeltaEntries.size()));
    for (const ATC_DELTA_ENTRY& entry : AtcDeltaEntries) {
      w.U32(entry.AtcDelta);
      w.Bytes(entry.FollowingClipId, 5);
      w.Bytes(entry.ClipCodecId, 4);
      w.U8(0);
    }
  }
  w.EndLength32(length_at);
  return true;
}

void ClipInfo::Dump(std::string_view prefix, DumpArchive& archive) const {
  archive.Int(prefix, "Length", Length);
  archive.Int(prefix, "ClipStreamType", ClipStreamType);
  archive.DecName(prefix, "ApplicationType", ApplicationType, ApplicationTypeText(ApplicationType));
  archive.Int(prefix, "IsAtcDelta", IsAtcDelta ? 1 : 0);
  archive.Int(prefix, "TsRecordingRate", TsRecordingRate);
  archive.Int(prefix, "NumberOfSourcePackets", NumberOfSourcePackets);
  const std::string inner = Nested(prefix);
  archive.Heading(prefix, "TsTypeInfoBlock");
  archive.Int(inner, "Length", TsTypeInfoBlockLength);
  archive.Hex8(inner, "ValidityFlags", ValidityFlags);
  archive.Chars(inner, "FormatIdentifier", FormatIdentifier);
  if (!IsAtcDelta) return;
  archive.Heading(prefix, "AtcDataInfo");
  archive.Int(inner, "NumberOfAtcDeltaEntries", static_cast<int64_t>(AtcDeltaEntries.size()));
  const std::string inner2 = Nested(inner);
  for (size_t i = 0; i < AtcDeltaEntries.size(); ++i) {
    const ATC_DELTA_ENTRY& entry = AtcDeltaEntries[i];
    archive.Element(inner, "AtcDeltaEntry", static_cast<int>(i));
    archive.Int(inner2, "AtcDelta", entry.AtcDelta);
    archive.Chars(inner2, "FollowingClipId", entry.FollowingClipId);
    archive.Chars(inner2, "ClipCodecId", entry.ClipCodecId);
  }
}

// ---- SequenceInfo ----

bool SequenceInfo::Read(ByteReader& r) {
  Length = r.U32();
  ByteReader body = r.Sub(Length);
  body.Skip(1);
  NumberOfAtcSequences = body.U8();
  StcInfos.clear();
  if (NumberOfAtcSequences == 0) return body.ok() && r.ok();
  SpnAtcStart = body.U32();
  const uint8_t count = body.U8();
  OffsetStcId = body.U8();
  if (!body.Require(body.Has(count * kStcInfoSize))) return false;
  StcInfos.resize(count);
  for (StcInfo& stc : StcInfos) {
    stc.PcrPid = body.U16();
    stc.SpnStcStart = body.U32();
    stc.StartPTS = body.U32();
    stc.EndPTS = body.U32();
  }
  return body.ok() && r.ok();
}

bool SequenceInfo::Write(ByteWriter& w) const {
  if (StcInfos.size() > kMaxListCount) return false;
  const size_t length_at = w.BeginLength32();
  w.U8(0);
  w.U8(1);
  w.U32(SpnAtcStart);
  w.U8(static_cast<uint8_t>(StcInfos.size()));
  w.U8(OffsetStcId);
  for (const StcInfo& stc : StcInfos) {
    w.U16(stc.PcrPid);
    w.U32(stc.SpnStcStart);
    w.U32(stc.StartPTS);
    w.U32(stc.EndPTS);
  }
  w.EndLength32(length_at);
  return true;
}

void SequenceInfo::Dump(std::string_view prefix, DumpArchive& archive) const {
  archive.Int(prefix, "Length", Length);
  archive.Int(prefix, "NumberOfAtcSequences", NumberOfAtcSequences);
  const std::string inner = Nested(prefix);
  const std::string inner2 = Nested(inner);
  archive.Heading(prefix, "AtcSequence");
  archive.Int(inner, "SpnAtcStart", SpnAtcStart);
  archive.Int(inner, "NumberOfStcSequences", static_cast<int64_t>(StcInfos.size()));
  archive.Int(inner, "OffsetStcId", OffsetStcId);
  for (size_t i = 0; i < StcInfos.size(); ++i) {
    const StcInfo& stc = StcInfos[i];
    archive.Element(inner, "StcInfo", static_cast<int>(i));
    archive.Hex16(inner2, "PcrPid", stc.PcrPid);
    archive.Int(inner2, "SpnStcStart", stc.SpnStcStart);
    archive.Int(inner2, "StartPTS", stc.StartPTS);
    archive.Int(inner2, "EndPTS", stc.EndPTS);
  }
}

// ---- ProgramInfo ----

StreamInfo* ProgramSequence::FindStream(uint16_t pid) {
  auto it = std::find_if(Streams.begin(), Streams.end(),
                         [pid](const StreamInfo& s) { return s.StreamPID == pid; });
  return it == Streams.end() ? nullptr : &*it;
}

const StreamInfo* ProgramSequence::FindStream(uint16_t pid) const {
  return const_cast<ProgramSequence*>(this)->FindStream(pid);
}

bool ProgramSequence::Read(ByteReader& r) {
  SpnProgramSequenceStart = r.U32();
  ProgramMapPid = r.U16();
  const uint8_t count = r.U8();
  r.Skip(1);
  Streams.clear();
  for (int i = 0; i < count && r.ok(); ++i) {
    if (!Streams.emplace_back().Read(r)) return false;
  }
  return r.ok();
}

bool ProgramSequence::Write(ByteWriter& w) const {
  if (Streams.size() > kMaxListCount) return false;
  w.U32(SpnProgramSequenceStart);
  w.U16(ProgramMapPid);
  w.U8(static_cast<uint8_t>(Streams.size()));
  w.U8(0);
  for (const StreamInfo& stream : Streams) stream.Write(w);
  return true;
}

void ProgramSequence::Dump(std::string_view prefix, DumpArchive& archive) const {
  archive.Int(prefix, "SpnProgramSequenceStart", SpnProgramSequenceStart);
  archive.Hex16(prefix, "ProgramMapPid", ProgramMapPid);
  archive.Int(prefix, "NumberOfStreams", static_cast<int64_t>(Streams.size()));
  const std::string inner = Nested(prefix);
  for (size_t i = 0; i < Streams.size(); ++i) {
    archive.Element(prefix, "StreamInfo", static_cast<int>(i));
    Streams[i].Dump(inner, archive);
  }
}

bool ProgramInfo::Read(ByteReader& r) {
  Length = r.U32();
  ByteReader body = r.Sub(Length);
  body.Skip(1);
  NumberOfProgramSequence = body.U8();
  Sequence = ProgramSequence();
  if (NumberOfProgramSequence > 0 && !Sequence.Read(body)) return false;
  return body.ok() && r.ok();
}

bool ProgramInfo::Write(ByteWriter& w) const {
  const size_t length_at = w.BeginLength32();
  w.U8(0);
  w.U8(1);
  if (!Sequence.Write(w)) return false;
  w.EndLength32(length_at);
  return true;
}

void ProgramInfo::Dump(std::string_view prefix, DumpArchive& archive) const {
  archive.Int(prefix, "Length", Length);
  archive.Int(prefix, "NumberOfProgramSequence", NumberOfProgramSequence);
  archive.Heading(prefix, "ProgramSequenceInfo");
  Sequence.Dump(Nested(prefix), archive);
}

// ---- Cpi ----

bool Cpi::Read(ByteReader& r) {
  Length = r.U32();
  ep_map.Entries.clear();
  if (Length == 0) return r.ok();
  ByteReader body = r.Sub(Length);
  body.Skip(1);
  CpiType = body.U8() & 0xF;
  return body.ok() && ep_map.Read(body.From(2)) && r.ok();
}

std::optional<std::vector<EpStreamLayout>> Cpi::Write(ByteWriter& w) const {
  const size_t length_at = w.BeginLength32();
  if (ep_map.Entries.empty()) return std::vector<EpStreamLayout>{};
  w.U8(0);
  w.U8(CpiType & 0xF);
  std::optional<std::vector<EpStreamLayout>> layouts = ep_map.Write(w);
  if (!layouts || !w.EndLength32(length_at)) return std::nullopt;
  return layouts;
}

void Cpi::Dump(std::string_view prefix, DumpArchive& archive) const {
  archive.Int(prefix, "Length", Length);
  archive.Int(prefix, "CpiType", CpiType);
  archive.Heading(prefix, "EpMap");
  ep_map.Dump(Nested(prefix), archive);
}

// ---- Clip-side extension data records ----

bool SPiMeta::Read(std::span<const uint8_t> data) {
  ByteReader r(data);
  return info.Read(r);
}

void SPiMeta::Dump(std::string_view prefix, DumpArchive& archive) const {
  info.Dump(prefix, archive);
}

bool SCpiMeta::Read(std::span<const uint8_t> data) {
  ByteReader r(data);
  return cpi.Read(r);
}

void SCpiMeta::Dump(std::string_view prefix, DumpArchive& archive) const {
  cpi.Dump(prefix, archive);
}

// ---- The file ----

bool Clpi::Read(std::span<const uint8_t> file, std::string* error) {
  *this = Clpi();
  ByteReader header(file);
  header.Bytes(TypeIndicator);
  header.Bytes(VersionNumber);
  SequenceInfoStartAddress = header.U32();
  ProgramInfoStartAddress = header.U32();
  CpiStartAddress = header.U32();
  ClipMarkStartAddress = header.U32();
  ExtensionDataStartAddress = header.U32();
  header.Skip(12);
  if (!header.ok()) {
    Fail(error, "file shorter than its header");
    return false;
  }
  if (!CheckTypeAndVersion(TypeIndicator, VersionNumber, "HDMV", error)) {
    *this = Clpi();
    return false;
  }
  if (!clip_info.Read(header)) {
    Fail(error, BlockFailure("ClipInfo", header));
    return false;
  }
  if (!ReadBlocks(file, error)) return false;
  ReadMakerBlock();
  return true;
}

bool Clpi::ReadBlocks(std::span<const uint8_t> file, std::string* error) {
  struct Block {
    const char* name;
    uint32_t address;
    bool optional;  // absent when its address is 0
    bool (*read)(Clpi& clip, ByteReader& r);
  };
  const Block blocks[] = {
      {"SequenceInfo", SequenceInfoStartAddress, false,
       [](Clpi& c, ByteReader& r) { return c.sequence_info.Read(r); }},
      {"ProgramInfo", ProgramInfoStartAddress, false,
       [](Clpi& c, ByteReader& r) { return c.program_info.Read(r); }},
      {"Cpi", CpiStartAddress, false, [](Clpi& c, ByteReader& r) { return c.cpi.Read(r); }},
      {"ClipMark", ClipMarkStartAddress, false,
       [](Clpi& c, ByteReader& r) {
         c.ClipMarkLength = r.U32();
         r.Skip(c.ClipMarkLength);
         return r.ok();
       }},
      {"ExtensionData", ExtensionDataStartAddress, true,
       [](Clpi& c, ByteReader& r) { return c.ext_data.emplace().Read(r); }},
  };
  for (const Block& block : blocks) {
    if (block.optional && block.address == 0) continue;
    ByteReader r = ByteReader(file).From(block.address);
    if (!r.ok()) {
      Fail(error, std::string(block.name) + "StartAddress points outside the file");
      return false;
    }
    if (!block.read(*this, r)) {
      Fail(error, BlockFailure(block.name, r));
      return false;
    }
    read_end = block.address + r.pos();
  }
  return true;
}

void Clpi::ReadMakerBlock() {
  KavoData.reset();
  if (std::memcmp(clip_info.Reserved, ClipInfo::kMakerMagic, 4) != 0) return;
  ByteReader r(std::span<const uint8_t>(clip_info.Reserved).subspan(4));
  ExtensionData block;
  // A block that does not parse stays what it is anyway: raw reserved bytes.
  if (block.Read(r)) KavoData = std::move(block);
}

bool Clpi::PlaceMakerBlock(std::string* error) {
  if (!KavoData) return true;
  const size_t size = KavoData->Write(nullptr);
  if (sizeof(ClipInfo::kMakerMagic) + size > ClipInfo::kReservedSize) {
    Fail(error, "the maker's block does not fit the reserved bytes of ClipInfo");
    return false;
  }
  ByteWriter block;
  KavoData->Write(&block);
  std::memcpy(clip_info.Reserved, ClipInfo::kMakerMagic, 4);
  std::memcpy(clip_info.Reserved + 4, block.buffer().data(), block.size());
  return true;
}

std::optional<std::vector<uint8_t>> Clpi::Write(std::string* error) {
  if (!PlaceMakerBlock(error)) return std::nullopt;
  ByteWriter w;
  w.Bytes(TypeIndicator, 4);
  w.Bytes(VersionNumber, 4);
  const size_t addresses_at = w.Reserve(20);
  w.Zeros(12);
  auto start = [&w](uint32_t& address) { address = static_cast<uint32_t>(w.pos()); };
  bool ok = clip_info.Write(w);
  start(SequenceInfoStartAddress);
  ok = ok && sequence_info.Write(w);
  start(ProgramInfoStartAddress);
  ok = ok && program_info.Write(w);
  start(CpiStartAddress);
  const std::optional<std::vector<EpStreamLayout>> layouts = ok ? cpi.Write(w) : std::nullopt;
  if (!layouts) {
    Fail(error, "a count does not fit its field");
    return std::nullopt;
  }
  for (size_t i = 0; i < layouts->size(); ++i) {
    STREAM_PID_ENTRY& entry = cpi.ep_map.Entries[i];
    entry.NumberOfCoarseEntries = (*layouts)[i].NumberOfCoarseEntries;
    entry.NumberOfFineEntries = (*layouts)[i].NumberOfFineEntries;
    entry.EpMapForOneStreamStartAddress = (*layouts)[i].EpMapForOneStreamStartAddress;
  }
  start(ClipMarkStartAddress);
  w.U32(0);
  ExtensionDataStartAddress = 0;
  if (ext_data) {
    start(ExtensionDataStartAddress);
    ext_data->Write(&w);
  }
  const uint32_t addresses[] = {SequenceInfoStartAddress, ProgramInfoStartAddress, CpiStartAddress,
                                ClipMarkStartAddress, ExtensionDataStartAddress};
  for (size_t i = 0; i < std::size(addresses); ++i) w.PatchU32(addresses_at + 4 * i, addresses[i]);
  if (!w.ok()) {
    Fail(error, "a length does not fit its field");
    return std::nullopt;
  }
  return w.Take();
}

void Clpi::Dump(std::string_view prefix, DumpArchive& archive) const {
  if (archive.IsLoading()) return;
  archive.Chars(prefix, "TypeIndicator", TypeIndicator);
  archive.Chars(prefix, "VersionNumber", VersionNumber);
  archive.Int(prefix, "SequenceInfoStartAddress", SequenceInfoStartAddress);
  archive.Int(prefix, "ProgramInfoStartAddress", ProgramInfoStartAddress);
  archive.Int(prefix, "CpiStartAddress", CpiStartAddress);
  archive.Int(prefix, "ClipMarkStartAddress", ClipMarkStartAddress);
  archive.Int(prefix, "ExtensionDataStartAddress", ExtensionDataStartAddress);
  const std::string inner = Nested(prefix);
  archive.Heading(prefix, "ClipInfo");
  clip_info.Dump(inner, archive);
  if (KavoData) {
    archive.Heading(prefix, "KavoData");
    KavoData->Dump(inner, archive);
  }
  archive.Heading(prefix, "SequenceInfo");
  sequence_info.Dump(inner, archive);
  archive.Heading(prefix, "ProgramInfo");
  program_info.Dump(inner, archive);
  archive.Heading(prefix, "Cpi");
  cpi.Dump(inner, archive);
  archive.Heading(prefix, "ClipMark");
  archive.Int(inner, "Length", ClipMarkLength);
  if (ext_data) {
    archive.Heading(prefix, "ExtensionData");
    ext_data->Dump(inner, archive);
  }
}

// ---- Following clips ----

std::optional<std::vector<uint8_t>> WithFollowingClips(std::span<const uint8_t> file,
                                                       const std::vector<ATC_DELTA_ENTRY>& entries,
                                                       std::string* error) {
  ByteReader r(file);
  r.Seek(Clpi::kHeaderSize);
  ClipInfo clip_info;
  if (!clip_info.Read(r)) {
    Fail(error, BlockFailure("ClipInfo", r));
    return std::nullopt;
  }
  const size_t old_end = r.pos();
  clip_info.AtcDeltaEntries = entries;
  ByteWriter w;
  w.Bytes(file.first(Clpi::kHeaderSize));
  if (!clip_info.Write(w)) {
    Fail(error, "too many ATC delta entries");
    return std::nullopt;
  }
  const int64_t shift = static_cast<int64_t>(w.pos()) - static_cast<int64_t>(old_end);
  // Every block after ClipInfo moves with it; an address inside ClipInfo or the header would
  // move to a wrong place, so the file is refused instead.
  for (size_t at = 8; at < 28; at += 4) {
    const uint32_t address = ByteReader(file.subspan(at, 4)).U32();
    if (at == 24 && address == 0) continue;
    const int64_t moved = int64_t{address} + shift;
    if (address < old_end || moved > int64_t{UINT32_MAX}) {
      Fail(error, "a start address points into ClipInfo");
      return std::nullopt;
    }
    w.PatchU32(at, static_cast<uint32_t>(moved));
  }
  w.Bytes(file.subspan(old_end));
  return w.Take();
}

bool SetFollowingClips(const std::filesystem::path& path,
                       const std::vector<ATC_DELTA_ENTRY>& entries, std::string* error) {
  std::vector<uint8_t> file;
  if (!ReadWholeFile(path, file, error)) return false;
  const std::optional<std::vector<uint8_t>> patched = WithFollowingClips(file, entries, error);
  // Written whole, so a file that gets shorter loses its old tail instead of keeping it.
  return patched && WriteWholeFile(path, *patched, error);
}

}  // namespace tessel
