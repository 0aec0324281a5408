#include "cli/dump_json.h"

#include <vector>

namespace tessel::cli {
namespace {

using Json = nlohmann::ordered_json;

// Lists without a name (ordinal elements, value pairs) go under this key.
constexpr const char* kUnnamedList = "Items";

// Adds a member; a name met again in the same object (a record may show several fields called
// "Reserved") turns the member into an array of its values.
void AddMember(Json& object, const std::string& name, Json value) {
  if (!object.contains(name)) {
    object[name] = std::move(value);
    return;
  }
  Json& member = object[name];
  if (!member.is_array()) member = Json::array({member});
  member.push_back(std::move(value));
}

Json FieldValue(const DumpLine& line) {
  if (line.numbers.size() == 1) return line.numbers.front();
  return line.value;
}

// The array a list element goes into.
Json& ListOf(Json& object, const std::string& name) {
  const std::string key = name.empty() ? kUnnamedList : name;
  if (!object.contains(key) || !object[key].is_array()) object[key] = Json::array();
  return object[key];
}

}  // namespace

Json DumpToJson(const DumpArchive& archive) {
  Json root = Json::object();
  // Open objects with the depth of their own lines; the root's lines have depth 0.
  struct Open {
    size_t depth;
    Json* object;
  };
  std::vector<Open> stack{{0, &root}};
  for (const DumpLine& line : archive.lines()) {
    while (stack.size() > 1 && line.depth < stack.back().depth) stack.pop_back();
    Json& parent = *stack.back().object;
    switch (line.kind) {
      case DumpLine::Kind::kField:
        AddMember(parent, line.name, FieldValue(line));
        break;
      case DumpLine::Kind::kHeading:
        AddMember(parent, line.name, Json::object());
        stack.push_back({line.depth + 1, parent[line.name].is_array() ? &parent[line.name].back()
                                                                      : &parent[line.name]});
        break;
      case DumpLine::Kind::kElement: {
        Json& list = ListOf(parent, line.name);
        list.push_back(Json::object());
        stack.push_back({line.depth + 1, &list.back()});
        break;
      }
      case DumpLine::Kind::kPair:
        ListOf(parent, line.name).push_back(Json(line.numbers));
        break;
    }
  }
  return root;
}

}  // namespace tessel::cli
