// Opening and closing the printer's port.
#include <string>

#include "Cli_Vossik.h"
#include "operations.h"

namespace it433td::driver {
namespace {

// Serial line settings for a port whose name begins with "COM" (byte for
// byte, case-sensitive): 57600 baud, parity 'S' (space), 8 data bits, 1 stop
// bit, flow 1. Any other port opens with five zeros: the device as it is.
constexpr int32_t kSerialSpeed = 57600;
constexpr int32_t kSerialParity = 83;  // 'S'
constexpr int32_t kSerialDataBits = 8;
constexpr int32_t kSerialStopBits = 1;
constexpr int32_t kSerialFlow = 1;

bool isSerialPort(std::string_view port) { return port.substr(0, 3) == "COM"; }

}  // namespace

int32_t openPort(std::string_view port) {
  auto open = Cli_Vossik::MEGENCOM32_AbrirDispositivo;
  if (!open) return IT433TD_NOT_BOUND;
  const std::string name(port);  // the vendor wants a NUL-terminated name
  if (isSerialPort(port))
    return open(name.c_str(), kSerialSpeed, kSerialParity, kSerialDataBits, kSerialStopBits,
                kSerialFlow);
  return open(name.c_str(), 0, 0, 0, 0, 0);
}

int32_t closePort(std::string_view port) {
  auto close = Cli_Vossik::MEGENCOM32_FecharDispositivo;
  if (!close) return IT433TD_NOT_BOUND;
  return close(std::string(port).c_str());
}

}  // namespace it433td::driver
