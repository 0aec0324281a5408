#include "model/edit_list.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <limits>
#include <sstream>
#include <utility>

#include <nlohmann/json.hpp>

#include "formats/tables.h"
#include "model/bd_disc.h"
#include "model/edit_commands.h"
#include "platform/format.h"
#include "platform/prompt.h"

namespace tessel {
namespace {

using nlohmann::json;
using nlohmann::ordered_json;
namespace fs = std::filesystem;

constexpr int kFormatVersion = 1;

// The fields an operation may carry besides "op" and the object it names.
enum Field : uint32_t {
  kPid = 1U << 0,       // with "track"
  kNewTrack = 1U << 1,  // with "file"
  kFile = 1U << 2,
  kCleared = 1U << 3,
  kEmpty = 1U << 4,
  kLanguage = 1U << 5,
  kDelay = 1U << 6,
  kRange = 1U << 7,
  kPrimary = 1U << 8,
  kCut = 1U << 9,
  kVisible = 1U << 10,
  kRelated = 1U << 11,
  kTracks = 1U << 12,
};

enum Target : uint8_t { kClipTarget = 1, kPlaylistTarget = 2 };

struct SOpRule {
  EditOp op;
  const char* name;
  uint8_t targets;
  uint32_t fields;
};

constexpr std::array<SOpRule, 11> kOps = {{
    {EditOp::kKeep, "keep", kClipTarget, kPid},
    {EditOp::kDrop, "drop", kClipTarget, kPid},
    {EditOp::kClear, "clear", kClipTarget | kPlaylistTarget, kPid | kCleared},
    {EditOp::kAdd, "add", kClipTarget | kPlaylistTarget,
     kFile | kEmpty | kLanguage | kDelay | kRange},
    {EditOp::kReplace, "replace", kClipTarget | kPlaylistTarget, kPid | kFile | kPrimary},
    {EditOp::kDelete, "delete", kClipTarget | kPlaylistTarget, kNewTrack},
    {EditOp::kLanguage, "language", kClipTarget | kPlaylistTarget, kNewTrack | kLanguage},
    {EditOp::kDelay, "delay", kClipTarget | kPlaylistTarget, kNewTrack | kDelay},
    {EditOp::kCut, "cut", kClipTarget, kCut},
    {EditOp::kVisible, "visible", kPlaylistTarget, kPid | kVisible | kRelated},
    {EditOp::kOrder, "order", kPlaylistTarget, kTracks},
}};

struct SFieldName {
  const char* name;
  uint32_t field;
};

constexpr std::array<SFieldName, 17> kFieldNames = {{
    {"pid", kPid},
    {"track", kPid},
    {"new_track", kNewTrack},
    {"file", kFile | kNewTrack},
    {"cleared", kCleared},
    {"empty", kEmpty},
    {"language", kLanguage},
    {"delay_ms", kDelay},
    {"range", kRange},
    {"primary", kPrimary},
    {"in_ms", kCut},
    {"out_ms", kCut},
    {"visible", kVisible},
    {"related", kRelated},
    {"tracks", kTracks},
    {"clip", 0},
    {"playlist", 0},
}};

const SOpRule* FindOp(std::string_view name) {
  for (const SOpRule& rule : kOps) {
    if (name == rule.name) return &rule;
  }
  return nullptr;
}

const SOpRule& SpecOf(EditOp op) {
  return kOps[static_cast<size_t>(op)];
}

SEditRecord* g_current_record = nullptr;

// ---- reading ----

// Where an error is: the edit (from 1) and its operation, then the field.
struct SPlace {
  int number = 0;
  std::string op;
};

std::string FieldError(const SPlace& place, std::string_view field, std::string_view what) {
  return Format("edit %d (%s), field \"%.*s\": %.*s", place.number, place.op.c_str(),
                static_cast<int>(field.size()), field.data(), static_cast<int>(what.size()),
                what.data());
}

// One edit's fields as they are read, the first error kept.
class CEditReader {
 public:
  CEditReader(const json& object, SPlace place, const fs::path& folder)
      : object_(object), place_(std::move(place)), folder_(folder) {}

  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }
  bool Has(const char* field) const { return object_.contains(field); }

  void Fail(std::string_view field, std::string_view what) {
    if (error_.empty()) error_ = FieldError(place_, field, what);
  }

  std::optional<int64_t> Integer(const char* field, int64_t low, int64_t high) {
    if (!Has(field)) return std::nullopt;
    const json& value = object_.at(field);
    if (!value.is_number_integer()) {
      Fail(field, "must be a whole number");
      return std::nullopt;
    }
    const bool negative = value.is_number_unsigned() ? false : value.get<int64_t>() < 0;
    if (negative ? value.get<int64_t>() < low : value.get<uint64_t>() > uint64_t(high)) {
      Fail(field, Format("must be from %lld to %lld", static_cast<long long>(low),
                         static_cast<long long>(high)));
      return std::nullopt;
    }
    return negative ? value.get<int64_t>() : static_cast<int64_t>(value.get<uint64_t>());
  }

  bool Bool(const char* field, bool fallback) {
    if (!Has(field)) return fallback;
    if (!object_.at(field).is_boolean()) {
      Fail(field, "must be true or false");
      return fallback;
    }
    return object_.at(field).get<bool>();
  }

  std::optional<std::string> Text(const char* field) {
    if (!Has(field)) return std::nullopt;
    if (!object_.at(field).is_string() || object_.at(field).get<std::string>().empty()) {
      Fail(field, "must be a text");
      return std::nullopt;
    }
    return object_.at(field).get<std::string>();
  }

  // "0x1100", "4352" or 4352.
  std::optional<uint16_t> Pid() {
    if (!Has("pid")) return std::nullopt;
    const json& value = object_.at("pid");
    if (value.is_number_integer()) {
      const std::optional<int64_t> pid = Integer("pid", 0, 0x1FFF);
      return pid ? std::optional<uint16_t>(static_cast<uint16_t>(*pid)) : std::nullopt;
    }
    if (value.is_string()) {
      const std::string text = value.get<std::string>();
      const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
      const std::string digits = hex ? text.substr(2) : text;
      const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
      if (!digits.empty() && digits.size() <= 5 &&
          digits.find_first_not_of(allowed) == std::string::npos) {
        const unsigned long pid = std::stoul(digits, nullptr, hex ? 16 : 10);
        if (pid <= 0x1FFF) return static_cast<uint16_t>(pid);
      }
    }
    Fail("pid", "must be a PID such as \"0x1100\" or 4352");
    return std::nullopt;
  }

  fs::path File() {
    const std::optional<std::string> text = Text("file");
    if (!text) return {};
    const fs::path path(*text);
    return (path.is_absolute() ? path : folder_ / path).lexically_normal();
  }

  std::optional<SEditRange> Range() {
    if (!Has("range")) return std::nullopt;
    const json& value = object_.at("range");
    if (!value.is_object()) {
      Fail("range", "must be an object");
      return std::nullopt;
    }
    for (const auto& [key, item] : value.items()) {
      if (key != "unit" && key != "start" && key != "end") Fail("range." + key, "unknown field");
    }
    CEditReader inner(value, place_, folder_);
    SEditRange range;
    const std::optional<std::string> unit = inner.Text("unit");
    if (unit && *unit != "ms" && *unit != "units")
      inner.Fail("unit", "must be \"ms\" or \"units\"");
    range.in_ms = !unit || *unit == "ms";
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    const std::optional<int64_t> start = inner.Integer("start", 0, kMax);
    const std::optional<int64_t> end = inner.Integer("end", 0, kMax);
    if (!inner.failed() && (!start || !end)) inner.Fail(start ? "end" : "start", "missing");
    if (!inner.failed() && *end <= *start) inner.Fail("end", "must be after the start");
    if (inner.failed()) {
      // The inner reader names the field without its object.
      if (error_.empty()) error_ = inner.error_;
      const size_t at = error_.find("field \"");
      if (at != std::string::npos && error_.find("range.") == std::string::npos) {
        error_.insert(at + 7, "range.");
      }
      return std::nullopt;
    }
    range.start = static_cast<int32_t>(*start);
    range.end = static_cast<int32_t>(*end);
    return range;
  }

  std::vector<int> Tracks() {
    std::vector<int> rows;
    if (!Has("tracks")) return rows;
    const json& value = object_.at("tracks");
    if (!value.is_array()) {
      Fail("tracks", "must be a list of positions");
      return rows;
    }
    for (const json& item : value) {
      if (!item.is_number_integer() || item.get<int64_t>() < 0 ||
          item.get<int64_t>() > std::numeric_limits<int>::max()) {
        Fail("tracks", "must be a list of positions");
        return {};
      }
      rows.push_back(static_cast<int>(item.get<int64_t>()));
    }
    return rows;
  }

 private:
  const json& object_;
  SPlace place_;
  const fs::path& folder_;
  std::string error_;
};

// The object the edit names: exactly one of "clip" and "playlist", of a kind the operation takes.
void ReadTarget(CEditReader& reader, const SOpRule& rule, SEdit& edit) {
  constexpr int64_t kMaxNumber = 99999;
  const bool clip = reader.Has("clip");
  const bool playlist = reader.Has("playlist");
  if (clip && playlist) return reader.Fail("playlist", "an edit names a clip or a playlist");
  if (!clip && !playlist) {
    return reader.Fail((rule.targets & kClipTarget) ? "clip" : "playlist", "missing");
  }
  const char* field = clip ? "clip" : "playlist";
  if (!(rule.targets & (clip ? kClipTarget : kPlaylistTarget))) {
    return reader.Fail(
        field, clip ? "this operation edits playlists only" : "this operation edits clips only");
  }
  const std::optional<int64_t> number = reader.Integer(field, 0, kMaxNumber);
  if (number) (clip ? edit.clip : edit.playlist) = static_cast<int32_t>(*number);
}

void ReadTrackReference(CEditReader& reader, SEdit& edit) {
  if (reader.Has("pid") && reader.Has("track")) {
    return reader.Fail("track", "a track is named by \"pid\" or \"track\"");
  }
  if (reader.Has("pid")) {
    edit.pid = reader.Pid();
    return;
  }
  if (!reader.Has("track")) return reader.Fail("pid", "missing");
  if (const std::optional<int64_t> index = reader.Integer("track", 0, 9999)) {
    edit.track = static_cast<int>(*index);
  }
}

void ReadNewTrackReference(CEditReader& reader, SEdit& edit) {
  if (reader.Has("new_track") && reader.Has("file")) {
    return reader.Fail("file", "a new track is named by \"new_track\" or \"file\"");
  }
  if (reader.Has("new_track")) {
    if (const std::optional<int64_t> index = reader.Integer("new_track", 0, 9999)) {
      edit.new_track = static_cast<int>(*index);
    }
    return;
  }
  if (!reader.Has("file")) return reader.Fail("file", "missing");
  edit.file = reader.File();
}

void ReadLanguage(CEditReader& reader, SEdit& edit) {
  const std::optional<std::string> code = reader.Text("language");
  if (!code) return;
  const int row = code->size() == 3 ? LanguageRowAnyCode(*code) : -1;
  if (row < 0) return reader.Fail("language", Format("unknown language \"%s\"", code->c_str()));
  edit.language = LanguageAt(row).code;
}

void ReadFields(CEditReader& reader, const SOpRule& rule, SEdit& edit) {
  constexpr int64_t kMaxMs = std::numeric_limits<int32_t>::max();
  ReadTarget(reader, rule, edit);
  if (rule.fields & kPid) ReadTrackReference(reader, edit);
  if (rule.fields & kNewTrack) ReadNewTrackReference(reader, edit);
  if (rule.fields & kFile) {
    edit.file = reader.File();
    if (edit.file.empty() && !reader.failed()) reader.Fail("file", "missing");
  }
  if (rule.fields & kCleared) edit.value = reader.Bool("cleared", true);
  if (rule.fields & kVisible) edit.value = reader.Bool("visible", true);
  if (rule.fields & kRelated) edit.related = reader.Bool("related", false);
  if (rule.fields & kPrimary) edit.primary = reader.Bool("primary", true);
  if (rule.fields & kEmpty) {
    edit.empty = reader.Bool("empty", false);
    if (edit.empty && edit.clip >= 0) reader.Fail("empty", "empty tracks are added to playlists");
  }
  if (rule.fields & kLanguage) {
    ReadLanguage(reader, edit);
    if (edit.op == EditOp::kLanguage && !reader.Has("language")) reader.Fail("language", "missing");
  }
  if (rule.fields & kDelay) {
    const std::optional<int64_t> delay = reader.Integer("delay_ms", -kMaxMs, kMaxMs);
    if (delay) edit.delay_ms = static_cast<int32_t>(*delay);
    if (edit.op == EditOp::kDelay && !reader.Has("delay_ms")) reader.Fail("delay_ms", "missing");
  }
  if (rule.fields & kRange) {
    if (reader.Has("range") && edit.clip < 0) {
      reader.Fail("range", "a range is given to a clip's new track");
    }
    edit.range = reader.Range();
  }
  if (rule.fields & kCut) {
    edit.in_ms = reader.Integer("in_ms", 0, kMaxMs).value_or(0);
    edit.out_ms = reader.Integer("out_ms", 0, kMaxMs);
    if (edit.out_ms && *edit.out_ms <= edit.in_ms) reader.Fail("out_ms", "must be after in_ms");
  }
  if (rule.fields & kTracks) {
    edit.order = reader.Tracks();
    if (!reader.Has("tracks")) reader.Fail("tracks", "missing");
  }
}

bool IsAllowed(const SOpRule& rule, const std::string& key) {
  if (key == "op") return true;
  for (const SFieldName& name : kFieldNames) {
    if (key == name.name) return name.field == 0 || (rule.fields & name.field) != 0;
  }
  return false;
}

bool ReadEdit(const json& object, int number, const fs::path& folder, SEdit& edit,
              std::string& error) {
  SPlace place{number, "?"};
  if (!object.is_object()) {
    error = Format("edit %d: must be an object", number);
    return false;
  }
  const auto op = object.find("op");
  if (op == object.end() || !op->is_string()) {
    error = FieldError(place, "op", op == object.end() ? "missing" : "must be a text");
    return false;
  }
  place.op = op->get<std::string>();
  const SOpRule* rule = FindOp(place.op);
  if (!rule) {
    error = FieldError(place, "op", "unknown operation");
    return false;
  }
  edit = SEdit{};
  edit.op = rule->op;
  CEditReader reader(object, place, folder);
  for (const auto& [key, value] : object.items()) {
    if (!IsAllowed(*rule, key)) reader.Fail(key, "unknown field");
  }
  if (!reader.failed()) ReadFields(reader, *rule, edit);
  error = reader.error();
  return !reader.failed();
}

// Line and column (from 1) of a byte of the text.
std::pair<int, int> LineAndColumn(std::string_view text, size_t byte) {
  int line = 1;
  int column = 1;
  for (size_t i = 0; i < std::min(byte, text.size()); ++i) {
    column = text[i] == '\n' ? 1 : column + 1;
    if (text[i] == '\n') ++line;
  }
  return {line, column};
}

bool ParseDocument(std::string_view text, json& document, std::string& error) {
  try {
    document = json::parse(text.begin(), text.end());
    return true;
  } catch (const json::parse_error& e) {
    // The position is the byte after the one that failed; report the failing byte.
    const auto [line, column] = LineAndColumn(text, e.byte > 0 ? e.byte - 1 : 0);
    error = Format("edit list: not valid JSON (line %d, column %d)", line, column);
  } catch (const json::exception&) {
    error = "edit list: not valid JSON";
  }
  return false;
}

bool CheckHeader(const json& document, std::string& error) {
  if (!document.is_object()) {
    error = "edit list: must be an object with \"tessel_edits\" and \"edits\"";
    return false;
  }
  for (const auto& [key, value] : document.items()) {
    if (key != "tessel_edits" && key != "edits") {
      error = Format("edit list, field \"%s\": unknown field", key.c_str());
      return false;
    }
  }
  const auto version = document.find("tessel_edits");
  if (version == document.end() || !version->is_number_integer() ||
      version->get<int64_t>() != kFormatVersion) {
    error = Format("edit list, field \"tessel_edits\": must be %d", kFormatVersion);
    return false;
  }
  const auto edits = document.find("edits");
  if (edits == document.end() || !edits->is_array()) {
    error = "edit list, field \"edits\": must be a list of edits";
    return false;
  }
  return true;
}

// ---- writing ----

std::string RelativeText(const fs::path& file, const fs::path& folder) {
  if (folder.empty()) return file.string();
  const fs::path relative = file.lexically_relative(folder.lexically_normal());
  return relative.empty() ? file.string() : relative.generic_string();
}

ordered_json EditJson(const SEdit& edit, const fs::path& folder) {
  const SOpRule& rule = SpecOf(edit.op);
  ordered_json out;
  out["op"] = rule.name;
  if (edit.clip >= 0) out["clip"] = edit.clip;
  if (edit.playlist >= 0) out["playlist"] = edit.playlist;
  if (edit.pid) out["pid"] = Format("0x%04X", *edit.pid);
  if (edit.track) out["track"] = *edit.track;
  if (edit.new_track) out["new_track"] = *edit.new_track;
  if (!edit.file.empty()) out["file"] = RelativeText(edit.file, folder);
  if (rule.fields & kPrimary) out["primary"] = edit.primary;
  if (edit.empty) out["empty"] = true;
  if (rule.fields & kCleared) out["cleared"] = edit.value;
  if (rule.fields & kVisible) out["visible"] = edit.value;
  if (edit.related) out["related"] = true;
  if (edit.language) out["language"] = *edit.language;
  if (edit.delay_ms) out["delay_ms"] = *edit.delay_ms;
  if (edit.range) {
    out["range"] = {{"unit", edit.range->in_ms ? "ms" : "units"},
                    {"start", edit.range->start},
                    {"end", edit.range->end}};
  }
  if (edit.op == EditOp::kCut) {
    out["in_ms"] = edit.in_ms;
    if (edit.out_ms) out["out_ms"] = *edit.out_ms;
  }
  if (edit.op == EditOp::kOrder) out["tracks"] = edit.order;
  return out;
}

// ---- applying ----

// A failure of an edit against the disc: the message is shown and the edit fails.
JobResult Misfit(const SPlace& place, std::string_view field, std::string_view what) {
  ShowMessage(FieldError(place, field, what));
  return JobResult::kFailed;
}

std::string ObjectName(const SEdit& edit) {
  return edit.clip >= 0 ? Format("clip %05d", edit.clip) : Format("playlist %05d", edit.playlist);
}

bool SamePath(const fs::path& a, const fs::path& b) {
  return a.lexically_normal() == b.lexically_normal();
}

// The position of an original (clip) or playlist track; -1 after the message.
int ResolveTrack(const SPlace& place, const SEdit& edit, const SRipTracks& tracks) {
  if (edit.pid) {
    const SRipTrack* found = FindByPid(tracks, *edit.pid);
    for (size_t i = 0; found && i < tracks.size(); ++i) {
      if (tracks[i].get() == found) return static_cast<int>(i);
    }
    Misfit(place, "pid", Format("%s has no track 0x%04X", ObjectName(edit).c_str(), *edit.pid));
    return -1;
  }
  if (edit.track && static_cast<size_t>(*edit.track) < tracks.size()) return *edit.track;
  Misfit(
      place, "track",
      Format("%s has no track at position %d", ObjectName(edit).c_str(), edit.track.value_or(-1)));
  return -1;
}

int ResolveNewTrack(const SPlace& place, const SEdit& edit, const SRawTracks& tracks) {
  if (edit.new_track) {
    if (static_cast<size_t>(*edit.new_track) < tracks.size()) return *edit.new_track;
    Misfit(place, "new_track",
           Format("%s has no new track %d", ObjectName(edit).c_str(), *edit.new_track));
    return -1;
  }
  for (size_t i = 0; i < tracks.size(); ++i) {
    if (SamePath(tracks[i].MainPath(), edit.file) || SamePath(tracks[i].source.path, edit.file)) {
      return static_cast<int>(i);
    }
  }
  Misfit(place, "file",
         Format("%s has no new track %s", ObjectName(edit).c_str(),
                edit.file.filename().string().c_str()));
  return -1;
}

bool FileExists(const SPlace& place, const fs::path& file) {
  std::error_code ec;
  if (fs::is_regular_file(file, ec)) return true;
  Misfit(place, "file", Format("no such file %s", file.string().c_str()));
  return false;
}

// What follows a successful add: the language and the delay the edit gives the new track.
template <typename Object>
JobResult SetAddedTrack(Object& object, const SEdit& edit, int index) {
  if (index < 0) return JobResult::kDone;
  if (edit.language) {
    const JobResult result =
        NewTrackLanguageCommand(object, index, LanguageRowAnyCode(*edit.language));
    if (result != JobResult::kDone) return result;
  }
  if (edit.delay_ms) return NewTrackDelayCommand(object, index, *edit.delay_ms);
  return JobResult::kDone;
}

JobResult ApplyToClip(CClpiObject& clip, const SEdit& edit, const SPlace& place,
                      const ProgressCallback& progress) {
  switch (edit.op) {
    case EditOp::kKeep:
    case EditOp::kDrop:
    case EditOp::kClear:
    case EditOp::kReplace: {
      const int index = ResolveTrack(place, edit, clip.original_tracks);
      if (index < 0) return JobResult::kFailed;
      if (edit.op == EditOp::kClear) return ClearTrackCommand(clip, index, edit.value);
      if (edit.op != EditOp::kReplace)
        return KeepTrackCommand(clip, index, edit.op == EditOp::kKeep);
      if (!FileExists(place, edit.file)) return JobResult::kFailed;
      return ReplaceTrackCommand(clip, index, edit.file, edit.primary, progress);
    }
    case EditOp::kAdd: {
      if (!FileExists(place, edit.file)) return JobResult::kFailed;
      const JobResult result =
          AddTrackCommand(clip, edit.file, progress, edit.range ? &*edit.range : nullptr);
      if (result != JobResult::kDone) return result;
      return SetAddedTrack(clip, edit, clip.new_tracks.Find(edit.file, false));
    }
    case EditOp::kDelete:
    case EditOp::kLanguage:
    case EditOp::kDelay: {
      const int index = ResolveNewTrack(place, edit, clip.new_tracks);
      if (index < 0) return JobResult::kFailed;
      if (edit.op == EditOp::kDelete) return DeleteTrackCommand(clip, index);
      if (edit.op == EditOp::kDelay) return NewTrackDelayCommand(clip, index, *edit.delay_ms);
      return NewTrackLanguageCommand(clip, index, LanguageRowAnyCode(*edit.language));
    }
    case EditOp::kCut:
      return CutCommand(clip, edit.in_ms, edit.out_ms);
    case EditOp::kVisible:
    case EditOp::kOrder:
      break;
  }
  return JobResult::kFailed;  // the reader lets no other operation name a clip
}

JobResult ApplyToPlaylist(CMplsObject& playlist, const SEdit& edit, const SPlace& place,
                          const ProgressCallback& progress) {
  switch (edit.op) {
    case EditOp::kClear:
    case EditOp::kReplace:
    case EditOp::kVisible: {
      const int index = ResolveTrack(place, edit, playlist.tracks);
      if (index < 0) return JobResult::kFailed;
      if (edit.op == EditOp::kClear) return ClearTrackCommand(playlist, index, edit.value);
      if (edit.op == EditOp::kVisible) {
        return edit.related ? RelatedVisibleCommand(playlist, index, edit.value)
                            : VisibleTrackCommand(playlist, index, edit.value);
      }
      if (!FileExists(place, edit.file)) return JobResult::kFailed;
      return ReplaceTrackCommand(playlist, index, edit.file, edit.primary, progress);
    }
    case EditOp::kAdd: {
      if (!FileExists(place, edit.file)) return JobResult::kFailed;
      const JobResult result = edit.empty ? AddEmptyTrackCommand(playlist, edit.file, progress)
                                          : AddTrackCommand(playlist, edit.file, progress);
      if (result != JobResult::kDone) return result;
      return SetAddedTrack(playlist, edit, playlist.new_tracks.Find(edit.file, edit.empty));
    }
    case EditOp::kDelete:
    case EditOp::kLanguage:
    case EditOp::kDelay: {
      const int index = ResolveNewTrack(place, edit, playlist.new_tracks);
      if (index < 0) return JobResult::kFailed;
      if (edit.op == EditOp::kDelete) return DeleteTrackCommand(playlist, index);
      if (edit.op == EditOp::kDelay) return NewTrackDelayCommand(playlist, index, *edit.delay_ms);
      return NewTrackLanguageCommand(playlist, index, LanguageRowAnyCode(*edit.language));
    }
    case EditOp::kOrder: {
      const JobResult result = ReorderCommand(playlist, edit.order);
      if (result == JobResult::kDone) return result;
      return Misfit(place, "tracks",
                    Format("not an order of the %d rows of playlist %05d",
                           static_cast<int>(playlist.OutputTracks().size()), edit.playlist));
    }
    case EditOp::kKeep:
    case EditOp::kDrop:
    case EditOp::kCut:
      break;
  }
  return JobResult::kFailed;  // the reader lets no other operation name a playlist
}

CMplsObject* FindPlaylist(const CBDDisc& disc, int number) {
  for (const auto& playlist : disc.playlists()->items()) {
    if (playlist->id() == number) return playlist.get();
  }
  return nullptr;
}

JobResult ApplyOne(CBDDisc& disc, const SEdit& edit, int number, const ProgressCallback& progress) {
  const SPlace place{number, EditOpName(edit.op)};
  if (edit.clip >= 0) {
    CClpiObject* clip = disc.clips()->FindClip(edit.clip);
    if (!clip) return Misfit(place, "clip", Format("no clip %05d", edit.clip));
    if (!clip->IsMovieClip()) {
      return Misfit(place, "clip", Format("clip %05d is not a movie clip", edit.clip));
    }
    return ApplyToClip(*clip, edit, place, progress);
  }
  CMplsObject* playlist = FindPlaylist(disc, edit.playlist);
  if (!playlist) return Misfit(place, "playlist", Format("no playlist %05d", edit.playlist));
  return ApplyToPlaylist(*playlist, edit, place, progress);
}

JobResult ApplyAll(CBDDisc& disc, std::span<const SEdit> edits, const ProgressCallback& progress,
                   int first_number) {
  for (size_t i = 0; i < edits.size(); ++i) {
    const JobResult result = ApplyOne(disc, edits[i], first_number + static_cast<int>(i), progress);
    if (result != JobResult::kDone) return result;
  }
  return JobResult::kDone;
}

// Keeps whatever is said while the disc's own earlier edits are repeated: they were accepted once.
class CQuietPrompt final : public Prompt {
 public:
  void Message(std::string_view, PromptIcon) override {}
  PromptAnswer Ask(std::string_view, PromptButtons buttons, PromptIcon) override {
    return buttons == PromptButtons::kOkCancel ? PromptAnswer::kOk : PromptAnswer::kYes;
  }
};

// The disc opened again from its folder with its earlier edits repeated.
bool Reopen(CBDDisc& disc, const std::string& folder, const std::vector<SEdit>& earlier) {
  if (!disc.Open(folder)) return false;
  CQuietPrompt quiet;
  const ScopedPrompt scope(&quiet);
  return ApplyAll(disc, earlier, nullptr, 1) == JobResult::kDone;
}

}  // namespace

const char* EditOpName(EditOp op) {
  return SpecOf(op).name;
}

SEditRecord* CurrentEditRecord() {
  return g_current_record;
}

void SetCurrentEditRecord(SEditRecord* record) {
  g_current_record = record;
}

void RecordEdit(SEdit edit) {
  if (g_current_record) g_current_record->edits.push_back(std::move(edit));
}

bool ParseEditList(std::string_view text, const fs::path& folder, std::vector<SEdit>& edits,
                   std::string& error) {
  edits.clear();
  json document;
  if (!ParseDocument(text, document, error) || !CheckHeader(document, error)) return false;
  const json& list = document.at("edits");
  std::vector<SEdit> read(list.size());
  for (size_t i = 0; i < list.size(); ++i) {
    if (!ReadEdit(list[i], static_cast<int>(i + 1), folder, read[i], error)) return false;
  }
  edits = std::move(read);
  return true;
}

bool ReadEditListFile(const fs::path& file, std::vector<SEdit>& edits, std::string& error) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  if (!in || !(text << in.rdbuf())) {
    // An empty file reads as no characters; it is then not JSON.
    if (in && in.peek() == std::char_traits<char>::eof())
      return ParseEditList("", {}, edits, error);
    error = Format("%s: cannot be read", file.string().c_str());
    return false;
  }
  return ParseEditList(text.str(), fs::absolute(file).parent_path(), edits, error);
}

std::string WriteEditList(std::span<const SEdit> edits, const fs::path& folder) {
  ordered_json list = ordered_json::array();
  for (const SEdit& edit : edits) list.push_back(EditJson(edit, folder));
  ordered_json document;
  document["tessel_edits"] = kFormatVersion;
  document["edits"] = std::move(list);
  return document.dump(1) + "\n";
}

bool SaveEditListFile(const fs::path& file, std::span<const SEdit> edits, std::string& error) {
  const std::string text = WriteEditList(edits, fs::absolute(file).parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (out && out.write(text.data(), static_cast<std::streamsize>(text.size())) && out.flush()) {
    return true;
  }
  error = Format("%s: cannot be written", file.string().c_str());
  return false;
}

JobResult ApplyEditList(CBDDisc& disc, std::span<const SEdit> edits,
                        const ProgressCallback& progress) {
  if (edits.empty()) return JobResult::kDone;
  if (!disc.clips() || !disc.playlists()) return JobResult::kFailed;
  const std::vector<SEdit> earlier = disc.edit_record().edits;
  JobResult trial = JobResult::kFailed;
  {
    CBDDisc twin;
    if (Reopen(twin, disc.folder(), earlier)) trial = ApplyAll(twin, edits, progress, 1);
    disc.Publish();
  }
  if (trial != JobResult::kDone) return trial;
  if (ApplyAll(disc, edits, progress, 1) == JobResult::kDone) return JobResult::kDone;
  // Only a file that changed since the trial gets here: back to the state before the list.
  Reopen(disc, disc.folder(), earlier);
  return JobResult::kFailed;
}

}  // namespace tessel
