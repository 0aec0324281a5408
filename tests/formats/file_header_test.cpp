// Every database reader refuses a file whose type indicator or version number is not one the
// format defines, with the usual failure and a reason; each defined version reads.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "formats/clpi.h"
#include "formats/index.h"
#include "formats/movie_object.h"
#include "formats/mpls.h"
#include "support/test_support.h"

namespace tessel {
namespace {

using testing::HasSubstr;
using Reader = std::function<bool(std::span<const uint8_t>, std::string*)>;

struct FileKind {
  const char* fixture;
  Reader read;
};

const FileKind kKinds[] = {
    {"index/bdpl-disc1.bdmv",
     [](std::span<const uint8_t> b, std::string* e) { return IndexFile().Read(b, e); }},
    {"movieobject/bdpl-disc1.bdmv",
     [](std::span<const uint8_t> b, std::string* e) { return MovieObjectFile().Read(b, e); }},
    {"mpls/angle4.mpls",
     [](std::span<const uint8_t> b, std::string* e) { return Mpls().Read(b, e); }},
    {"clpi/disc-simple-00000.clpi",
     [](std::span<const uint8_t> b, std::string* e) { return Clpi().Read(b, e); }},
};

struct Change {
  size_t at;
  const char* bytes;
  bool reads;
  const char* reason;
};

const Change kChanges[] = {
    {0, "X", false, "type indicator"},
    {3, "\0", false, "type indicator"},
    {4, "0150", false, "version number"},
    {4, "1000", false, "version number"},
    {4, "0100", true, ""},
    {4, "0200", true, ""},
    {4, "0240", true, ""},
    {4, "0300", true, ""},
};

TEST(FileHeader, TypeIndicatorAndVersionAreChecked) {
  for (const FileKind& kind : kKinds) {
    const std::vector<uint8_t> original = test::ReadData(kind.fixture);
    for (const Change& change : kChanges) {
      SCOPED_TRACE(std::string(kind.fixture) + " at " + std::to_string(change.at) + ": " +
                   change.bytes);
      std::vector<uint8_t> bytes = original;
      std::memcpy(bytes.data() + change.at, change.bytes,
                  std::max<size_t>(1, std::strlen(change.bytes)));
      std::string error;
      EXPECT_EQ(kind.read(bytes, &error), change.reads);
      if (!change.reads) {
        EXPECT_THAT(error, HasSubstr(change.reason));
      }
    }
  }
}

}  // namespace
}  // namespace tessel
