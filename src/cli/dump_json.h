// Turns the structured lines of a dump into a JSON tree: a heading becomes an object, the elements
// of a list an array of objects, a field a member (a number when it prints as a plain decimal).
// Every database file type's dump goes through this one conversion.
#pragma once

#include <nlohmann/json.hpp>

#include "formats/dump.h"

namespace tessel::cli {

nlohmann::ordered_json DumpToJson(const DumpArchive& archive);

}  // namespace tessel::cli
