// Time stamps as counts of one clock's ticks, in 64 bits, typed by the clock: 45 kHz (playlist and
// clip information times), 90 kHz (PTS and DTS) and 27 MHz (the arrival clock, ATS and PCR).
//
// A value of one clock does not silently become a value of another: conversions are spelt out,
// and going to a coarser clock says how it rounds. Wire fields narrower than 64 bits (33-bit PTS,
// 30-bit ATS) are cut where they are written, not here.
#pragma once

#include <compare>
#include <cstdint>

namespace tessel {

template <uint64_t Hz>
class Ticks {
 public:
  static constexpr uint64_t kHz = Hz;

  constexpr Ticks() = default;
  constexpr explicit Ticks(uint64_t count) : count_(count) {}

  constexpr uint64_t count() const { return count_; }

  // Exact conversion to a finer clock whose rate is a multiple of this one.
  template <uint64_t Rate>
  constexpr Ticks<Rate> Exact() const {
    static_assert(Rate % Hz == 0, "use Floor or Round to go to a coarser clock");
    return Ticks<Rate>(count_ * (Rate / Hz));
  }
  // Conversion to a coarser clock, dropping the remainder.
  template <uint64_t Rate>
  constexpr Ticks<Rate> Floor() const {
    static_assert(Hz % Rate == 0, "the target clock must divide this one");
    return Ticks<Rate>(count_ / (Hz / Rate));
  }
  // Conversion to a coarser clock, to the nearest tick (halves up).
  template <uint64_t Rate>
  constexpr Ticks<Rate> Round() const {
    static_assert(Hz % Rate == 0, "the target clock must divide this one");
    return Ticks<Rate>((count_ + Hz / Rate / 2) / (Hz / Rate));
  }

  constexpr Ticks& operator+=(Ticks other) {
    count_ += other.count_;
    return *this;
  }
  constexpr Ticks& operator-=(Ticks other) {
    count_ -= other.count_;
    return *this;
  }
  friend constexpr Ticks operator+(Ticks a, Ticks b) { return a += b; }
  friend constexpr Ticks operator-(Ticks a, Ticks b) { return a -= b; }
  friend constexpr auto operator<=>(Ticks a, Ticks b) = default;

 private:
  uint64_t count_ = 0;
};

using Ticks45k = Ticks<45000>;
using Ticks90k = Ticks<90000>;
using Ticks27M = Ticks<27000000>;

}  // namespace tessel
