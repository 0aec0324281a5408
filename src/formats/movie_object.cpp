#include "formats/movie_object.h"

#include "formats/field_access.h"
#include "formats/file_header.h"
#include "formats/index.h"
#include "platform/format.h"

namespace tessel {
namespace {

constexpr size_t kHeaderSize = 40;
constexpr size_t kObjectFixedSize = 4;  // flags, reserved, Command Count

bool ReadMovieObject(ByteReader& in, size_t index, MOVIE_OBJECT& object, std::string* error) {
  const uint8_t flags = in.U8();
  in.Skip(1);
  const uint16_t count = in.U16();
  if (!in.Has(size_t{count} * sizeof(CNavCmd))) {
    return Failed(error, Format("MovieObject %zu: Command Count %u needs %zu bytes, %zu are left "
                                "in MovieObjects",
                                index, count, size_t{count} * sizeof(CNavCmd), in.remaining()));
  }
  object.ResumeIntentionFlag = flags >> 7;
  object.MenuCallMask = (flags >> 6) & 1;
  object.TitleSearchMask = (flags >> 5) & 1;
  object.NavCmds.resize(count);
  for (CNavCmd& command : object.NavCmds) in.Bytes(command.data(), command.size());
  return true;
}

bool ReadMovieObjects(ByteReader& file, MovieObjectFile& record, std::string* error) {
  record.MovieObjectsLength = file.U32();
  ByteReader body = file.Sub(record.MovieObjectsLength);
  if (!file.ok()) {
    return Failed(error, Format("MovieObjects with length %u lies outside the file (%zu bytes)",
                                record.MovieObjectsLength, file.size()));
  }
  body.Skip(4);
  const uint16_t count = body.U16();
  if (!body.Has(size_t{count} * kObjectFixedSize)) {
    return Failed(error, Format("MovieObjects: MovieObject Count %u does not fit its length %u",
                                count, record.MovieObjectsLength));
  }
  record.MovieObjects.resize(count);
  for (size_t i = 0; i < count; ++i) {
    if (!ReadMovieObject(body, i, record.MovieObjects[i], error)) return false;
  }
  return true;
}

}  // namespace

void MOVIE_OBJECT::Dump(std::string_view prefix, DumpArchive& archive) const {
  archive.Int(prefix, "ResumeIntentionFlag", ResumeIntentionFlag);
  archive.Int(prefix, "MenuCallMask", MenuCallMask);
  archive.Int(prefix, "TitleSearchMask", TitleSearchMask);
  archive.Int(prefix, "Command Count", static_cast<int64_t>(NavCmds.size()));
  for (size_t i = 0; i < NavCmds.size(); ++i) {
    archive.Text(prefix, Format("Command %zu", i), HexText(NavCmds[i]));
  }
}

bool MovieObjectFile::Read(std::span<const uint8_t> file, std::string* error) {
  *this = MovieObjectFile{};
  ByteReader in(file);
  if (!in.Has(kHeaderSize)) {
    return Failed(error, Format("the file has %zu bytes, fewer than its %zu-byte header",
                                file.size(), kHeaderSize));
  }
  in.Bytes(TypeIndicator);
  in.Bytes(VersionNumber);
  if (!CheckTypeAndVersion(TypeIndicator, VersionNumber, "MOBJ", error)) {
    *this = MovieObjectFile{};
    return false;
  }
  ExtensionDataStartAddress = in.U32();
  in.Bytes(Reserved);
  const bool read = ReadMovieObjects(in, *this, error) &&
                    (ExtensionDataStartAddress == 0 ||
                     ReadRawExtensionData(file, ExtensionDataStartAddress, ExtensionData, error));
  if (!read) *this = MovieObjectFile{};
  return read;
}

void MovieObjectFile::Dump(std::string_view prefix, DumpArchive& archive) const {
  if (archive.IsLoading()) return;
  const std::string inner = Nested(prefix);
  const std::string object = Nested(inner);
  archive.Chars(prefix, "TypeIndicator", TypeIndicator);
  archive.Chars(prefix, "VersionNumber", VersionNumber);
  archive.Int(prefix, "ExtensionDataStartAddress", ExtensionDataStartAddress);
  archive.Heading(prefix, "MovieObjects");
  archive.Int(inner, "Length", MovieObjectsLength);
  archive.Int(inner, "MovieObject Count", static_cast<int64_t>(MovieObjects.size()));
  for (size_t i = 0; i < MovieObjects.size(); ++i) {
    archive.Element(inner, "MovieObject", static_cast<int>(i));
    MovieObjects[i].Dump(object, archive);
  }
  if (!ExtensionData.empty()) DumpRawExtensionData(ExtensionData, prefix, archive);
}

}  // namespace tessel
