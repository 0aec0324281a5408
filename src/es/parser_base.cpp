#include "es/parser_base.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>

#include "platform/files.h"

namespace tessel {
namespace {

constexpr std::array<const char*, parse_result::kLast + 1> kResultMessages = {
    "Parse sucessfully! ",
    "Parse canceled! ",
    "Unknown file format! ",
    "Incompatible file! ",
    "Open file error! ",
    "Create stream info file error! ",
    "Read file erorr! ",
    "Write file erorr! ",
    "Syntax illegal! ",
    "Bitrate overflow! ",
    "Video buffer overflow! ",
    "No Sequence header! ",
    "No GOP header! ",
    "No aspect info! ",
    "No framerate info! ",
    "Wrong bitstream Id! ",
    "Wrong sample bits! ",
    "Wrong sample rate! ",
    "Wrong bitrate! ",
    "Wrong channel count! ",
    "Wrong audio coding mode! ",
    "Wrong audio blocks count! ",
    "Wrong profile! ",
    "Wrong level! ",
    "Wrong video format! ",
    "Wrong aspect ratio! ",
    "Wrong frame rate! ",
    "Wrong progressive/interlace flag! ",
    "Wrong pulldown flag! ",
    "Wrong chroma format! ",
    "Wrong GOP size! ",
    "Wrong entry point posistion! ",
    "Wrong coded size! ",
    "Wrong frame rate info! ",
    "Wrong panscan flag! ",
    "No HRD parameter! ",
    "Frame gaps exist! ",
    "No SPS! ",
    "No PPS! ",
    "No VUI info! ",
    "No timing info! ",
    "Fixed frame rate is false! ",
    "Wrong slice type! ",
    "CPB size overflow! ",
    "Wrong low-delay HRD flag! ",
    "Wrong extention mode! ",
};

// Runs one parser; on anything but success or "not mine" the stream info file goes.
int RunParser(CParserBase& parser, const std::filesystem::path& source, CStreamInfo& info,
              const ProgressCallback& progress) {
  const int result = parser.Parse(source, info, progress);
  if (result != parse_result::kOk && result != parse_result::kUnknownFormat) {
    info.CloseAndDelete();
  }
  return result;
}

// Current: made from the source as it is now, and undamaged as far as can be seen.
bool IsCurrentStreamInfo(const std::filesystem::path& sif, int64_t source_time,
                         uint64_t source_size) {
  CStreamInfo info;
  return info.Open(sif) && info.header.sourceTime == source_time && info.FitsSource(source_size);
}

}  // namespace

const char* ParseResultMessage(int code) {
  if (code < 0 || code > parse_result::kLast) return "";
  return kResultMessages[static_cast<size_t>(code)];
}

bool ProgressTicker::Update(uint64_t consumed) {
  if (consumed < last_ + kStep) return true;
  last_ = consumed;
  return ReportPosition(callback_, PercentOf(consumed, file_size_));
}

bool CParserBase::MatchExtension(const std::filesystem::path& path) const {
  const std::string name = path.filename().string();
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string_view extension = std::string_view(name).substr(dot);
  for (const std::string& candidate : extensions_) {
    if (EqualsNoCase(candidate, extension)) return true;
  }
  return false;
}

int CParserBase::Probe(const std::filesystem::path& path) {
  FileByteSource source;
  if (!source.Open(path)) return parse_result::kOpenError;
  return Probe(source);
}

int CParserBase::Probe(ByteSource& source) {
  BitFile file;
  if (!file.Open(source)) return parse_result::kOpenError;
  return ProbeFile(file) ? parse_result::kOk : parse_result::kUnknownFormat;
}

bool CParserBase::ProbeFile(BitFile&) {
  return false;
}

int CParserBase::ParseFile(BitFile&, ByteSource&, CStreamInfo&, const ProgressCallback&) {
  return parse_result::kUnknownFormat;
}

int CParserBase::Parse(const std::filesystem::path& path, CStreamInfo& info,
                       const ProgressCallback& progress) {
  FileByteSource source;
  if (!source.Open(path)) return parse_result::kOpenError;
  return Parse(source, info, progress);
}

int CParserBase::Parse(ByteSource& source, CStreamInfo& info, const ProgressCallback& progress) {
  const int result = ParseSource(source, info, progress);
  if (result == parse_result::kOk && !info.Seal()) return parse_result::kWriteError;
  return result;
}

int CParserBase::ParseSource(ByteSource& source, CStreamInfo& info,
                             const ProgressCallback& progress) {
  BitFile file;
  if (!file.Open(source)) return parse_result::kOpenError;
  if (!ProbeFile(file)) return parse_result::kUnknownFormat;
  info.header = SSifHeader{};
  info.header.sourceTime = source.modification_time();
  info.CreateRecord(coding_type_);
  if (!info.WriteHeaderAndRecord()) return parse_result::kWriteError;
  // The probe may have read ahead; the analysis starts from the first byte again.
  if (!file.Open(source)) return parse_result::kOpenError;
  const int result = ParseFile(file, source, info, progress);
  if (result != parse_result::kOk) {
    info.CloseAndDelete();
    return result;
  }
  if (!info.WriteHeaderAndRecord()) return parse_result::kWriteError;
  ReportPosition(progress, 100);
  return parse_result::kOk;
}

bool SourceModificationTime(const std::filesystem::path& path, int64_t& seconds) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  seconds = static_cast<int64_t>(st.st_mtime);
  return true;
}

uint64_t SourceFileSize(const std::filesystem::path& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return 0;
  return static_cast<uint64_t>(st.st_size);
}

std::filesystem::path StreamInfoPath(const std::filesystem::path& source) {
  return std::filesystem::path(source.string() + ".dsi");
}

std::filesystem::path TemporaryStreamInfoPath(const std::filesystem::path& source) {
  return TemporaryFolder() / (source.filename().string() + ".dsi");
}

StreamInfoState CheckStreamInfo(const std::filesystem::path& source, std::string* error) {
  if (::access(source.c_str(), R_OK) != 0) {
    if (error) *error = FileErrorText(source, errno);
    return StreamInfoState::kSourceError;
  }
  int64_t source_time = 0;
  SourceModificationTime(source, source_time);
  const uint64_t source_size = SourceFileSize(source);
  if (IsCurrentStreamInfo(StreamInfoPath(source), source_time, source_size) ||
      IsCurrentStreamInfo(TemporaryStreamInfoPath(source), source_time, source_size)) {
    return StreamInfoState::kCurrent;
  }
  return StreamInfoState::kMissingOrStale;
}

bool OpenStreamInfo(CStreamInfo& info, const std::filesystem::path& source, bool create) {
  for (const auto& path : {StreamInfoPath(source), TemporaryStreamInfoPath(source)}) {
    if (create ? info.Create(path) : info.Open(path)) return true;
  }
  return false;
}

int ParseElementaryFile(const std::filesystem::path& source, CStreamInfo& info,
                        std::string& message, const ProgressCallback& progress) {
  message.clear();
  std::vector<std::unique_ptr<CParserBase>> parsers = CreateParsers();
  if (progress) {
    ReportMessage(progress, source.string());
    ReportTitle(progress, "Parsing");
  }
  if (!OpenStreamInfo(info, source, true)) {
    message = ParseResultMessage(parse_result::kCreateSifError);
    return parse_result::kCreateSifError;
  }
  int result = parse_result::kUnknownFormat;
  CParserBase* first = nullptr;
  for (auto& parser : parsers) {
    if (parser->MatchExtension(source)) {
      first = parser.get();
      result = RunParser(*parser, source, info, progress);
      break;
    }
  }
  for (auto& parser : parsers) {
    if (result != parse_result::kUnknownFormat) break;
    if (parser.get() == first) continue;
    if (!info.is_open() && !OpenStreamInfo(info, source, true)) {
      result = parse_result::kCreateSifError;
      break;
    }
    result = RunParser(*parser, source, info, progress);
  }
  if (result == parse_result::kUnknownFormat) info.CloseAndDelete();
  if (result >= parse_result::kUnknownFormat) message = ParseResultMessage(result);
  return result;
}

}  // namespace tessel
