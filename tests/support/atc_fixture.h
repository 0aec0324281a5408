// Seamless joins for the tests, made with our own writers: a playlist's play items joined with
// connection condition 5 and the ATC delta entries that name each follower in the clip
// information of the clip before it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tessel::test {

struct SSeamlessJoin {
  int clip = 0;
  int follower = 0;
  bool operator==(const SSeamlessJoin&) const = default;
};

// Gives every play item after the first of PLAYLIST/`playlist`.mpls below `bdmv` connection
// condition 5, and the clip of the play item before it an ATC delta entry (of value `delta`)
// naming the play item's clip, unless it has one already. The copies in BACKUP follow when BACKUP
// holds them. Returns the joins in play-item order; empty with `error` set when a file cannot be
// read, parsed or written.
std::vector<SSeamlessJoin> MakeSeamlessJoins(const std::filesystem::path& bdmv, int playlist,
                                             uint32_t delta, std::string* error);

// The ATC delta entries of a clip information file as (following clip, delta), in stored order;
// empty when the file cannot be read.
std::vector<std::pair<int, uint32_t>> ReadAtcDeltas(const std::filesystem::path& clpi);

}  // namespace tessel::test
