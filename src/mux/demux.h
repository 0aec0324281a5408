// Demultiplexing: the payload of chosen streams of stream files written to elementary-stream
// files, one writer per stream (two for a stream with a core and an extension).
//
// Writers buffer a bounded number of bytes and write to a sink, so that memory stays fixed
// however long the clip and however many tracks are taken.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "mux/byte_io.h"
#include "mux/packet_reader.h"
#include "mux/rip_track.h"
#include "platform/common.h"
#include "platform/progress.h"

namespace tessel {

// Read size of a demux pass; a whole number of source packets.
inline constexpr size_t kDemuxChunkSize = 21845 * kSourcePacketSize;  // about 4 MiB
// All writers of a set together buffer at most this much; each gets its share, within limits.
inline constexpr size_t kDemuxBufferBudget = 32u << 20;
inline constexpr size_t kWriterBufferMax = 0x3F6000;
inline constexpr size_t kWriterBufferMin = 64u << 10;

// A plain writer: the payload bytes as they come.
class STrackFile {
 public:
  STrackFile(std::unique_ptr<CByteSink> sink, size_t buffer_size);
  virtual ~STrackFile() = default;
  STrackFile(const STrackFile&) = delete;
  STrackFile& operator=(const STrackFile&) = delete;

  // A PES packet starts; `time_base` and `time_offset` belong to the writer set.
  virtual void BeginUnit(const SPesTimes& /*times*/, uint64_t /*time_base*/,
                         int64_t /*time_offset*/) {}
  virtual void Payload(std::span<const uint8_t> bytes) { Put(bytes); }
  // Writes what is buffered; false (with error() set) when the sink failed.
  bool Flush();
  // The last flush, and the header fields that depend on the size.
  virtual bool Finish() { return Flush(); }

  // Bytes given to the writer, header bytes included.
  uint64_t size() const { return written_ + buffer_.size(); }
  const std::string& error() const { return error_; }
  bool failed() const { return !error_.empty(); }
  size_t capacity() const { return capacity_; }

 protected:
  void Put(std::span<const uint8_t> bytes);
  void Fail(std::string text) {
    if (error_.empty()) error_ = std::move(text);
  }
  CByteSink& sink() { return *sink_; }

 private:
  std::unique_ptr<CByteSink> sink_;
  std::vector<uint8_t> buffer_;
  size_t capacity_;
  uint64_t written_ = 0;
  std::string error_;
};

// AC-3, DTS, E-AC-3 and the two parts of TrueHD and E-AC-3: plain bytes.
class SAudioTrackFile : public STrackFile {
 public:
  using STrackFile::STrackFile;
};

class SDtsHdTrackFile : public STrackFile {
 public:
  using STrackFile::STrackFile;
};

// A RIFF size field: sizes past 4 GiB cannot be told, and are given as the largest value rather
// than wrapped.
uint32_t RiffSizeField(uint64_t size);

// LPCM to a WAVE file: the header from the first LPCM header, samples turned little-endian and
// into the channel order of the WAVE channel mask.
class SPcmTrackFile : public STrackFile {
 public:
  using STrackFile::STrackFile;
  void BeginUnit(const SPesTimes& times, uint64_t time_base, int64_t time_offset) override;
  void Payload(std::span<const uint8_t> bytes) override;
  bool Finish() override;

 private:
  bool StartFile();
  void Convert();

  uint8_t lpcm_header_[4] = {};
  size_t header_left_ = 0;  // header bytes of the current PES packet still to come
  bool started_ = false;
  bool refused_ = false;
  uint16_t channels_ = 0;
  uint16_t bytes_per_sample_ = 0;
  uint8_t assignment_ = 0;
  uint64_t data_start_ = 0;
  std::vector<uint8_t> pending_;  // samples of a block cut by a packet boundary
  std::vector<uint8_t> block_;
  std::vector<uint16_t> sources_;  // for each WAVE channel, its disc channel
  std::vector<uint8_t> converted_;
};

// PG and IG segment files: each PES packet after a 10-byte header ("PG" or "IG", PTS, DTS).
class SGraphicsTrackFile : public STrackFile {
 public:
  SGraphicsTrackFile(std::unique_ptr<CByteSink> sink, size_t buffer_size, const char* magic)
      : STrackFile(std::move(sink), buffer_size),
        magic_{static_cast<uint8_t>(magic[0]), static_cast<uint8_t>(magic[1])} {}
  void BeginUnit(const SPesTimes& times, uint64_t time_base, int64_t time_offset) override;

 private:
  uint8_t magic_[2];
  std::optional<int64_t> lift_;
};

class SPgTrackFile : public SGraphicsTrackFile {
 public:
  SPgTrackFile(std::unique_ptr<CByteSink> sink, size_t buffer_size)
      : SGraphicsTrackFile(std::move(sink), buffer_size, "PG") {}
};

class SIgTrackFile : public SGraphicsTrackFile {
 public:
  SIgTrackFile(std::unique_ptr<CByteSink> sink, size_t buffer_size)
      : SGraphicsTrackFile(std::move(sink), buffer_size, "IG") {}
};

// One stream of a writer set. Streams with a core and an extension have two writers: the core
// (`writers[0]`, ".ac3") and the rest.
struct STrackInfo {
  uint8_t coding_type = 0;
  std::string display_name;
  std::unique_ptr<STrackFile> writers[2];
  std::string paths[2];
  // Demux state of the current stream file.
  bool in_unit = false;
  int current = 0;
  int last_cc = -1;
};

// Creates the sink of an output file; null (with `error` set) when it cannot.
using SinkFactory =
    std::function<std::unique_ptr<CByteSink>(const std::string& path, std::string& error)>;
std::unique_ptr<CByteSink> CreateFileSink(const std::string& path, std::string& error);

// The output name of a stream: "<folder>/<base>_<pid><extension>".
std::string DemuxFileName(const std::string& folder, const std::string& base, uint16_t pid,
                          const char* extension);

class CTrackInfoMap {
 public:
  std::map<uint16_t, STrackInfo> tracks;
  // Added to every graphics time; a playlist raises it after each play item.
  int64_t time_offset = 0;
  // Every file created, in creation order.
  std::vector<std::string> created;

  // Flushes every writer, patches the headers and removes core files nothing was written to.
  bool Finish(std::string& error);
};

// The writers for the kept tracks in list order (text subtitles are skipped). Failed (after a
// message) when a file cannot be created; the files created before stay and are listed in
// `set.created`.
bool CreateDemuxWriters(const std::string& folder, const std::string& base,
                        std::span<SRipTrack* const> tracks, CTrackInfoMap& set,
                        const SinkFactory& factory = CreateFileSink);

// A file a demux wrote.
struct SDemuxedFile {
  std::string path;
  uint16_t pid = 0;
  std::string display_name;
  uint64_t size = 0;
};

struct SDemuxReport {
  std::vector<SStreamDamage> damage;
  uint64_t packets = 0;
  std::vector<SDemuxedFile> files;
  std::string error;  // why the demux failed
};

// Demultiplexes one stream file into the set; done or cancelled. Damage goes to the report.
JobResult DemuxStreamFile(CByteSource& source, const std::string& path, CTrackInfoMap& set,
                          const ProgressCallback& progress, SDemuxReport& report);

// Demultiplexes the kept tracks of a clip into "<folder>/<clip base>_<pid><ext>" files (an empty
// folder means the clip's own). Done; cancelled or failed (a file could not be created or
// written) with every file of this run removed. Damage leaves the result done: the files keep
// what could be read, and the report names the damage.
JobResult DemuxClip(const std::string& folder, std::span<SRipTrack* const> tracks,
                    CByteSource& source, const std::string& path, const ProgressCallback& progress,
                    SDemuxReport& report, const SinkFactory& factory = CreateFileSink);

}  // namespace tessel
