// The edit list: a user's edits of a disc as a sequence of operations, in one JSON document that
// both front ends read and write, so that edits can be saved, reopened and repeated elsewhere:
//
//   {"tessel_edits": 1, "edits": [{"op": "drop", "clip": 0, "pid": "0x1101"}, ...]}
//
// Every edit names a clip or a playlist by number. Original tracks (and playlist tracks) are named
// by "pid" ("0x1100" or 4352) or by "track" (position in the list); new tracks by "new_track"
// (position among the new tracks) or by "file". Files are relative to the list's folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/common.h"
#include "platform/progress.h"

namespace tessel {

class CBDDisc;

enum class EditOp : uint8_t {
  kKeep,
  kDrop,
  kClear,
  kAdd,
  kReplace,
  kDelete,
  kLanguage,
  kDelay,
  kCut,
  kVisible,
  kOrder,
};

// The name an operation has in the document ("keep", "drop", ...).
const char* EditOpName(EditOp op);

// A part of a new track's source: "ms" times or access-unit ("units") indexes.
struct SEditRange {
  bool in_ms = true;
  int32_t start = 0;
  int32_t end = 0;
};

// One operation with the fields it uses; the others stay at their defaults.
struct SEdit {
  EditOp op = EditOp::kKeep;
  int32_t clip = -1;  // exactly one of clip and playlist names the object
  int32_t playlist = -1;
  std::optional<uint16_t> pid;  // an original or playlist track
  std::optional<int> track;
  std::optional<int> new_track;  // a new track by position; else by `file`
  std::filesystem::path file;    // absolute once read
  bool primary = true;           // replace
  bool empty = false;            // add: "Add empty track" of a playlist
  bool value = true;             // clear: cleared; visible: visible
  bool related = false;          // visible: "Delete from related M2ts" / "Cancel Delete"
  std::optional<std::string> language;
  std::optional<int32_t> delay_ms;
  std::optional<SEditRange> range;  // add to a clip
  int64_t in_ms = 0;                // cut
  std::optional<int64_t> out_ms;    // cut; none: to the end
  std::vector<int> order;           // order: entry i names the current row that moves to row i
};

// The successful edits of the opened disc, in the order they were made. The edit commands fill it;
// saving writes it.
struct SEditRecord {
  std::vector<SEdit> edits;
};

// The record of the loaded disc, filled by the edit commands; null when no disc is loaded.
SEditRecord* CurrentEditRecord();
void SetCurrentEditRecord(SEditRecord* record);
// Appends to the current record (nothing when there is none).
void RecordEdit(SEdit edit);

// Reads a document; relative files are taken from `folder`. False with `error` naming the edit
// (counted from 1), its operation and the field.
bool ParseEditList(std::string_view text, const std::filesystem::path& folder,
                   std::vector<SEdit>& edits, std::string& error);
bool ReadEditListFile(const std::filesystem::path& file, std::vector<SEdit>& edits,
                      std::string& error);
// The document of the edits, files relative to `folder` where they can be.
std::string WriteEditList(std::span<const SEdit> edits, const std::filesystem::path& folder);
bool SaveEditListFile(const std::filesystem::path& file, std::span<const SEdit> edits,
                      std::string& error);

// Applies the edits to the opened disc through the edit commands. The whole list is tried first
// on a second opening of the disc carrying the disc's record, so a list that does not fit (its
// error is shown) or whose operation is refused (the command has said why) leaves the disc as it
// was. Done, cancelled (an analysis the user stopped) or failed.
JobResult ApplyEditList(CBDDisc& disc, std::span<const SEdit> edits,
                        const ProgressCallback& progress);

}  // namespace tessel
