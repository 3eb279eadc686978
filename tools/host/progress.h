// progress.h - shows what the printer is doing while the module blocks for
// its fixed pauses (500 ms per text write, 200 ms per CODE128, 3 s per QR
// code). Draws only when standard output is a terminal; silent otherwise.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace it433td::tools {

class Progress {
public:
  Progress();  // draws when stdout is a terminal
  explicit Progress(bool draw);
  ~Progress();
  Progress(const Progress &) = delete;
  Progress &operator=(const Progress &) = delete;

  // A step begins; `expected` is how long the module will at least block.
  void begin(const std::string &label, std::chrono::milliseconds expected);
  // The step ended; its line stays on the screen with the time it took.
  void end(bool ok);

private:
  void drawLoop();
  void draw(bool final, bool ok);

  bool draw_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool active_ = false;
  bool quit_ = false;
  std::string label_;
  std::chrono::milliseconds expected_{0};
  std::chrono::steady_clock::time_point started_;
  std::thread thread_;
};

}  // namespace it433td::tools
