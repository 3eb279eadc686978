#include "status_text.h"

#include "MEGENCOM32.h"

namespace megencom32 {

const char *statusName(int32_t status) {
  const char *name = megencom32_status_name(status);
  // The header's names without their common "MEGENCOM32_" prefix.
  static constexpr size_t kPrefix = sizeof "MEGENCOM32_" - 1;
  return name != nullptr ? name + kPrefix : "UNKNOWN";
}

std::string printerStateWords(const PrinterState &state) {
  switch (state.status) {
    case MEGENCOM32_OK:
      return state.paperNearEnd ? "online, paper near end" : "online";
    case MEGENCOM32_PAPER_OUT: return "out of paper";
    case MEGENCOM32_OFFLINE:
      if (state.coverOpen) return "offline: cover open";
      if (state.error) return "offline: error";
      return "offline";
    case MEGENCOM32_NO_ANSWER: return "no answer";
    case MEGENCOM32_HANGUP: return "hung up";
    case MEGENCOM32_UNPLUGGED: return "unplugged";
    default: return statusName(state.status);
  }
}

}  // namespace megencom32
