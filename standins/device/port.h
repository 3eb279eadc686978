// One open port as the core sees it: the system's handle, what kind of
// device it leads to, and the timeouts its calls use. The system side
// (port_io.h) fills it in when it opens the device and empties it when it
// releases it.
#pragma once

#include <stdint.h>

#include <mutex>
#include <string>

namespace megencom32 {

enum class DeviceKind {
  Terminal,     // a serial line: a tty (serial port, USB-serial adapter, pty
                // slave) or a Windows communications device (COMn)
  CharDevice,   // another device, read and written: a USB printer
                // (/dev/usb/lp0), an LPT port, a printer share, a pipe
  Fifo,         // a POSIX named pipe, written only
  RegularFile,  // a capture file, appended to, written only
};

inline constexpr int kDefaultReadTimeoutMs = 1000;
inline constexpr int kDefaultWriteTimeoutMs = 5000;

// A file descriptor on POSIX, a HANDLE on Windows; -1 (INVALID_HANDLE_VALUE)
// for none.
inline constexpr intptr_t kNoHandle = -1;

struct Port {
  std::mutex mutex;             // one call at a time on this port; other ports run freely
  intptr_t handle = kNoHandle;  // kNoHandle once released
  std::string path;             // the resolved device path
  DeviceKind kind = DeviceKind::Terminal;
  bool readable = false;  // opened for reading too; ports written only are never asked
  int readTimeoutMs = kDefaultReadTimeoutMs;
  int writeTimeoutMs = kDefaultWriteTimeoutMs;

  bool isOpen() const { return handle != kNoHandle; }
};

}  // namespace megencom32
