#include "formats/dump.h"

#include "platform/format.h"

namespace tessel {
namespace {

// Formats views with "%.*s" so that they need no terminated copies.
#define SV(s) static_cast<int>((s).size()), (s).data()

}  // namespace

void DumpArchive::Emit(DumpLine line, const std::string& text) {
  if (loading_) return;
  text_ += text;
  lines_.push_back(std::move(line));
}

// Every field line has the shape "%s%s: <value>\n"; only the value's format differs.
void DumpArchive::Field(std::string_view prefix, std::string_view name, std::string value,
                        std::vector<int64_t> numbers) {
  std::string text = Format("%.*s%.*s: %s\n", SV(prefix), SV(name), value.c_str());
  Emit({DumpLine::Kind::kField, prefix.size(), std::string(name), -1, std::move(value),
        std::move(numbers)},
       text);
}

void DumpArchive::Mark(DumpLine::Kind kind, std::string_view prefix, std::string_view name,
                       int index, const std::string& text) {
  Emit({kind, prefix.size(), std::string(name), index, std::string(), {}}, text);
}

void DumpArchive::Int(std::string_view prefix, std::string_view name, int64_t value) {
  Field(prefix, name, Format("%lld", static_cast<long long>(value)), {value});
}

void DumpArchive::Uint(std::string_view prefix, std::string_view name, uint32_t value) {
  Field(prefix, name, Format("%u", value), {int64_t{value}});
}

void DumpArchive::Hex8(std::string_view prefix, std::string_view name, uint32_t value) {
  Field(prefix, name, Format("0x%02X", value), {});
}

void DumpArchive::Hex16(std::string_view prefix, std::string_view name, uint32_t value) {
  Field(prefix, name, Format("0x%04X", value), {});
}

void DumpArchive::Text(std::string_view prefix, std::string_view name, std::string_view text) {
  Field(prefix, name, std::string(text), {});
}

void DumpArchive::Chars(std::string_view prefix, std::string_view name,
                        std::span<const uint8_t> raw) {
  std::string text(raw.begin(), raw.end());
  text.resize(std::min(text.size(), text.find('\0')));
  Field(prefix, name, std::move(text), {});
}

void DumpArchive::NameHex(std::string_view prefix, std::string_view name, std::string_view text,
                          uint32_t code) {
  Field(prefix, name, Format("%.*s(0x%02X)", SV(text), code), {});
}

void DumpArchive::NameDec(std::string_view prefix, std::string_view name, std::string_view text,
                          int code) {
  Field(prefix, name, Format("%.*s(%d)", SV(text), code), {});
}

void DumpArchive::DecName(std::string_view prefix, std::string_view name, int code,
                          std::string_view text) {
  Field(prefix, name, Format("%d(%.*s)", code, SV(text)), {});
}

void DumpArchive::Reserved8(std::string_view prefix, std::string_view name, const uint8_t (&b)[8]) {
  Field(prefix, name,
        Format("0x%02X %02X %02X %02X %02X %02X %02X %02X", b[0], b[1], b[2], b[3], b[4], b[5],
               b[6], b[7]),
        {});
}

void DumpArchive::Heading(std::string_view prefix, std::string_view name) {
  Mark(DumpLine::Kind::kHeading, prefix, name, -1, Format("%.*s%.*s: \n", SV(prefix), SV(name)));
}

void DumpArchive::HeadingTight(std::string_view prefix, std::string_view name) {
  Mark(DumpLine::Kind::kHeading, prefix, name, -1, Format("%.*s%.*s:\n", SV(prefix), SV(name)));
}

void DumpArchive::Element(std::string_view prefix, std::string_view name, int index) {
  Mark(DumpLine::Kind::kElement, prefix, name, index,
       Format("%.*s%.*s %d: \n", SV(prefix), SV(name), index));
}

void DumpArchive::ElementTight(std::string_view prefix, std::string_view name, int index) {
  Mark(DumpLine::Kind::kElement, prefix, name, index,
       Format("%.*s%.*s %d:\n", SV(prefix), SV(name), index));
}

void DumpArchive::ElementJoined(std::string_view prefix, std::string_view name, int index) {
  Mark(DumpLine::Kind::kElement, prefix, name, index,
       Format("%.*s%.*s%d:\n", SV(prefix), SV(name), index));
}

void DumpArchive::Ordinal(std::string_view prefix, int index) {
  Mark(DumpLine::Kind::kElement, prefix, {}, index, Format("%.*s %d:\n", SV(prefix), index));
}

void DumpArchive::Pair(std::string_view prefix, int index, int first, int second) {
  Emit({DumpLine::Kind::kPair,
        prefix.size(),
        std::string(),
        index,
        Format("%d, %d", first, second),
        {first, second}},
       Format("%.*s %d: %d, %d\n", SV(prefix), index, first, second));
}

}  // namespace tessel
