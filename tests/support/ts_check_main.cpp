// Runs the tests' stream checker over files named on the command line and prints its report:
// `tessel_ts_check FILE.m2ts [FILE.clpi]`. Exit status 0 when the stream passes every check.
#include <cstdio>
#include <optional>

#include "support/ts_conformance.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s FILE.m2ts [FILE.clpi]\n", argv[0]);
    return 2;
  }
  std::optional<std::filesystem::path> clpi;
  if (argc == 3) clpi = argv[2];
  const tessel::test::TsReport report = tessel::test::CheckTransportStream(argv[1], clpi);
  std::fputs(report.Text().c_str(), stdout);
  return report.ok() ? 0 : 1;
}
