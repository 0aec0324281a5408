#include "formats/index.h"

#include <cstring>

#include "formats/field_access.h"
#include "formats/file_header.h"
#include "platform/format.h"

namespace tessel {
namespace {

constexpr size_t kHeaderSize = 40;
constexpr size_t kAppInfoSize = 38;
constexpr size_t kEntrySize = 12;
// Length, FirstPlayback, TopMenu and Title Count.
constexpr size_t kIndexesFixedSize = 4 + 2 * kEntrySize + 2;

void ReadAppInfo(ByteReader& in, IndexAppInfo& info) {
  info.Length = in.U32();
  in.Bytes(info.Flags);
  in.Bytes(info.ContentProviderUserData);
}

void DumpAppInfo(const IndexAppInfo& info, std::string_view prefix, DumpArchive& archive) {
  archive.Int(prefix, "Length", info.Length);
  archive.Hex16(prefix, "Flags", uint32_t{info.Flags[0]} << 8 | info.Flags[1]);
  archive.Text(prefix, "ContentProviderUserData", HexText(info.ContentProviderUserData));
}

// The 12-byte entry at the reader's position.
TI ReadEntry(ByteReader& in) {
  uint8_t raw[kEntrySize];
  in.Bytes(raw);
  TI entry;
  entry.Read(raw);
  return entry;
}

bool ReadIndexes(ByteReader& file, IndexFile& index, std::string* error) {
  ByteReader at = file.From(index.IndexsStartAddress);
  index.IndexesLength = at.U32();
  ByteReader body = at.Sub(index.IndexesLength);
  if (!at.ok()) {
    return Failed(error, Format("Indexes at %u with length %u lies outside the file (%zu bytes)",
                                index.IndexsStartAddress, index.IndexesLength, file.size()));
  }
  if (index.IndexesLength < kIndexesFixedSize - 4) {
    return Failed(error, Format("Indexes: length %u is shorter than its %zu fixed bytes",
                                index.IndexesLength, kIndexesFixedSize - 4));
  }
  index.FirstPlayback = ReadEntry(body);
  index.TopMenu = ReadEntry(body);
  const uint16_t count = body.U16();
  if (!body.Has(size_t{count} * kEntrySize)) {
    return Failed(error, Format("Indexes: Title Count %u needs %zu bytes, the block has %zu", count,
                                size_t{count} * kEntrySize, body.remaining()));
  }
  index.Titles.reserve(count);
  for (uint16_t i = 0; i < count; ++i) index.Titles.push_back(ReadEntry(body));
  return true;
}

}  // namespace

bool ReadRawExtensionData(std::span<const uint8_t> file, uint32_t address,
                          std::vector<uint8_t>& raw, std::string* error) {
  ByteReader at = ByteReader(file).From(address);
  const uint32_t length = at.U32();
  at.Seek(0);
  raw = at.Vector(size_t{length} + 4);
  if (!at.ok()) {
    return Failed(error,
                  Format("ExtensionData at %u with length %u lies outside the file (%zu bytes)",
                         address, length, file.size()));
  }
  return true;
}

void DumpRawExtensionData(std::span<const uint8_t> raw, std::string_view prefix,
                          DumpArchive& archive) {
  archive.Heading(prefix, "ExtensionData");
  archive.Int(Nested(prefix), "Length", ByteReader(raw).U32());
}

void TI::Read(std::span<const uint8_t, 12> entry) {
  *this = TI{};
  ObjectType = entry[0] >> 6;
  TitleAccessType = (entry[0] >> 4) & 0x03;
  TitlePlaybackType = entry[4] >> 6;
  if (IsHdmv()) {
    MovieObject = static_cast<uint16_t>(entry[6] << 8 | entry[7]);
  } else {
    std::memcpy(BDJO_FileName, entry.data() + 6, sizeof BDJO_FileName);
  }
}

void TI::Dump(std::string_view prefix, DumpArchive& archive) const {
  archive.DecName(prefix, "ObjectType", ObjectType, IsHdmv() ? "HDMV" : "BD-J");
  archive.Int(prefix, "TitleAccessType", TitleAccessType);
  if (IsHdmv()) {
    archive.Int(prefix, "HDMV_TitlePlaybackType", TitlePlaybackType);
    archive.Int(prefix, "MovieObject", MovieObject);
  } else {
    archive.Int(prefix, "BDJ_TitlePlaybackType", TitlePlaybackType);
    archive.Chars(prefix, "BDJO_FileName", BDJO_FileName);
  }
}

bool IndexFile::Read(std::span<const uint8_t> file, std::string* error) {
  *this = IndexFile{};
  ByteReader in(file);
  if (!in.Has(kHeaderSize + kAppInfoSize)) {
    return Failed(error, Format("the file has %zu bytes, fewer than its header and AppInfoBDMV "
                                "(%zu)",
                                file.size(), kHeaderSize + kAppInfoSize));
  }
  in.Bytes(TypeIndicator);
  in.Bytes(VersionNumber);
  if (!CheckTypeAndVersion(TypeIndicator, VersionNumber, "INDX", error)) {
    *this = IndexFile{};
    return false;
  }
  IndexsStartAddress = in.U32();
  ExtensionDataStartAddress = in.U32();
  in.Bytes(Reserved);
  ReadAppInfo(in, AppInfoBDMV);
  const bool read = ReadIndexes(in, *this, error) &&
                    (ExtensionDataStartAddress == 0 ||
                     ReadRawExtensionData(file, ExtensionDataStartAddress, ExtensionData, error));
  if (!read) *this = IndexFile{};
  return read;
}

void IndexFile::Dump(std::string_view prefix, DumpArchive& archive) const {
  if (archive.IsLoading()) return;
  const std::string inner = Nested(prefix);
  const std::string entry = Nested(inner);
  archive.Chars(prefix, "TypeIndicator", TypeIndicator);
  archive.Chars(prefix, "VersionNumber", VersionNumber);
  archive.Int(prefix, "IndexsStartAddress", IndexsStartAddress);
  archive.Int(prefix, "ExtensionDataStartAddress", ExtensionDataStartAddress);
  archive.Heading(prefix, "AppInfoBDMV");
  DumpAppInfo(AppInfoBDMV, inner, archive);
  archive.Heading(prefix, "Indexes");
  archive.Int(inner, "Length", IndexesLength);
  archive.Heading(inner, "FirstPlayback");
  FirstPlayback.Dump(entry, archive);
  archive.Heading(inner, "TopMenu");
  TopMenu.Dump(entry, archive);
  archive.Int(inner, "Title Count", static_cast<int64_t>(Titles.size()));
  for (size_t i = 0; i < Titles.size(); ++i) {
    archive.Element(inner, "Title", static_cast<int>(i));
    Titles[i].Dump(entry, archive);
  }
  if (!ExtensionData.empty()) DumpRawExtensionData(ExtensionData, prefix, archive);
}

}  // namespace tessel
