// Buffer models for a stream from what its stream info record asks for.
#pragma once

#include <memory>

#include "es/stream_info.h"
#include "ts/tstd.h"

namespace tessel {

// The model of one kind with its settings; `primary` 0 selects the secondary values.
std::unique_ptr<CStdBase> CreateStdModel(const SStdSpec& model_spec, bool primary);

// The main and (for two-part streams) second model of a stream. A non-primary track gets the
// secondary values whatever the record says.
void CreateStdModels(const CSifData& record, bool primary, std::unique_ptr<CStdBase>& main_model,
                     std::unique_ptr<CStdBase>& second_model);

}  // namespace tessel
