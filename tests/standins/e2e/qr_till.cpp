// qr_till: one till of a shop that runs two, printing QR codes through the
// built module on its own port, for the test of two tills whose executables
// share one folder (and so one Dados folder).
//
//   qr_till PORT NAME ROUNDS START_MS PERIOD_MS
//
// Loads the module beside our libraries, opens PORT and, at START_MS +
// i * PERIOD_MS on the system's monotonic clock (the same in every process,
// so both tills start each round at the same moment), prints the QR code
// tillPayload(NAME, i). Exit 0 when every call answered 0; otherwise the
// failing calls are written to standard error.
#include <dlfcn.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "till_payload.h"

namespace {

using Start = bool (*)();
using OnPort = int32_t (*)(const char *);
using WithData = int32_t (*)(const char *, const char *, int32_t);

void sleepUntilMs(long long when) {
  timespec at{static_cast<time_t>(when / 1000), static_cast<long>(when % 1000) * 1000000L};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) != 0) {
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: qr_till PORT NAME ROUNDS START_MS PERIOD_MS\n");
    return 2;
  }
  const char *port = argv[1];
  const std::string name = argv[2];
  const int rounds = std::atoi(argv[3]);
  const long long start = std::atoll(argv[4]), period = std::atoll(argv[5]);

  void *module = dlopen(IT433TD_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    std::fprintf(stderr, "%s\n", dlerror());
    return 2;
  }
  const auto startIt = reinterpret_cast<Start>(dlsym(module, "StartIT433TD"));
  const auto openPort = reinterpret_cast<OnPort>(dlsym(module, "IniciaPorta_IT433TD"));
  const auto closePort = reinterpret_cast<OnPort>(dlsym(module, "FechaPorta_IT433TD"));
  const auto qrCode = reinterpret_cast<WithData>(dlsym(module, "ImprimeQRCode_IT433TD"));
  if (!startIt || !openPort || !closePort || !qrCode || !startIt()) {
    std::fprintf(stderr, "%s: the module did not start\n", name.c_str());
    return 2;
  }
  int failures = 0;
  auto check = [&](const char *step, int round, int32_t status) {
    if (status == 0) return;
    std::fprintf(stderr, "%s: %s of round %d answered %d\n", name.c_str(), step, round, status);
    ++failures;
  };
  check("open", -1, openPort(port));
  for (int round = 0; round < rounds; ++round) {
    sleepUntilMs(start + round * period);
    const std::string payload = tillPayload(name, round);
    check("QR code", round, qrCode(port, payload.data(), static_cast<int32_t>(payload.size())));
  }
  check("close", -1, closePort(port));
  return failures == 0 ? 0 : 1;
}
