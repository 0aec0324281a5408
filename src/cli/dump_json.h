// Turns the structured lines of a dump into a JSON tree: a heading becomes an object, the elements
// of a list an array of objects, a field a member (a number when it prints as a plain decimal).
// Every database file type's dump goes through this one conversion.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "formats/dump.h"

namespace tessel::cli {

// The JSON text the command line prints. Character fields of a damaged file need not be UTF-8;
// such bytes are replaced rather than stopping the output.
template <class Json>
std::string JsonText(const Json& value) {
  return value.dump(2, ' ', false, Json::error_handler_t::replace);
}

nlohmann::ordered_json DumpToJson(const DumpArchive& archive);

}  // namespace tessel::cli
