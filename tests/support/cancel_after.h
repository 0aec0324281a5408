// A progress callback for tests that answers "cancel" from its Nth call on and keeps every record
// it was given.
#pragma once

#include <vector>

#include "platform/progress.h"

namespace tessel::test {

class CancelAfter {
 public:
  // n = 1 cancels at the first call; n = 0 never cancels.
  explicit CancelAfter(int n) : n_(n) {}

  // A callback bound to this object (which must outlive it).
  ProgressCallback callback() {
    return [this](const ProgressRecord& record) {
      records_.push_back(record);
      ++calls_;
      return n_ == 0 || calls_ < n_;
    };
  }

  int calls() const { return calls_; }
  const std::vector<ProgressRecord>& records() const { return records_; }

 private:
  int n_;
  int calls_ = 0;
  std::vector<ProgressRecord> records_;
};

}  // namespace tessel::test
