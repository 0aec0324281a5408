#include "formats/stn.h"

#include <algorithm>
#include <cstring>

namespace tessel {
namespace {

enum class AttributeKind { kVideo, kAudio, kGraphics, kText, kOther };

AttributeKind KindOf(uint8_t coding_type) {
  if (IsVideoCodingType(coding_type)) return AttributeKind::kVideo;
  if (IsAudioCodingType(coding_type)) return AttributeKind::kAudio;
  if (IsGraphicsCodingType(coding_type)) return AttributeKind::kGraphics;
  if (IsTextSubtitleCodingType(coding_type)) return AttributeKind::kText;
  return AttributeKind::kOther;
}

const char* OrUnknown(const char* text) {
  return text ? text : "Unknown";
}

// Bytes 2..5 of either attribute layout: the parts both layouts share. Bytes a layout defines
// differently (video byte 3 and up, graphics byte 5) are left to the caller.
void DecodeShared(const uint8_t (&b)[4], AttributeValues& v) {
  switch (KindOf(v.StreamCodingType)) {
    case AttributeKind::kVideo:
      v.VideoFormat = b[0] >> 4;
      v.FrameRate = b[0] & 0x0F;
      break;
    case AttributeKind::kAudio:
      v.AudioPresentationType = b[0] >> 4;
      v.SamplingFrequency = b[0] & 0x0F;
      std::memcpy(v.Language, b + 1, 3);
      break;
    case AttributeKind::kGraphics:
      std::memcpy(v.Language, b, 3);
      break;
    case AttributeKind::kText:
      v.CharacterCode = b[0];
      std::memcpy(v.Language, b + 1, 3);
      break;
    case AttributeKind::kOther:
      break;
  }
}

void EncodeShared(const AttributeValues& v, uint8_t (&b)[4]) {
  switch (KindOf(v.StreamCodingType)) {
    case AttributeKind::kVideo:
      b[0] = static_cast<uint8_t>((v.VideoFormat & 0x0F) << 4 | (v.FrameRate & 0x0F));
      break;
    case AttributeKind::kAudio:
      b[0] = static_cast<uint8_t>((v.AudioPresentationType & 0x0F) << 4 |
                                  (v.SamplingFrequency & 0x0F));
      std::memcpy(b + 1, v.Language, 3);
      break;
    case AttributeKind::kGraphics:
      std::memcpy(b, v.Language, 3);
      break;
    case AttributeKind::kText:
      b[0] = v.CharacterCode;
      std::memcpy(b + 1, v.Language, 3);
      break;
    case AttributeKind::kOther:
      break;
  }
}

// The dump lines both layouts share, after Length and StreamCodingType.
void DumpShared(const AttributeValues& v, std::string_view prefix, DumpArchive& archive) {
  switch (KindOf(v.StreamCodingType)) {
    case AttributeKind::kVideo:
      archive.NameDec(prefix, "VideoFormat", VideoFormatText(v.VideoFormat), v.VideoFormat);
      archive.NameDec(prefix, "FrameRate", FrameRateText(v.FrameRate), v.FrameRate);
      break;
    case AttributeKind::kAudio:
      archive.Int(prefix, "AudioPresentationType", v.AudioPresentationType);
      archive.Int(prefix, "SamplingFrequency", v.SamplingFrequency);
      archive.Chars(prefix, "Language", v.Language);
      break;
    case AttributeKind::kGraphics:
      archive.Chars(prefix, "Language", v.Language);
      break;
    case AttributeKind::kText:
      archive.Int(prefix, "CharacterCode", v.CharacterCode);
      archive.Chars(prefix, "Language", v.Language);
      break;
    case AttributeKind::kOther:
      break;
  }
}

// Reads Length and StreamCodingType of either layout and returns the rest of the record. For a
// coding type with a known layout, decodes bytes 2..5 (left in `b` for the layout's own fields);
// for any other type keeps the rest of the record whole.
ByteReader ReadHead(ByteReader& r, AttributeValues& v, uint8_t (&b)[4]) {
  v.Length = r.U8();
  ByteReader body = r.Sub(v.Length);
  v.StreamCodingType = body.U8();
  if (KindOf(v.StreamCodingType) == AttributeKind::kOther) {
    v.OtherBytes = body.Vector(body.remaining());
    std::memset(b, 0, 4);
    return body;
  }
  body.Bytes(b);
  DecodeShared(b, v);
  return body;
}

// Writes a record of a coding type without a known layout as it was read; false for the others.
bool WriteOther(ByteWriter& w, const AttributeValues& v) {
  if (KindOf(v.StreamCodingType) != AttributeKind::kOther) return false;
  w.U8(static_cast<uint8_t>(1 + v.OtherBytes.size()));
  w.U8(v.StreamCodingType);
  w.Bytes(v.OtherBytes);
  return true;
}

void DumpHeader(const AttributeValues& v, std::string_view prefix, DumpArchive& archive) {
  archive.Int(prefix, "Length", v.Length);
  archive.NameHex(prefix, "StreamCodingType", OrUnknown(CodingTypeName(v.StreamCodingType)),
                  v.StreamCodingType);
}

// Reserved bytes that follow the PID of each stream entry type, kept as read.
size_t EntryReservedSize(uint8_t type) {
  return type == 1 ? 6 : type == 2 ? 4 : 5;
}

// Header count bytes 4..10 hold the lists in this order; the picture-in-picture count comes last
// although its list is stored right after the PG/text subtitle list.
constexpr StnList kCountOrder[kStnListCount] = {
    StnList::kPrimaryVideo,   StnList::kPrimaryAudio,   StnList::kPgTextSt,    StnList::kIg,
    StnList::kSecondaryAudio, StnList::kSecondaryVideo, StnList::kPipPgTextSt,
};

constexpr const char* kCountNames[kStnListCount] = {
    "NumberOfPrimaryVideoStreamEntries",       "NumberOfPrimaryAudioStreamEntries",
    "NumberOfPG_TextST_StreamEntries",         "NumberOfIG_StreamEntries",
    "NumberOfSecondaryAudioStreamEntries",     "NumberOfSecondaryVideoStreamEntries",
    "NumberOfPiP_PG_TextST_StreamEntriesPlus",
};

// Element names of the lists, in file order.
constexpr const char* kEntryNames[kStnListCount] = {
    "PrimaryVideoStreamEntry",   "PrimaryAudioStreamEntry", "PG_TextST_StreamEntry",
    "PiP_PG_TextST_StreamEntry", "IG_StreamEntry",          "SecondaryAudioStreamEntry",
    "SecondaryVideoStreamEntry",
};

}  // namespace

int StreamClassOfPid(uint16_t pid) {
  if (pid == 0x1011) return kClassPrimaryVideo;
  if (pid == 0x1012) return kClassSecondViewVideo;
  if (pid >= 0x1100 && pid <= 0x111F) return kClassPrimaryAudio;
  if (pid >= 0x1200 && pid <= 0x12FF) return kClassPresentationGraphics;
  if (pid >= 0x1400 && pid <= 0x141F) return kClassInteractiveGraphics;
  if (pid == 0x1800) return kClassTextSubtitle;
  if (pid >= 0x1A00 && pid <= 0x1A1F) return kClassSecondaryAudio;
  if (pid >= 0x1B00 && pid <= 0x1B1F) return kClassSecondaryVideo;
  return -1;
}

StreamAttributeValues AttributeValues::Values() const {
  StreamAttributeValues out;
  out.coding_type = StreamCodingType;
  out.video_format = VideoFormat;
  out.frame_rate = FrameRate;
  out.aspect_ratio = AspectRatio;
  out.cc_flag = CcFlag;
  out.presentation_type = AudioPresentationType;
  out.sampling_frequency = SamplingFrequency;
  out.character_code = CharacterCode;
  std::memcpy(out.language, Language, 3);
  return out;
}

std::optional<std::string> GetLanguage(const AttributeValues& attributes) {
  const AttributeKind kind = KindOf(attributes.StreamCodingType);
  if (kind == AttributeKind::kVideo || kind == AttributeKind::kOther) return std::nullopt;
  return CharField(attributes.Language);
}

void SetLanguage(AttributeValues& attributes, std::string_view code) {
  const AttributeKind kind = KindOf(attributes.StreamCodingType);
  if (kind == AttributeKind::kVideo || kind == AttributeKind::kOther) return;
  SetCharField(attributes.Language, code);
}

// --- StreamEntry ---

bool StreamEntry::SameStream(const StreamEntry& other) const {
  if (Type != other.Type || Pid() != other.Pid()) return false;
  return (Type != 2 && Type != 3) || RefToSubPathID == other.RefToSubPathID;
}

bool StreamEntry::Read(ByteReader& r) {
  Length = r.U8();
  ByteReader body = r.Sub(Length);
  Type = body.U8();
  switch (Type) {
    case 1:
      RefToStreamPID_OfMainClip = body.U16();
      break;
    case 2:
      RefToSubPathID = body.U8();
      RefToSubClipEntryID = body.U8();
      RefToStreamPID_OfSubClip = body.U16();
      break;
    case 3:
      RefToSubPathID = body.U8();
      RefToStreamPID_OfMainClip = body.U16();
      break;
    default:
      OtherBytes = body.Vector(body.remaining());
      return body.ok() && r.ok();
  }
  body.Bytes(Reserved, EntryReservedSize(Type));
  return body.ok() && r.ok();
}

void StreamEntry::Write(ByteWriter& w) const {
  if (Type < 1 || Type > 3) {
    w.U8(static_cast<uint8_t>(1 + OtherBytes.size()));
    w.U8(Type);
    w.Bytes(OtherBytes);
    return;
  }
  w.U8(9);
  w.U8(Type);
  if (Type == 1) {
    w.U16(RefToStreamPID_OfMainClip);
  } else if (Type == 2) {
    w.U8(RefToSubPathID);
    w.U8(RefToSubClipEntryID);
    w.U16(RefToStreamPID_OfSubClip);
  } else {
    w.U8(RefToSubPathID);
    w.U16(RefToStreamPID_OfMainClip);
  }
  w.Bytes(Reserved, EntryReservedSize(Type));
}

void StreamEntry::Dump(std::string_view prefix, DumpArchive& archive) const {
  archive.Int(prefix, "Length", Length);
  archive.Int(prefix, "Type", Type);
  if (Type == 1) {
    archive.Hex16(prefix, "RefToStreamPID_OfMainClip", RefToStreamPID_OfMainClip);
  } else if (Type == 2) {
    archive.Hex8(prefix, "RefToSubPathID", RefToSubPathID);
    archive.Hex8(prefix, "RefToSubClipEntryID", RefToSubClipEntryID);
    archive.Hex16(prefix, "RefToStreamPID_OfSubClip", RefToStreamPID_OfSubClip);
  } else if (Type == 3) {
    archive.Hex8(prefix, "RefToSubPathID", RefToSubPathID);
    archive.Hex16(prefix, "RefToStreamPID_OfMainClip", RefToStreamPID_OfMainClip);
  }
}

// --- StreamAttributes ---

bool StreamAttributes::Read(ByteReader& r) {
  uint8_t b[4];
  ByteReader body = ReadHead(r, *this, b);
  const AttributeKind kind = KindOf(StreamCodingType);
  if (kind == AttributeKind::kVideo) std::memcpy(Reserved, b + 1, 3);
  if (kind == AttributeKind::kGraphics) Reserved[0] = b[3];
  return body.ok() && r.ok();
}

void StreamAttributes::Write(ByteWriter& w) const {
  if (WriteOther(w, *this)) return;
  const AttributeKind kind = KindOf(StreamCodingType);
  uint8_t b[4] = {};
  EncodeShared(*this, b);
  if (kind == AttributeKind::kVideo) std::memcpy(b + 1, Reserved, 3);
  if (kind == AttributeKind::kGraphics) b[3] = Reserved[0];
  w.U8(5);
  w.U8(StreamCodingType);
  w.Bytes(b, 4);
}

void StreamAttributes::Dump(std::string_view prefix, DumpArchive& archive) const {
  DumpHeader(*this, prefix, archive);
  DumpShared(*this, prefix, archive);
}

// --- StreamCombInfo ---

void StreamCombInfo::AddRef(uint8_t id) {
  if (std::find(RefIDs.begin(), RefIDs.end(), id) == RefIDs.end()) RefIDs.push_back(id);
}

bool StreamCombInfo::Read(ByteReader& r) {
  const uint8_t count = r.U8();
  Reserved = r.U8();
  RefIDs = r.Vector(count);
  if (count & 1) r.Skip(1);
  return r.ok();
}

void StreamCombInfo::Write(ByteWriter& w) const {
  w.U8(static_cast<uint8_t>(RefIDs.size()));
  w.U8(Reserved);
  w.Bytes(RefIDs);
  if (RefIDs.size() & 1) w.U8(0);
}

void StreamCombInfo::Dump(std::string_view prefix, DumpArchive& archive) const {
  archive.Int(prefix, "NumberOfRefEntries", static_cast<int64_t>(RefIDs.size()));
  for (uint8_t id : RefIDs) archive.Hex8(prefix, "RefID", id);
}

// --- Stream entries ---

std::unique_ptr<PRIMARY_STREAM_ENTRY> PRIMARY_STREAM_ENTRY::Clone() const {
  return std::make_unique<PRIMARY_STREAM_ENTRY>(*this);
}

bool PRIMARY_STREAM_ENTRY::Read(ByteReader& r) {
  const bool entry_ok = Entry.Read(r);
  return Attributes.Read(r) && entry_ok;
}

void PRIMARY_STREAM_ENTRY::Write(ByteWriter& w) const {
  Entry.Write(w);
  Attributes.Write(w);
}

void PRIMARY_STREAM_ENTRY::Dump(std::string_view prefix, DumpArchive& archive) const {
  const std::string inner = Nested(prefix);
  archive.Heading(prefix, "StreamEntry");
  Entry.Dump(inner, archive);
  archive.Heading(prefix, "StreamAttributes");
  Attributes.Dump(inner, archive);
}

std::unique_ptr<PRIMARY_STREAM_ENTRY> SECONDARD_AUDIO_STREAM_ENTRY::Clone() const {
  return std::make_unique<SECONDARD_AUDIO_STREAM_ENTRY>(*this);
}

bool SECONDARD_AUDIO_STREAM_ENTRY::Read(ByteReader& r) {
  const bool base_ok = PRIMARY_STREAM_ENTRY::Read(r);
  return SecondardAudioStreamCombInfo.Read(r) && base_ok;
}

void SECONDARD_AUDIO_STREAM_ENTRY::Write(ByteWriter& w) const {
  PRIMARY_STREAM_ENTRY::Write(w);
  SecondardAudioStreamCombInfo.Write(w);
}

void SECONDARD_AUDIO_STREAM_ENTRY::Dump(std::string_view prefix, DumpArchive& archive) const {
  PRIMARY_STREAM_ENTRY::Dump(prefix, archive);
  archive.Heading(prefix, "SecondardAudioStreamCombInfo");
  SecondardAudioStreamCombInfo.Dump(Nested(prefix), archive);
}

std::unique_ptr<PRIMARY_STREAM_ENTRY> SECONDARD_VIDEO_STREAM_ENTRY::Clone() const {
  return std::make_unique<SECONDARD_VIDEO_STREAM_ENTRY>(*this);
}

bool SECONDARD_VIDEO_STREAM_ENTRY::Read(ByteReader& r) {
  const bool base_ok = PRIMARY_STREAM_ENTRY::Read(r);
  const bool audio_ok = SecondardVideoSecondardAudioStreamCombInfo.Read(r);
  return SecondardVideoPiP_PG_TextST_StreamCombInfo.Read(r) && audio_ok && base_ok;
}

void SECONDARD_VIDEO_STREAM_ENTRY::Write(ByteWriter& w) const {
  PRIMARY_STREAM_ENTRY::Write(w);
  SecondardVideoSecondardAudioStreamCombInfo.Write(w);
  SecondardVideoPiP_PG_TextST_StreamCombInfo.Write(w);
}

void SECONDARD_VIDEO_STREAM_ENTRY::Dump(std::string_view prefix, DumpArchive& archive) const {
  PRIMARY_STREAM_ENTRY::Dump(prefix, archive);
  const std::string inner = Nested(prefix);
  archive.Heading(prefix, "SecondardVideoSecondardAudioStreamCombInfo");
  SecondardVideoSecondardAudioStreamCombInfo.Dump(inner, archive);
  archive.Heading(prefix, "SecondardVideoPiP_PG_TextST_StreamCombInfo");
  SecondardVideoPiP_PG_TextST_StreamCombInfo.Dump(inner, archive);
}

// --- StnTable ---

StnTable::StnTable(const StnTable& other) {
  *this = other;
}

StnTable& StnTable::operator=(const StnTable& other) {
  if (this == &other) return *this;
  Length = other.Length;
  std::memcpy(Reserved1, other.Reserved1, sizeof Reserved1);
  std::memcpy(Reserved2, other.Reserved2, sizeof Reserved2);
  for (int i = 0; i < kStnListCount; ++i) {
    lists[i].clear();
    for (const auto& entry : other.lists[i]) lists[i].push_back(entry->Clone());
  }
  return *this;
}

std::unique_ptr<PRIMARY_STREAM_ENTRY> StnTable::NewEntry(StnList which) {
  if (which == StnList::kSecondaryAudio) return std::make_unique<SECONDARD_AUDIO_STREAM_ENTRY>();
  if (which == StnList::kSecondaryVideo) return std::make_unique<SECONDARD_VIDEO_STREAM_ENTRY>();
  return std::make_unique<PRIMARY_STREAM_ENTRY>();
}

PRIMARY_STREAM_ENTRY* StnTable::FindStream(const PRIMARY_STREAM_ENTRY& entry) const {
  for (const StreamEntryList& entries : lists) {
    for (const auto& candidate : entries) {
      if (candidate->Entry.SameStream(entry.Entry)) return candidate.get();
    }
  }
  return nullptr;
}

int StnTable::IndexOfPid(StnList which, uint16_t pid) const {
  const StreamEntryList& entries = list(which);
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i]->Entry.Pid() == pid) return static_cast<int>(i);
  }
  return -1;
}

bool StnTable::RemoveStream(const PRIMARY_STREAM_ENTRY& entry) {
  auto remove_from = [&entry](StreamEntryList& entries) {
    const auto it = std::find_if(entries.begin(), entries.end(), [&entry](const auto& candidate) {
      return candidate->Entry.SameStream(entry.Entry);
    });
    if (it == entries.end()) return false;
    entries.erase(it);
    return true;
  };
  switch (StreamClassOfPid(entry.Entry.Pid())) {
    case kClassPrimaryVideo:
      return remove_from(list(StnList::kPrimaryVideo));
    case kClassPrimaryAudio:
      return remove_from(list(StnList::kPrimaryAudio));
    case kClassPresentationGraphics:
    case kClassTextSubtitle:
      return remove_from(list(StnList::kPgTextSt)) || remove_from(list(StnList::kPipPgTextSt));
    case kClassInteractiveGraphics:
      return remove_from(list(StnList::kIg));
    case kClassSecondaryAudio:
      return remove_from(list(StnList::kSecondaryAudio));
    case kClassSecondaryVideo:
      return remove_from(list(StnList::kSecondaryVideo));
    default:
      return false;
  }
}

void StnTable::SortStreams() {
  for (StreamEntryList& entries : lists) {
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a->OrderKey < b->OrderKey; });
  }
}

bool StnTable::Read(ByteReader& r) {
  Length = r.U16();
  ByteReader body = r.Sub(Length);
  body.Bytes(Reserved1);
  uint8_t counts[kStnListCount];
  body.Bytes(counts);
  body.Bytes(Reserved2);
  int count_of[kStnListCount] = {};
  for (int i = 0; i < kStnListCount; ++i) count_of[static_cast<int>(kCountOrder[i])] = counts[i];
  for (int l = 0; l < kStnListCount; ++l) {
    const StnList which = static_cast<StnList>(l);
    StreamEntryList& entries = list(which);
    entries.clear();
    entries.reserve(static_cast<size_t>(count_of[l]));  // at most 255
    for (int n = 0; n < count_of[l] && body.ok(); ++n) {
      auto entry = NewEntry(which);
      if (!entry->Read(body)) return false;
      entries.push_back(std::move(entry));
    }
  }
  return body.ok() && r.ok();
}

void StnTable::Write(ByteWriter& w) const {
  const size_t length_at = w.BeginLength16();
  w.Bytes(Reserved1, sizeof Reserved1);
  for (StnList which : kCountOrder) w.U8(static_cast<uint8_t>(list(which).size()));
  w.Bytes(Reserved2, sizeof Reserved2);
  for (const StreamEntryList& entries : lists) {
    for (const auto& entry : entries) entry->Write(w);
  }
  w.EndLength16(length_at);
}

void StnTable::Dump(std::string_view prefix, DumpArchive& archive) const {
  archive.Int(prefix, "Length", Length);
  for (int i = 0; i < kStnListCount; ++i) {
    archive.Int(prefix, kCountNames[i], static_cast<int64_t>(list(kCountOrder[i]).size()));
  }
  const std::string inner = Nested(prefix);
  for (int l = 0; l < kStnListCount; ++l) {
    for (size_t i = 0; i < lists[l].size(); ++i) {
      archive.Element(prefix, kEntryNames[l], static_cast<int>(i));
      lists[l][i]->Dump(inner, archive);
    }
  }
}

// --- StreamCodingInfo ---

bool StreamCodingInfo::Read(ByteReader& r) {
  uint8_t b[4];
  ByteReader body = ReadHead(r, *this, b);
  const AttributeKind kind = KindOf(StreamCodingType);
  if (kind == AttributeKind::kOther) return body.ok() && r.ok();
  if (kind == AttributeKind::kVideo) AspectRatio = b[1] >> 4;
  // Some writers end the record before the ISRC; it then stays blank.
  if (body.Has(12)) {
    body.Bytes(CountryCode);
    body.Bytes(CopyrightHolder);
    body.Bytes(RecordingYear);
    body.Bytes(RecordingNumber);
  }
  return body.ok() && r.ok();
}

void StreamCodingInfo::Write(ByteWriter& w) const {
  if (WriteOther(w, *this)) return;
  w.U8(21);
  w.U8(StreamCodingType);
  uint8_t b[4] = {};
  EncodeShared(*this, b);
  if (KindOf(StreamCodingType) == AttributeKind::kVideo) {
    b[1] = static_cast<uint8_t>((AspectRatio & 0x0F) << 4);
  }
  w.Bytes(b, 4);
  w.Bytes(CountryCode, sizeof CountryCode);
  w.Bytes(CopyrightHolder, sizeof CopyrightHolder);
  w.Bytes(RecordingYear, sizeof RecordingYear);
  w.Bytes(RecordingNumber, sizeof RecordingNumber);
  w.Zeros(4);
}

void StreamCodingInfo::Dump(std::string_view prefix, DumpArchive& archive) const {
  DumpHeader(*this, prefix, archive);
  DumpShared(*this, prefix, archive);
  if (KindOf(StreamCodingType) == AttributeKind::kVideo) {
    archive.NameDec(prefix, "AspectRatio", AspectRatioText(AspectRatio), AspectRatio);
    archive.Int(prefix, "CcFlag", CcFlag ? 1 : 0);
  }
  archive.Heading(prefix, "ISRC");
  const std::string inner = Nested(prefix);
  archive.Chars(inner, "CountryCode", CountryCode);
  archive.Chars(inner, "CopyrightHolder", CopyrightHolder);
  archive.Chars(inner, "RecordingYear", RecordingYear);
  archive.Chars(inner, "RecordingNumber", RecordingNumber);
}

bool StreamInfo::Read(ByteReader& r) {
  StreamPID = r.U16();
  return CodingInfo.Read(r);
}

void StreamInfo::Write(ByteWriter& w) const {
  w.U16(StreamPID);
  CodingInfo.Write(w);
}

void StreamInfo::Dump(std::string_view prefix, DumpArchive& archive) const {
  archive.Hex16(prefix, "StreamPID", StreamPID);
  archive.Heading(prefix, "StreamCodingInfo");
  CodingInfo.Dump(Nested(prefix), archive);
}

std::vector<StreamInfo> ToStreamInfoList(const StnTable& table) {
  std::vector<StreamInfo> out;
  for (const StreamEntryList& entries : table.lists) {
    for (const auto& entry : entries) {
      if (entry->Entry.Type == 2) continue;
      StreamInfo info;
      info.StreamPID = entry->Entry.Pid();
      static_cast<AttributeValues&>(info.CodingInfo) = entry->Attributes;
      // A coding type without a known layout: its attribute bytes, then a blank ISRC and the
      // reserved bytes, as a clip stores the known types.
      if (!info.CodingInfo.OtherBytes.empty()) info.CodingInfo.OtherBytes.resize(20);
      out.push_back(info);
    }
  }
  return out;
}

}  // namespace tessel
