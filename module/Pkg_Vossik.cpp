// Pkg_Vossik: the module's exported boundary.
//
// Loading and unloading the module do no driver work: no library is loaded
// and no port is touched until the host calls StartIT433TD. Each exported
// function here is a few lines: it checks the host's arguments, takes the
// process-wide lock that serialises every operation (two QR codes printed at
// once would otherwise overwrite each other's printer file), and forwards to
// the driver unit. No exception unwinds into the host.
#include <climits>
#include <mutex>
#include <string_view>

#include "Cli_Vossik.h"
#include "operations.h"

namespace {

std::mutex operationLock;

template <typename Operation>
auto serialised(Operation &&operation, decltype(operation()) onFailure) noexcept {
  try {
    const std::lock_guard<std::mutex> hold(operationLock);
    return operation();
  } catch (...) {
    return onFailure;
  }
}

// Runs a printer operation on `port` under the lock. The vendor takes the
// port's name NUL-terminated, so a name holding a 0x00 byte would address
// another port than the one asked for: it is bad input.
template <typename Operation>
int32_t serialisedStatus(std::string_view port, Operation &&operation) noexcept {
  if (port.find('\0') != std::string_view::npos) return IT433TD_BAD_ARGUMENT;
  return serialised(std::forward<Operation>(operation), int32_t{IT433TD_INTERNAL_ERROR});
}

// A null port is the empty name: it still reaches the vendor as "".
std::string_view portName(const char *port) { return port ? std::string_view(port) : ""; }

// Runs a qualified operation on the host's port name and length-counted
// bytes. A negative length, or a null pointer with a positive length, is bad
// input: nothing is called.
int32_t withHostBytes(int32_t (*operation)(std::string_view, std::string_view),
                      const char *port, const char *bytes, int32_t length) {
  if (length < 0 || (!bytes && length > 0)) return IT433TD_BAD_ARGUMENT;
  const auto view =
      length ? std::string_view(bytes, static_cast<size_t>(length)) : std::string_view();
  return operation(portName(port), view);
}

}  // namespace

namespace drv = it433td::driver;

// --- Qualified names -----------------------------------------------------

namespace Cli_Vossik {

bool StartIT433TD() {
  return serialised([] { return drv::start(); }, false);
}

void StopIT433TD() {
  serialised([] { drv::stop(); return true; }, false);
}

int32_t IniciaPorta_IT433TD(std::string_view port) {
  return serialisedStatus(port, [&] { return drv::openPort(port); });
}

int32_t FechaPorta_IT433TD(std::string_view port) {
  return serialisedStatus(port, [&] { return drv::closePort(port); });
}

int32_t FormataTX_IT433TD(std::string_view port, std::string_view text) {
  return serialisedStatus(port, [&] { return drv::printCondensed(port, text); });
}

int32_t ImprimeCODE128_IT433TD(std::string_view port, std::string_view data) {
  return serialisedStatus(port, [&] { return drv::printCode128(port, data); });
}

int32_t AcionaGuilhotina_IT433TD(std::string_view port) {
  return serialisedStatus(port, [&] { return drv::fireCutter(port); });
}

int32_t ImprimeQRCode_IT433TD(std::string_view port, std::string_view data) {
  return serialisedStatus(port, [&] { return drv::printQrCode(port, data); });
}

}  // namespace Cli_Vossik

// --- Plain names ----------------------------------------------------------
//
// Each plain name is defined from the header's list IT433TD_PLAIN_OPERATIONS
// and forwards to its qualified name: plain() turns the host's C arguments
// into the views that the qualified name takes.

namespace {

auto plain(bool (*operation)()) {
  return [operation] { return operation(); };
}

auto plain(int32_t (*operation)(std::string_view)) {
  return [operation](const char *port) { return operation(portName(port)); };
}

auto plain(int32_t (*operation)(std::string_view, std::string_view)) {
  return [operation](const char *port, const char *bytes, int32_t length) {
    return withHostBytes(operation, port, bytes, length);
  };
}

}  // namespace

extern "C" {

#define IT433TD_DEFINE_PLAIN(name, result, parameters, arguments) \
  result IT433TD_CALL name parameters { return plain(Cli_Vossik::name) arguments; }
IT433TD_PLAIN_OPERATIONS(IT433TD_DEFINE_PLAIN)
#undef IT433TD_DEFINE_PLAIN

}  // extern "C"
