#include "printer_status.h"

#include <stddef.h>

#include "MEGENCOM32.h"
#include "port_io.h"

namespace megencom32 {
namespace {

// Sends 10 04 n and reads the one-byte answer. -1 with status OK means no
// answer in time; a status other than OK means the line itself failed.
int32_t ask(const Port &port, uint8_t n, int &answer) {
  answer = -1;
  discardInput(port);
  const uint8_t request[3] = {kStatusRequest[0], kStatusRequest[1], n};
  size_t sent = 0;
  int32_t status = writeBytes(port, request, sizeof request, sent, port.writeTimeoutMs);
  if (status == MEGENCOM32_HANGUP || status == MEGENCOM32_UNPLUGGED) return status;
  if (status != MEGENCOM32_OK) return MEGENCOM32_OK;  // not taken: no answer

  uint8_t byte = 0;
  size_t got = 0;
  status = readBytes(port, &byte, 1, got, port.readTimeoutMs);
  if (status == MEGENCOM32_HANGUP || status == MEGENCOM32_UNPLUGGED) return status;
  if (status == MEGENCOM32_OK && got == 1) answer = byte;
  return MEGENCOM32_OK;
}

}  // namespace

PrinterState askPrinterState(const Port &port) {
  PrinterState state;
  state.status = MEGENCOM32_NO_ANSWER;
  if (!port.readable) return state;

  int answer = -1;
  int32_t line = ask(port, kAskPrinter, answer);
  if (line != MEGENCOM32_OK) {
    state.status = line;
    return state;
  }
  if (answer < 0) return state;
  state.lastAnswer = answer;

  if (answer & kPrinterOffline) {
    state.status = MEGENCOM32_OFFLINE;
    line = ask(port, kAskOfflineCause, answer);
    if (line != MEGENCOM32_OK) {
      state.status = line;
    } else if (answer >= 0) {
      state.lastAnswer = answer;
      state.coverOpen = (answer & kCauseCoverOpen) != 0;
      state.error = (answer & kCauseError) != 0;
      if (answer & kCausePaperEnd) state.status = MEGENCOM32_PAPER_OUT;
    }
    return state;
  }

  line = ask(port, kAskPaperSensor, answer);
  if (line != MEGENCOM32_OK) {
    state.status = line;
    return state;
  }
  if (answer < 0) return state;  // NO_ANSWER, lastAnswer keeps the first byte
  state.lastAnswer = answer;
  state.paperNearEnd = (answer & kSensorNearEnd) != 0;
  state.status = (answer & kSensorPaperEnd) ? MEGENCOM32_PAPER_OUT : MEGENCOM32_OK;
  return state;
}

}  // namespace megencom32
