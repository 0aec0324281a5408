// Ctrl-C for the long commands: while a guard lives, SIGINT only raises a flag that the job's
// progress callback reads, so the job stops at its next step and cleans up after itself.
#pragma once

namespace tessel::cli {

class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  void (*previous_)(int);
};

// Whether Ctrl-C was pressed since the newest guard was made.
bool Interrupted();

}  // namespace tessel::cli
