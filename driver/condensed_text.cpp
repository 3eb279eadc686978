// Condensed text: the text framed between the printer's condensed-on and
// condensed-off bytes, written in as many calls as the device needs.
#include <algorithm>
#include <climits>
#include <string>

#include "Cli_Vossik.h"
#include "operation_rules.h"
#include "operations.h"
#include "platform.h"

namespace it433td::driver {
namespace {

constexpr char kCondensedOn = 0x0F;   // SI: condensed printing
constexpr char kCondensedOff = 0x12;  // DC2: back to normal width
// Calls in a row that failed or advanced nothing before the write gives up.
constexpr int kUnproductiveCallLimit = 5;

}  // namespace

// Each call continues from the first byte not yet reported as written, and
// every call is followed by the printer's 500 ms pause, the last one too.
//
// The count reported by the device is trusted only within the frame: it is
// cleared before every call (a call that leaves it untouched wrote nothing),
// a negative count is taken as 0, and a count past the end of the frame ends
// the frame. A call that advances nothing counts toward the limit like a
// failed one, so a device that keeps answering "success, 0 bytes" cannot
// hold the host forever; and giving up with bytes unsent after a successful
// last call is reported as IT433TD_STALLED, never as success.
int32_t printCondensed(std::string_view port, std::string_view text) {
  auto write = Cli_Vossik::MEGENCOM32_EscrevernoDispositivo;
  if (!write) return IT433TD_NOT_BOUND;

  std::string frame;
  frame.reserve(text.size() + 2);
  frame += kCondensedOn;
  frame.append(text);
  frame += kCondensedOff;
  const std::string name(port);

  size_t sent = 0;
  int unproductive = 0;
  int32_t status = IT433TD_OK;
  while (sent < frame.size() && unproductive < kUnproductiveCallLimit) {
    const size_t remaining = frame.size() - sent;
    const auto count = static_cast<int32_t>(std::min<size_t>(remaining, INT32_MAX));
    int32_t reported = 0;
    status = write(name.c_str(), frame.data() + sent, count, &reported);
    const size_t advanced = std::min<size_t>(reported > 0 ? static_cast<size_t>(reported) : 0,
                                             remaining);
    unproductive = (status == IT433TD_OK && advanced > 0) ? 0 : unproductive + 1;
    sent += advanced;
    platform().sleepMs(kTextWritePauseMs);
  }
  if (sent < frame.size() && status == IT433TD_OK) return IT433TD_STALLED;
  return status;
}

}  // namespace it433td::driver
