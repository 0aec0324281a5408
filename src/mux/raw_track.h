// A new stream of a clip made from an elementary-stream file (or an AC-3 core with its TrueHD
// file): its units come from a pipe and are moved onto the clip's timeline.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "es/stream_info.h"
#include "mux/mux_track.h"
#include "mux/pipe.h"
#include "platform/progress.h"

namespace tessel {

struct SRawTrack;

// The packetiser of the current unit: asks the pipe for one transport packet at a time.
struct SRawAu : SAuBase {
  const uint8_t* NextPacket(uint64_t& bytes_left, uint32_t& payload) override;
  KEY_POINT_INFO* KeyPoint() override;
  bool IsBaseSubStream() const override;

  SRawTrack* track = nullptr;
  uint8_t packet[192] = {};
  SPacketRequest request;
  bool key_point = false;  // the unit's entry point is the track's last key point
};

// Default clip start on the fixture discs and of `tessel mux`: 27000000 at 45 kHz.
inline constexpr int64_t kDefaultClipBase = 54000000;  // 90 kHz

// Who added a new track: a clip or a playlist, by number. Only the author may delete it.
struct STrackAuthor {
  enum class Kind : uint8_t { kNone, kClip, kPlaylist };
  Kind kind = Kind::kNone;
  int32_t number = -1;
  bool operator==(const STrackAuthor&) const = default;
};

struct SRawTrack : SMuxTrack {
  // A track from a file; null when it cannot be added (the reason was shown). `result` is the
  // pipe's open result: 1 when the user cancelled an analysis.
  static std::unique_ptr<SRawTrack> Create(const std::filesystem::path& path, bool as_primary,
                                           const ProgressCallback& progress, int* result = nullptr);
  // A track set up again from a source of another track (no progress).
  static std::unique_ptr<SRawTrack> FromSource(const SPipeSource& source);

  uint8_t CodingType() const override;
  bool Prepare() override;
  void Release() override;
  SAuBase* CurrentAu() override { return has_current ? &au : nullptr; }
  SFirstAuInfo FirstAuInfo() const override { return first_au; }
  bool NextAu() override;
  bool IsGraphicsStart() const override;
  uint32_t FrameDuration90k() const override;
  double FrameDurationMs() const override;
  void FillClipAttributes(StreamInfo& info) const override;
  void FillEsi(ESI& esi) const override;
  uint64_t TotalBytes() const override;
  void GatherKeyPoints() override;
  void CreateStd() override;

  // The file the track is named by: the TrueHD file of a pair, else the source.
  const std::filesystem::path& MainPath() const;
  std::string LanguageCode() const;
  // Sets the language from a three-letter code (an unknown one selects "eng"), also in the source.
  void SetLanguageCode(std::string_view code);
  bool IsEmpty() const { return empty_link != nullptr; }
  const SRawTrack& Effective() const { return empty_link ? *empty_link : *this; }

  // A playlist's copy of a track another clip or playlist added; it goes with that track.
  bool IsPropagated() const { return source.range_start == -1; }

  SRawTrack* empty_link = nullptr;  // an empty track: itself or the track it copies
  STrackAuthor author;
  SPipeSource source;
  SSifHeader header;
  std::unique_ptr<CSifData> record;
  SSifHeader second_header;
  std::unique_ptr<CSifData> second_record;  // null without a second file
  int64_t clip_base = kDefaultClipBase;     // 90 kHz presentation start of the clip

  // While muxing:
  std::unique_ptr<CPipe> pipe;
  SRawAu au;
  bool has_current = false;
  int64_t time_offset = 0;  // 90 kHz
  CKpiFolder key_points;

 private:
  bool CopyFromPipe(const CPipe& pipe);
  int64_t PositiveDelay() const { return delay > 0 ? delay : 0; }
};

// The new tracks of a clip.
class SRawTracks {
 public:
  // Appends a track made from a file; false when it could not be made.
  bool Add(const std::filesystem::path& path, bool as_primary, const ProgressCallback& progress);
  bool Add(const SPipeSource& source);
  // Index of the track of a path (compared without case) and empty-track flag; -1 when none.
  int Find(const std::filesystem::path& path, bool empty) const;
  void Append(std::unique_ptr<SRawTrack> track) { tracks_.push_back(std::move(track)); }
  // Removes and deletes a track; its replacement link is cleared on both sides.
  void Remove(size_t index);
  // Hands a track over to another list.
  std::unique_ptr<SRawTrack> Take(size_t index);
  // Tracks whose coding type the predicate accepts, with the primary flag.
  int Count(bool (*of_kind)(uint8_t), bool primary) const;
  size_t size() const { return tracks_.size(); }
  SRawTrack& operator[](size_t i) { return *tracks_[i]; }
  const SRawTrack& operator[](size_t i) const { return *tracks_[i]; }
  std::vector<SMuxTrack*> Pointers() const;

 private:
  std::vector<std::unique_ptr<SRawTrack>> tracks_;
};

// What a clip keeps of its original streams, for the track rules.
struct SKeptTracks {
  int primary_video = 0;
  int primary_audio = 0;
  int primary_pg = 0;
};

// The rules a clip's new tracks must keep before it is built: exactly one primary video, PG of its
// frame rate and size, at most 32 primary audio streams, and a question above 32 PG streams.
// 0, or 2 after a message.
int CheckNewTracks(int clip_number, const SRawTracks& tracks, const SKeptTracks& kept = {});

}  // namespace tessel
