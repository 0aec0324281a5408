#include <csignal>

#include "cli/app.h"

int main(int argc, char** argv) {
  // Past a file size limit a write then fails with the file system's "File too large", which
  // the command reports, instead of the process being killed half-way.
  std::signal(SIGXFSZ, SIG_IGN);
  return tessel::cli::Run(argc, argv);
}
