// The ten entry points. Each checks its arguments, forwards to the port
// code, catches every exception (nothing unwinds into the host) and writes
// its log line.
#include <stddef.h>
#include <string.h>

#include <string>

#include "MEGENCOM32.h"
#include "call_log.h"
#include "port_io.h"
#include "port_registry.h"
#include "printer_status.h"
#include "status_text.h"

using namespace megencom32;

namespace {

// Runs `body`, turns an escaping exception into IO_ERROR, and logs the call
// with the arguments `describe` spells out (only when the log is on).
template <typename Body, typename Describe>
int32_t loggedCall(const char *function, const char *port, Body body, Describe describe) {
  int32_t status;
  try {
    status = body();
  } catch (...) {
    status = MEGENCOM32_IO_ERROR;
  }
  CallLog &log = CallLog::instance();
  if (log.on()) {
    try {
      log.writeLine(function, port, describe(), status);
    } catch (...) {
      // A log line lost to exhausted memory must not change the call's status.
    }
  }
  return status;
}

// Runs `action` on the open port named `port`, holding that port's lock.
template <typename Action>
int32_t withPort(const char *port, Action action) {
  if (!port) return MEGENCOM32_BAD_ARGUMENT;
  std::shared_ptr<Port> openPort = PortRegistry::instance().find(port);
  if (!openPort) return MEGENCOM32_NOT_OPEN;
  std::lock_guard<std::mutex> lock(openPort->mutex);
  if (!openPort->isOpen()) return MEGENCOM32_NOT_OPEN;  // closed while we waited
  return action(*openPort);
}

void copyMessage(const std::string &text, char *message, int32_t capacity) {
  size_t n = text.size() < static_cast<size_t>(capacity - 1) ? text.size()
                                                              : static_cast<size_t>(capacity - 1);
  memcpy(message, text.data(), n);
  message[n] = '\0';
}

std::string number(const char *name, long long value) {
  return std::string(name) + "=" + std::to_string(value);
}

}  // namespace

extern "C" {

MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_AbrirDispositivo(const char *port, int32_t speed,
                                                                int32_t parity, int32_t dataBits,
                                                                int32_t stopBits, int32_t flow) {
  return loggedCall(
      __func__, port,
      [&]() -> int32_t {
        if (!port) return MEGENCOM32_BAD_ARGUMENT;
        return PortRegistry::instance().open(port,
                                             LineSettings{speed, parity, dataBits, stopBits, flow});
      },
      [&] {
        return number("speed", speed) + " " + number("parity", parity) + " " +
               number("dataBits", dataBits) + " " + number("stopBits", stopBits) + " " +
               number("flow", flow);
      });
}

MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_FecharDispositivo(const char *port) {
  return loggedCall(
      __func__, port,
      [&]() -> int32_t {
        if (!port) return MEGENCOM32_BAD_ARGUMENT;
        std::shared_ptr<Port> openPort = PortRegistry::instance().take(port);
        if (!openPort) return MEGENCOM32_NOT_OPEN;
        std::lock_guard<std::mutex> lock(openPort->mutex);
        return releaseDevice(*openPort);
      },
      [] { return std::string(); });
}

MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_ConfigurarTimeoutsRXTX(const char *port,
                                                                      int32_t readTimeoutMs,
                                                                      int32_t writeTimeoutMs) {
  return loggedCall(
      __func__, port,
      [&]() -> int32_t {
        if (readTimeoutMs < 0 || writeTimeoutMs < 0) return MEGENCOM32_BAD_ARGUMENT;
        return withPort(port, [&](Port &p) -> int32_t {
          if (readTimeoutMs > 0) p.readTimeoutMs = readTimeoutMs;
          if (writeTimeoutMs > 0) p.writeTimeoutMs = writeTimeoutMs;
          return applyTimeouts(p);
        });
      },
      [&] { return number("readMs", readTimeoutMs) + " " + number("writeMs", writeTimeoutMs); });
}

MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_EscrevernoDispositivo(const char *port,
                                                                     const void *bytes,
                                                                     int32_t count,
                                                                     int32_t *written) {
  size_t sent = 0;
  const bool bytesValid = count > 0 && bytes != nullptr;
  return loggedCall(
      __func__, port,
      [&]() -> int32_t {
        if (written) *written = 0;
        if (!written || count < 0 || (count > 0 && !bytes)) return MEGENCOM32_BAD_ARGUMENT;
        int32_t status = withPort(port, [&](Port &p) -> int32_t {
          return writeBytes(p, static_cast<const uint8_t *>(bytes), static_cast<size_t>(count),
                            sent, p.writeTimeoutMs);
        });
        *written = static_cast<int32_t>(sent);
        return status;
      },
      [&] {
        std::string text = number("count", count);
        if (bytesValid) text += " bytes=" + hexPreview(bytes, static_cast<size_t>(count));
        return text + " " + number("written", static_cast<long long>(sent));
      });
}

MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_LeroDispositivo(const char *port, void *buffer,
                                                               int32_t capacity, int32_t *read) {
  size_t got = 0;
  return loggedCall(
      __func__, port,
      [&]() -> int32_t {
        if (read) *read = 0;
        if (!read || capacity < 0 || (capacity > 0 && !buffer)) return MEGENCOM32_BAD_ARGUMENT;
        int32_t status = withPort(port, [&](Port &p) -> int32_t {
          if (!p.readable) return MEGENCOM32_IO_ERROR;  // a FIFO or capture file
          if (capacity == 0) return MEGENCOM32_OK;
          return readBytes(p, static_cast<uint8_t *>(buffer), static_cast<size_t>(capacity), got,
                           p.readTimeoutMs);
        });
        *read = static_cast<int32_t>(got);
        return status;
      },
      [&] {
        std::string text = number("capacity", capacity) + " " + number("read", static_cast<long long>(got));
        if (got > 0) text += " bytes=" + hexPreview(buffer, got);
        return text;
      });
}

MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_PreparaImpressao(const char *port) {
  return loggedCall(
      __func__, port, [&]() -> int32_t { return withPort(port, discardInputAndOutput); },
      [] { return std::string(); });
}

MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_AguardaImpressao(const char *port,
                                                                int32_t timeoutMs) {
  return loggedCall(
      __func__, port,
      [&]() -> int32_t {
        if (timeoutMs < 0) return MEGENCOM32_BAD_ARGUMENT;
        return withPort(port, [&](Port &p) -> int32_t { return waitOutputDrained(p, timeoutMs); });
      },
      [&] { return number("timeoutMs", timeoutMs); });
}

MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_AguardaImpressaoStr(const char *port,
                                                                   int32_t timeoutMs,
                                                                   char *message,
                                                                   int32_t capacity) {
  std::string words;
  return loggedCall(
      __func__, port,
      [&]() -> int32_t {
        if (!message || capacity <= 0 || timeoutMs < 0) return MEGENCOM32_BAD_ARGUMENT;
        message[0] = '\0';
        int32_t status = withPort(port, [&](Port &p) -> int32_t {
          int32_t drained = waitOutputDrained(p, timeoutMs);
          if (drained == MEGENCOM32_TIMEOUT) {
            words = "still printing";
            return drained;
          }
          if (drained != MEGENCOM32_OK) {
            words = statusName(drained);
            return drained;
          }
          PrinterState state = askPrinterState(p);
          words = printerStateWords(state);
          return state.status;
        });
        if (words.empty()) words = statusName(status);
        copyMessage(words, message, capacity);
        return status;
      },
      [&] { return number("timeoutMs", timeoutMs) + " message=" + quoted(words.c_str()); });
}

MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_StatusDoDispositivo(const char *port,
                                                                   int32_t *statusByte) {
  int32_t answer = -1;
  return loggedCall(
      __func__, port,
      [&]() -> int32_t {
        if (statusByte) *statusByte = -1;
        int32_t status = withPort(port, [&](Port &p) -> int32_t {
          PrinterState state = askPrinterState(p);
          answer = state.lastAnswer;
          return state.status;
        });
        if (statusByte) *statusByte = answer;
        return status;
      },
      [&] { return number("statusByte", answer); });
}

MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_AtivarLOG(int32_t on, const char *path) {
  CallLog &log = CallLog::instance();
  auto describe = [&] { return number("on", on) + " path=" + quoted(path ? path : ""); };
  try {
    if (on == 0) {
      // The last line goes in before the file closes.
      if (log.on()) log.writeLine(__func__, nullptr, describe(), MEGENCOM32_OK);
      log.switchOff();
      return MEGENCOM32_OK;
    }
    return loggedCall(
        __func__, nullptr,
        [&]() -> int32_t { return on == 1 ? log.switchOn(path) : MEGENCOM32_BAD_ARGUMENT; }, describe);
  } catch (...) {
    return MEGENCOM32_IO_ERROR;
  }
}

}  // extern "C"
