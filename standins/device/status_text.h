// Statuses and printer states in words, for the log and AguardaImpressaoStr.
#pragma once

#include <stdint.h>

#include <string>

#include "printer_status.h"

namespace megencom32 {

// "OK", "NO_SUCH_PORT", ... ; "UNKNOWN" for anything else.
const char *statusName(int32_t status);

// "online", "online, paper near end", "out of paper", "offline: cover open",
// "offline: error", "offline", "no answer", "hung up", "unplugged".
std::string printerStateWords(const PrinterState &state);

}  // namespace megencom32
