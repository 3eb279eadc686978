// CODE128 barcodes and the paper cutter: fixed printer commands, each sent
// in a single write call (a partial write is not continued).
#include <string>

#include "Cli_Vossik.h"
#include "operation_rules.h"
#include "operations.h"
#include "platform.h"

namespace it433td::driver {
namespace {

// ESC | 3 0, two fixed parameters, a one-byte data length, then the data.
constexpr char kCode128Prefix[] = {0x1B, 0x7C, 0x33, 0x30, 0x01, 0x00};
constexpr char kLineFeed[] = {0x0A};
constexpr char kCutPaper[] = {0x1B, 0x77};  // ESC w

int32_t writeOnce(MEGENCOM32_EscrevernoDispositivo_fn write, const std::string &port,
                  const char *bytes, size_t count) {
  int32_t written = 0;
  return write(port.c_str(), bytes, static_cast<int32_t>(count), &written);
}

}  // namespace

// The barcode write's own status is not reported: the line feed follows
// after the pause whatever happened, and its status is the result.
int32_t printCode128(std::string_view port, std::string_view data) {
  if (data.size() > kCode128MaxData) return IT433TD_BAD_ARGUMENT;
  auto write = Cli_Vossik::MEGENCOM32_EscrevernoDispositivo;
  if (!write) return IT433TD_NOT_BOUND;

  std::string command(kCode128Prefix, sizeof kCode128Prefix);
  command += static_cast<char>(data.size());
  command.append(data);
  const std::string name(port);
  writeOnce(write, name, command.data(), command.size());
  platform().sleepMs(kBarcodePauseMs);
  return writeOnce(write, name, kLineFeed, sizeof kLineFeed);
}

int32_t fireCutter(std::string_view port) {
  auto write = Cli_Vossik::MEGENCOM32_EscrevernoDispositivo;
  if (!write) return IT433TD_NOT_BOUND;
  return writeOnce(write, std::string(port), kCutPaper, sizeof kCutPaper);
}

}  // namespace it433td::driver
