// pipe_timeout_win.exe: MEGENCOM32.dll on a port whose far end takes
// nothing. A named pipe server that never reads (and never answers) stands
// for a stuck printer share; the library reaches it by its name
// \\.\pipe\... . Every call must come back within its timeout: the write
// with TIMEOUT and an honest count of what went out, the status request
// with NO_ANSWER, the read with TIMEOUT. The library writes such a device
// in 4 KiB pieces, so the count is exact when the server stops reading
// between pieces, as it does here.
//
//   pipe_timeout_win.exe      (beside MEGENCOM32.dll)
//
// Prints one line per check ("ok ..." or "FAILED ..."); exit code 0 when
// every check passed, 1 when one failed, 2 when the library or a pipe could
// not be set up, 3 when a call did not return within the watchdog's limit.
#include <windows.h>

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace {

// Statuses of MEGENCOM32.h.
constexpr int32_t kOk = 0;
constexpr int32_t kTimeout = 8;
constexpr int32_t kNoAnswer = 13;

constexpr int32_t kReadTimeoutMs = 300;
constexpr int32_t kWriteTimeoutMs = 500;
constexpr int32_t kWriteCount = 1 << 20;
// Far above any timeout in play: reached only when a call hangs.
constexpr DWORD kWatchdogMs = 60000;

using OpenFn = int32_t(WINAPI *)(const char *, int32_t, int32_t, int32_t, int32_t, int32_t);
using PortFn = int32_t(WINAPI *)(const char *);
using TimeoutsFn = int32_t(WINAPI *)(const char *, int32_t, int32_t);
using WriteFn = int32_t(WINAPI *)(const char *, const void *, int32_t, int32_t *);
using ReadFn = int32_t(WINAPI *)(const char *, void *, int32_t, int32_t *);
using StatusFn = int32_t(WINAPI *)(const char *, int32_t *);

struct Library {
  OpenFn open;
  PortFn close;
  TimeoutsFn timeouts;
  WriteFn write;
  ReadFn read;
  StatusFn status;
};

template <typename Fn>
bool find(HMODULE module, const char *name, Fn &out) {
  out = reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(module, name)));
  if (out == nullptr) printf("missing export %s\n", name);
  return out != nullptr;
}

int failures = 0;

void check(bool passed, const char *what, long long got, long long ms) {
  printf("%s %s (got %lld, %lld ms)\n", passed ? "ok" : "FAILED", what, got, ms);
  fflush(stdout);
  if (!passed) ++failures;
}

DWORD WINAPI watchdog(void *) {
  Sleep(kWatchdogMs);
  printf("FAILED a call did not return within %lu ms\n", kWatchdogMs);
  fflush(stdout);
  ExitProcess(3);
}

// The server's side of the partial write: reads kTakenByServer bytes, then
// stops reading for good.
constexpr DWORD kTakenByServer = 65536;

DWORD WINAPI takeSome(void *server) {
  std::vector<char> chunk(kTakenByServer);
  DWORD total = 0;
  while (total < kTakenByServer) {
    DWORD got = 0;
    if (!ReadFile(static_cast<HANDLE>(server), chunk.data(), kTakenByServer - total, &got,
                  nullptr) ||
        got == 0)
      break;
    total += got;
  }
  return total;
}

// What the server end can read now, taken off the pipe.
long long drain(HANDLE server) {
  long long total = 0;
  std::vector<char> chunk(65536);
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(server, nullptr, 0, nullptr, &available, nullptr) || available == 0)
      return total;
    DWORD got = 0;
    if (!ReadFile(server, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) || got == 0)
      return total;
    total += got;
  }
}

}  // namespace

int main() {
  HMODULE module = LoadLibraryA("MEGENCOM32.dll");
  if (module == nullptr) {
    printf("cannot load MEGENCOM32.dll: %lu\n", GetLastError());
    return 2;
  }
  Library lib{};
  if (!(find(module, "MEGENCOM32_AbrirDispositivo", lib.open) &
        find(module, "MEGENCOM32_FecharDispositivo", lib.close) &
        find(module, "MEGENCOM32_ConfigurarTimeoutsRXTX", lib.timeouts) &
        find(module, "MEGENCOM32_EscrevernoDispositivo", lib.write) &
        find(module, "MEGENCOM32_LeroDispositivo", lib.read) &
        find(module, "MEGENCOM32_StatusDoDispositivo", lib.status)))
    return 2;

  const std::string port = "\\\\.\\pipe\\it433td-never-read-" + std::to_string(GetCurrentProcessId());
  // The smallest buffers the pipe allows: the 1 MiB write cannot fit.
  HANDLE server = CreateNamedPipeA(port.c_str(), PIPE_ACCESS_DUPLEX,
                                   PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096,
                                   0, nullptr);
  if (server == INVALID_HANDLE_VALUE) {
    printf("cannot create %s: %lu\n", port.c_str(), GetLastError());
    return 2;
  }
  HANDLE dog = CreateThread(nullptr, 0, watchdog, nullptr, 0, nullptr);
  if (dog == nullptr) return 2;

  ULONGLONG started = GetTickCount64();
  const auto took = [&] { return static_cast<long long>(GetTickCount64() - started); };

  int32_t status = lib.open(port.c_str(), 0, 0, 0, 0, 0);
  check(status == kOk, "AbrirDispositivo opens the pipe", status, took());
  if (status != kOk) return 1;
  status = lib.timeouts(port.c_str(), kReadTimeoutMs, kWriteTimeoutMs);
  check(status == kOk, "ConfigurarTimeoutsRXTX takes 300/500 ms", status, took());

  std::vector<char> bytes(kWriteCount, 'x');
  int32_t written = -1;
  started = GetTickCount64();
  status = lib.write(port.c_str(), bytes.data(), kWriteCount, &written);
  const long long writeMs = took();
  check(status == kTimeout, "EscrevernoDispositivo of 1 MiB answers TIMEOUT", status, writeMs);
  check(written >= 0 && written < kWriteCount, "the write reports a partial count", written,
        writeMs);
  // The count is honest: the server finds exactly that many bytes waiting.
  const long long arrived = drain(server);
  check(arrived == written, "the server finds as many bytes as the write reported", arrived,
        writeMs);

  // The server takes 64 KiB, then no more: the count says at least that,
  // and exactly what reached the server.
  HANDLE taker = CreateThread(nullptr, 0, takeSome, server, 0, nullptr);
  if (taker == nullptr) return 2;
  written = -1;
  started = GetTickCount64();
  status = lib.write(port.c_str(), bytes.data(), kWriteCount, &written);
  const long long partialMs = took();
  WaitForSingleObject(taker, INFINITE);
  DWORD taken = 0;
  GetExitCodeThread(taker, &taken);
  CloseHandle(taker);
  check(status == kTimeout, "a write the server reads in part answers TIMEOUT", status,
        partialMs);
  check(written >= static_cast<int32_t>(kTakenByServer) && written < kWriteCount,
        "its count covers what the server took", written, partialMs);
  const long long reached = taken + drain(server);
  check(reached == written, "the server got exactly the bytes reported", reached, partialMs);

  int32_t answer = 0;
  started = GetTickCount64();
  status = lib.status(port.c_str(), &answer);
  check(status == kNoAnswer, "StatusDoDispositivo answers NO_ANSWER", status, took());
  check(answer == -1, "StatusDoDispositivo reports no answer byte", answer, took());

  char answerByte = 0;
  int32_t got = -1;
  started = GetTickCount64();
  status = lib.read(port.c_str(), &answerByte, 1, &got);
  check(status == kTimeout && got == 0, "LeroDispositivo answers TIMEOUT with nothing read", status,
        took());

  started = GetTickCount64();
  status = lib.close(port.c_str());
  check(status == kOk, "FecharDispositivo closes the pipe", status, took());
  CloseHandle(server);
  return failures == 0 ? 0 : 1;
}
