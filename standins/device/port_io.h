// The device library's system side: opening, reading, writing and releasing
// a port, and the call log's file and clock. One implementation per system,
// chosen by the build: port_io_posix.cpp (termios, poll, flock) and
// port_io_win32.cpp (the Win32 communications API, overlapped I/O).
// Everything built on it (the registry of open ports, the argument checks,
// the status conversation, the call log and the ten entry points) is written
// once.
//
// The caller holds the port's lock for every call on an open port. No call
// blocks longer than the timeout it is given (or the port's own).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "line_values.h"
#include "port.h"

namespace megencom32 {

// Resolves `name` as this system does (POSIX: contract/port_names.h; Windows:
// COMn through \\.\COMn, anything else as CreateFile takes it), opens the
// device with its exclusive hold and, on a serial line, applies the line
// settings (five zeros: keeps the line, raw). Fills in `port`. Statuses: OK,
// NO_SUCH_PORT, BUSY, BAD_SETTINGS, IO_ERROR.
int32_t openDevice(const std::string &name, const LineSettings &settings, Port &port);

// Waits at most the write timeout for a serial line's output to leave,
// discards what is left after that (so closing cannot block), lets go of the
// hold and closes. TIMEOUT when output had to be discarded; the port is
// released either way.
int32_t releaseDevice(Port &port);

// Hands the port's timeouts to the system where it keeps its own (a Windows
// communications device); OK elsewhere.
int32_t applyTimeouts(const Port &port);

// Writes up to `count` bytes within `timeoutMs`; `written` says how many
// went out, also on failure. Statuses: OK, TIMEOUT (the device took no more
// in time), HANGUP (the far end hung up), UNPLUGGED (the device is gone),
// IO_ERROR.
int32_t writeBytes(const Port &port, const uint8_t *bytes, size_t count, size_t &written,
                   int timeoutMs);

// On a readable port, waits at most `timeoutMs` for input, then reads what
// is there, up to `capacity` (> 0) bytes. TIMEOUT when nothing came; HANGUP
// on end of line.
int32_t readBytes(const Port &port, uint8_t *buffer, size_t capacity, size_t &got,
                  int timeoutMs);

// Throws away input that arrived before now (stale answers, noise).
void discardInput(const Port &port);

// Throws away input not yet read and, on a serial line, output not yet sent.
int32_t discardInputAndOutput(const Port &port);

// Waits at most `timeoutMs` until the output queue is empty: a serial
// line's, or (POSIX) the bytes a FIFO's reader has not taken yet. Other
// devices and files have no queue: OK at once. TIMEOUT when output remains.
int32_t waitOutputDrained(const Port &port, int timeoutMs);

// The call log's file, opened for appending and not inherited by child
// processes; null when it cannot be opened.
std::FILE *openLogFile(const char *path);

// `when` in the local time zone, safe to call from any thread.
std::tm localTime(std::time_t when);

}  // namespace megencom32
