#include "cli/interrupt.h"

#include <csignal>

namespace tessel::cli {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) {
  g_interrupted = 1;
}

}  // namespace

InterruptGuard::InterruptGuard() {
  g_interrupted = 0;
  previous_ = std::signal(SIGINT, OnInterrupt);
}

InterruptGuard::~InterruptGuard() {
  std::signal(SIGINT, previous_);
}

bool Interrupted() {
  return g_interrupted != 0;
}

}  // namespace tessel::cli
