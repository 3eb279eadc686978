// door_request.h - a request another thread makes of a door's own thread,
// and waits for: the asker takes a ticket and wakes the door's thread,
// which answers every ticket asked before it began (Door::takeWhatArrived).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <unistd.h>

namespace it433td::tools {

class DoorRequest {
public:
  // The door's thread starts (true) or ends (false); an end answers every
  // request still waiting.
  void serving(bool running) {
    std::lock_guard<std::mutex> lock(mutex_);
    serving_ = running;
    changed_.notify_all();
  }
  // From the asking thread: wakes the door's thread through `wakeFd` and
  // waits, at most `bound`, for the answer. At once when it is not serving.
  void ask(int wakeFd, std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!serving_) return;
    const std::uint64_t ticket = ++asked_;
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wakeFd, &byte, 1);
    changed_.wait_for(lock, bound, [&] { return done_ >= ticket || !serving_; });
  }
  // From the door's thread: the last ticket asked, 0 when none waits.
  std::uint64_t waiting() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return asked_ > done_ ? asked_ : 0;
  }
  // From the door's thread: every ticket up to `ticket` is answered.
  void answered(std::uint64_t ticket) {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = ticket;
    changed_.notify_all();
  }

private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t asked_ = 0, done_ = 0;
  bool serving_ = false;
};

}  // namespace it433td::tools
