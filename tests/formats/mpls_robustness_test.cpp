// Damaged playlists: every truncation of real files and thousands of random byte changes either
// fail to read (with a reason) or give a record that writes and reads back; run under the
// sanitizer preset this also proves no read leaves the buffer.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "formats/mpls.h"
#include "support/test_support.h"

namespace tessel {
namespace {

// Reads damaged bytes; when they parse, the record must survive a write and a second read.
void CheckDamaged(const std::vector<uint8_t>& bytes, const std::string& what) {
  Mpls mpls;
  std::string error;
  if (!mpls.Read(bytes, &error)) {
    EXPECT_FALSE(error.empty()) << what;
    return;
  }
  DumpArchive archive;
  mpls.Dump("", archive);
  const std::vector<uint8_t> written = mpls.Write();
  Mpls again;
  ASSERT_TRUE(again.Read(written, &error)) << what << ": " << error;
  EXPECT_EQ(again.Write(), written) << what;
}

constexpr const char* kFiles[] = {
    "mpls/disc-simple_00000.mpls", "mpls/pip_terminator2.mpls", "mpls/multiangle2.mpls",
    "mpls/uhd_00001.mpls",         "mpls/pg5_still.mpls",
};

TEST(MplsRobustness, EveryTruncationFailsOrReads) {
  for (const char* file : kFiles) {
    const std::vector<uint8_t> data = test::ReadData(file);
    ASSERT_FALSE(data.empty());
    // The pip file is large; every byte of its first and last 2 KiB covers each of its blocks.
    for (size_t size = 0; size < data.size(); ++size) {
      if (data.size() > 8192 && size > 2048 && size < data.size() - 2048 && size % 97) continue;
      CheckDamaged({data.begin(), data.begin() + static_cast<std::ptrdiff_t>(size)},
                   std::string(file) + " cut at " + std::to_string(size));
    }
  }
}

TEST(MplsRobustness, TruncatedFileNamesWhatFailed) {
  const std::vector<uint8_t> data = test::ReadData("mpls/disc-simple_00000.mpls");
  Mpls mpls;
  std::string error;
  EXPECT_FALSE(mpls.Read(std::span(data).first(30), &error));
  EXPECT_EQ(error, "file shorter than its header and application info");
  EXPECT_FALSE(mpls.Read(std::span(data).first(100), &error));
  EXPECT_EQ(error, "PlayList: length points outside the file");
  EXPECT_FALSE(mpls.Read(std::span(data).first(200), &error));
  EXPECT_EQ(error, "PlayListMarks: length points outside its block");
  std::vector<uint8_t> bad = data;
  bad[58 + 10 + 1] = 0xF0;  // length of play item 0 beyond its PlayList
  EXPECT_FALSE(mpls.Read(bad, &error));
  EXPECT_EQ(error, "PlayItem 0: length points outside its block");
  bad = data;
  bad[8] = 0x7F;  // PlayListStartAddress far beyond the end
  EXPECT_FALSE(mpls.Read(bad, &error));
  EXPECT_EQ(error, "PlayListStartAddress points outside the file");
}

TEST(MplsRobustness, RandomByteChangesFailOrRead) {
  std::mt19937 random(20261209);
  for (const char* file : kFiles) {
    const std::vector<uint8_t> data = test::ReadData(file);
    ASSERT_FALSE(data.empty());
    // The picture-in-picture file is large and slow to dump; fewer rounds keep the test quick.
    const int rounds = data.size() > 8192 ? 200 : 600;
    for (int round = 0; round < rounds; ++round) {
      std::vector<uint8_t> bytes = data;
      const int changes = 1 + static_cast<int>(random() % 4);
      for (int c = 0; c < changes; ++c) {
        bytes[random() % bytes.size()] = static_cast<uint8_t>(random());
      }
      CheckDamaged(bytes, std::string(file) + " round " + std::to_string(round));
    }
  }
}

}  // namespace
}  // namespace tessel
