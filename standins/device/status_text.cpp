#include "status_text.h"

#include "MEGENCOM32.h"

namespace megencom32 {

const char *status_name(int32_t status) {
  const char *name = megencom32_status_name(status);
  // The header's names without their common "MEGENCOM32_" prefix.
  static constexpr size_t kPrefix = sizeof "MEGENCOM32_" - 1;
  return name != nullptr ? name + kPrefix : "UNKNOWN";
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
