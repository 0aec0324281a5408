// Independent readers of what we write, for the tests: ffprobe and ffmpeg on transport streams and
// elementary files, libbluray on clip information. Each helper returns nothing useful when its
// tool is missing; a test asks first with the SKIP_WITHOUT_* macros below, which skip it cleanly.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/ts_conformance.h"

namespace tessel::test {

// The shared fixture corpus beside the checkout (../shared/fixtures/ from the repository), which
// may be missing: tests that use it skip then.
std::filesystem::path SharedFixtures();

// Whether a program is on the PATH (asked once per name).
bool HaveTool(const std::string& name);
// Whether libbluray can be loaded with the functions the clip reader needs.
bool HaveLibbluray();

#define TESSEL_SKIP_WITHOUT_TOOL(name) \
  if (!::tessel::test::HaveTool(name)) GTEST_SKIP() << name << " not installed"
#define TESSEL_SKIP_WITHOUT_LIBBLURAY() \
  if (!::tessel::test::HaveLibbluray()) GTEST_SKIP() << "libbluray not installed"

struct CommandResult {
  int status = -1;  // the exit status; -1 when the program could not be run
  std::string out;
  std::string err;
};
// Runs a program (looked up on the PATH) with these arguments, no shell in between.
CommandResult RunCommand(const std::vector<std::string>& args);

// ---------------------------------------------------------------------------------------------
// ffprobe

struct ProbeStream {
  int index = 0;
  std::string codec;  // codec_name: "h264", "ac3", "truehd", "pcm_bluray", "hdmv_pgs_subtitle", ...
  std::string type;   // codec_type: "video", "audio", "subtitle", "data"
  uint16_t pid = 0;
  std::string language;  // empty without an ISO 639 descriptor
};
std::vector<ProbeStream> ProbeStreams(const std::filesystem::path& file);
// The streams ffprobe shows on one PID (two for TrueHD with its AC-3 core).
std::vector<ProbeStream> StreamsOnPid(const std::vector<ProbeStream>& streams, uint16_t pid);

constexpr int64_t kNoTime = INT64_MIN;

struct ProbePacket {
  int stream = 0;
  int64_t pos = -1;  // byte offset in the file; -1 when ffprobe gives none
  bool key = false;  // flagged K
  int64_t pts = kNoTime;
  int64_t dts = kNoTime;
  int64_t size = 0;
};
std::vector<ProbePacket> ProbePackets(const std::filesystem::path& file);

// ---------------------------------------------------------------------------------------------
// ffmpeg

// The error text of a remux of every stream into nothing (`-c copy`); empty when clean.
std::string FfmpegCopyErrors(const std::filesystem::path& file);
// The error text of a full decode of every stream (subtitles copied); empty when clean.
std::string FfmpegDecodeErrors(const std::filesystem::path& file);
// Copies the elementary stream on `pid` out of a transport stream into `out` with ffmpeg's muxer
// `format` ("ac3", "eac3", "dts", "truehd", "h264", "mpeg2video", "sup", ...). `stream_of_pid`
// picks one of several streams on the same PID. Returns the error text, empty on success.
std::string FfmpegDemux(const std::filesystem::path& file, uint16_t pid, const std::string& format,
                        const std::filesystem::path& out, int stream_of_pid = 0);

struct FrameHash {
  int64_t size = 0;
  std::string md5;
  bool operator==(const FrameHash&) const = default;
};
// ffmpeg's `-c copy -f framemd5` of one PID of a transport stream (or of an elementary file,
// with `pid` none and its demuxer named: "h264", "mpegvideo", "vc1"): the size and hash of every
// access unit, without their times.
std::vector<FrameHash> FrameMd5(const std::filesystem::path& file,
                                std::optional<uint16_t> pid = std::nullopt,
                                const std::string& input_format = "");

// ---------------------------------------------------------------------------------------------
// libbluray

struct BdStc {
  uint16_t pcr_pid;
  uint32_t spn_stc_start;
  uint32_t presentation_start_time;  // 45 kHz
  uint32_t presentation_end_time;
};
struct BdProgramStream {
  uint16_t pid;
  uint8_t coding_type;
  uint8_t format;
  uint8_t rate;
  uint8_t aspect;
  std::string lang;
};
struct BdEntryPoint {
  uint64_t pts;  // 90 kHz, coarse and fine parts joined (bits 32..9)
  uint32_t spn;
  int end_position_offset;
  bool angle_change_point;
};
struct BdEpMap {
  uint16_t pid;
  int ep_stream_type;
  int coarse_entries;
  std::vector<BdEntryPoint> entries;  // one per fine entry
};
struct BdClip {
  int application_type = 0;
  uint32_t ts_recording_rate = 0;  // as stored: bytes per second
  uint32_t source_packets = 0;
  std::vector<std::vector<BdStc>> atc_sequences;
  std::vector<std::vector<BdProgramStream>> programs;
  std::vector<BdEpMap> ep_maps;
  const BdEpMap* EpMap(uint16_t pid) const;
};
// The clip information file as libbluray's bd_read_clpi reads it; none when it cannot.
std::optional<BdClip> ReadClpiWithLibbluray(const std::filesystem::path& clpi);

// Each entry point of the maps that is not a packet where ffprobe starts a K-flagged packet of the
// same PID (position ÷ 192), as readable lines; empty when all are. ffmpeg's VC-1 parser cuts the
// units anew and leaves some without a position, so for VC-1 this says little.
std::vector<std::string> EntryPointsOffKeyPackets(const BdClip& clip,
                                                  const std::vector<ProbeStream>& streams,
                                                  const std::vector<ProbePacket>& packets);

// ---------------------------------------------------------------------------------------------

// The checks every clip we write must pass, as test expectations: the stream checker (with
// `options`), ffmpeg's copy and full decode without a word, libbluray reading the clip
// information with the file's packet count, and every entry point on a key packet. Parts whose
// tool is missing are left out. Returns the checker's report for further expectations.
TsReport ExpectClipConforms(const std::filesystem::path& m2ts, const std::filesystem::path& clpi,
                            const TsCheckOptions& options = {});

}  // namespace tessel::test
