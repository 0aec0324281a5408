// The system's numbered texts (menu captions, messages, labels), compiled into the program.
#pragma once

#include <span>
#include <string_view>

namespace tessel {

struct StringEntry {
  int id;
  const char* text;
};

// The text of a numbered string; an empty text for an id the table does not hold.
const char* LoadString(int id);

// The whole table, ordered by id.
std::span<const StringEntry> StringTable();

}  // namespace tessel
