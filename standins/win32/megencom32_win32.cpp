// MEGENCOM32.dll for Windows: the ten entry points of our device library over
// the Win32 communications API.
//
// Map of this file: the table of open ports (by the name the caller gave),
// the call log, the printer status conversation (0x10 0x04 n), then the
// entry points in binding order. Each entry point checks its arguments,
// finds its port and holds that port's lock for the call; the table's own
// lock is held only to find, add or remove a port. No exception leaves an
// entry point: each runs its body through entry_point().
#include <windows.h>

#include <stdio.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "MEGENCOM32.h"
#include "comm_port.h"

namespace megencom32_win32 {
namespace {

struct OpenPort {
  std::mutex mutex;  // one call at a time on this port
  CommPort port;
};

class PortTable {
 public:
  int32_t open(const std::string &name, const LineSettings &settings) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (ports_.count(name) != 0) return MEGENCOM32_ALREADY_OPEN;
    auto entry = std::make_shared<OpenPort>();
    int32_t status = open_port(name, settings, entry->port);
    if (status == MEGENCOM32_OK) ports_.emplace(name, std::move(entry));
    return status;
  }
  std::shared_ptr<OpenPort> find(const std::string &name) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = ports_.find(name);
    return it == ports_.end() ? nullptr : it->second;
  }
  std::shared_ptr<OpenPort> take(const std::string &name) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = ports_.find(name);
    if (it == ports_.end()) return nullptr;
    auto entry = std::move(it->second);
    ports_.erase(it);
    return entry;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<OpenPort>> ports_;
};

PortTable &ports() {
  // Never destroyed: a host thread may still call in while the process ends.
  static PortTable *table = new PortTable;
  return *table;
}

// The call log: one line per call, name, port and status.
std::mutex log_mutex;
FILE *log_file = nullptr;

int32_t logged(const char *call, const char *port, int32_t status) noexcept {
  try {
    std::lock_guard<std::mutex> lock(log_mutex);
    if (log_file != nullptr) {
      SYSTEMTIME now;
      GetLocalTime(&now);
      fprintf(log_file, "%02u:%02u:%02u.%03u %s(%s) = %d\n", now.wHour, now.wMinute, now.wSecond,
              now.wMilliseconds, call, port != nullptr ? port : "", static_cast<int>(status));
      fflush(log_file);
    }
  } catch (...) {
    // A log line lost to a failed lock must not change the call's status.
  }
  return status;
}

// Runs an entry point's body. An exception (no memory for a name or a table
// entry, a failed lock) becomes IO_ERROR rather than unwinding into the
// host: on i686 every DLL has its own copy of the unwinder, so an exception
// crossing into the host could only end in std::terminate.
template <typename Body>
int32_t guarded(Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return MEGENCOM32_IO_ERROR;
  }
}

// An entry point's body, guarded and logged under the entry point's name.
template <typename Body>
int32_t entry_point(const char *call, const char *port, Body body) noexcept {
  return logged(call, port, guarded(body));
}

// The printer's state through the real-time status request: ask 1 (printer
// status); offline (bit 3): ask 2 (offline cause, bit 5 paper end); online:
// ask 4 (paper sensor, bits 5 and 6 paper out). Each answer is one byte.
constexpr BYTE kOffline = 0x08;
constexpr BYTE kCausePaperEnd = 0x20;
constexpr BYTE kSensorPaperOut = 0x60;
constexpr BYTE kSensorNearEnd = 0x0C;

struct Answer {
  int32_t line = MEGENCOM32_OK;  // the line failed: HANGUP, UNPLUGGED, IO_ERROR
  int byte = -1;                 // -1: no answer in time
};

Answer ask(const CommPort &port, BYTE n) {
  Answer answer;
  purge(port, false);
  const BYTE request[3] = {0x10, 0x04, n};
  DWORD sent = 0;
  int32_t status = write_bytes(port, request, sizeof request, sent);
  if (status == MEGENCOM32_HANGUP || status == MEGENCOM32_UNPLUGGED) {
    answer.line = status;
    return answer;
  }
  if (status != MEGENCOM32_OK) return answer;
  BYTE byte = 0;
  DWORD got = 0;
  status = read_bytes(port, &byte, 1, got);
  if (status == MEGENCOM32_HANGUP || status == MEGENCOM32_UNPLUGGED) answer.line = status;
  if (status == MEGENCOM32_OK && got == 1) answer.byte = byte;
  return answer;
}

struct PrinterState {
  int32_t status = MEGENCOM32_NO_ANSWER;
  int32_t last_answer = -1;
  bool near_end = false;
};

PrinterState ask_printer_state(const CommPort &port) {
  PrinterState state;
  if (port.kind == DeviceKind::DiskFile) return state;  // a capture file never answers
  Answer a = ask(port, 1);
  if (a.line != MEGENCOM32_OK || a.byte < 0) {
    if (a.line != MEGENCOM32_OK) state.status = a.line;
    return state;
  }
  state.last_answer = a.byte;
  if (a.byte & kOffline) {
    state.status = MEGENCOM32_OFFLINE;
    Answer cause = ask(port, 2);
    if (cause.line != MEGENCOM32_OK) {
      state.status = cause.line;
    } else if (cause.byte >= 0) {
      state.last_answer = cause.byte;
      if (cause.byte & kCausePaperEnd) state.status = MEGENCOM32_PAPER_OUT;
    }
    return state;
  }
  Answer sensor = ask(port, 4);
  if (sensor.line != MEGENCOM32_OK) {
    state.status = sensor.line;
  } else if (sensor.byte >= 0) {
    state.last_answer = sensor.byte;
    state.near_end = (sensor.byte & kSensorNearEnd) != 0;
    state.status = (sensor.byte & kSensorPaperOut) ? MEGENCOM32_PAPER_OUT : MEGENCOM32_OK;
  }
  return state;
}

const char *state_words(const PrinterState &state) {
  switch (state.status) {
    case MEGENCOM32_OK: return state.near_end ? "online, paper near end" : "online";
    case MEGENCOM32_PAPER_OUT: return "out of paper";
    case MEGENCOM32_OFFLINE: return "offline";
    case MEGENCOM32_NO_ANSWER: return "no answer";
    case MEGENCOM32_HANGUP: return "line hung up";
    case MEGENCOM32_UNPLUGGED: return "unplugged";
    default: return "line error";
  }
}

int32_t aguarda_impressao(const char *port, int32_t timeoutMs) {
  if (port == nullptr || timeoutMs < 0) return MEGENCOM32_BAD_ARGUMENT;
  auto entry = ports().find(port);
  if (!entry) return MEGENCOM32_NOT_OPEN;
  std::lock_guard<std::mutex> lock(entry->mutex);
  if (entry->port.kind == DeviceKind::DiskFile)
    return FlushFileBuffers(entry->port.handle) ? MEGENCOM32_OK : MEGENCOM32_IO_ERROR;
  return wait_output_drained(entry->port, timeoutMs);
}

}  // namespace
}  // namespace megencom32_win32

using namespace megencom32_win32;

extern "C" {

MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_AbrirDispositivo(const char *port, int32_t speed,
                                                                int32_t parity, int32_t dataBits,
                                                                int32_t stopBits, int32_t flow) {
  return entry_point(__func__, port, [&]() -> int32_t {
    if (port == nullptr) return MEGENCOM32_BAD_ARGUMENT;
    LineSettings settings{speed, parity, dataBits, stopBits, flow};
    return ports().open(port, settings);
  });
}

MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_FecharDispositivo(const char *port) {
  return entry_point(__func__, port, [&]() -> int32_t {
    if (port == nullptr) return MEGENCOM32_BAD_ARGUMENT;
    auto entry = ports().take(port);
    if (!entry) return MEGENCOM32_NOT_OPEN;
    std::lock_guard<std::mutex> lock(entry->mutex);
    return close_port(entry->port);
  });
}

MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_ConfigurarTimeoutsRXTX(const char *port,
                                                                      int32_t readTimeoutMs,
                                                                      int32_t writeTimeoutMs) {
  return entry_point(__func__, port, [&]() -> int32_t {
    if (port == nullptr || readTimeoutMs < 0 || writeTimeoutMs < 0) return MEGENCOM32_BAD_ARGUMENT;
    auto entry = ports().find(port);
    if (!entry) return MEGENCOM32_NOT_OPEN;
    std::lock_guard<std::mutex> lock(entry->mutex);
    if (readTimeoutMs != 0) entry->port.read_timeout_ms = readTimeoutMs;
    if (writeTimeoutMs != 0) entry->port.write_timeout_ms = writeTimeoutMs;
    return apply_timeouts(entry->port);
  });
}

MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_EscrevernoDispositivo(const char *port,
                                                                     const void *bytes,
                                                                     int32_t count,
                                                                     int32_t *written) {
  if (written != nullptr) *written = 0;
  return entry_point(__func__, port, [&]() -> int32_t {
    if (port == nullptr || count < 0 || (bytes == nullptr && count > 0))
      return MEGENCOM32_BAD_ARGUMENT;
    auto entry = ports().find(port);
    if (!entry) return MEGENCOM32_NOT_OPEN;
    std::lock_guard<std::mutex> lock(entry->mutex);
    DWORD done = 0;
    int32_t status = write_bytes(entry->port, bytes, static_cast<DWORD>(count), done);
    if (written != nullptr) *written = static_cast<int32_t>(done);
    return status;
  });
}

MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_LeroDispositivo(const char *port, void *buffer,
                                                               int32_t capacity, int32_t *read) {
  if (read != nullptr) *read = 0;
  return entry_point(__func__, port, [&]() -> int32_t {
    if (port == nullptr || read == nullptr || capacity < 0 || (buffer == nullptr && capacity > 0))
      return MEGENCOM32_BAD_ARGUMENT;
    auto entry = ports().find(port);
    if (!entry) return MEGENCOM32_NOT_OPEN;
    std::lock_guard<std::mutex> lock(entry->mutex);
    DWORD got = 0;
    int32_t status = read_bytes(entry->port, buffer, static_cast<DWORD>(capacity), got);
    *read = static_cast<int32_t>(got);
    return status;
  });
}

MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_PreparaImpressao(const char *port) {
  return entry_point(__func__, port, [&]() -> int32_t {
    if (port == nullptr) return MEGENCOM32_BAD_ARGUMENT;
    auto entry = ports().find(port);
    if (!entry) return MEGENCOM32_NOT_OPEN;
    std::lock_guard<std::mutex> lock(entry->mutex);
    return purge(entry->port, true);
  });
}

MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_AguardaImpressao(const char *port,
                                                                int32_t timeoutMs) {
  return entry_point(__func__, port, [&] { return aguarda_impressao(port, timeoutMs); });
}

MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_AguardaImpressaoStr(const char *port,
                                                                   int32_t timeoutMs,
                                                                   char *message,
                                                                   int32_t capacity) {
  return entry_point(__func__, port, [&]() -> int32_t {
    if (message == nullptr || capacity <= 0) return MEGENCOM32_BAD_ARGUMENT;
    message[0] = '\0';
    int32_t status = aguarda_impressao(port, timeoutMs);
    if (status != MEGENCOM32_OK) {
      snprintf(message, static_cast<size_t>(capacity), "%s",
               status == MEGENCOM32_TIMEOUT ? "still printing" : "port not ready");
      return status;
    }
    auto entry = ports().find(port);
    if (!entry) return MEGENCOM32_NOT_OPEN;
    std::lock_guard<std::mutex> lock(entry->mutex);
    PrinterState state = ask_printer_state(entry->port);
    snprintf(message, static_cast<size_t>(capacity), "%s", state_words(state));
    return state.status;
  });
}

MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_StatusDoDispositivo(const char *port,
                                                                   int32_t *statusByte) {
  if (statusByte != nullptr) *statusByte = -1;
  return entry_point(__func__, port, [&]() -> int32_t {
    if (port == nullptr) return MEGENCOM32_BAD_ARGUMENT;
    auto entry = ports().find(port);
    if (!entry) return MEGENCOM32_NOT_OPEN;
    std::lock_guard<std::mutex> lock(entry->mutex);
    PrinterState state = ask_printer_state(entry->port);
    if (statusByte != nullptr) *statusByte = state.last_answer;
    return state.status;
  });
}

MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_AtivarLOG(int32_t on, const char *path) {
  return guarded([&]() -> int32_t {
    std::lock_guard<std::mutex> lock(log_mutex);
    if (log_file != nullptr) {
      fclose(log_file);
      log_file = nullptr;
    }
    if (on == 0) return MEGENCOM32_OK;
    log_file = fopen(path != nullptr && path[0] != '\0' ? path : "MEGENCOM32.log", "a");
    return log_file != nullptr ? MEGENCOM32_OK : MEGENCOM32_LOG_FAILED;
  });
}

}  // extern "C"
