// The Windows build of the device library, MEGENCOM32.dll of the width ctest
// names (wine_width.h), under Wine: the ten MEGENCOM32_* functions of this
// test program pass each call on to device_runner_win.exe
// (tests/wine/device_runner_win.cpp), one request line and one answer line,
// and copy back what the library wrote through its pointers. One runner per
// case, started in the case's folder.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "MEGENCOM32.h"
#include "device_backend.h"
#include "device_requests.h"
#include "wine_width.h"

namespace {

// Answered in place of a status when the runner is gone.
constexpr int32_t kRunnerGone = -99;

struct Runner {
  pid_t pid = -1;
  int requests = -1;           // the runner's stdin
  std::FILE *answers = nullptr;  // the runner's stdout
};
Runner runner;
long long runnerCallMs = -1;  // the runner's timing of the last call

using device_requests::hexToken;

std::string text(const char *s) {
  return s != nullptr ? hexToken(s, strlen(s)) : device_requests::kNull;
}
std::string out(const int32_t *value) { return value ? std::to_string(*value) : "~"; }

// Sends one request and reads its answer line, without the call's time in
// front (kept for lastCallMs); empty when the runner is gone.
std::string ask(const std::string &request) {
  const std::string line = request + "\n";
  if (runner.requests < 0 ||
      write(runner.requests, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
    ADD_FAILURE() << "the Wine runner does not take requests";
    return "";
  }
  std::string answer;
  for (int c; (c = std::fgetc(runner.answers)) != EOF && c != '\n';)
    answer += static_cast<char>(c);
  if (answer.empty())
    ADD_FAILURE() << "no answer from the Wine runner to: " << request.substr(0, 80);
  const size_t blank = answer.find(' ');
  runnerCallMs = blank == std::string::npos ? -1 : std::stoll(answer.substr(0, blank));
  return blank == std::string::npos ? "" : answer.substr(blank + 1);
}

int32_t statusOf(std::istringstream &answer) {
  long long status = kRunnerGone;
  answer >> status;
  return static_cast<int32_t>(status);
}

void copyOut(std::istringstream &answer, int32_t *value) {
  std::string token;
  answer >> token;
  if (value != nullptr && token != "~" && !token.empty())
    *value = static_cast<int32_t>(std::stol(token));
}

}  // namespace

namespace device_backend {

void start(const std::string &folder) {
  int toRunner[2], fromRunner[2];
  ASSERT_EQ(pipe2(toRunner, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(fromRunner, O_CLOEXEC), 0);
  const std::string wineDir = IT433TD_WINE_DIR;
  const it433td::wine_test::WineWidth width = it433td::wine_test::wineWidth();
  const std::string program = (width.bin / "device_runner_win.exe").string();
  runner.pid = fork();
  ASSERT_GE(runner.pid, 0);
  if (runner.pid == 0) {
    dup2(toRunner[0], 0);
    dup2(fromRunner[1], 1);
    // Wine's own messages, and a lingering wineserver, stay off the test's
    // output.
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    if (chdir(folder.c_str()) != 0) _exit(127);
    setenv("WINEPREFIX", (wineDir + "/prefix").c_str(), 1);
    setenv("WINEDEBUG", "-all", 1);
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
    unsetenv("DISPLAY");
    execl(width.loader.c_str(), width.loader.c_str(), program.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  close(toRunner[0]);
  close(fromRunner[1]);
  runner.requests = toRunner[1];
  runner.answers = fdopen(fromRunner[0], "r");
  char ready[16] = {};
  ASSERT_NE(std::fgets(ready, sizeof ready, runner.answers), nullptr)
      << "device_runner_win.exe did not start under Wine (prepared with scripts/wine-test.sh?)";
  ASSERT_STREQ(ready, "ready\n");
}

void stop() {
  if (runner.requests >= 0) close(runner.requests);  // end of input: the runner ends
  if (runner.answers != nullptr) std::fclose(runner.answers);
  if (runner.pid > 0) waitpid(runner.pid, nullptr, 0);
  runner = Runner{};
}

std::string portName(const std::string &path) {
  std::string name = "Z:" + path;
  for (char &c : name)
    if (c == '/') c = '\\';
  return name;
}

bool native() { return false; }

std::optional<long long> lastCallMs() {
  if (runnerCallMs < 0) return std::nullopt;
  return runnerCallMs;
}

}  // namespace device_backend

extern "C" {

int32_t IT433TD_CALL MEGENCOM32_AbrirDispositivo(const char *port, int32_t speed, int32_t parity,
                                                 int32_t dataBits, int32_t stopBits,
                                                 int32_t flow) {
  std::ostringstream request;
  request << "open " << text(port) << ' ' << speed << ' ' << parity << ' ' << dataBits << ' '
          << stopBits << ' ' << flow;
  std::istringstream answer(ask(request.str()));
  return statusOf(answer);
}

int32_t IT433TD_CALL MEGENCOM32_FecharDispositivo(const char *port) {
  std::istringstream answer(ask("close " + text(port)));
  return statusOf(answer);
}

int32_t IT433TD_CALL MEGENCOM32_ConfigurarTimeoutsRXTX(const char *port, int32_t readTimeoutMs,
                                                       int32_t writeTimeoutMs) {
  std::istringstream answer(ask("timeouts " + text(port) + " " + std::to_string(readTimeoutMs) +
                                " " + std::to_string(writeTimeoutMs)));
  return statusOf(answer);
}

int32_t IT433TD_CALL MEGENCOM32_EscrevernoDispositivo(const char *port, const void *bytes,
                                                      int32_t count, int32_t *written) {
  const size_t sent = count > 0 ? static_cast<size_t>(count) : 0;
  const std::string data = bytes == nullptr ? device_requests::kNull : hexToken(bytes, sent);
  std::istringstream answer(ask("write " + text(port) + " " + data + " " + std::to_string(count) +
                                " " + out(written)));
  const int32_t status = statusOf(answer);
  copyOut(answer, written);
  return status;
}

int32_t IT433TD_CALL MEGENCOM32_LeroDispositivo(const char *port, void *buffer, int32_t capacity,
                                                int32_t *read) {
  std::istringstream answer(ask("read " + text(port) + " " + (buffer ? "1" : "~") + " " +
                                std::to_string(capacity) + " " + out(read)));
  const int32_t status = statusOf(answer);
  copyOut(answer, read);
  std::string bytes;
  answer >> bytes;
  const std::string got = device_requests::bytesOf(bytes).value_or("");
  if (buffer != nullptr && got.size() <= static_cast<size_t>(capacity > 0 ? capacity : 0))
    std::memcpy(buffer, got.data(), got.size());
  return status;
}

int32_t IT433TD_CALL MEGENCOM32_PreparaImpressao(const char *port) {
  std::istringstream answer(ask("prepare " + text(port)));
  return statusOf(answer);
}

int32_t IT433TD_CALL MEGENCOM32_AguardaImpressao(const char *port, int32_t timeoutMs) {
  std::istringstream answer(ask("wait " + text(port) + " " + std::to_string(timeoutMs)));
  return statusOf(answer);
}

int32_t IT433TD_CALL MEGENCOM32_AguardaImpressaoStr(const char *port, int32_t timeoutMs,
                                                    char *message, int32_t capacity) {
  std::istringstream answer(ask("waitstr " + text(port) + " " + std::to_string(timeoutMs) + " " +
                                (message ? "1" : "~") + " " + std::to_string(capacity)));
  const int32_t status = statusOf(answer);
  std::string bytes;
  answer >> bytes;
  const std::string buffer = device_requests::bytesOf(bytes).value_or("");
  if (message != nullptr && buffer.size() <= static_cast<size_t>(capacity > 0 ? capacity : 0))
    std::memcpy(message, buffer.data(), buffer.size());
  return status;
}

int32_t IT433TD_CALL MEGENCOM32_StatusDoDispositivo(const char *port, int32_t *statusByte) {
  std::istringstream answer(ask("status " + text(port) + " " + out(statusByte)));
  const int32_t status = statusOf(answer);
  copyOut(answer, statusByte);
  return status;
}

int32_t IT433TD_CALL MEGENCOM32_AtivarLOG(int32_t on, const char *path) {
  std::istringstream answer(ask("log " + std::to_string(on) + " " + text(path)));
  return statusOf(answer);
}

}  // extern "C"
