#include "mux/std_models.h"

namespace tessel {

namespace {

std::unique_ptr<CStdBase> NewModel(StdKind kind, int parameter) {
  switch (kind) {
    case StdKind::kAc3:
      return std::make_unique<CAc3Std>();
    case StdKind::kDdp:
      return std::make_unique<CDdpStd>();
    case StdKind::kDts:
      return std::make_unique<CDtsStd>();
    case StdKind::kDtsHd:
      return std::make_unique<CDtsHdStd>();
    case StdKind::kMlp:
      return std::make_unique<CMlpStd>();
    case StdKind::kPg:
      return std::make_unique<CPgStd>();
    case StdKind::kIg:
      return std::make_unique<CIgStd>();
    case StdKind::kAvc:
      return std::make_unique<CAvcStd>();
    case StdKind::kMpeg2:
      return std::make_unique<CMpeg2Std>();
    case StdKind::kVc1:
      return std::make_unique<CVc1Std>();
    case StdKind::kLpcm: {
      auto lpcm = std::make_unique<CLpcmStd>();
      lpcm->SetSamplingFrequency(static_cast<uint8_t>(parameter));
      return lpcm;
    }
  }
  return nullptr;
}

bool IsVideoKind(StdKind kind) {
  return kind == StdKind::kAvc || kind == StdKind::kMpeg2 || kind == StdKind::kVc1;
}

}  // namespace

std::unique_ptr<CStdBase> CreateStdModel(const SStdSpec& model_spec, bool primary) {
  std::unique_ptr<CStdBase> model = NewModel(model_spec.kind, model_spec.parameter);
  if (!model) return nullptr;
  const bool as_primary = primary && model_spec.primary;
  model->SetPrimary(as_primary);
  if (IsVideoKind(model_spec.kind)) model->SetLevel(model_spec.parameter, as_primary);
  return model;
}

void CreateStdModels(const CSifData& record, bool primary, std::unique_ptr<CStdBase>& main_model,
                     std::unique_ptr<CStdBase>& second_model) {
  SStdSpec specs[2];
  const int count = record.StdModels(specs);
  main_model = count >= 1 ? CreateStdModel(specs[0], primary) : nullptr;
  second_model = count >= 2 ? CreateStdModel(specs[1], primary) : nullptr;
}

}  // namespace tessel
