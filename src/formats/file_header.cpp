#include "formats/file_header.h"

#include <cstring>

#include "formats/field_access.h"
#include "platform/format.h"

namespace tessel {

bool CheckTypeAndVersion(const uint8_t (&type_indicator)[4], const uint8_t (&version)[4],
                         const char (&type)[5], std::string* error) {
  static constexpr const char* kVersions[] = {"0100", "0200", "0240", "0300"};
  if (std::memcmp(type_indicator, type, 4) != 0) {
    return Failed(error, Format("the type indicator is \"%s\", not \"%s\"",
                                CharField(type_indicator).c_str(), type));
  }
  for (const char* known : kVersions) {
    if (std::memcmp(version, known, 4) == 0) return true;
  }
  return Failed(error, Format("the version number \"%s\" is none of 0100, 0200, 0240, 0300",
                              CharField(version).c_str()));
}

}  // namespace tessel
