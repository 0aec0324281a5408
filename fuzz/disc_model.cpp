// The loading steps that act on parsed records: a playlist's track list (with its references into
// sub-paths and the clip list), its duration and tree label, and a clip's initial state and label.
// The input is read as a playlist and, separately, as clip information.
#include <cstddef>
#include <cstdint>
#include <span>

#include "model/bd_disc.h"

namespace {

// A clip the track list can merge with: the streams of a typical movie clip.
void AddSampleClip(tessel::CCofObject& clips, int number) {
  tessel::CClpiObject* clip = clips.AddNewClip();
  clip->set_id(number);
  for (uint16_t pid : {0x1011, 0x1100, 0x1200, 0x1A00}) {
    tessel::StreamInfo stream;
    stream.StreamPID = pid;
    stream.CodingInfo.StreamCodingType = pid == 0x1011 ? 0x1B : (pid == 0x1200 ? 0x90 : 0x81);
    clip->program_info.Sequence.Streams.push_back(stream);
  }
  clip->InitState();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  tessel::CCofObject clips;
  tessel::CMplsObject playlist;
  if (playlist.Parse(bytes)) {
    if (!playlist.play_items.empty()) AddSampleClip(clips, playlist.play_items[0].ClipNumber());
    tessel::SetCurrentClips(&clips);
    playlist.BuildTrackList();
    tessel::PlaylistLabel(playlist);
    tessel::SetCurrentClips(nullptr);
  }
  tessel::CClpiObject clip;
  if (clip.Parse(bytes)) {
    clip.InitState();
    tessel::ClipLabel(clip);
  }
  return 0;
}
