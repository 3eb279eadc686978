// Serial line settings as the open call passes them, and which values a
// serial line can take at all. Shared by the Linux and Windows builds of the
// device library; each adds what its own system can set.
#pragma once

#include <stdint.h>

#include "MEGENCOM32.h"

namespace megencom32 {

struct LineSettings {
  int32_t speed = 0;      // baud
  int32_t parity = 0;     // 'N', 'E', 'O', 'M' (mark), 'S' (space)
  int32_t dataBits = 0;  // 5..8
  int32_t stopBits = 0;  // 1..2
  int32_t flow = 0;       // 0 none, 1 RTS/CTS, 2 XON/XOFF

  // Five zeros: "open the device as it is".
  bool given() const {
    return speed != 0 || parity != 0 || dataBits != 0 || stopBits != 0 || flow != 0;
  }
};

// The standard rates, in baud, that the library sets on a serial line.
inline constexpr int32_t kStandardSpeeds[] = {
    50,     75,     110,    134,    150,    200,     300,     600,     1200,
    1800,   2400,   4800,   9600,   19200,  38400,   57600,   115200,  230400,
    460800, 500000, 576000, 921600, 1000000, 1152000, 1500000, 2000000,
};

inline bool isStandardSpeed(int32_t baud) {
  for (int32_t speed : kStandardSpeeds)
    if (speed == baud) return true;
  return false;
}

// MEGENCOM32_OK when every value is one a serial line can take,
// MEGENCOM32_BAD_SETTINGS otherwise.
inline int32_t checkLineValues(const LineSettings &s) {
  if (!isStandardSpeed(s.speed)) return MEGENCOM32_BAD_SETTINGS;
  switch (s.parity) {
    case 'N': case 'E': case 'O': case 'M': case 'S': break;
    default: return MEGENCOM32_BAD_SETTINGS;
  }
  if (s.dataBits < 5 || s.dataBits > 8) return MEGENCOM32_BAD_SETTINGS;
  if (s.stopBits < 1 || s.stopBits > 2) return MEGENCOM32_BAD_SETTINGS;
  if (s.flow < 0 || s.flow > 2) return MEGENCOM32_BAD_SETTINGS;
  return MEGENCOM32_OK;
}

}  // namespace megencom32
