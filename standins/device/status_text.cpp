#include "status_text.h"

#include "MEGENCOM32.h"

namespace megencom32 {

const char *status_name(int32_t status) {
  switch (status) {
    case MEGENCOM32_OK: return "OK";
    case MEGENCOM32_NO_SUCH_PORT: return "NO_SUCH_PORT";
    case MEGENCOM32_BUSY: return "BUSY";
    case MEGENCOM32_ALREADY_OPEN: return "ALREADY_OPEN";
    case MEGENCOM32_NOT_OPEN: return "NOT_OPEN";
    case MEGENCOM32_BAD_SETTINGS: return "BAD_SETTINGS";
    case MEGENCOM32_BAD_ARGUMENT: return "BAD_ARGUMENT";
    case MEGENCOM32_IO_ERROR: return "IO_ERROR";
    case MEGENCOM32_TIMEOUT: return "TIMEOUT";
    case MEGENCOM32_HANGUP: return "HANGUP";
    case MEGENCOM32_UNPLUGGED: return "UNPLUGGED";
    case MEGENCOM32_PAPER_OUT: return "PAPER_OUT";
    case MEGENCOM32_OFFLINE: return "OFFLINE";
    case MEGENCOM32_NO_ANSWER: return "NO_ANSWER";
    case MEGENCOM32_LOG_FAILED: return "LOG_FAILED";
    default: return "UNKNOWN";
  }
}

std::string printer_state_words(const PrinterState &state) {
  switch (state.status) {
    case MEGENCOM32_OK:
      return state.paper_near_end ? "online, paper near end" : "online";
    case MEGENCOM32_PAPER_OUT: return "out of paper";
    case MEGENCOM32_OFFLINE:
      if (state.cover_open) return "offline: cover open";
      if (state.error) return "offline: error";
      return "offline";
    case MEGENCOM32_NO_ANSWER: return "no answer";
    case MEGENCOM32_HANGUP: return "hung up";
    case MEGENCOM32_UNPLUGGED: return "unplugged";
    default: return status_name(state.status);
  }
}

}  // namespace megencom32
