// Starting a Windows program under Wine from a Linux test, and waiting for it
// with a bound. Shared by wine_capture and the two-till test.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace it433td::wine_test {

// Runs `args` (args[0] is the Wine loader or another program) in `folder`
// under the Wine prefix `prefix`, in a process group of its own, with its
// standard output to `output` and its errors to `output`.stderr: Wine's own
// processes (a wineserver lingers for a few seconds) get files, never the
// test runner's pipes. Returns the child's pid.
inline pid_t startWine(const std::vector<std::string> &args, const std::filesystem::path &folder,
                       const std::filesystem::path &output, const std::filesystem::path &prefix) {
  const pid_t child = fork();
  if (child != 0) return child;
  setpgid(0, 0);
  const int outFd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int errFd = open((output.string() + ".stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int nullFd = open("/dev/null", O_RDWR);
  if (outFd < 0 || errFd < 0 || nullFd < 0 || chdir(folder.c_str()) != 0) _exit(126);
  dup2(nullFd, 0);
  dup2(outFd, 1);
  dup2(errFd, 2);
  setenv("WINEPREFIX", prefix.c_str(), 1);
  setenv("WINEDEBUG", "-all", 1);
  setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
  unsetenv("DISPLAY");
  std::vector<char *> argv;
  for (const auto &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
  argv.push_back(nullptr);
  execv(argv[0], argv.data());
  _exit(127);
}

// Waits for `child` at most `limit`, then kills its whole group. Its exit
// code, 128 + the signal that ended it, or -1 when it had to be killed.
inline int finishWine(pid_t child, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (waitpid(child, &status, WNOHANG) != child) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(-child, SIGKILL);
      waitpid(child, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace it433td::wine_test
