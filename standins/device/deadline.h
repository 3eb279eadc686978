// A point in time on the monotonic clock, for "at most N ms" waits that
// survive EINTR retries and partial progress without stretching.
#pragma once

#include <chrono>

namespace megencom32 {

class Deadline {
 public:
  explicit Deadline(int timeoutMs)
      : end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs)) {}

  // Milliseconds left, rounded up so a wait never ends early; 0 once past.
  int remainingMs() const {
    auto left = end_ - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
  }
  bool expired() const { return remainingMs() == 0; }

 private:
  std::chrono::steady_clock::time_point end_;
};

}  // namespace megencom32
