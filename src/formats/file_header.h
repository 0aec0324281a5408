// The type indicator and version number that open every database file.
#pragma once

#include <cstdint>
#include <string>

namespace tessel {

// The first eight bytes of a database file: its type indicator must be `type`, its version one the
// format defines (0100, 0200, 0240, 0300), as players refuse any other. False with the reason.
bool CheckTypeAndVersion(const uint8_t (&type_indicator)[4], const uint8_t (&version)[4],
                         const char (&type)[5], std::string* error);

}  // namespace tessel
