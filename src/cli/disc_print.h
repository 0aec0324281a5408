// The trees and track lists of an opened disc as `tessel info` prints them, as text or JSON; with
// the edit state every track's decisions, the new tracks and the cuts as well (`tessel edit`).
#pragma once

#include <nlohmann/json.hpp>

#include "model/bd_disc.h"

namespace tessel::cli {

struct DiscPrintOptions {
  bool tracks = false;
  bool edit_state = false;
};

void PrintDiscText(const CBDDisc& disc, const DiscPrintOptions& options);
nlohmann::json DiscJson(const CBDDisc& disc, const DiscPrintOptions& options);

}  // namespace tessel::cli
