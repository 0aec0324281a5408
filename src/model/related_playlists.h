// Which playlists use a clip and where: the clip view's list of related playlists.
#pragma once

#include <string>
#include <vector>

#include "model/playlist_object.h"

namespace tessel {

// The playlists that use the clip through a play item, one of its angles, a sub-play item or a
// sub-path of the extension data, in playlist-list order.
std::vector<const CMplsObject*> RelatedPlaylists(const CPofObject& playlists, int clip);

// Every place in the playlist that plays the clip, in playlist order and numbered from 1:
// "PI:%d" for a play item, "SP%d:SPI%d" for a sub-play item, joined by ", ".
std::string ClipUsesText(const Mpls& playlist, int clip);

}  // namespace tessel
