#include "cli/progress_bar.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace tessel::cli {
namespace {

// Everything the bar writes, through an in-memory stream.
class Output {
 public:
  Output() : file_(open_memstream(&data_, &size_)) {}
  ~Output() {
    std::fclose(file_);
    std::free(data_);
  }
  std::FILE* file() { return file_; }
  std::string text() {
    std::fflush(file_);
    return std::string(data_, size_);
  }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  std::FILE* file_;
};

ProgressRecord Position(int32_t p) {
  ProgressRecord r;
  r.position = p;
  return r;
}

ProgressRecord Message(const char* text) {
  ProgressRecord r;
  r.kind = ProgressKind::kMessage;
  r.message = text;
  return r;
}

TEST(ProgressBarTest, LinesOncePerPercentAndMessagesAsLines) {
  Output out;
  ProgressBar bar(ProgressBar::Mode::kLines, out.file(), [] { return int64_t{0}; });
  const ProgressCallback callback = bar.Callback();
  for (int32_t p : {0, 0, 1, 1, 1, 42, 120}) EXPECT_TRUE(callback(Position(p)));
  EXPECT_TRUE(callback(Message("Muxing out.m2ts")));
  ProgressRecord title;
  title.kind = ProgressKind::kTitle;
  title.title = "Muxing";
  EXPECT_TRUE(callback(title));
  EXPECT_EQ(out.text(), "0%\n1%\n42%\n100%\nMuxing out.m2ts\nMuxing\n");
}

TEST(ProgressBarTest, QuietWritesNothing) {
  Output out;
  {
    ProgressBar bar(ProgressBar::Mode::kQuiet, out.file(), [] { return int64_t{0}; });
    const ProgressCallback callback = bar.Callback();
    EXPECT_TRUE(callback(Position(50)));
    EXPECT_TRUE(callback(Message("hello")));
  }
  EXPECT_EQ(out.text(), "");
}

TEST(ProgressBarTest, TerminalBarWithTimeLeft) {
  Output out;
  int64_t now = 1000;
  {
    ProgressBar bar(ProgressBar::Mode::kTerminal, out.file(), [&now] { return now; });
    const ProgressCallback callback = bar.Callback();
    now += 12000;  // 12 s for the first 50 %
    callback(Position(50));
    callback(Position(50));  // unchanged: not redrawn
    callback(Message("note"));
  }
  const std::string bar50 = "[###############               ]  50%  time left 0:12";
  const std::string clear(bar50.size(), ' ');
  EXPECT_EQ(out.text(), "\r" + bar50 + "\r" + clear + "\rnote\n" + bar50 + "\n");
}

TEST(ProgressBarTest, LongEstimatesShowHours) {
  Output out;
  int64_t now = 0;
  ProgressBar bar(ProgressBar::Mode::kTerminal, out.file(), [&now] { return now; });
  now = 3'700'000;  // 1 % in 3700 s
  bar.Callback()(Position(1));
  EXPECT_NE(out.text().find("time left 101:45:00"), std::string::npos) << out.text();
}

}  // namespace
}  // namespace tessel::cli
