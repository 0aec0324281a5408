// The elementary-stream parsers' common base, how a parser is chosen for a file, the result codes
// and the stream info file beside each source.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "es/stream_info.h"
#include "formats/bit_file.h"
#include "platform/progress.h"

namespace tessel {

// Parse result codes (0..45); the message of each is ParseResultMessage.
namespace parse_result {
inline constexpr int kOk = 0;
inline constexpr int kCancelled = 1;
inline constexpr int kUnknownFormat = 2;
inline constexpr int kIncompatible = 3;
inline constexpr int kOpenError = 4;
inline constexpr int kCreateSifError = 5;
inline constexpr int kReadError = 6;
inline constexpr int kWriteError = 7;
inline constexpr int kSyntaxIllegal = 8;
inline constexpr int kWrongBitstreamId = 15;
inline constexpr int kWrongSampleBits = 16;
inline constexpr int kWrongSampleRate = 17;
inline constexpr int kWrongBitrate = 18;
inline constexpr int kWrongChannelCount = 19;
inline constexpr int kWrongAudioCodingMode = 20;
inline constexpr int kWrongAudioBlocks = 21;
inline constexpr int kWrongExtensionMode = 45;
inline constexpr int kLast = 45;
}  // namespace parse_result

// The table text of a result code; codes outside 0..45 give an empty text.
const char* ParseResultMessage(int code);

// Progress of a scan through a file: reports a percentage whenever another 5 MiB were consumed.
class ProgressTicker {
 public:
  static constexpr uint64_t kStep = 5242880;
  ProgressTicker(const ProgressCallback& callback, uint64_t file_size)
      : callback_(callback), file_size_(file_size) {}
  // False when the callback asked to stop.
  bool Update(uint64_t consumed);

 private:
  const ProgressCallback& callback_;
  uint64_t file_size_;
  uint64_t last_ = 0;
};

class CParserBase {
 public:
  CParserBase(uint8_t coding_type, std::vector<std::string> extensions)
      : coding_type_(coding_type), extensions_(std::move(extensions)) {}
  virtual ~CParserBase() = default;
  CParserBase(const CParserBase&) = delete;
  CParserBase& operator=(const CParserBase&) = delete;

  // Whether the file's extension (from the last dot of its name) is one of the parser's.
  virtual bool MatchExtension(const std::filesystem::path& path) const;
  // Analyses the file and fills the stream info file; a parse result code.
  int Parse(const std::filesystem::path& path, CStreamInfo& info, const ProgressCallback& progress);
  // The same over any source of the stream's bytes, read from its start. A stream info file
  // that was filled is sealed with its checksum.
  int Parse(ByteSource& source, CStreamInfo& info, const ProgressCallback& progress);
  // 4 when the file cannot be opened, 0 when ProbeFile accepts it, else 2.
  int Probe(const std::filesystem::path& path);
  int Probe(ByteSource& source);
  // Looks at the first bytes of a stream opened at its start.
  virtual bool ProbeFile(BitFile& file);
  // The codec-specific analysis of a stream: `file` reads `source` from its start; a parser
  // that scans on its own rewinds the source.
  virtual int ParseFile(BitFile& file, ByteSource& source, CStreamInfo& info,
                        const ProgressCallback& progress);

  uint8_t coding_type() const { return coding_type_; }

 protected:
  // The analysis behind Parse: probe, header and record, then ParseFile.
  virtual int ParseSource(ByteSource& source, CStreamInfo& info, const ProgressCallback& progress);

 public:
  const std::vector<std::string>& extensions() const { return extensions_; }

 protected:
  uint8_t coding_type_;
  std::vector<std::string> extensions_;
};

// Every parser, in the order in which they are tried.
std::vector<std::unique_ptr<CParserBase>> CreateParsers();

// Last-modification time of a file in seconds since 1970 (UTC); false when it cannot be read.
bool SourceModificationTime(const std::filesystem::path& path, int64_t& seconds);
// Size of a file; 0 when it cannot be read.
uint64_t SourceFileSize(const std::filesystem::path& path);

// The stream info file name of a source: its full name followed by ".dsi".
std::filesystem::path StreamInfoPath(const std::filesystem::path& source);
// The same name in the temporary folder, used when the source's folder is not writable.
std::filesystem::path TemporaryStreamInfoPath(const std::filesystem::path& source);

enum class StreamInfoState {
  kCurrent = 0,         // exists, valid, made from the source as it is now: reuse
  kMissingOrStale = 1,  // parse again
  kSourceError = 2,     // the source cannot be opened (`error` holds the file error's text)
};

StreamInfoState CheckStreamInfo(const std::filesystem::path& source, std::string* error = nullptr);

// Opens the stream info file of a source (beside it, else in the temporary folder): with `create`
// a new empty file, otherwise an existing one whose header and record are read and checked.
bool OpenStreamInfo(CStreamInfo& info, const std::filesystem::path& source, bool create);

// Runs the parsers over a source: first the one whose extension matches, then every other one in
// order, until one recognises the file. On failure the stream info file is removed and `message`
// receives the result's text (codes 2..45).
int ParseElementaryFile(const std::filesystem::path& source, CStreamInfo& info,
                        std::string& message, const ProgressCallback& progress);

}  // namespace tessel
