#include "cli/dump_json.h"

#include <gtest/gtest.h>

namespace tessel::cli {
namespace {

TEST(DumpToJson, HeadingsListsNumbersRepeatsAndPairs) {
  DumpArchive archive;
  archive.Int("", "Count", 2);
  archive.Hex16("", "PID", 0x1011);
  archive.Heading("", "Record");
  archive.Chars(" ", "Name",
                std::span<const uint8_t>(reinterpret_cast<const uint8_t*>("00001"), 5));
  archive.Element(" ", "Item", 0);
  archive.Int("  ", "Value", -3);
  archive.Element(" ", "Item", 1);
  archive.Int("  ", "Value", 4);
  archive.Int(" ", "Reserved", 1);
  archive.Int(" ", "Reserved", 2);
  archive.Int("", "After", 5);
  archive.Pair("", 0, 10, 10);
  archive.Pair("", 1, 25, 15);

  const nlohmann::ordered_json expected = nlohmann::ordered_json::parse(R"({
    "Count": 2,
    "PID": "0x1011",
    "Record": {
      "Name": "00001",
      "Item": [{"Value": -3}, {"Value": 4}],
      "Reserved": [1, 2]
    },
    "After": 5,
    "Items": [[10, 10], [25, 15]]
  })");
  EXPECT_EQ(DumpToJson(archive), expected);
}

}  // namespace
}  // namespace tessel::cli
