#include "platform/string_table.h"

#include <algorithm>
#include <iterator>

namespace tessel {
namespace {

// Ordered by id.
constexpr StringEntry kStrings[] = {
    {1583, "FirstPlay"},
    {1584, "TopMenu"},
    {5063, "Mpls(s)"},
    {5064, "M2ts(s)"},
    {5065, "Mpls"},
    {5066, "M2ts"},
};

static_assert(std::is_sorted(std::begin(kStrings), std::end(kStrings),
                             [](const StringEntry& a, const StringEntry& b) { return a.id < b.id; }));

}  // namespace

const char* LoadString(int id) {
  const auto* it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                                    [](const StringEntry& e, int v) { return e.id < v; });
  return (it != std::end(kStrings) && it->id == id) ? it->text : "";
}

std::span<const StringEntry> StringTable() { return kStrings; }

}  // namespace tessel
