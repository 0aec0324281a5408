// The one way files are copied: a reflink where the file system shares extents, else an in-kernel
// range copy, else a fixed-size buffer. Holes of sparse files stay holes. The data go into a
// hidden scratch file beside the target that replaces the target only once it is complete and
// carries the source's last-write time, so a target is never a link to the source (a copy may be
// patched in place), never written through a link, and never left half-written.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/common.h"
#include "platform/progress.h"

namespace tessel {

enum class CopyMethod : int {
  kAuto,       // reflink, else range copy, else buffer
  kRangeCopy,  // no reflink
  kBuffer,     // read and write through the buffer only
  kReflink,    // reported only: the target shares the source's extents
};

struct SCopyOptions {
  CopyMethod method = CopyMethod::kAuto;
  uint64_t chunk_size = 8ull << 20;  // bytes between two progress records
};

// What a copy did: the method that moved the data and the bytes of data it moved.
struct SCopyStats {
  CopyMethod method = CopyMethod::kAuto;
  uint64_t data_bytes = 0;
};

// Copies `source` to `target` (replaced when present; a link at `target` is replaced, never
// followed). Sends position records (0..100) between chunks; a callback answering false cancels.
// Cancelled or failed: the scratch file is removed and an existing target is left as it was.
// Failed: `error` holds the file system's text "<path>: <message>".
JobResult CopyFile(const std::filesystem::path& source, const std::filesystem::path& target,
                   const ProgressCallback& progress, std::string* error = nullptr,
                   const SCopyOptions& options = {}, SCopyStats* stats = nullptr);

// The scratch file a copy to `target` writes before it is complete.
std::filesystem::path CopyScratchPath(const std::filesystem::path& target);

}  // namespace tessel
