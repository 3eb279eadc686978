// device_runner_win.exe: MEGENCOM32.dll driven line by line, so that the
// device library's tests (tests/standins/device), run on Linux, reach the
// Windows build of the library under Wine. The tests play the device on a
// pseudo-terminal's master and call the library through this program.
//
//   device_runner_win.exe      (beside MEGENCOM32.dll; reads stdin, answers on stdout)
//
// One request per line, one answer line per request, which starts with the
// milliseconds the library call took (timed around the call alone) and a
// blank. A string argument is
// "~" for a null pointer or "x" and its bytes in hex; an out-argument is "~"
// for a null pointer or the value the caller's variable holds before the
// call (the library may leave it as it is):
//   open PORT SPEED PARITY DATA STOP FLOW      -> STATUS
//   close PORT                                 -> STATUS
//   timeouts PORT READ_MS WRITE_MS             -> STATUS
//   write PORT BYTES COUNT WRITTEN             -> STATUS WRITTEN
//   read PORT BUFFER CAPACITY READ             -> STATUS READ BYTES_READ
//   prepare PORT                               -> STATUS
//   wait PORT TIMEOUT_MS                       -> STATUS
//   waitstr PORT TIMEOUT_MS MESSAGE CAPACITY   -> STATUS MESSAGE_BUFFER
//   status PORT STATUS_BYTE                    -> STATUS STATUS_BYTE
//   log ON PATH                                -> STATUS
// For read and waitstr, BUFFER and MESSAGE are "~" (null) or "1" (a buffer
// of CAPACITY bytes); the answer gives the bytes read, or the whole message
// buffer (filled with 0x7F before the call). Exit code 0 at the end of
// input, 2 when the library cannot be loaded.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdint.h>
#include <stdio.h>

#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "MEGENCOM32.h"
#include "device_requests.h"

namespace {

using device_requests::bytesOf;
using device_requests::hexToken;

struct Library {
  // Each entry point by its own declaration in MEGENCOM32.h, named after it.
#define IT433TD_RUNNER_SLOT(name, contract_type) decltype(&name) name##_ = nullptr;
  IT433TD_DEVICE_ENTRIES(IT433TD_RUNNER_SLOT)
#undef IT433TD_RUNNER_SLOT
};

template <typename Fn>
bool find(HMODULE module, const char *name, Fn &slot) {
  slot = reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(module, name)));
  if (slot == nullptr) fprintf(stderr, "missing export %s\n", name);
  return slot != nullptr;
}

// An out-argument: "~" is null, else its value before the call.
struct Out {
  bool given = false;
  int32_t value = 0;
  explicit Out(const std::string &token)
      : given(token != "~"), value(given ? static_cast<int32_t>(std::stol(token)) : 0) {}
  int32_t *pointer() { return given ? &value : nullptr; }
  std::string text() const { return given ? std::to_string(value) : "~"; }
};

const char *cString(const std::optional<std::string> &s) { return s ? s->c_str() : nullptr; }

// How long the last library call took, timed around the call alone: the
// request's decoding (a 4 MiB write comes as 8 MiB of hex) is no part of it.
long long lastCallMs = 0;

template <typename Entry, typename... Args>
int32_t timed(Entry entry, Args... args) {
  LARGE_INTEGER frequency{}, before{}, after{};
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&before);
  const int32_t status = entry(args...);
  QueryPerformanceCounter(&after);
  lastCallMs = (after.QuadPart - before.QuadPart) * 1000 / frequency.QuadPart;
  return status;
}

std::string answer(const Library &lib, std::istringstream &in) {
  std::string verb, portToken;
  in >> verb >> portToken;
  const std::optional<std::string> portText = bytesOf(portToken);
  const char *port = cString(portText);
  const auto number = [&in] {
    long long n = 0;
    in >> n;
    return static_cast<int32_t>(n);
  };
  const auto word = [&in] {
    std::string w;
    in >> w;
    return w;
  };

  if (verb == "open") {
    const int32_t speed = number(), parity = number(), data = number(), stop = number(),
                  flow = number();
    return std::to_string(
        timed(lib.MEGENCOM32_AbrirDispositivo_, port, speed, parity, data, stop, flow));
  }
  if (verb == "close") return std::to_string(timed(lib.MEGENCOM32_FecharDispositivo_, port));
  if (verb == "timeouts") {
    const int32_t readMs = number(), writeMs = number();
    return std::to_string(
        timed(lib.MEGENCOM32_ConfigurarTimeoutsRXTX_, port, readMs, writeMs));
  }
  if (verb == "write") {
    const std::optional<std::string> bytes = bytesOf(word());
    const int32_t count = number();
    Out written(word());
    const int32_t status = timed(lib.MEGENCOM32_EscrevernoDispositivo_, port,
                                 bytes ? bytes->data() : nullptr, count, written.pointer());
    return std::to_string(status) + " " + written.text();
  }
  if (verb == "read") {
    const bool bufferGiven = word() != "~";
    const int32_t capacity = number();
    Out got(word());
    std::vector<char> buffer(capacity > 0 ? static_cast<size_t>(capacity) : 1);
    const int32_t status = timed(lib.MEGENCOM32_LeroDispositivo_, port,
                                 bufferGiven ? buffer.data() : nullptr, capacity, got.pointer());
    size_t shown = 0;
    if (bufferGiven && got.given && got.value > 0 && got.value <= capacity)
      shown = static_cast<size_t>(got.value);
    return std::to_string(status) + " " + got.text() + " " + hexToken(buffer.data(), shown);
  }
  if (verb == "prepare") return std::to_string(timed(lib.MEGENCOM32_PreparaImpressao_, port));
  if (verb == "wait") {
    const int32_t timeoutMs = number();
    return std::to_string(timed(lib.MEGENCOM32_AguardaImpressao_, port, timeoutMs));
  }
  if (verb == "waitstr") {
    const int32_t timeoutMs = number();
    const bool messageGiven = word() != "~";
    const int32_t capacity = number();
    std::vector<char> message(capacity > 0 ? static_cast<size_t>(capacity) : 1, 0x7F);
    const int32_t status = timed(lib.MEGENCOM32_AguardaImpressaoStr_, port, timeoutMs,
                                 messageGiven ? message.data() : nullptr, capacity);
    const size_t shown = messageGiven && capacity > 0 ? static_cast<size_t>(capacity) : 0;
    return std::to_string(status) + " " + hexToken(message.data(), shown);
  }
  if (verb == "status") {
    Out byte(word());
    const int32_t status = timed(lib.MEGENCOM32_StatusDoDispositivo_, port, byte.pointer());
    return std::to_string(status) + " " + byte.text();
  }
  if (verb == "log") {
    // The first token is the switch here, not a port.
    const int32_t on = static_cast<int32_t>(std::stol(portToken));
    const std::optional<std::string> path = bytesOf(word());
    return std::to_string(timed(lib.MEGENCOM32_AtivarLOG_, on, cString(path)));
  }
  return "unknown-request";
}

}  // namespace

int main() {
  // Bytes in and out as they are: no CR LF translation on the pipes.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);

  HMODULE module = LoadLibraryA("MEGENCOM32.dll");
  if (module == nullptr) {
    fprintf(stderr, "cannot load MEGENCOM32.dll: %lu\n", GetLastError());
    return 2;
  }
  Library lib;
  bool found = true;
#define IT433TD_RUNNER_FIND(name, contract_type) found &= find(module, #name, lib.name##_);
  IT433TD_DEVICE_ENTRIES(IT433TD_RUNNER_FIND)
#undef IT433TD_RUNNER_FIND
  if (!found) return 2;

  // Ready: the caller may send requests.
  fputs("ready\n", stdout);
  fflush(stdout);
  for (std::string line; std::getline(std::cin, line);) {
    std::istringstream request(line);
    lastCallMs = 0;
    const std::string result = answer(lib, request);
    const std::string reply = std::to_string(lastCallMs) + " " + result + "\n";
    fwrite(reply.data(), 1, reply.size(), stdout);
    fflush(stdout);
  }
  return 0;
}
