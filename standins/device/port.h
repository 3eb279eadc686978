// One open port: the device's file descriptor and what kind of device it is,
// with the timeouts its calls use. Opening takes the exclusive hold of a tty;
// releasing drains the output (bounded) and lets go of the hold.
#pragma once

#include <stdint.h>

#include <mutex>
#include <string>

#include "line_settings.h"

namespace megencom32 {

enum class DeviceKind {
  Terminal,     // a tty: serial port, USB-serial adapter, pty slave
  CharDevice,   // another character device, e.g. a USB printer (/dev/usb/lp0)
  Fifo,         // a named pipe, written only
  RegularFile,  // a capture file, appended to, written only
};

inline constexpr int kDefaultReadTimeoutMs = 1000;
inline constexpr int kDefaultWriteTimeoutMs = 5000;

struct Port {
  std::mutex mutex;  // one call at a time on this port; other ports run freely
  int fd = -1;       // -1 once released
  std::string path;  // the resolved device path
  DeviceKind kind = DeviceKind::Terminal;
  bool readable = false;  // opened for reading too (ttys, character devices)
  int read_timeout_ms = kDefaultReadTimeoutMs;
  int write_timeout_ms = kDefaultWriteTimeoutMs;
};

// Opens `path` into `port` (fd, kind, readable). Every descriptor is
// O_CLOEXEC, so no child of the host (such as the raw copy of a QR printer
// file) inherits it and, with it, the exclusive hold.
int32_t open_device(const std::string &path, const LineSettings &settings, Port &port);

// Waits at most the write timeout for the output to leave, discards what is
// left after that (so close cannot block in the kernel), lets go of the hold
// and closes. MEGENCOM32_TIMEOUT when output had to be discarded; the port is
// released either way.
int32_t release_device(Port &port);

}  // namespace megencom32
