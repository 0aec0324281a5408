#include "mux/mux_track.h"

#include <algorithm>

namespace tessel {

bool SMuxTrack::Prepare() {
  next_send = 0;
  highest_dts = 0;
  current_index = -1;
  bytes_left = 0;
  finished = false;
  extension = false;
  CreateStd();
  return true;
}

void SMuxTrack::Release() {
  ep_entry.KeyPoints.clear();
  main_model.reset();
  second_model.reset();
}

void SMuxTrack::FillClipAttributes(StreamInfo& info) const {
  info.StreamPID = static_cast<uint16_t>(output_pid);
  info.CodingInfo.StreamCodingType = CodingType();
}

void SMuxTrack::FillEsi(ESI& esi) const {
  esi.StreamType = CodingType();
  esi.ElementaryPid = static_cast<uint16_t>(output_pid);
}

uint64_t SMuxTrack::EarliestSendTime(bool second) const {
  const CStdBase* model = second && second_model ? second_model.get() : main_model.get();
  return model ? model->NextTime() : 0;
}

void SMuxTrack::FeedModels(const SAuBase& unit, bool extension_unit) {
  highest_dts = std::max(highest_dts, unit.dts);
  if (unit.size == 0 || !second_model) {
    if (main_model) main_model->UnitEntered(unit.dts, unit.pts);
    extension = false;
    return;
  }
  extension = extension_unit;
  second_model->UnitEntered(unit.dts, unit.pts);
  if (!extension && main_model) main_model->UnitEntered(unit.dts, unit.pts);
}

}  // namespace tessel
