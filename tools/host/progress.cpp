// progress.cpp - a bar redrawn ten times a second on the terminal's line.
#include "host/progress.h"
#include "common/shown_text.h"

#include <cstdio>
#include <unistd.h>

namespace it433td::tools {

namespace {
constexpr int kBarCells = 24;
}

Progress::Progress() : Progress(::isatty(STDOUT_FILENO) == 1) {}

Progress::Progress(bool draw) : draw_(draw) {
  if (draw_) thread_ = std::thread([this] { drawLoop(); });
}

Progress::~Progress() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void Progress::begin(const std::string &label, std::chrono::milliseconds expected) {
  if (!draw_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    label_ = shownText(label);
    expected_ = expected;
    started_ = std::chrono::steady_clock::now();
    active_ = true;
    draw(false, true);
  }
  wake_.notify_all();
}

void Progress::end(bool ok) {
  if (!draw_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  active_ = false;
  draw(true, ok);
}

void Progress::drawLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!quit_) {
    wake_.wait_for(lock, std::chrono::milliseconds(100));
    if (active_ && !quit_) draw(false, true);
  }
}

// Called with mutex_ held.
void Progress::draw(bool final, bool ok) {
  using namespace std::chrono;
  const auto elapsed = duration_cast<milliseconds>(steady_clock::now() - started_);
  int filled = kBarCells;
  if (!final && expected_.count() > 0)
    filled = static_cast<int>(std::min<long long>(kBarCells, elapsed.count() * kBarCells /
                                                                 expected_.count()));
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.resize(kBarCells, '.');
  const char *mark = final ? (ok ? " done" : " FAILED") : "";
  std::printf("\r\033[K  %-34.34s [%s] %4.1f s%s%s", label_.c_str(), bar.c_str(),
              static_cast<double>(elapsed.count()) / 1000.0, mark, final ? "\n" : "");
  std::fflush(stdout);
}

}  // namespace it433td::tools
