#include "call_log.h"

#include <chrono>
#include <ctime>

#include "MEGENCOM32.h"
#include "port_io.h"
#include "status_text.h"

namespace megencom32 {
namespace {

// "YYYY-MM-DD HH:MM:SS.mmm", local time.
std::string timestamp() {
  using namespace std::chrono;
  const system_clock::time_point now = system_clock::now();
  const std::tm local = localTime(system_clock::to_time_t(now));
  const long millis = static_cast<long>(
      duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
  char text[40];
  size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(text + n, sizeof text - n, ".%03ld", millis);
  return text;
}

}  // namespace

CallLog &CallLog::instance() {
  static CallLog *log = new CallLog;  // never destroyed, like the port registry
  return *log;
}

int32_t CallLog::switchOn(const char *path) {
  const char *name = (path && *path) ? path : kDefaultLogFile;
  std::FILE *file = openLogFile(name);
  if (!file) return MEGENCOM32_LOG_FAILED;
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_) std::fclose(file_);
  file_ = file;
  on_.store(true, std::memory_order_release);
  return MEGENCOM32_OK;
}

void CallLog::switchOff() {
  std::lock_guard<std::mutex> lock(mutex_);
  on_.store(false, std::memory_order_release);
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

void CallLog::writeLine(const char *function, const char *port, const std::string &arguments,
                        int32_t status) {
  std::string line = timestamp() + " " + function;
  if (port != nullptr) line += " port=" + quoted(port);
  if (!arguments.empty()) line += " " + arguments;
  line += " -> " + std::to_string(status) + " " + statusName(status) + "\n";
  std::lock_guard<std::mutex> lock(mutex_);
  if (!file_) return;
  std::fputs(line.c_str(), file_);
  std::fflush(file_);
}

std::string hexPreview(const void *bytes, size_t count) {
  static const char kDigits[] = "0123456789ABCDEF";
  const auto *p = static_cast<const unsigned char *>(bytes);
  const size_t shown = count < kLoggedBytesLimit ? count : kLoggedBytesLimit;
  std::string text;
  text.reserve(shown * 3 + 16);
  for (size_t i = 0; i < shown; ++i) {
    if (i) text += ' ';
    text += kDigits[p[i] >> 4];
    text += kDigits[p[i] & 0x0F];
  }
  if (count > shown) text += " ... (+" + std::to_string(count - shown) + ")";
  return text;
}

std::string quoted(const char *text) {
  if (!text) return "(null)";
  std::string out = "\"";
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p; ++p) {
    if (*p < 0x20 || *p == 0x7F || *p == '"' || *p == '\\') {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\x%02X", *p);
      out += escaped;
    } else {
      out += static_cast<char>(*p);
    }
  }
  return out + "\"";
}

}  // namespace megencom32
