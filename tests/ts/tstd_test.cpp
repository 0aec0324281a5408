#include "ts/tstd.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace tessel {
namespace {

constexpr uint64_t kInterval = 846;  // one packet at 48 Mbit/s

// An empty AC-3 transport stage takes a packet at once; the next ones wait for the 2 Mbit/s drain
// (108 ticks per byte), less one packet time at the 48 Mbit/s arrival rate.
TEST(TransportStageTest, Ac3PacketsWaitForTheDrain) {
  CAc3Std model;
  const struct {
    uint64_t t;
    int64_t fullness;
    uint64_t next;
  } steps[] = {
      {0, 188, 0},                                   // room 512 - 188 - 188 = 136
      {kInterval, 181 + 188, 846 + 45 * 108 - 846},  // 7 bytes drained; room -45
      {4860, 332 + 188, 4860 + 196 * 108 - 846},     // 37 bytes drained; room -196
  };
  for (const auto& step : steps) {
    model.PacketArrived(step.t, 184);
    EXPECT_EQ(model.transport().Fullness, step.fullness) << step.t;
    EXPECT_EQ(model.NextTime(), step.next) << step.t;
  }
}

// With the rule on, a stage that has not run empty for 0.98 s holds the next packet until it has.
TEST(TransportStageTest, EmptyRuleHoldsBackUntilTheStageRunsDry) {
  CTransBuffer stage;
  stage.Size = 1000000;  // never short of room
  stage.DrainRate = 2000000;
  stage.EmptyRule = true;
  // Every 20000 ticks 185 of 188 bytes drain: the stage fills by 3 bytes per packet and after
  // packet k empties at 20000 k + (188 + 3 k) * 108; that passes 26460000 first at k = 1301.
  for (uint64_t k = 0; k <= 1301; ++k) {
    stage.PacketArrived(k * 20000);
    if (k < 1301) {
      ASSERT_EQ(stage.NextTime, 0u) << k;
    }
  }
  EXPECT_EQ(stage.Fullness, 188 + 3 * 1301);
  EXPECT_EQ(stage.EmptyTime, 0u);
  EXPECT_EQ(stage.NextTime, 26020000u + (188 + 3 * 1301) * 108);
}

TEST(ElementaryStageTest, WaitsForTheUnitWhoseDecodingMakesRoom) {
  CElementaryBuffer stage;
  stage.Size = 1000;
  stage.UnitEntered(100, 100);
  for (int i = 0; i < 3; ++i) stage.PacketArrived(0, 184);
  EXPECT_EQ(stage.NextTime, 0u);  // 552 held, room 264
  stage.UnitEntered(200, 200);
  stage.PacketArrived(0, 184);
  stage.PacketArrived(0, 184);  // 920 held: room -104, unit 1 (552 bytes) must leave first
  EXPECT_EQ(stage.NextTime, 100u * 300);
  stage.PacketArrived(100 * 300, 184);  // unit 1 decoded; unit 2 holds 552
  ASSERT_EQ(stage.Units.size(), 1u);
  EXPECT_EQ(stage.Units.front().Bytes, 552u);
  EXPECT_EQ(stage.NextTime, 0u);
}

TEST(ElementaryStageTest, UnitWithoutDtsLeavesAtTheNextPacketUnlessNewest) {
  CElementaryBuffer stage;
  stage.Size = 100000;
  stage.UnitEntered(0, 0);
  stage.PacketArrived(10, 184);
  EXPECT_EQ(stage.Units.size(), 1u);  // the newest stays
  stage.UnitEntered(500, 500);
  stage.PacketArrived(20, 184);
  EXPECT_EQ(stage.Units.size(), 1u);
  EXPECT_EQ(stage.Units.front().Dts, 500u);
}

// Graphics never wait on a transport stage, only on a full elementary stage.
TEST(GraphicsStdTest, PgWaitsOnlyWhenItsElementaryStageIsFull) {
  CPgStd model;
  model.UnitEntered(90000, 90000);
  uint64_t packets = 0;
  while (model.NextTime() == 0 && packets < 10000) {
    model.PacketArrived(0, 184);  // a burst: all at the same time
    ++packets;
  }
  // 1048576 bytes take a further 184-byte packet while at most 1048392 are held.
  EXPECT_EQ(packets, 1048392 / 184 + 1);
  EXPECT_EQ(model.NextTime(), 90000u * 300);
  EXPECT_EQ(model.transport().Fullness, 0);  // untouched
}

TEST(GraphicsStdTest, UnitLimitHoldsBackTooManySegments) {
  CPgStd model;
  for (uint32_t i = 0; i < 128; ++i) {
    model.UnitEntered(90000 + i, 90000 + i);
    model.PacketArrived(0, 10);
  }
  EXPECT_EQ(model.NextTime(), 0u);
  model.UnitEntered(100000, 100000);
  model.PacketArrived(0, 10);  // 129 segments waiting: the oldest must be decoded first
  EXPECT_EQ(model.NextTime(), 90000u * 300);
}

TEST(TextSubtitleStdTest, NeverWaits) {
  CTxtStStd model;
  for (int i = 0; i < 100000; ++i) {
    model.UnitEntered(90000, 90000);
    model.PacketArrived(0, 184);
  }
  EXPECT_EQ(model.NextTime(), 0u);
  EXPECT_TRUE(model.elementary().Units.empty());
}

struct ValueCase {
  const char* name;
  std::function<std::unique_ptr<CStdBase>()> make;
  uint32_t r1;
  uint32_t r2;  // 0: not a video model
  uint32_t multiplex_size;
  uint32_t elementary_size;
};

template <typename Model>
std::function<std::unique_ptr<CStdBase>()> Leveled(int level, bool primary) {
  return [=] {
    auto model = std::make_unique<Model>();
    model->SetLevel(level, primary);
    return model;
  };
}

template <typename Model>
std::function<std::unique_ptr<CStdBase>()> Secondary() {
  return [] {
    auto model = std::make_unique<Model>();
    model->SetPrimary(false);
    return model;
  };
}

std::function<std::unique_ptr<CStdBase>()> Lpcm(uint8_t code) {
  return [=] {
    auto model = std::make_unique<CLpcmStd>();
    model->SetSamplingFrequency(code);
    return model;
  };
}

TEST(StdValuesTest, RatesAndSizesPerStreamKind) {
  const ValueCase cases[] = {
      {"AVC as built", [] { return std::make_unique<CAvcStd>(); }, 48000000, 40000000, 40000,
       3750000},
      {"AVC 3.0", Leveled<CAvcStd>(30, true), 14400000, 12000000, 40000, 1500000},
      {"AVC 3.2 primary", Leveled<CAvcStd>(32, true), 28800000, 24000000, 40000, 3000000},
      {"AVC 3.2 secondary", Leveled<CAvcStd>(32, false), 9600000, 8000000, 40000, 1500000},
      {"AVC 5.1", Leveled<CAvcStd>(51, true), 18000000, 15000000, 40000, 1500000},
      {"MPEG-2 as built", [] { return std::make_unique<CMpeg2Std>(); }, 48000000, 42000000, 53333,
       1222656},
      {"MPEG-2 high-1440", Leveled<CMpeg2Std>(0x46, true), 48000000, 42000000, 40000, 917504},
      {"MPEG-2 main", Leveled<CMpeg2Std>(0x48, true), 18000000, 15000000, 10000, 229376},
      {"MPEG-2 other", Leveled<CMpeg2Std>(0x15, true), 48000000, 42000000, 53333, 1222656},
      {"VC-1 as built", [] { return std::make_unique<CVc1Std>(); }, 48000000, 40000000, 26666,
       3750000},
      {"VC-1 level 2 secondary", Leveled<CVc1Std>(2, false), 24000000, 20000000, 26666, 1500000},
      {"VC-1 level 9", Leveled<CVc1Std>(9, true), 48000000, 40000000, 26666, 3750000},
      {"AC-3", [] { return std::make_unique<CAc3Std>(); }, 2000000, 0, 0, 18640},
      {"E-AC-3", [] { return std::make_unique<CDdpStd>(); }, 48000000, 0, 0, 137936},
      {"E-AC-3 secondary", Secondary<CDdpStd>(), 2000000, 0, 0, 7456},
      {"DTS secondary (none)", Secondary<CDtsStd>(), 5000000, 0, 0, 43972},
      {"DTS-HD secondary", Secondary<CDtsHdStd>(), 2000000, 0, 0, 7456},
      {"LPCM 48 kHz", Lpcm(1), 20000000, 0, 0, 536832},
      {"LPCM 192 kHz", Lpcm(5), 30000000, 0, 0, 1073664},
      {"LPCM unknown code", Lpcm(3), 20000000, 0, 0, 536832},
      {"TrueHD", [] { return std::make_unique<CMlpStd>(); }, 48000000, 0, 0, 404250},
  };
  for (const ValueCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::unique_ptr<CStdBase> model = c.make();
    EXPECT_EQ(model->transport().Size, 512u);
    EXPECT_EQ(model->transport().DrainRate, c.r1);
    EXPECT_EQ(model->elementary().Size, c.elementary_size);
    const auto* video = dynamic_cast<const CVideoStd*>(model.get());
    ASSERT_EQ(video != nullptr, c.r2 != 0);
    if (video) {
      EXPECT_EQ(video->multiplex().DrainRate, c.r2);
      EXPECT_EQ(video->multiplex().Size, c.multiplex_size);
      EXPECT_EQ(video->multiplex().ArrivalRate, c.r1);
      EXPECT_FALSE(video->multiplex().EmptyRule || video->transport().EmptyRule);
    } else {
      EXPECT_TRUE(model->transport().EmptyRule);
      EXPECT_EQ(model->transport().ArrivalRate, 48000000);
    }
  }
}

// A video model waits for the latest of its three stages.
TEST(VideoStdTest, WaitsForTheMultiplexStage) {
  CAvcStd model;
  model.SetLevel(30, true);  // R1 14.4 Mbit/s, R2 12 Mbit/s
  model.UnitEntered(90000, 90000);
  uint64_t t = 0;
  for (int i = 0; i < 400 && model.NextTime() <= t; ++i, t += kInterval)
    model.PacketArrived(t, 184);
  EXPECT_GT(model.NextTime(), t - kInterval);
  EXPECT_EQ(model.NextTime(), std::max(model.transport().NextTime, model.multiplex().NextTime));
  EXPECT_GT(model.multiplex().Fullness, 0);
}

}  // namespace
}  // namespace tessel
