#include "platform/ticks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <type_traits>

namespace tessel {
namespace {

// A clock value of one clock is not taken for another's.
static_assert(!std::is_convertible_v<Ticks90k, Ticks27M>);
static_assert(!std::is_convertible_v<uint64_t, Ticks27M>);

TEST(Ticks, ConversionsBetweenTheClocks) {
  // The start of a clip on the fixture discs: 600 s.
  const Ticks45k start(27000000);
  EXPECT_EQ(start.Exact<90000>(), Ticks90k(54000000));
  EXPECT_EQ(start.Exact<27000000>(), Ticks27M(16200000000));
  EXPECT_EQ(Ticks27M(16200000000).Floor<45000>(), start);

  struct Case {
    uint64_t ticks_27m;
    uint64_t floor_90k, round_90k, round_45k;
  };
  const Case cases[] = {
      {0, 0, 0, 0},
      {149, 0, 0, 0},
      {150, 0, 1, 0},  // half a 90 kHz tick rounds up
      {299, 0, 1, 0},
      {300, 1, 1, 1},  // half a 45 kHz tick rounds up too
      {599, 1, 2, 1},  // 599 / 600 of a 45 kHz tick
      // Beyond 33 bits of 90 kHz and 32 bits of anything: nothing is cut here.
      {uint64_t{1} << 45, (uint64_t{1} << 45) / 300, ((uint64_t{1} << 45) + 150) / 300,
       ((uint64_t{1} << 45) + 300) / 600},
  };
  for (const Case& c : cases) {
    const Ticks27M t(c.ticks_27m);
    EXPECT_EQ(t.Floor<90000>().count(), c.floor_90k) << c.ticks_27m;
    EXPECT_EQ(t.Round<90000>().count(), c.round_90k) << c.ticks_27m;
    EXPECT_EQ(t.Round<45000>().count(), c.round_45k) << c.ticks_27m;
  }
}

TEST(Ticks, ArithmeticAndOrderWithinOneClock) {
  Ticks27M clock(27000000);
  clock += Ticks27M(846);
  EXPECT_EQ(clock.count(), 27000846u);
  EXPECT_EQ(clock - Ticks27M(846), Ticks27M(27000000));
  EXPECT_LT(Ticks90k(1), Ticks90k(2));
  EXPECT_EQ(Ticks45k().count(), 0u);
}

}  // namespace
}  // namespace tessel
