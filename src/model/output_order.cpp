#include "model/output_order.h"

#include <algorithm>
#include <tuple>

namespace tessel {

std::vector<const SMuxTrack*> OutputOrder(const SRipTracks& originals,
                                          std::span<const SMuxTrack* const> new_tracks) {
  std::vector<const SMuxTrack*> order;
  for (const auto& track : originals) {
    if (track->keep) order.push_back(track.get());
  }
  for (const SMuxTrack* track : new_tracks) {
    if (track->keep) order.push_back(track);
  }
  std::stable_sort(order.begin(), order.end(), [](const SMuxTrack* a, const SMuxTrack* b) {
    return std::tuple(a->order, a->original, a->output_pid) <
           std::tuple(b->order, b->original, b->output_pid);
  });
  return order;
}

}  // namespace tessel
