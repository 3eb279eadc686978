// The call log: one line per entry-point call while switched on,
//   2025-06-01 14:03:07.412 MEGENCOM32_EscrevernoDispositivo port="COM7" count=3 bytes=1B 77 0A written=3 -> 0 OK
// Lines are written whole (one mutex) and flushed at once, so the log is
// complete up to the last call even if the host dies.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

namespace megencom32 {

inline constexpr const char *kDefaultLogFile = "MEGENCOM32.log";
inline constexpr size_t kLoggedBytesLimit = 64;

class CallLog {
 public:
  static CallLog &instance();

  // Opens `path` (null or "" means kDefaultLogFile) for appending.
  // MEGENCOM32_LOG_FAILED when it cannot be opened; the log stays as it was.
  int32_t switchOn(const char *path);
  void switchOff();
  bool on() const { return on_.load(std::memory_order_acquire); }

  void writeLine(const char *function, const char *port, const std::string &arguments,
                 int32_t status);

 private:
  std::mutex mutex_;
  std::FILE *file_ = nullptr;
  std::atomic<bool> on_{false};
};

// `bytes` as hex pairs, the first kLoggedBytesLimit of them, then
// "... (+N)" for the rest.
std::string hexPreview(const void *bytes, size_t count);

// A caller's text quoted, with control bytes and '"' escaped, so a port name
// cannot break the one-line-per-call form.
std::string quoted(const char *text);

}  // namespace megencom32
