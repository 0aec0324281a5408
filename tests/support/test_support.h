// Shared helpers for the tests: a prompt that records messages and answers scripted questions,
// the fixture folder, and scratch folders.
#pragma once

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/prompt.h"

namespace tessel::test {

class RecordingPrompt : public Prompt {
 public:
  struct Entry {
    std::string text;
    PromptIcon icon;
    bool question;
  };

  void Message(std::string_view text, PromptIcon icon) override;
  // Answers with the next scripted answer; with none left, with the negative choice.
  PromptAnswer Ask(std::string_view text, PromptButtons buttons, PromptIcon icon) override;

  void Script(PromptAnswer answer) { answers_.push_back(answer); }
  const std::vector<Entry>& entries() const { return entries_; }
  std::vector<std::string> messages() const;
  void clear() { entries_.clear(); }

 private:
  std::vector<Entry> entries_;
  std::deque<PromptAnswer> answers_;
};

// Installs a RecordingPrompt for the lifetime of the object.
class ScopedRecordingPrompt : public RecordingPrompt {
 public:
  ScopedRecordingPrompt() : scope_(this) {}

 private:
  ScopedPrompt scope_;
};

// The folder tests/data/ of the source tree (with a trailing '/').
std::filesystem::path DataDir();
std::filesystem::path DataPath(const std::string& relative);
std::vector<uint8_t> ReadData(const std::string& relative);

// Copies tests/data/`relative` (a folder holding BDMV, or a navigation folder without it) to
// `root`/BDMV and returns that folder; a disc without streams gets an empty placeholder stream
// per clip information file.
std::filesystem::path StageDisc(const std::string& relative, const std::filesystem::path& root);

// A fresh empty folder, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace tessel::test
