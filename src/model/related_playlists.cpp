#include "model/related_playlists.h"

#include <algorithm>

#include "platform/format.h"

namespace tessel {

std::vector<const CMplsObject*> RelatedPlaylists(const CPofObject& playlists, int clip) {
  std::vector<const CMplsObject*> related;
  if (clip < 0) return related;
  for (const auto& playlist : playlists.items()) {
    const std::vector<int> clips = playlist->CollectClips();
    if (std::find(clips.begin(), clips.end(), clip) != clips.end()) {
      related.push_back(playlist.get());
    }
  }
  return related;
}

std::string ClipUsesText(const Mpls& playlist, int clip) {
  std::string text;
  for (const auto& [sub_path, item] : playlist.FindClipUses(clip)) {
    if (!text.empty()) text += ", ";
    text += sub_path < 0 ? Format("PI:%d", item + 1) : Format("SP%d:SPI%d", sub_path + 1, item + 1);
  }
  return text;
}

}  // namespace tessel
