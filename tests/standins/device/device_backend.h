// Which build of the device library the cases talk to. test_device calls
// libMEGENCOM32.so in its own process; test_device_wine calls MEGENCOM32.dll
// under Wine through tests/wine/device_runner_win.cpp, with the same cases:
// its MEGENCOM32_* functions (wine_backend.cpp) pass every call on to the
// runner. Either way the test plays the device on a pty's master.
#pragma once

#include <optional>
#include <string>

namespace device_backend {

// Before each case: the library's working folder is `folder` (its default
// log file lands there).
void start(const std::string &folder);
// After each case.
void stop();
// The name under which the library reaches the file or device at `path`:
// the path itself, or under Wine the same path on drive Z: ("Z:\dev\pts\3").
std::string portName(const std::string &path);
// True for the Linux build, which some cases check further from outside
// (termios, flock).
bool native();
// How long the library's last call took inside the library, in ms, where the
// caller's clock would also count the call's passage: under Wine, as the
// runner timed it around the DLL call (a 4 MiB write's request, spelled in
// hex through a pipe, alone took seconds on a busy machine). Nothing for the
// Linux build, which the caller's clock times exactly.
std::optional<long long> lastCallMs();

}  // namespace device_backend
