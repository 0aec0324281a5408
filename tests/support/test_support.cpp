#include "support/test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>

#include "platform/files.h"

namespace tessel::test {

void RecordingPrompt::Message(std::string_view text, PromptIcon icon) {
  entries_.push_back({std::string(text), icon, false});
}

PromptAnswer RecordingPrompt::Ask(std::string_view text, PromptButtons buttons, PromptIcon icon) {
  entries_.push_back({std::string(text), icon, true});
  if (!answers_.empty()) {
    const PromptAnswer a = answers_.front();
    answers_.pop_front();
    return a;
  }
  switch (buttons) {
    case PromptButtons::kOk:
      return PromptAnswer::kOk;
    case PromptButtons::kYesNo:
      return PromptAnswer::kNo;
    default:
      return PromptAnswer::kCancel;
  }
}

std::vector<std::string> RecordingPrompt::messages() const {
  std::vector<std::string> out;
  for (const Entry& e : entries_) out.push_back(e.text);
  return out;
}

std::filesystem::path StageDisc(const std::string& relative, const std::filesystem::path& root) {
  namespace fs = std::filesystem;
  fs::path source = DataPath(relative);
  if (fs::exists(source / "BDMV")) source /= "BDMV";
  const fs::path bdmv = root / "BDMV";
  fs::create_directories(bdmv);
  fs::copy(source, bdmv, fs::copy_options::recursive);
  if (!fs::exists(bdmv / "STREAM")) {
    fs::create_directories(bdmv / "STREAM");
    for (const auto& entry : fs::directory_iterator(bdmv / "CLIPINF")) {
      std::ofstream(bdmv / "STREAM" / (entry.path().stem().string() + ".m2ts"));
    }
  }
  return bdmv;
}

std::filesystem::path DataDir() {
  const char* env = std::getenv("TESSEL_TEST_DATA");
  if (env && *env) return env;
  return std::filesystem::path("tests/data/");
}

std::filesystem::path DataPath(const std::string& relative) {
  return DataDir() / relative;
}

std::vector<uint8_t> ReadData(const std::string& relative) {
  std::vector<uint8_t> data;
  std::string error;
  EXPECT_TRUE(ReadWholeFile(DataPath(relative), data, &error)) << error;
  return data;
}

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  path_ = std::filesystem::temp_directory_path() /
          ("tessel-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

}  // namespace tessel::test
