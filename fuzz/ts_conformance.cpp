// Feeds any bytes to the tests' stream checker, which reads damaged and cut copies of clips: as
// they are, and four bytes on (transport packets read as source packets) at the slowest rate.
#include <cstddef>
#include <cstdint>
#include <span>

#include "support/ts_conformance.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  tessel::test::TsCheckOptions options;
  (void)tessel::test::CheckTransportStream(bytes, options).Text();
  options.recording_rate = 1;  // the slowest rate: huge intervals and drain times
  options.late_tolerance = -1;
  (void)tessel::test::CheckTransportStream(bytes.size() > 4 ? bytes.subspan(4) : bytes, options)
      .Text();
  return 0;
}
