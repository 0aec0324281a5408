#include "platform/file_copy.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "support/cancel_after.h"
#include "support/test_support.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 131 + seed + (i >> 9));
  return bytes;
}

std::vector<uint8_t> ReadAt(const fs::path& path, uint64_t offset, size_t size) {
  std::vector<uint8_t> bytes(size);
  const int fd = open(path.c_str(), O_RDONLY);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(pread(fd, bytes.data(), size, static_cast<off_t>(offset)), static_cast<ssize_t>(size));
  close(fd);
  return bytes;
}

void WriteAt(int fd, uint64_t offset, const std::vector<uint8_t>& bytes) {
  ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)),
            static_cast<ssize_t>(bytes.size()));
}

struct stat StatOf(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
  return status;
}

const CopyMethod kMethods[] = {CopyMethod::kAuto, CopyMethod::kRangeCopy, CopyMethod::kBuffer};

TEST(FileCopy, SparseFileOfSeveralGigabytesKeepsSizeContentAndHoles) {
  test::TempDir dir;
  const fs::path source = dir / "big.m2ts";
  const uint64_t size = (4ull << 30) + 8192 + 17;  // past 32 bits, ends with a partial block
  const std::vector<uint64_t> offsets = {0, (1ull << 31) + 123, (1ull << 32) - 3, size - 1000};
  {
    const int fd = open(source.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
    for (size_t i = 0; i < offsets.size(); ++i) WriteAt(fd, offsets[i], Pattern(1000, uint8_t(i)));
    close(fd);
  }
  for (const CopyMethod method : kMethods) {
    SCOPED_TRACE(static_cast<int>(method));
    const fs::path target = dir / "copy.m2ts";
    std::string error;
    SCopyStats stats;
    test::CancelAfter counter(0);
    ASSERT_EQ(CopyFile(source, target, counter.callback(), &error, {method}, &stats),
              JobResult::kDone)
        << error;
    EXPECT_EQ(fs::file_size(target), size);
    for (size_t i = 0; i < offsets.size(); ++i) {
      EXPECT_EQ(ReadAt(target, offsets[i], 1000), Pattern(1000, uint8_t(i))) << offsets[i];
    }
    EXPECT_EQ(ReadAt(target, 1ull << 30, 64), std::vector<uint8_t>(64, 0));
    // The holes were not filled: a few blocks of data, not gigabytes on the disk.
    EXPECT_LT(StatOf(target).st_blocks * 512, 64 << 20);
    EXPECT_FALSE(counter.records().empty());
    EXPECT_EQ(counter.records().back().position, 100);
    if (method != CopyMethod::kAuto) {
      EXPECT_LT(stats.data_bytes, 64u << 20);
    }
    fs::remove(target);
  }
}

TEST(FileCopy, EveryMethodCopiesTheBytesInChunksWithRisingProgress) {
  test::TempDir dir;
  const std::vector<uint8_t> data = Pattern(5 * 65536 + 300, 7);
  ASSERT_TRUE(WriteWholeFile(dir / "a.bin", data));
  for (const CopyMethod method : {CopyMethod::kRangeCopy, CopyMethod::kBuffer}) {
    test::CancelAfter counter(0);
    std::string error;
    SCopyStats stats;
    ASSERT_EQ(
        CopyFile(dir / "a.bin", dir / "b.bin", counter.callback(), &error, {method, 65536}, &stats),
        JobResult::kDone);
    std::vector<uint8_t> copied;
    ASSERT_TRUE(ReadWholeFile(dir / "b.bin", copied));
    EXPECT_EQ(copied, data);
    EXPECT_EQ(stats.data_bytes, data.size());
    ASSERT_EQ(counter.calls(), 6);
    for (int i = 1; i < counter.calls(); ++i) {
      EXPECT_GT(counter.records()[i].position, counter.records()[i - 1].position);
    }
    EXPECT_EQ(counter.records().back().position, 100);
  }
}

TEST(FileCopy, EmptyFile) {
  test::TempDir dir;
  ASSERT_TRUE(WriteWholeFile(dir / "empty", {}));
  ASSERT_EQ(CopyFile(dir / "empty", dir / "copy", nullptr), JobResult::kDone);
  EXPECT_EQ(fs::file_size(dir / "copy"), 0u);
}

// Cancelling at any callback leaves neither a target nor a scratch file; a target that existed
// before keeps its old bytes.
TEST(FileCopy, CancelAfterEveryCallbackLeavesNoPartialFile) {
  test::TempDir dir;
  const std::vector<uint8_t> data = Pattern(4 * 4096, 3);
  const std::vector<uint8_t> old = {1, 2, 3};
  ASSERT_TRUE(WriteWholeFile(dir / "src.bin", data));
  for (const bool existed : {false, true}) {
    for (int n = 1; n <= 4; ++n) {
      SCOPED_TRACE(testing::Message() << "existed " << existed << " n " << n);
      const fs::path target = dir / "dst.bin";
      fs::remove(target);
      if (existed) {
        ASSERT_TRUE(WriteWholeFile(target, old));
      }
      test::CancelAfter cancel(n);
      std::string error;
      EXPECT_EQ(
          CopyFile(dir / "src.bin", target, cancel.callback(), &error, {CopyMethod::kBuffer, 4096}),
          JobResult::kCancelled);
      EXPECT_EQ(cancel.calls(), n);
      EXPECT_TRUE(error.empty());
      EXPECT_FALSE(fs::exists(CopyScratchPath(target)));
      EXPECT_EQ(fs::exists(target), existed);
      if (existed) {
        std::vector<uint8_t> kept;
        ASSERT_TRUE(ReadWholeFile(target, kept));
        EXPECT_EQ(kept, old);
      }
    }
  }
}

TEST(FileCopy, TargetTakesTheSourcesLastWriteTime) {
  test::TempDir dir;
  ASSERT_TRUE(WriteWholeFile(dir / "src.bin", Pattern(10000, 1)));
  const struct timespec times[2] = {{1000000000, 250}, {1234567890, 987654321}};
  ASSERT_EQ(utimensat(AT_FDCWD, (dir / "src.bin").c_str(), times, 0), 0);
  for (const CopyMethod method : kMethods) {
    ASSERT_EQ(CopyFile(dir / "src.bin", dir / "dst.bin", nullptr, nullptr, {method}),
              JobResult::kDone);
    const struct stat copied = StatOf(dir / "dst.bin");
    EXPECT_EQ(copied.st_mtim.tv_sec, 1234567890);
    EXPECT_EQ(copied.st_mtim.tv_nsec, 987654321);
    EXPECT_EQ(fs::last_write_time(dir / "dst.bin"), fs::last_write_time(dir / "src.bin"));
  }
}

// A target that is a link (left by another tool) is replaced by a file of its own: the file the
// link named, or the source itself for a hard link, keeps its bytes.
TEST(FileCopy, LinksAtTheTargetAreReplacedNeverWrittenThrough) {
  test::TempDir dir;
  const std::vector<uint8_t> data = Pattern(5000, 9);
  const std::vector<uint8_t> other = {4, 5, 6};
  ASSERT_TRUE(WriteWholeFile(dir / "src.bin", data));
  ASSERT_TRUE(WriteWholeFile(dir / "other.bin", other));
  fs::create_symlink(dir / "other.bin", dir / "sym.bin");
  fs::create_hard_link(dir / "src.bin", dir / "hard.bin");
  for (const char* name : {"sym.bin", "hard.bin"}) {
    ASSERT_EQ(CopyFile(dir / "src.bin", dir / name, nullptr), JobResult::kDone) << name;
    const struct stat copied = StatOf(dir / name);
    EXPECT_TRUE(S_ISREG(copied.st_mode));
    EXPECT_EQ(copied.st_nlink, 1u);
    EXPECT_NE(copied.st_ino, StatOf(dir / "src.bin").st_ino);
  }
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ReadWholeFile(dir / "other.bin", bytes));
  EXPECT_EQ(bytes, other);
  ASSERT_TRUE(WriteWholeFile(dir / "hard.bin", {0}));  // patching the copy leaves the source
  ASSERT_TRUE(ReadWholeFile(dir / "src.bin", bytes));
  EXPECT_EQ(bytes, data);
}

TEST(FileCopy, FailuresGiveTheFileSystemsText) {
  test::TempDir dir;
  ASSERT_TRUE(WriteWholeFile(dir / "src.bin", {1, 2}));
  ASSERT_TRUE(WriteWholeFile(dir / "plain", {1}));
  fs::create_directories(dir / "folder");
  struct Case {
    fs::path source;
    fs::path target;
    fs::path named;
    int error_number;
  } cases[] = {
      {dir / "missing.bin", dir / "x.bin", dir / "missing.bin", ENOENT},
      {dir / "folder", dir / "x.bin", dir / "folder", EISDIR},
      {dir / "src.bin", dir / "nowhere" / "x.bin", dir / "nowhere" / "x.bin", ENOENT},
      {dir / "src.bin", dir / "plain" / "x.bin", dir / "plain" / "x.bin", ENOTDIR},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(CopyFile(c.source, c.target, nullptr, &error), JobResult::kFailed);
    EXPECT_EQ(error, FileErrorText(c.named, c.error_number));
    EXPECT_FALSE(fs::exists(c.target));
  }
}

// The size limit is set in a child process, which writes what the copy reported into a pipe.
std::string CopyUnderSizeLimit(const fs::path& source, const fs::path& target, CopyMethod method,
                               rlim_t limit) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
    const struct rlimit rl = {limit, limit};
    setrlimit(RLIMIT_FSIZE, &rl);
    std::string error;
    const JobResult result = CopyFile(source, target, nullptr, &error, {method, 65536});
    const std::string report = std::to_string(static_cast<int>(result)) + " " + error;
    [[maybe_unused]] const ssize_t n = write(fds[1], report.data(), report.size());
    _exit(0);
  }
  close(fds[1]);
  std::string report;
  char buffer[512];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) report.append(buffer, size_t(n));
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  return report;
}

TEST(FileCopy, WriteLimitGivesTheFileSystemsTextAndLeavesNothing) {
  test::TempDir dir;
  ASSERT_TRUE(WriteWholeFile(dir / "src.bin", Pattern(1 << 20, 5)));
  for (const CopyMethod method : kMethods) {
    const fs::path target = dir / "dst.bin";
    EXPECT_EQ(CopyUnderSizeLimit(dir / "src.bin", target, method, 200000),
              "2 " + FileErrorText(target, EFBIG))
        << static_cast<int>(method);
    EXPECT_FALSE(fs::exists(target));
    EXPECT_FALSE(fs::exists(CopyScratchPath(target)));
  }
}

}  // namespace
}  // namespace tessel
