#include "pty_line.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

PtyLine::PtyLine(const std::string &portName) {
  char name[256] = {};
  if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
  slavePath_ = name;
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  const char *tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/e2e-ports-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  portsFolder_ = pattern;
  link_ = portsFolder_ + "/" + portName;
  if (symlink(slavePath_.c_str(), link_.c_str()) != 0) throw std::runtime_error("symlink");
  setenv("IT433TD_PORTS", portsFolder_.c_str(), 1);
  reader_ = std::thread([this] { drain(); });
}

PtyLine::~PtyLine() {
  stop_ = true;
  reader_.join();
  unlink(link_.c_str());
  rmdir(portsFolder_.c_str());
  close(slave_);
  close(master_);
}

void PtyLine::drain() {
  uint8_t chunk[4096];
  while (!stop_) {
    pollfd fd{master_, POLLIN, 0};
    if (poll(&fd, 1, 20) <= 0) continue;
    const ssize_t got = read(master_, chunk, sizeof chunk);
    if (got > 0) {
      std::lock_guard<std::mutex> hold(mutex_);
      received_.insert(received_.end(), chunk, chunk + got);
    }
  }
}

std::vector<uint8_t> PtyLine::receivedAtLeast(size_t count, int timeoutMs) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      if (received_.size() >= count || std::chrono::steady_clock::now() >= until) return received_;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

termios PtyLine::slaveSettings() const {
  termios settings{};
  tcgetattr(slave_, &settings);
  return settings;
}
