// The printer's state through the real-time status request 0x10 0x04 n.
//
// The conversation, one request at a time, each answered by one byte:
//   1. discard stale input, send 10 04 01 (printer status), read one byte A;
//      no byte within the read timeout: NO_ANSWER.
//   2. A bit 3 set (offline): discard input, send 10 04 02 (offline cause),
//      read one byte B. B bit 5 (stopped at paper end): PAPER_OUT; otherwise
//      (bit 2 cover open, bit 6 error, or no answer): OFFLINE.
//   3. A bit 3 clear (online): discard input, send 10 04 04 (paper sensor),
//      read one byte C. C bit 5 or 6 (paper end): PAPER_OUT; otherwise OK
//      (bits 2 or 3 mean "paper near end", still OK); no answer: NO_ANSWER.
// Bits 0, 1, 4 and 7 of every answer are the convention's fixed bits and are
// not looked at. A request that cannot be sent answers HANGUP or UNPLUGGED
// when the line is gone, NO_ANSWER otherwise.
#pragma once

#include <stdint.h>

#include "port.h"

namespace megencom32 {

inline constexpr uint8_t kStatusRequest[2] = {0x10, 0x04};
inline constexpr uint8_t kAskPrinter = 1;
inline constexpr uint8_t kAskOfflineCause = 2;
inline constexpr uint8_t kAskPaperSensor = 4;

inline constexpr uint8_t kPrinterOffline = 0x08;     // n=1, bit 3
inline constexpr uint8_t kCauseCoverOpen = 0x04;     // n=2, bit 2
inline constexpr uint8_t kCausePaperEnd = 0x20;      // n=2, bit 5
inline constexpr uint8_t kCauseError = 0x40;         // n=2, bit 6
inline constexpr uint8_t kSensorNearEnd = 0x0C;      // n=4, bits 2 and 3
inline constexpr uint8_t kSensorPaperEnd = 0x60;     // n=4, bits 5 and 6

struct PrinterState {
  int32_t status = 0;         // OK, PAPER_OUT, OFFLINE, NO_ANSWER, HANGUP, UNPLUGGED
  int32_t lastAnswer = -1;   // the last byte the printer answered, or -1
  bool coverOpen = false;    // from the offline cause
  bool error = false;         // from the offline cause
  bool paperNearEnd = false;
};

// Asks the printer on an open, readable port. Ports written only (FIFO,
// file) answer NO_ANSWER without anything being sent.
PrinterState askPrinterState(const Port &port);

}  // namespace megencom32
