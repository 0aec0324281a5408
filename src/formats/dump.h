// The text dump of database records. Every record's Dump(prefix, archive) writes one line per
// field through the fixed line formats below; a nested record gets its parent's prefix plus one
// blank. Besides the text, the archive keeps each line as a structured entry (depth, name, value)
// so a front end can present the same tree in another form.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tessel {

struct DumpLine {
  enum class Kind {
    kField,    // name: value
    kHeading,  // name:  (a nested record follows)
    kElement,  // name i:  (element i of a list follows)
    kPair,     // i: a, b  (one pair of a list of pairs)
  };
  Kind kind = Kind::kField;
  size_t depth = 0;  // prefix length: one blank per nesting level
  std::string name;
  int index = -1;     // list position for kElement and kPair
  std::string value;  // the value as printed
  // The values themselves where they print as plain decimals: one for a field, two for a pair.
  std::vector<int64_t> numbers;
};

class DumpArchive {
 public:
  explicit DumpArchive(bool loading = false) : loading_(loading) {}

  // An archive open for loading receives no dump.
  bool IsLoading() const { return loading_; }
  const std::string& text() const { return text_; }
  const std::vector<DumpLine>& lines() const { return lines_; }

  // "%s%s: %d\n"
  void Int(std::string_view prefix, std::string_view name, int64_t value);
  // "%s%s: %u\n"
  void Uint(std::string_view prefix, std::string_view name, uint32_t value);
  // "%s%s: 0x%02X\n"
  void Hex8(std::string_view prefix, std::string_view name, uint32_t value);
  // "%s%s: 0x%04X\n"
  void Hex16(std::string_view prefix, std::string_view name, uint32_t value);
  // "%s%s: %s\n" with a terminated copy of a character field
  void Text(std::string_view prefix, std::string_view name, std::string_view text);
  void Chars(std::string_view prefix, std::string_view name, std::span<const uint8_t> raw);
  // "%s%s: %s(0x%02X)\n"
  void NameHex(std::string_view prefix, std::string_view name, std::string_view text,
               uint32_t code);
  // "%s%s: %s(%d)\n"
  void NameDec(std::string_view prefix, std::string_view name, std::string_view text, int code);
  // "%s%s: %d(%s)\n"
  void DecName(std::string_view prefix, std::string_view name, int code, std::string_view text);
  // "%s%s: \n"
  void Heading(std::string_view prefix, std::string_view name);
  // "%s%s:\n"
  void HeadingTight(std::string_view prefix, std::string_view name);
  // "%s%s %d: \n"
  void Element(std::string_view prefix, std::string_view name, int index);
  // "%s%s %d:\n"
  void ElementTight(std::string_view prefix, std::string_view name, int index);
  // "%s%s%d:\n"
  void ElementJoined(std::string_view prefix, std::string_view name, int index);
  // "%s %d:\n"
  void Ordinal(std::string_view prefix, int index);
  // "%s %d: %d, %d\n"
  void Pair(std::string_view prefix, int index, int first, int second);
  // "%s%s: 0x%02X %02X %02X %02X %02X %02X %02X %02X\n"
  void Reserved8(std::string_view prefix, std::string_view name, const uint8_t (&bytes)[8]);

 private:
  void Emit(DumpLine line, const std::string& text);
  void Field(std::string_view prefix, std::string_view name, std::string value,
             std::vector<int64_t> numbers);
  void Mark(DumpLine::Kind kind, std::string_view prefix, std::string_view name, int index,
            const std::string& text);

  bool loading_;
  std::string text_;
  std::vector<DumpLine> lines_;
};

// The prefix of a nested record: one more blank.
inline std::string Nested(std::string_view prefix) {
  return std::string(prefix) + ' ';
}

}  // namespace tessel
