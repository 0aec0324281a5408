#include "mux/std_models.h"

#include <gtest/gtest.h>

#include <typeinfo>

#include "es/ac3.h"

namespace tessel {
namespace {

TEST(StdModels, EachKindMakesItsModelWithItsSettings) {
  struct Case {
    SStdSpec model_spec;
    bool track_primary;
    const std::type_info& type;
    uint32_t drain_rate;
    uint32_t elementary_size;
  };
  const Case cases[] = {
      {{StdKind::kAc3, 0, true}, true, typeid(CAc3Std), 0, 0},
      {{StdKind::kDdp, 0, false}, true, typeid(CDdpStd), 2000000, 7456},
      {{StdKind::kDdp, 1, true}, false, typeid(CDdpStd), 2000000, 7456},
      {{StdKind::kDts, 0, true}, true, typeid(CDtsStd), 0, 0},
      {{StdKind::kDtsHd, 0, true}, true, typeid(CDtsHdStd), 0, 0},
      {{StdKind::kLpcm, 5, true}, true, typeid(CLpcmStd), 30000000, 1073664},
      {{StdKind::kMlp, 0, true}, true, typeid(CMlpStd), 0, 0},
      {{StdKind::kPg, 0, true}, true, typeid(CPgStd), 0, 0},
      {{StdKind::kIg, 0, true}, true, typeid(CIgStd), 0, 0},
      {{StdKind::kAvc, 32, true}, true, typeid(CAvcStd), 28800000, 3000000},
      {{StdKind::kAvc, 32, true}, false, typeid(CAvcStd), 9600000, 1500000},
      {{StdKind::kMpeg2, 0x46, true}, true, typeid(CMpeg2Std), 0, 917504},
      {{StdKind::kVc1, 0, true}, true, typeid(CVc1Std), 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.model_spec.kind));
    const std::unique_ptr<CStdBase> model = CreateStdModel(c.model_spec, c.track_primary);
    ASSERT_NE(model, nullptr);
    const CStdBase& m = *model;
    EXPECT_EQ(typeid(m), c.type);
    EXPECT_EQ(model->primary(), c.model_spec.primary && c.track_primary);
    if (c.drain_rate) {
      EXPECT_EQ(model->transport().DrainRate, c.drain_rate);
    }
    if (c.elementary_size) {
      EXPECT_EQ(model->elementary().Size, c.elementary_size);
    }
  }
}

TEST(StdModels, AnAc3StreamWithAnExtensionGetsTwoModels) {
  AC3_AUDIO_DESCRIPTOR record;
  record.ac3_present = 1;
  record.eac3_present = 1;
  std::unique_ptr<CStdBase> main_model, second_model;
  CreateStdModels(record, true, main_model, second_model);
  ASSERT_NE(main_model, nullptr);
  ASSERT_NE(second_model, nullptr);
  const CStdBase& main_ref = *main_model;
  const CStdBase& second_ref = *second_model;
  EXPECT_EQ(typeid(main_ref), typeid(CAc3Std));
  EXPECT_EQ(typeid(second_ref), typeid(CDdpStd));
  record.eac3_present = 0;
  CreateStdModels(record, true, main_model, second_model);
  EXPECT_EQ(second_model, nullptr);
}

}  // namespace
}  // namespace tessel
