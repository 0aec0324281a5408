// An elementary-stream source file of a new track (CSource), the file list a source may be made
// of (CFileList), and the folder of sources (CSourceFolder).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "model/named_object.h"
#include "mux/pipe.h"
#include "platform/progress.h"

namespace tessel {

struct CFileItem {
  std::filesystem::path path;
  int32_t value = 0;
};

// Several files of one kind played one after another. No command of the system creates one.
struct CFileList {
  std::vector<CFileItem> items;
  int32_t value = 0;
};

// Where a new track's stream comes from, which part of it is used and in which language. The
// second user word holds the author of the track (the clip or playlist that added it).
class CSource : public CNamedObject {
 public:
  std::unique_ptr<CNamedObject> CreateSame() const override;
  // Every field; the file list as a new list with new items.
  void CopyFrom(const CNamedObject& other) override;

  std::filesystem::path path;
  std::filesystem::path second_path;     // a companion read with it (the TrueHD file of a pair)
  std::unique_ptr<CFileList> file_list;  // replaces both paths when present
  uint8_t range_unit = range_unit::kUnits;
  int32_t range_start = 0;  // -1 on a playlist copy: propagated
  int32_t range_end = 0;
  int32_t graphics_time_base = 0;  // 90 kHz
  std::array<char, 3> language = {'e', 'n', 'g'};
  std::array<uint8_t, 12> isrc{};  // 2, 3, 2 and 5 bytes, carried along unchanged

  // What the pipe reads of this source; `start_cut` (90 kHz) drops the start of the range.
  SPipeSource PipeSource(int64_t start_cut = 0) const;
};

// No command of the system creates one; it completes the class family.
class CSourceFolder : public CNamedFolder<CSource, CSourceFolder> {
 public:
  std::unique_ptr<CNamedObject> CreateSame() const override;
};

// Opens the source through a pipe (a file-list pipe for a file list), analysing the stream first
// when its stream info is missing or stale: 0 with the pipe; else 1 (cancelled) or 2 (failed,
// already reported) and no pipe.
int OpenSourcePipe(const CSource& source, const ProgressCallback& progress,
                   std::unique_ptr<CPipe>& pipe);

// Bytes of the source: the listed files, or the path and the second path (a missing or empty
// path counts 0).
uint64_t SourceSize(const CSource& source);

// The file-dialog filter for choosing sources.
std::string SourceFilter();

}  // namespace tessel
