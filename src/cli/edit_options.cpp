#include "cli/edit_options.h"

#include <charconv>
#include <filesystem>
#include <optional>

#include "model/edit_list.h"
#include "platform/format.h"
#include "platform/prompt.h"

namespace tessel {
namespace {

namespace fs = std::filesystem;

// The text up to the first ':' and what follows it.
std::pair<std::string, std::string> SplitFirst(const std::string& text, char separator = ':') {
  const size_t at = text.find(separator);
  if (at == std::string::npos) return {text, ""};
  return {text.substr(0, at), text.substr(at + 1)};
}

std::optional<int64_t> Number(const std::string& text) {
  int64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
  return value;
}

std::optional<uint16_t> Pid(const std::string& text) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  unsigned value = 0;
  const char* begin = text.data() + (hex ? 2 : 0);
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(begin, end, value, hex ? 16 : 10);
  if (ec != std::errc() || ptr != end || begin == end || value > 0x1FFF) return std::nullopt;
  return static_cast<uint16_t>(value);
}

fs::path Absolute(const std::string& file) {
  return fs::absolute(fs::path(file)).lexically_normal();
}

// One option's value as an edit; false after naming the option and what is wrong.
bool OptionEdit(const char* option, const std::string& value, SEdit& edit, std::string& error) {
  error = Format("--%s %s: ", option, value.c_str());
  const auto [clip_text, rest] = SplitFirst(value);
  const std::optional<int64_t> clip = Number(clip_text);
  if (!clip || *clip < 0 || *clip > 99999) {
    error += "CLIP must be a clip number";
    return false;
  }
  edit.clip = static_cast<int32_t>(*clip);
  const std::string name = option;
  if (name == "cut") {
    const auto [start, end] = SplitFirst(rest, '-');
    const std::optional<int64_t> in = Number(start);
    const std::optional<int64_t> out = Number(end);
    if (!in || !out || *in < 0 || *out <= *in) {
      error += "START-END must be two times in milliseconds, the end after the start";
      return false;
    }
    edit.op = EditOp::kCut;
    edit.in_ms = *in;
    edit.out_ms = *out;
    return true;
  }
  if (name == "add") {
    // FILE[:lang][:delay]; a delay is a number, a language three letters.
    std::string file = rest;
    for (int part = 0; part < 2; ++part) {
      const size_t at = file.rfind(':');
      if (at == std::string::npos) break;
      const std::string tail = file.substr(at + 1);
      if (const std::optional<int64_t> delay = Number(tail); delay && !edit.delay_ms) {
        edit.delay_ms = static_cast<int32_t>(*delay);
      } else if (tail.size() == 3 && !edit.language && !Number(tail)) {
        edit.language = tail;
      } else {
        break;
      }
      file = file.substr(0, at);
    }
    if (file.empty()) {
      error += "FILE is missing";
      return false;
    }
    edit.op = EditOp::kAdd;
    edit.file = Absolute(file);
    return true;
  }
  const auto [pid_text, file] = SplitFirst(rest);
  const std::optional<uint16_t> pid = Pid(pid_text);
  if (!pid) {
    error += "PID must be a PID such as 0x1100 or 4352";
    return false;
  }
  edit.pid = pid;
  if (name == "replace") {
    if (file.empty()) {
      error += "FILE is missing";
      return false;
    }
    edit.op = EditOp::kReplace;
    edit.file = Absolute(file);
    return true;
  }
  if (!file.empty()) {
    error += "too many parts";
    return false;
  }
  edit.op = name == "drop" ? EditOp::kDrop : EditOp::kClear;
  return true;
}

bool CollectEdits(const EditOptions& options, std::vector<SEdit>& edits, std::string& error) {
  if (!options.edits_file.empty() && !ReadEditListFile(options.edits_file, edits, error)) {
    return false;
  }
  const std::pair<const char*, const std::vector<std::string>*> groups[] = {
      {"drop", &options.drop},
      {"add", &options.add},
      {"replace", &options.replace},
      {"clear", &options.clear},
      {"cut", &options.cut}};
  for (const auto& [option, values] : groups) {
    for (const std::string& value : *values) {
      SEdit edit;
      if (!OptionEdit(option, value, edit, error)) return false;
      edits.push_back(std::move(edit));
    }
  }
  return true;
}

}  // namespace

void AddEditOptions(CLI::App& command, EditOptions& options) {
  command.add_option("--edits", options.edits_file, "Apply the edit list of FILE first")
      ->type_name("FILE");
  command.add_option("--drop", options.drop, "Drop track PID of clip CLIP")->type_name("CLIP:PID");
  command.add_option("--add", options.add, "Add FILE to clip CLIP, with language and delay (ms)")
      ->type_name("CLIP:FILE[:lang][:delay]");
  command.add_option("--replace", options.replace, "Replace track PID of clip CLIP by FILE")
      ->type_name("CLIP:PID:FILE");
  command.add_option("--clear", options.clear, "Clear track PID of clip CLIP")
      ->type_name("CLIP:PID");
  command.add_option("--cut", options.cut, "Cut clip CLIP to START-END (ms)")
      ->type_name("CLIP:START-END");
}

int ApplyEditOptions(CBDDisc& disc, const EditOptions& options, const ProgressCallback& progress) {
  std::vector<SEdit> edits;
  std::string error;
  if (!CollectEdits(options, edits, error)) {
    ShowMessage(error);
    return static_cast<int>(JobResult::kFailed);
  }
  return static_cast<int>(ApplyEditList(disc, edits, progress));
}

}  // namespace tessel
