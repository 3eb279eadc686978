// Child processes with fork and execve; output through pipes read by poll.
#include "tool_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace tool_test {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

int spawn(const fs::path &program, const std::vector<std::string> &args,
          const std::vector<std::string> &environment, int outFd, int errFd) {
  std::vector<std::string> argStrings{program.string()};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<std::string> envStrings(environment);
  for (char **entry = environ; *entry; ++entry) envStrings.emplace_back(*entry);
  std::vector<char *> argv, envp;
  for (auto &s : argStrings) argv.push_back(s.data());
  for (auto &s : envStrings) envp.push_back(s.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  const int pid = ::fork();
  if (pid == 0) {
    ::dup2(outFd, STDOUT_FILENO);
    ::dup2(errFd, STDERR_FILENO);
    const int null = ::open("/dev/null", O_RDONLY);
    ::dup2(null, STDIN_FILENO);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  return pid;
}

int exitStatusOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

// Reads what is there on `fd` into `into`; false at end of file.
bool drain(int fd, std::string &into) {
  char buffer[4096];
  const ssize_t got = ::read(fd, buffer, sizeof buffer);
  if (got > 0) into.append(buffer, static_cast<std::size_t>(got));
  return got > 0 || (got < 0 && (errno == EINTR || errno == EAGAIN));
}

}  // namespace

Finished run(const fs::path &program, const std::vector<std::string> &args,
             const std::vector<std::string> &environment, std::chrono::seconds limit) {
  Finished finished;
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return finished;
  const int pid = spawn(program, args, environment, out[1], err[1]);
  ::close(out[1]);
  ::close(err[1]);
  const auto deadline = Clock::now() + limit;
  bool outOpen = true, errOpen = true;
  while ((outOpen || errOpen) && Clock::now() < deadline) {
    pollfd fds[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
    if (::poll(fds, 2, 200) <= 0) continue;
    if (fds[0].revents) outOpen = drain(out[0], finished.out);
    if (fds[1].revents) errOpen = drain(err[0], finished.err);
  }
  if (outOpen || errOpen) ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(out[0]);
  ::close(err[0]);
  finished.exitStatus = exitStatusOf(status);
  return finished;
}

Background::Background(const fs::path &program, const std::vector<std::string> &args) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return;
  pid_ = spawn(program, args, {}, out[1], STDERR_FILENO);
  ::close(out[1]);
  out_ = out[0];
}

Background::~Background() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) ::close(out_);
}

bool Background::waitForLine(const std::string &text, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    const std::size_t found = output_.find(text, seen_);
    if (found != std::string::npos && output_.find('\n', found) != std::string::npos) {
      seen_ = output_.find('\n', found) + 1;
      return true;
    }
    if (Clock::now() >= deadline) return false;
    pollfd fd{out_, POLLIN, 0};
    if (::poll(&fd, 1, 100) > 0 && !drain(out_, output_)) return false;
  }
}

void Background::signal(int number) const {
  if (pid_ > 0) ::kill(pid_, number);
}

int Background::wait(std::chrono::seconds limit) {
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    pollfd fd{out_, POLLIN, 0};
    if (::poll(&fd, 1, 100) > 0) drain(out_, output_);
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      while (drain(out_, output_)) {
      }
      return exitStatusOf(status);
    }
  }
  return -1;
}

TempFolder::TempFolder() {
  std::string pattern = (fs::temp_directory_path() / "it433td-tools-XXXXXX").string();
  if (::mkdtemp(pattern.data())) path = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ec;
  if (!path.empty()) fs::remove_all(path, ec);
}

std::string readFile(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace tool_test
