// A printer at the end of a serial line, played by a real pseudo-terminal:
// the module writes to the slave, mapped as a port name through a private
// IT433TD_PORTS folder; a reader thread drains the master and keeps every
// byte, as a printer's receive buffer would.
#pragma once

#include <termios.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class PtyLine {
 public:
  // Maps `portName` to the slave in a fresh ports folder and points
  // IT433TD_PORTS at it (the module and the device library read it when
  // they resolve a name).
  explicit PtyLine(const std::string &portName);
  ~PtyLine();
  PtyLine(const PtyLine &) = delete;
  PtyLine &operator=(const PtyLine &) = delete;

  // Waits until at least `count` bytes came, or `timeoutMs` passed.
  std::vector<uint8_t> receivedAtLeast(size_t count, int timeoutMs);
  // The line settings the slave has now.
  termios slaveSettings() const;
  const std::string &slavePath() const { return slavePath_; }
  // The ports folder that maps the port name to this line.
  const std::string &portsFolder() const { return portsFolder_; }

 private:
  void drain();

  int master_ = -1;
  int slave_ = -1;  // held open all along, so a close by the module is no hang-up
  std::string slavePath_, portsFolder_, link_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<uint8_t> received_;
  std::thread reader_;
};
