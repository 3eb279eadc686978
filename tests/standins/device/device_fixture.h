// What the device tests share: a real pty pair, a private temporary folder,
// a clean library state per case, and a small printer that answers status
// requests on the pty master.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "MEGENCOM32.h"
#include "device_backend.h"

// A pseudo-terminal: the library opens the slave by its path, the test
// plays the device on the master.
class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  const std::string &slavePath() const { return slavePath_; }
  int master() const { return master_; }
  int slave() const { return slave_; }
  void closeMaster();
  // Reads from the master until `count` bytes came or `timeoutMs` passed.
  std::vector<uint8_t> readMaster(size_t count, int timeoutMs = 2000);
  void writeMaster(const std::vector<uint8_t> &bytes);

 private:
  int master_ = -1;
  int slave_ = -1;  // kept open so the test can look at the line settings
  std::string slavePath_;
};

// Answers the real-time status request 10 04 n on a pty master with the
// byte given for n (none given: stays silent) and records every request.
class StatusPrinter {
 public:
  StatusPrinter(int master, std::map<int, uint8_t> answers);
  ~StatusPrinter();
  std::vector<uint8_t> received();

 private:
  void run();
  int master_;
  std::map<int, uint8_t> answers_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<uint8_t> received_;
  std::thread thread_;
};

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // A new file path in this case's folder.
  std::string tempPath(const std::string &name) const { return folder_ + "/" + name; }
  std::string readFile(const std::string &path) const;

  // The name under which the library reaches `path` (device_backend.h).
  static std::string portName(const std::string &path) { return device_backend::portName(path); }

  PtyPair pty_;
  std::string tty_;  // the pty's slave as the library names it
  std::string folder_;
  std::vector<std::string> opened_;
  // Opens through the library and remembers the name for TearDown.
  int32_t openPort(const std::string &name, int speed = 0, int parity = 0, int data = 0,
                   int stop = 0, int flow = 0);
};

// A case on the pty, opened with five zeros.
class OpenPtyTest : public DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ASSERT_EQ(openPort(tty_), MEGENCOM32_OK);
  }
  const char *port() const { return tty_.c_str(); }
};

// Milliseconds since `start`.
inline long long elapsedMs(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now() - start)
      .count();
}

// How long the library call made since `start` took in the library: what
// its own timeouts control, apart from how the call travelled to it.
inline long long callMs(std::chrono::steady_clock::time_point start) {
  return device_backend::lastCallMs().value_or(elapsedMs(start));
}
