// `tessel dump FILE`: the text dump (or, with --json, the same tree as JSON) of a database file,
// chosen by the file's four-character type indicator, or the summary of a transport stream.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/app.h"
#include "cli/dump_json.h"
#include "cli/dump_ts.h"
#include "formats/clpi.h"
#include "formats/dump.h"
#include "formats/index.h"
#include "formats/movie_object.h"
#include "formats/mpls.h"
#include "formats/sound.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/prompt.h"
#include "platform/string_table.h"

namespace tessel::cli {
namespace {

// Parses a whole file and dumps it into the archive; false (with a reason) when it does not parse.
using DumpFunction = bool (*)(std::span<const uint8_t> file, DumpArchive& archive,
                              std::string* error);

template <typename Record>
bool DumpRecord(std::span<const uint8_t> file, DumpArchive& archive, std::string* error) {
  Record record;
  if (!record.Read(file, error)) return false;
  record.Dump("", archive);
  return true;
}

struct DumpKind {
  char type_indicator[5];
  DumpFunction dump;
};

// One row per database file type.
constexpr DumpKind kDumpKinds[] = {
    {"MPLS", &DumpRecord<Mpls>},
    {"INDX", &DumpRecord<IndexFile>},
    {"MOBJ", &DumpRecord<MovieObjectFile>},
    {"BCLK", &DumpRecord<SoundFile>},
    {"HDMV", &DumpRecord<Clpi>},
};

const DumpKind* FindKind(std::span<const uint8_t> file) {
  if (file.size() < 4) return nullptr;
  for (const DumpKind& kind : kDumpKinds) {
    if (std::memcmp(file.data(), kind.type_indicator, 4) == 0) return &kind;
  }
  return nullptr;
}

JobResult RunDump(const std::string& path, bool json, const GlobalOptions& options) {
  // A transport stream is never read whole.
  if (LooksLikeTransportStream(path)) {
    return static_cast<JobResult>(DumpTransportStream(path, json, options));
  }
  std::vector<uint8_t> data;
  std::string error;
  if (!ReadWholeFile(path, data, &error)) {
    ShowMessage(error);
    return JobResult::kFailed;
  }
  const DumpKind* kind = FindKind(data);
  if (!kind) {
    ShowMessage(Format("%s: not a database file this command can dump", path.c_str()));
    return JobResult::kFailed;
  }
  DumpArchive archive;
  if (!kind->dump(data, archive, &error)) {
    ShowMessage(Format(LoadString(string_id::kParseError), path.c_str()) + "\n" + error);
    return JobResult::kFailed;
  }
  if (json) {
    std::fputs(JsonText(DumpToJson(archive)).c_str(), stdout);
    std::fputc('\n', stdout);
  } else {
    std::fputs(archive.text().c_str(), stdout);
  }
  return JobResult::kDone;
}

const bool kRegistered = RegisterCommand(
    {"dump", "Print the records of a database file or the summary of a transport stream",
     [](CLI::App& command, const GlobalOptions& options) -> CommandAction {
       auto path = std::make_shared<std::string>();
       auto json = std::make_shared<bool>(false);
       command.add_option("FILE", *path, "The file to dump")->required();
       command.add_flag("--json", *json, "Print the records as JSON");
       return [path, json, &options] { return RunDump(*path, *json, options); };
     }});

}  // namespace
}  // namespace tessel::cli
