#include "platform/byte_source.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/file_handle.h"
#include "platform/files.h"
#include "support/test_support.h"

namespace tessel {
namespace {

constexpr uint64_t kBeyond4GiB = (uint64_t{5} << 30) + 3;

// Positional and sequential reads of a sparse file whose data lies past 4 GiB; the size and the
// offsets must not wrap at 32 bits.
TEST(FileHandle, ReadsAndWritesPast4GiB) {
  test::TempDir dir;
  const auto path = dir / "sparse.bin";
  {
    FileHandle out;
    ASSERT_TRUE(out.Open(path, FileHandle::Mode::kCreate));
    const uint8_t tail[] = {1, 2, 3, 4};
    ASSERT_TRUE(out.WriteAt(kBeyond4GiB, tail, sizeof tail));
    EXPECT_EQ(out.Size(), kBeyond4GiB + 4);
  }
  FileHandle in;
  ASSERT_TRUE(in.Open(path));
  EXPECT_TRUE(in.IsRegularFile());
  uint8_t got[8] = {};
  EXPECT_EQ(in.ReadAt(kBeyond4GiB - 2, got, sizeof got), 6);
  EXPECT_EQ(got[1], 0);
  EXPECT_EQ(got[2], 1);
  EXPECT_EQ(got[5], 4);
  EXPECT_FALSE(in.ReadExactAt(kBeyond4GiB, got, 5));
  ASSERT_TRUE(in.Seek(kBeyond4GiB + 1));
  EXPECT_EQ(in.Read(got, sizeof got), 3);
  EXPECT_EQ(got[0], 2);
  EXPECT_EQ(in.Read(got, sizeof got), 0);
}

TEST(FileHandle, OpenFailureKeepsTheSystemError) {
  test::TempDir dir;
  FileHandle f;
  EXPECT_FALSE(f.Open(dir / "missing"));
  EXPECT_EQ(f.error(), ENOENT);
  EXPECT_FALSE(f.is_open());
  ASSERT_TRUE(f.Open(dir.path()));  // a folder opens, but is no regular file
  EXPECT_FALSE(f.IsRegularFile());
  FileByteSource source;
  EXPECT_FALSE(source.Open(dir.path()));
}

// The two kinds of source and of sink behave alike over the same operations.
TEST(ByteSource, FileAndMemoryAgree) {
  test::TempDir dir;
  std::vector<uint8_t> data(70000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
  ASSERT_TRUE(WriteWholeFile(dir / "data.bin", data));
  FileByteSource file;
  ASSERT_TRUE(file.Open(dir / "data.bin"));
  MemoryByteSource memory(data);
  for (ByteSource* source : {static_cast<ByteSource*>(&file), static_cast<ByteSource*>(&memory)}) {
    EXPECT_EQ(source->length(), data.size());
    for (int pass = 0; pass < 2; ++pass) {
      ASSERT_TRUE(source->Rewind());
      std::vector<uint8_t> back;
      uint8_t chunk[4099];
      for (size_t n; (n = source->Read(chunk, sizeof chunk)) != 0;) {
        back.insert(back.end(), chunk, chunk + n);
      }
      EXPECT_EQ(back, data);
      EXPECT_FALSE(source->failed());
    }
  }
  EXPECT_NE(file.modification_time(), 0);
  EXPECT_EQ(memory.modification_time(), 0);
}

TEST(ByteSink, FileAndMemoryAgree) {
  test::TempDir dir;
  FileByteSink file;
  ASSERT_TRUE(file.Open(dir / "sink.bin", true));
  MemoryByteSink memory;
  for (ByteSink* sink : {static_cast<ByteSink*>(&file), static_cast<ByteSink*>(&memory)}) {
    const uint8_t a[] = {1, 2, 3, 4, 5};
    const uint8_t b[] = {9, 9};
    ASSERT_TRUE(sink->WriteAt(0, a, sizeof a));
    ASSERT_TRUE(sink->WriteAt(8, b, sizeof b));  // leaves a hole of zeros
    EXPECT_EQ(sink->length(), 10u);
    uint8_t got[10];
    ASSERT_TRUE(sink->ReadAt(0, got, 10));
    EXPECT_EQ(got[4], 5);
    EXPECT_EQ(got[6], 0);
    EXPECT_EQ(got[9], 9);
    EXPECT_FALSE(sink->ReadAt(6, got, 5));  // past the end
    ASSERT_TRUE(sink->Truncate(3));
    EXPECT_EQ(sink->length(), 3u);
    EXPECT_FALSE(sink->ReadAt(2, got, 2));
  }
  FileByteSink reopened;
  ASSERT_TRUE(reopened.Open(dir / "sink.bin", false));
  EXPECT_EQ(reopened.length(), 3u);
  const uint8_t c[] = {7};
  EXPECT_FALSE(reopened.WriteAt(0, c, 1));  // opened for reading only
}

}  // namespace
}  // namespace tessel
