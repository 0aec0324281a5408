#include "formats/mpls.h"

#include <algorithm>

#include "formats/file_header.h"
#include "platform/common.h"
#include "platform/format.h"

namespace tessel {
namespace {

// Texts of ConnectionCondition 0..15; the codes without a meaning show as "Reserved".
constexpr const char* kConnectionConditionTexts[16] = {
    "Reserved",
    "NonSeamless (1)",
    "Reserved",
    "Reserved",
    "Reserved",
    "Seamless with clean break (5)",
    "Seamless without break (6)",
    "Reserved",
    "Reserved",
    "Reserved",
    "Reserved",
    "Reserved",
    "Reserved",
    "Reserved",
    "Reserved",
    "Reserved",
};

constexpr const char* kSubPathTypeTexts[10] = {
    "Reserved",        "Reserved",         "Primary audio of BSS", "IG menu",  "Text subtitle",
    "OutMux Sync PIP", "OutMux Async PIP", "InMux Sync PIP",       "3D Video", "Reserved",
};

constexpr const char* kPlaybackTypeTexts[4] = {"Reserved", "Sequential", "Random", "Shuffle"};
constexpr const char* kStillModeTexts[3] = {"No", "Finite", "Infinite"};
constexpr const char* kMarkTypeTexts[3] = {"Reserved", "EntryMark", "LinkPoint"};

template <size_t N>
const char* TextOf(const char* const (&texts)[N], unsigned code) {
  return code < N ? texts[code] : "Reserved";
}

}  // namespace

const char* ConnectionConditionText(unsigned code) {
  return TextOf(kConnectionConditionTexts, code);
}
const char* SubPathTypeText(unsigned code) {
  return TextOf(kSubPathTypeTexts, code);
}
const char* PlaybackTypeText(unsigned code) {
  return TextOf(kPlaybackTypeTexts, code);
}
const char* StillModeText(unsigned code) {
  return TextOf(kStillModeTexts, code);
}
const char* MarkTypeText(unsigned code) {
  return TextOf(kMarkTypeTexts, code);
}

namespace {

int ClipNumberOf(const uint8_t (&name)[5]) {
  return FileNumberFromName(CharField(name));
}

// Names a failed record: a length that leaves its enclosing block, or fields that run past the
// record's own length.
void NameFailure(std::string* error, const std::string& what, const ByteReader& parent) {
  if (!error) return;
  *error =
      what + (parent.ok() ? ": fields run past its length" : ": length points outside its block");
}

void DumpClipName(std::string_view prefix, DumpArchive& archive, const uint8_t (&name)[5],
                  const uint8_t (&codec)[4]) {
  archive.Chars(prefix, "ClipInformationFileName", name);
  archive.Chars(prefix, "ClipCodecIdentifier", codec);
}

}  // namespace

// --- MultiClipEntries ---

bool MultiClipEntries::Read(ByteReader& r) {
  const uint8_t count = r.U8();
  const uint8_t flags = r.U8();
  if (angle_variant) {
    IsDifferentAudios = flags & 0x02;
    SeamlessAngleChange = flags & 0x01;
  } else {
    IsDifferentAudios = SeamlessAngleChange = false;
  }
  entries.clear();
  for (int i = 1; i < count && r.ok(); ++i) {
    ANGLE_CLIP_ENTRY e;
    r.Bytes(e.ClipInformationFileName);
    r.Bytes(e.ClipCodecIdentifier);
    e.RefToSTC_ID = r.U8();
    entries.push_back(e);
  }
  return r.ok();
}

void MultiClipEntries::Write(ByteWriter& w) const {
  w.U8(static_cast<uint8_t>(entries.size() + 1));
  w.U8(angle_variant
           ? static_cast<uint8_t>((IsDifferentAudios ? 0x02 : 0) | (SeamlessAngleChange ? 0x01 : 0))
           : 0);
  for (const ANGLE_CLIP_ENTRY& e : entries) {
    w.Bytes(e.ClipInformationFileName, 5);
    w.Bytes(e.ClipCodecIdentifier, 4);
    w.U8(e.RefToSTC_ID);
  }
}

void MultiClipEntries::Dump(std::string_view prefix, DumpArchive& archive) const {
  archive.Int(prefix, "NumberOfAngles", static_cast<int64_t>(entries.size() + 1));
  if (angle_variant) {
    archive.Int(prefix, "IsDifferentAudios", IsDifferentAudios);
    archive.Int(prefix, "SeamlessAngleChange", SeamlessAngleChange);
  }
  const std::string inner = Nested(prefix);
  for (size_t i = 0; i < entries.size(); ++i) {
    archive.Element(prefix, "AngleClipEntry", static_cast<int>(i));
    DumpClipName(inner, archive, entries[i].ClipInformationFileName,
                 entries[i].ClipCodecIdentifier);
    archive.Hex8(inner, "RefToSTC_ID", entries[i].RefToSTC_ID);
  }
}

// --- PLAY_ITEM ---

int PLAY_ITEM::ClipNumber() const {
  return ClipNumberOf(ClipInformationFileName);
}

bool PLAY_ITEM::Read(ByteReader& r) {
  Length = r.U16();
  ByteReader body = r.Sub(Length);
  body.Bytes(ClipInformationFileName);
  body.Bytes(ClipCodecIdentifier);
  body.Skip(1);
  const uint8_t flags = body.U8();
  ConnectionCondition = flags & 0x0F;
  RefToSTC_ID = body.U8();
  InTime = body.U32();
  OutTime = body.U32();
  body.Bytes(UoMaskTable);
  PlayItemRandomAccessFlag = body.U8() & 0x80;
  StillMode = body.U8();
  const uint16_t still_time = body.U16();
  StillTime = StillMode == 1 ? still_time : 0;
  multi_angle.reset();
  if (flags & 0x10) {
    multi_angle.emplace();
    multi_angle->angle_variant = true;
    if (!multi_angle->Read(body)) return false;
  }
  return stn.Read(body) && body.ok() && r.ok();
}

void PLAY_ITEM::Write(ByteWriter& w) const {
  const size_t length_at = w.BeginLength16();
  w.Bytes(ClipInformationFileName, 5);
  w.Bytes(ClipCodecIdentifier, 4);
  w.U8(0);
  w.U8(static_cast<uint8_t>((multi_angle ? 0x10 : 0) | (ConnectionCondition & 0x0F)));
  w.U8(RefToSTC_ID);
  w.U32(InTime);
  w.U32(OutTime);
  w.Bytes(UoMaskTable, 8);
  w.U8(PlayItemRandomAccessFlag ? 0x80 : 0);
  w.U8(StillMode);
  w.U16(StillMode == 1 ? StillTime : 0);
  if (multi_angle) multi_angle->Write(w);
  stn.Write(w);
  w.EndLength16(length_at);
}

void PLAY_ITEM::Dump(std::string_view prefix, DumpArchive& archive) const {
  archive.Int(prefix, "Length", Length);
  DumpClipName(prefix, archive, ClipInformationFileName, ClipCodecIdentifier);
  archive.Int(prefix, "IsMultiAngle", multi_angle.has_value());
  archive.DecName(prefix, "ConnectionCondition", ConnectionCondition,
                  ConnectionConditionText(ConnectionCondition));
  archive.Hex8(prefix, "RefToSTC_ID", RefToSTC_ID);
  archive.Int(prefix, "InTime", InTime);
  archive.Int(prefix, "OutTime", OutTime);
  archive.Reserved8(prefix, "UoMaskTable", UoMaskTable);
  archive.Int(prefix, "PlayItemRandomAccessFlag", PlayItemRandomAccessFlag);
  archive.DecName(prefix, "StillMode", StillMode, StillModeText(StillMode));
  if (StillMode == 1) archive.Int(prefix, "StillTime", StillTime);
  if (multi_angle) multi_angle->Dump(prefix, archive);
  archive.Heading(prefix, "STNTable");
  stn.Dump(Nested(prefix), archive);
}

// --- SUB_PLAY_ITEM ---

int SUB_PLAY_ITEM::ClipNumber() const {
  return ClipNumberOf(ClipInformationFileName);
}

bool SUB_PLAY_ITEM::Read(ByteReader& r) {
  Length = r.U16();
  ByteReader body = r.Sub(Length);
  body.Bytes(ClipInformationFileName);
  body.Bytes(ClipCodecIdentifier);
  body.Skip(3);
  const uint8_t flags = body.U8();
  ConnectionCondition = flags >> 1 & 0x0F;
  RefToSTC_ID = body.U8();
  InTime = body.U32();
  OutTime = body.U32();
  SyncPlayItemID = body.U16();
  SyncStartPTS_OfPlayItem = body.U32();
  multi_clip.reset();
  if (flags & 0x01) {
    multi_clip.emplace();
    multi_clip->angle_variant = false;
    if (!multi_clip->Read(body)) return false;
  }
  return body.ok() && r.ok();
}

void SUB_PLAY_ITEM::Write(ByteWriter& w) const {
  const size_t length_at = w.BeginLength16();
  w.Bytes(ClipInformationFileName, 5);
  w.Bytes(ClipCodecIdentifier, 4);
  w.Zeros(3);
  w.U8(static_cast<uint8_t>((ConnectionCondition & 0x0F) << 1 | (multi_clip ? 0x01 : 0)));
  w.U8(RefToSTC_ID);
  w.U32(InTime);
  w.U32(OutTime);
  w.U16(SyncPlayItemID);
  w.U32(SyncStartPTS_OfPlayItem);
  if (multi_clip) multi_clip->Write(w);
  w.EndLength16(length_at);
}

void SUB_PLAY_ITEM::Dump(std::string_view prefix, DumpArchive& archive) const {
  archive.Int(prefix, "Length", Length);
  DumpClipName(prefix, archive, ClipInformationFileName, ClipCodecIdentifier);
  archive.DecName(prefix, "ConnectionCondition", ConnectionCondition,
                  ConnectionConditionText(ConnectionCondition));
  archive.Int(prefix, "IsMultiClipEntries", multi_clip.has_value());
  archive.Hex8(prefix, "RefToSTC_ID", RefToSTC_ID);
  archive.Int(prefix, "InTime", InTime);
  archive.Int(prefix, "OutTime", OutTime);
  archive.Hex16(prefix, "SyncPlayItemID", SyncPlayItemID);
  archive.Int(prefix, "SyncStartPTS_OfPlayItem", SyncStartPTS_OfPlayItem);
  if (multi_clip) multi_clip->Dump(prefix, archive);
}

// --- SUB_PATH ---

bool SUB_PATH::Read(ByteReader& r) {
  Length = r.U32();
  ByteReader body = r.Sub(Length);
  body.Skip(1);
  SubPathType = body.U8();
  body.Skip(1);
  IsRepeatSubPath = body.U8() & 0x01;
  body.Skip(1);
  const uint8_t count = body.U8();
  items.clear();
  for (int i = 0; i < count && body.ok(); ++i) {
    SUB_PLAY_ITEM item;
    if (!item.Read(body)) return false;
    items.push_back(std::move(item));
  }
  return body.ok() && r.ok();
}

void SUB_PATH::Write(ByteWriter& w) const {
  const size_t length_at = w.BeginLength32();
  w.U8(0);
  w.U8(SubPathType);
  w.U8(0);
  w.U8(IsRepeatSubPath ? 0x01 : 0);
  w.U8(0);
  w.U8(static_cast<uint8_t>(items.size()));
  for (const SUB_PLAY_ITEM& item : items) item.Write(w);
  w.EndLength32(length_at);
}

void SUB_PATH::Dump(std::string_view prefix, DumpArchive& archive) const {
  archive.Int(prefix, "Length", Length);
  archive.DecName(prefix, "SubPathType", SubPathType, SubPathTypeText(SubPathType));
  archive.Int(prefix, "IsRepeatSubPath", IsRepeatSubPath);
  archive.Int(prefix, "NumberOfSubPlayItems", static_cast<int64_t>(items.size()));
  const std::string inner = Nested(prefix);
  for (size_t i = 0; i < items.size(); ++i) {
    archive.ElementTight(prefix, "SubPlayItem", static_cast<int>(i));
    items[i].Dump(inner, archive);
  }
}

void DumpSubPaths(const std::vector<SUB_PATH>& sub_paths, std::string_view prefix,
                  DumpArchive& archive) {
  const std::string inner = Nested(prefix);
  for (size_t i = 0; i < sub_paths.size(); ++i) {
    archive.ElementTight(prefix, "SubPath", static_cast<int>(i));
    sub_paths[i].Dump(inner, archive);
  }
}

// --- AppInfoPlaylist ---

bool AppInfoPlaylist::Read(ByteReader& r) {
  Length = r.U32();
  Reserved = r.U8();
  PlaylistPlaybackType = r.U8();
  PlaybackCount = r.U16();
  r.Bytes(UoMaskTable);
  const uint8_t flags = r.U8();
  PlaylistRandomAccessFlag = flags & 0x80;
  AudioMixAppFlag = flags & 0x40;
  LosslessMayBypassMixerFlag = flags & 0x20;
  r.Skip(1);
  return r.ok();
}

void AppInfoPlaylist::Write(ByteWriter& w) const {
  w.U32(14);
  w.U8(Reserved);
  w.U8(PlaylistPlaybackType);
  w.U16(PlaybackCount);
  w.Bytes(UoMaskTable, 8);
  w.U8(static_cast<uint8_t>((PlaylistRandomAccessFlag ? 0x80 : 0) | (AudioMixAppFlag ? 0x40 : 0) |
                            (LosslessMayBypassMixerFlag ? 0x20 : 0)));
  w.U8(0);
}

void AppInfoPlaylist::Dump(std::string_view prefix, DumpArchive& archive) const {
  archive.Int(prefix, "Length", Length);
  archive.DecName(prefix, "PlaylistPlaybackType", PlaylistPlaybackType,
                  PlaybackTypeText(PlaylistPlaybackType));
  archive.Int(prefix, "PlaybackCount", PlaybackCount);
  archive.Reserved8(prefix, "UoMaskTable", UoMaskTable);
  archive.Int(prefix, "PlaylistRandomAccessFlag", PlaylistRandomAccessFlag);
  archive.Int(prefix, "AudioMixAppFlag", AudioMixAppFlag);
  archive.Int(prefix, "LosslessMayBypassMixerFlag", LosslessMayBypassMixerFlag);
}

// --- SSpMeta ---

bool SSpMeta::Read(std::span<const uint8_t> data) {
  ByteReader r(data);
  Length = r.U32();
  const uint16_t count = r.U16();
  sub_paths.clear();
  for (int i = 0; i < count && r.ok(); ++i) {
    SUB_PATH sub_path;
    if (!sub_path.Read(r)) return false;
    sub_paths.push_back(std::move(sub_path));
  }
  return r.ok();
}

void SSpMeta::Dump(std::string_view prefix, DumpArchive& archive) const {
  archive.Int(prefix, "Length", Length);
  archive.Int(prefix, "Count", static_cast<int64_t>(sub_paths.size()));
  DumpSubPaths(sub_paths, prefix, archive);
}

// --- Mpls ---

bool Mpls::Read(std::span<const uint8_t> file, std::string* error) {
  *this = Mpls();
  ByteReader header(file);
  header.Bytes(TypeIndicator);
  header.Bytes(VersionNumber);
  PlayListStartAddress = header.U32();
  PlayListMarkStartAddress = header.U32();
  ExtensionDataStartAddress = header.U32();
  header.Skip(20);
  if (!header.ok() || !app_info.Read(header)) {
    if (error) *error = "file shorter than its header and application info";
    return false;
  }
  if (!CheckTypeAndVersion(TypeIndicator, VersionNumber, "MPLS", error)) {
    *this = Mpls();
    return false;
  }
  auto block = [&file](uint32_t address) { return ByteReader(file).From(address); };
  ByteReader play_list = block(PlayListStartAddress);
  if (!play_list.ok()) {
    if (error) *error = "PlayListStartAddress points outside the file";
    return false;
  }
  if (!ReadPlayList(play_list, error)) return false;
  ByteReader play_marks = block(PlayListMarkStartAddress);
  if (!play_marks.ok()) {
    if (error) *error = "PlayListMarkStartAddress points outside the file";
    return false;
  }
  if (!ReadMarks(play_marks)) {
    NameFailure(error, "PlayListMarks", play_marks);
    return false;
  }
  if (ExtensionDataStartAddress == 0) return true;
  ByteReader extension = block(ExtensionDataStartAddress);
  ext_data.emplace();
  if (!extension.ok() || !ext_data->Read(extension)) {
    if (error) *error = "ExtensionData: an address or length points outside the file";
    return false;
  }
  return true;
}

bool Mpls::ReadPlayList(ByteReader r, std::string* error) {
  PlayListLength = r.U32();
  ByteReader body = r.Sub(PlayListLength);
  if (!body.ok()) {
    if (error) *error = "PlayList: length points outside the file";
    return false;
  }
  body.Skip(2);
  const uint16_t item_count = body.U16();
  const uint16_t sub_path_count = body.U16();
  for (int i = 0; i < item_count; ++i) {
    PLAY_ITEM& item = play_items.emplace_back();
    if (!item.Read(body)) {
      NameFailure(error, Format("PlayItem %d", i), body);
      return false;
    }
  }
  for (int i = 0; i < sub_path_count; ++i) {
    SUB_PATH& sub_path = sub_paths.emplace_back();
    if (!sub_path.Read(body)) {
      NameFailure(error, Format("SubPath %d", i), body);
      return false;
    }
  }
  if (!body.ok() && error) *error = "PlayList: counts run past its length";
  return body.ok();
}

bool Mpls::ReadMarks(ByteReader& r) {
  PlayListMarksLength = r.U32();
  ByteReader body = r.Sub(PlayListMarksLength);
  const uint16_t count = body.U16();
  // Marks have a fixed size, so a count the block cannot hold is refused before allocating.
  if (!body.Require(count <= body.remaining() / 14)) return false;
  marks.resize(count);
  for (PLAY_MARK& mark : marks) {
    body.Skip(1);
    mark.MarkType = body.U8();
    mark.RefToPlayItemID = body.U16();
    mark.MarkTimeStamp = body.U32();
    mark.EntryES_PID = body.U16();
    mark.Duration = body.U32();
  }
  return body.ok() && r.ok();
}

std::vector<uint8_t> Mpls::Write() const {
  ByteWriter w;
  w.Bytes(TypeIndicator, 4);
  w.Bytes(VersionNumber, 4);
  const size_t addresses_at = w.Reserve(12);
  w.Zeros(20);
  app_info.Write(w);

  w.PatchU32(addresses_at, static_cast<uint32_t>(w.pos()));
  const size_t play_list_at = w.BeginLength32();
  w.U16(0);
  w.U16(static_cast<uint16_t>(play_items.size()));
  w.U16(static_cast<uint16_t>(sub_paths.size()));
  for (const PLAY_ITEM& item : play_items) item.Write(w);
  for (const SUB_PATH& sub_path : sub_paths) sub_path.Write(w);
  w.EndLength32(play_list_at);

  w.PatchU32(addresses_at + 4, static_cast<uint32_t>(w.pos()));
  const size_t marks_at = w.BeginLength32();
  w.U16(static_cast<uint16_t>(marks.size()));
  for (const PLAY_MARK& mark : marks) {
    w.U8(0);
    w.U8(mark.MarkType);
    w.U16(mark.RefToPlayItemID);
    w.U32(mark.MarkTimeStamp);
    w.U16(mark.EntryES_PID);
    w.U32(mark.Duration);
  }
  w.EndLength32(marks_at);

  if (ext_data) {
    w.PatchU32(addresses_at + 8, static_cast<uint32_t>(w.pos()));
    ext_data->Write(&w);
  }
  return w.Take();
}

void Mpls::Dump(std::string_view prefix, DumpArchive& archive) const {
  archive.Chars(prefix, "TypeIndicator", TypeIndicator);
  archive.Chars(prefix, "VersionNumber", VersionNumber);
  archive.Int(prefix, "PlayListStartAddress", PlayListStartAddress);
  archive.Int(prefix, "PlayListMarkStartAddress", PlayListMarkStartAddress);
  archive.Int(prefix, "ExtensionDataStartAddress", ExtensionDataStartAddress);
  const std::string inner = Nested(prefix);
  const std::string inner2 = Nested(inner);
  archive.Heading(prefix, "AppInfoPlayList");
  app_info.Dump(inner, archive);

  archive.Heading(prefix, "PlayList");
  archive.Int(inner, "Length", PlayListLength);
  archive.Int(inner, "NumberOfPlayItems", static_cast<int64_t>(play_items.size()));
  archive.Int(inner, "NumberOfSubPaths", static_cast<int64_t>(sub_paths.size()));
  for (size_t i = 0; i < play_items.size(); ++i) {
    archive.Element(inner, "PlayItem", static_cast<int>(i));
    play_items[i].Dump(inner2, archive);
  }
  DumpSubPaths(sub_paths, inner, archive);

  archive.Heading(prefix, "PlayListMarks");
  archive.Int(inner, "Length", PlayListMarksLength);
  archive.Int(inner, "NumberOfPlayListMarks", static_cast<int64_t>(marks.size()));
  for (size_t i = 0; i < marks.size(); ++i) {
    const PLAY_MARK& mark = marks[i];
    archive.Element(inner, "PlayListMark", static_cast<int>(i));
    archive.DecName(inner2, "MarkType", mark.MarkType, MarkTypeText(mark.MarkType));
    archive.Int(inner2, "RefToPlayItemID", mark.RefToPlayItemID);
    archive.Int(inner2, "MarkTimeStamp", mark.MarkTimeStamp);
    archive.Hex16(inner2, "EntryES_PID", mark.EntryES_PID);
    archive.Int(inner2, "Duration", mark.Duration);
  }
  if (ext_data) {
    archive.Heading(prefix, "ExtensionData");
    ext_data->Dump(inner, archive);
  }
}

std::vector<int> Mpls::CollectClips() const {
  std::vector<int> clips;
  auto add = [&clips](int clip) {
    if (std::find(clips.begin(), clips.end(), clip) == clips.end()) clips.push_back(clip);
  };
  for (const PLAY_ITEM& item : play_items) {
    add(item.ClipNumber());
    if (!item.multi_angle) continue;
    for (const ANGLE_CLIP_ENTRY& angle : item.multi_angle->entries) {
      add(ClipNumberOf(angle.ClipInformationFileName));
    }
  }
  auto add_sub_paths = [&add](const std::vector<SUB_PATH>& paths) {
    for (const SUB_PATH& path : paths) {
      for (const SUB_PLAY_ITEM& item : path.items) add(item.ClipNumber());
    }
  };
  add_sub_paths(sub_paths);
  if (ext_data) {
    if (const SExtDataEntry* entry = ext_data->FindEntry(0x0002, 0x0002)) {
      SSpMeta meta;
      if (meta.Read(entry->data)) add_sub_paths(meta.sub_paths);
    }
  }
  return clips;
}

std::vector<ClipUse> Mpls::FindClipUses(int clip) const {
  std::vector<ClipUse> uses;
  for (size_t i = 0; i < play_items.size(); ++i) {
    if (play_items[i].ClipNumber() == clip) uses.emplace_back(-1, static_cast<int>(i));
  }
  for (size_t p = 0; p < sub_paths.size(); ++p) {
    for (size_t i = 0; i < sub_paths[p].items.size(); ++i) {
      if (sub_paths[p].items[i].ClipNumber() == clip) {
        uses.emplace_back(static_cast<int>(p), static_cast<int>(i));
      }
    }
  }
  return uses;
}

bool Mpls::RemoveClip(int clip) {
  std::vector<int> removed;
  for (size_t i = 0; i < play_items.size(); ++i) {
    if (play_items[i].ClipNumber() == clip) removed.push_back(static_cast<int>(i));
  }
  if (removed.empty()) return false;
  for (size_t m = marks.size(); m-- > 0;) {
    const int ref = marks[m].RefToPlayItemID;
    if (std::binary_search(removed.begin(), removed.end(), ref)) {
      marks.erase(marks.begin() + static_cast<std::ptrdiff_t>(m));
      continue;
    }
    const auto before = std::lower_bound(removed.begin(), removed.end(), ref) - removed.begin();
    marks[m].RefToPlayItemID = static_cast<uint16_t>(ref - before);
  }
  for (size_t i = removed.size(); i-- > 0;) {
    play_items.erase(play_items.begin() + removed[i]);
  }
  return true;
}

}  // namespace tessel
