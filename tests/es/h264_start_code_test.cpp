// The start-code scanner shared by the video analyses, checked against a plain byte-by-byte
// reading of the same data.
#include "es/start_code.h"

#include <gtest/gtest.h>

#include <random>

#include "support/test_support.h"

namespace tessel {
namespace {

struct Expected {
  uint64_t start, header;
  std::vector<uint8_t> head;
  bool complete;
};

// The units as the rules define them, found the slow way.
std::vector<Expected> Reference(const std::vector<uint8_t>& d, size_t head_limit) {
  std::vector<size_t> prefixes;
  for (size_t i = 0; i + 2 < d.size(); ++i) {
    if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 &&
        (prefixes.empty() || i >= prefixes.back() + 4)) {
      prefixes.push_back(i);
    }
  }
  std::vector<Expected> units;
  uint64_t floor = 0;
  for (size_t k = 0; k < prefixes.size(); ++k) {
    size_t start = prefixes[k];
    while (start > floor && d[start - 1] == 0) --start;
    const size_t header = prefixes[k] + 3;
    const size_t next = k + 1 < prefixes.size() ? prefixes[k + 1] : d.size();
    const size_t end = std::min(next, header + head_limit);
    Expected e{start, header, {d.begin() + header, d.begin() + end}, end == next};
    units.push_back(e);
    floor = header + 1;
  }
  return units;
}

TEST(StartCodeScanner, AgreesWithAByteByByteReadingAcrossChunkAndHeadSizes) {
  std::mt19937 rng(7);
  const uint8_t alphabet[] = {0, 0, 0, 0, 1, 1, 3, 0x47, 0xFF};
  for (int round = 0; round < 20; ++round) {
    std::vector<uint8_t> data(1 + rng() % 3000);
    for (uint8_t& b : data) b = alphabet[rng() % sizeof alphabet];
    // Long zero runs straddle the chunk boundaries.
    const size_t run_at = rng() % data.size();
    for (size_t i = run_at; i < std::min(data.size(), run_at + 40); ++i) data[i] = 0;
    for (const size_t chunk : {16u, 17u, 100u, 4096u}) {
      for (const size_t head_limit : {1u, 5u, 64u}) {
        const auto expected = Reference(data, head_limit);
        MemoryByteSource source(data);
        StartCodeScanner scanner(source, chunk, head_limit);
        StartCodeUnit unit;
        size_t n = 0;
        while (scanner.Next(unit)) {
          ASSERT_LT(n, expected.size()) << round << " " << chunk << " " << head_limit;
          const Expected& e = expected[n];
          ASSERT_EQ(unit.start, e.start) << round << " " << chunk << " " << head_limit << " " << n;
          ASSERT_EQ(unit.header, e.header) << n;
          ASSERT_EQ(std::vector<uint8_t>(unit.head.begin(), unit.head.end()), e.head) << n;
          ASSERT_EQ(unit.complete, e.complete) << n;
          ++n;
        }
        EXPECT_EQ(n, expected.size());
        EXPECT_EQ(scanner.consumed(), data.size());
      }
    }
  }
}

TEST(FindStartCode, FindsTheFirstPrefixAtEveryAlignment) {
  for (size_t size = 3; size < 40; ++size) {
    for (size_t at = 0; at + 3 <= size; ++at) {
      std::vector<uint8_t> data(size, 0xA5);
      data[at] = 0;
      data[at + 1] = 0;
      data[at + 2] = 1;
      EXPECT_EQ(FindStartCode(data.data(), data.data() + size) - data.data(),
                static_cast<ptrdiff_t>(at));
      // Cut one byte short of the prefix: not found.
      EXPECT_EQ(FindStartCode(data.data(), data.data() + at + 2), data.data() + at + 2);
    }
  }
  const uint8_t none[] = {0, 0, 0, 0, 2, 0, 1, 0, 0};
  EXPECT_EQ(FindStartCode(std::begin(none), std::end(none)), std::end(none));
}

// A 4-byte start code: the unit starts at the first of the three zero bytes.
TEST(StartCodeScanner, LeadingZerosBelongToTheStartCode) {
  const std::vector<uint8_t> data = {0, 0, 0, 1, 0x09, 0xF0, 0, 0, 0, 1, 0x67, 0, 0, 1, 0x68};
  MemoryByteSource source(data);
  StartCodeScanner scanner(source);
  StartCodeUnit unit;
  const uint64_t starts[] = {0, 6, 11};
  const uint64_t headers[] = {4, 10, 14};
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(scanner.Next(unit));
    EXPECT_EQ(unit.start, starts[i]);
    EXPECT_EQ(unit.header, headers[i]);
  }
  EXPECT_FALSE(scanner.Next(unit));
}

TEST(FileByteSource, RefusesMissingFilesAndFolders) {
  test::TempDir dir;
  FileByteSource source;
  EXPECT_FALSE(source.Open(dir / "missing.264"));
  EXPECT_FALSE(source.Open(dir.path()));
}

}  // namespace
}  // namespace tessel
