#include "model/clip_object.h"

#include <cmath>

#include "formats/tables.h"
#include "platform/format.h"
#include "platform/string_table.h"

namespace tessel {
namespace {

CCofObject* g_current_clips = nullptr;

constexpr uint64_t k27MHzPer90kHz = 300;

}  // namespace

std::unique_ptr<CNamedObject> CClpiObject::CreateSame() const {
  return std::make_unique<CClpiObject>();
}

bool CClpiObject::Parse(std::span<const uint8_t> file) {
  return Read(file, nullptr);
}

bool CClpiObject::IsMovieClip() const {
  return clip_info.ApplicationType == 1;
}

uint32_t CClpiObject::PacketCount() const {
  return clip_info.NumberOfSourcePackets;
}

std::span<const StreamInfo> CClpiObject::Streams() const {
  return program_info.Sequence.Streams;
}

void CClpiObject::InitState() {
  BuildOriginalTracks(Streams(), id(), original_tracks);
  // A clip without an STC sequence has no time range; it stays at zero rather than reading
  // past the list.
  start_time = end_time = 0;
  if (!sequence_info.StcInfos.empty()) {
    start_time = sequence_info.StcInfos.front().StartPTS * 2;
    end_time = sequence_info.StcInfos.front().EndPTS * 2;
  }
  in_point = 0;
  out_point = kToEnd;
  in_offset = 0;
  out_offset = static_cast<int32_t>(end_time - start_time);

  frame_rate_code = 0;
  for (const StreamInfo& stream : Streams()) {
    if (stream.StreamPID == kPrimaryVideoPid) {
      frame_rate_code = stream.CodingInfo.FrameRate;
      break;
    }
  }
  source_timing = SClipTiming{};
  source_timing.rate = clip_info.TsRecordingRate;
  source_timing.presentation_start = uint64_t{start_time} * k27MHzPer90kHz;
  source_timing.presentation_end = uint64_t{end_time} * k27MHzPer90kHz;
  source_timing.frame_duration =
      static_cast<uint64_t>(std::llround(FrameDurationMs(frame_rate_code) * 90 * 300));
  output_timing = source_timing;
}

CCofObject::CCofObject() {
  set_name(LoadString(5064));
}

std::unique_ptr<CNamedObject> CCofObject::CreateSame() const {
  return std::make_unique<CCofObject>();
}

CClpiObject* CCofObject::AddNewClip() {
  const CClpiObject* last = GetAt(GetCount() - 1);
  const int32_t id = last != nullptr ? last->id() + 1 : 0;
  auto clip = std::make_unique<CClpiObject>();
  clip->set_id(id);
  clip->set_name(Format("%s#%d", LoadString(5066), id));
  CClpiObject* added = clip.get();
  Add(std::move(clip));
  return added;
}

CClpiObject* CCofObject::FindClip(int number) const {
  if (number < 0) return nullptr;
  for (const auto& clip : items()) {
    if (clip->id() == number) return clip.get();
  }
  return nullptr;
}

CCofObject* CurrentClips() {
  return g_current_clips;
}

void SetCurrentClips(CCofObject* clips) {
  g_current_clips = clips;
}

}  // namespace tessel
