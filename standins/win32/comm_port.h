// One open port of the Windows device library: the handle from CreateFileA,
// what kind of device it leads to, and the timeouts its calls use.
//
// A COM port is a communications device: it takes line settings
// (SetCommState), timeouts (SetCommTimeouts) and reports its output queue
// (ClearCommError). Other names open as the device or file they name: a
// parallel port, a printer share, a pipe, a capture file (appended to).
//
// Every device (all but a capture file) is opened for overlapped I/O and
// each read or write waits at most its timeout, then is cancelled: a pipe
// or printer share whose far end takes nothing cannot hold a call for ever.
// A communications device also gets its timeouts set in the driver.
#pragma once

#include <windows.h>

#include <stdint.h>

#include <string>

#include "line_values.h"

namespace megencom32_win32 {

enum class DeviceKind {
  Comm,         // serial port (\\.\COMn, or any handle GetCommState accepts)
  OtherDevice,  // LPT port, printer share, NUL, a pipe
  DiskFile,     // a capture file: must exist, appended to, written only
};

inline constexpr int32_t kDefaultReadTimeoutMs = 1000;
inline constexpr int32_t kDefaultWriteTimeoutMs = 5000;

using megencom32::LineSettings;

struct CommPort {
  HANDLE handle = INVALID_HANDLE_VALUE;
  DeviceKind kind = DeviceKind::OtherDevice;
  int32_t read_timeout_ms = kDefaultReadTimeoutMs;
  int32_t write_timeout_ms = kDefaultWriteTimeoutMs;
};

// The path CreateFileA opens for a port name: "COMn" (any case) becomes
// "\\.\COMn", which also reaches COM10 and above; every other name is used
// as it is.
std::string device_path(const std::string &name);

// Opens the device without sharing (the exclusive hold Windows gives a COM
// port), applies the line settings on a communications device and the
// default timeouts. A status of the MEGENCOM32_* set.
int32_t open_port(const std::string &name, const LineSettings &settings, CommPort &port);

// Applies the port's read and write timeouts (communications devices only).
int32_t apply_timeouts(const CommPort &port);

// Waits at most the write timeout for the output queue to empty, discards
// what is left (MEGENCOM32_TIMEOUT) and closes the handle.
int32_t close_port(CommPort &port);

// Writes up to `count` bytes within the write timeout; `written` says how
// many went out, also on failure or timeout (TIMEOUT when not all did).
int32_t write_bytes(const CommPort &port, const void *bytes, DWORD count, DWORD &written);

// Waits at most the read timeout for the first byte, then takes what is
// there, up to `capacity`. MEGENCOM32_TIMEOUT when nothing came.
int32_t read_bytes(const CommPort &port, void *buffer, DWORD capacity, DWORD &got);

// Discards unread input and unsent output (communications devices only).
int32_t purge(const CommPort &port, bool output_too);

// Waits at most `timeout_ms` until the output queue is empty.
int32_t wait_output_drained(const CommPort &port, int32_t timeout_ms);

}  // namespace megencom32_win32
