// run_control.cpp - the control socket's poll loop, and its client.
#include "emulator/run/run_control.h"

#include "common/shown_text.h"
#include "common/tool_error.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace it433td::tools {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kRequestTime = std::chrono::seconds(5);
constexpr int kListenQueue = 16;

bool socketAddress(const std::string &path, sockaddr_un *address) {
  *address = sockaddr_un{};
  address->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.data(), path.size());
  return true;
}

int millisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for `events` on fd until the deadline: false on time out or error.
bool waitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd ready{fd, events, 0};
    const int got = ::poll(&ready, 1, millisecondsLeft(deadline));
    if (got < 0 && errno == EINTR) continue;
    return got > 0 && (ready.revents & events);
  }
}

// Reads one line (without its '\n') of at most `limit` bytes before the
// deadline; false otherwise. Nothing past the line is read: the peer
// sends one.
bool readLine(int fd, std::size_t limit, Clock::time_point deadline, std::string *line) {
  line->clear();
  for (;;) {
    char byte = 0;
    const ssize_t got = ::read(fd, &byte, 1);
    if (got == 1) {
      if (byte == '\n') return true;
      if (line->size() >= limit) return false;
      line->push_back(byte);
      continue;
    }
    if (got == 0) return false;
    if (errno == EINTR) continue;
    if (errno != EAGAIN || !waitFor(fd, POLLIN, deadline)) return false;
  }
}

bool writeAll(int fd, const std::string &text, Clock::time_point deadline) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t wrote = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (wrote > 0) {
      done += static_cast<std::size_t>(wrote);
      continue;
    }
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote == 0 || errno != EAGAIN || !waitFor(fd, POLLOUT, deadline)) return false;
  }
  return true;
}

// The answer's words, on one line: no line feed of a refused name gets in.
std::string oneLine(std::string text) {
  for (char &c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

}  // namespace

RunControl::RunControl(const std::filesystem::path &folder, LabelHandler onLabel)
    : path_(folder / "control"), onLabel_(std::move(onLabel)) {
  const auto fail = [&](const std::string &what, int error) {
    if (listening_ >= 0) ::close(listening_);
    for (int &end : stopPipe_)
      if (end >= 0) ::close(end);
    throw ToolError(kExitNoModule, "cannot make the run's control socket " +
                                       shownText(path_.string()) + ": " + what + " (" +
                                       std::strerror(error) + ")");
  };
  sockaddr_un address{};
  if (!socketAddress(path_.string(), &address))
    throw ToolError(kExitNoModule, "cannot make the run's control socket: its path " +
                                       shownText(path_.string()) + " is longer than " +
                                       std::to_string(sizeof address.sun_path - 1) +
                                       " bytes (set TMPDIR to a shorter folder)");
  listening_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listening_ < 0) fail("socket", errno);
  if (::bind(listening_, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
    fail("bind", errno);
  if (::chmod(path_.c_str(), 0600) != 0) fail("chmod", errno);
  if (::listen(listening_, kListenQueue) != 0) fail("listen", errno);
  if (::pipe2(stopPipe_, O_CLOEXEC | O_NONBLOCK) != 0) fail("pipe2", errno);
  thread_ = std::thread([this] { serve(); });
}

RunControl::~RunControl() {
  const char byte = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(stopPipe_[1], &byte, 1);
  thread_.join();
  ::close(listening_);
  ::close(stopPipe_[0]);
  ::close(stopPipe_[1]);
  ::unlink(path_.c_str());
}

std::string RunControl::environment() const {
  return std::string(kRunSocketVariable) + "=" + path_.string();
}

void RunControl::serve() {
  for (;;) {
    pollfd fds[2] = {{stopPipe_[0], POLLIN, 0}, {listening_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (fds[0].revents) return;
    if (!(fds[1].revents & POLLIN)) continue;
    const int connection = ::accept4(listening_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (connection < 0) continue;
    answer(connection);
    ::close(connection);
  }
}

void RunControl::answer(int connection) {
  const auto deadline = Clock::now() + kRequestTime;
  ucred peer{};
  socklen_t size = sizeof peer;
  if (::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 ||
      (peer.uid != ::geteuid() && peer.uid != 0)) {
    writeAll(connection, "error not this run's user\n", deadline);
    return;
  }
  std::string request;
  if (!readLine(connection, kMaxControlRequestBytes, deadline, &request)) {
    writeAll(connection, "error one line of at most 1 KiB, within 5 s\n", deadline);
    return;
  }
  constexpr std::string_view kLabel = "label ";
  if (request.rfind(kLabel, 0) != 0) {
    writeAll(connection, "error unknown request (the one request is: label NAME)\n", deadline);
    return;
  }
  const std::string problem = onLabel_(request.substr(kLabel.size()));
  // The label may have waited for the doors; the answer has its own time.
  writeAll(connection, problem.empty() ? "ok\n" : "error " + oneLine(problem) + "\n",
           Clock::now() + kRequestTime);
}

std::string requestLabel(const std::string &name, std::chrono::milliseconds timeout) {
  const char *path = std::getenv(kRunSocketVariable);
  if (!path || !*path)
    return "not inside a run of `it433td emulate ... -- COMMAND` (" +
           std::string(kRunSocketVariable) + " is not set)";
  if (name.find('\n') != std::string::npos) return "a label cannot hold a line feed";
  sockaddr_un address{};
  if (!socketAddress(path, &address)) return std::string(kRunSocketVariable) + " names no socket";
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::string("no socket: ") + std::strerror(errno);
  // Blocking, each step bounded: connect waits for room in the run's
  // listen queue no longer than the send time-out.
  const auto deadline = Clock::now() + timeout;
  const auto seconds = std::chrono::duration_cast<std::chrono::microseconds>(timeout).count();
  const timeval bound{static_cast<time_t>(seconds / 1'000'000),
                      static_cast<suseconds_t>(seconds % 1'000'000)};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
  std::string problem;
  std::string answer;
  if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
    problem = "the run's control socket " + shownText(path) + " does not answer (" +
              std::strerror(errno) + "); has the run ended?";
  else if (!writeAll(fd, "label " + name + "\n", deadline) ||
           !readLine(fd, kMaxControlRequestBytes, deadline, &answer))
    problem = "the run did not answer in time";
  else if (answer != "ok")
    problem = answer.rfind("error ", 0) == 0 ? answer.substr(6) : "unexpected answer: " + answer;
  ::close(fd);
  return problem;
}

}  // namespace it433td::tools
