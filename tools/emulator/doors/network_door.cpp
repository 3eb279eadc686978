// tcp_listener.cpp - the door: listening, the waiting room, and the order in
// which jobs reach the printer (network_job.cpp serves each one).
#include "tcp_listener.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace it433td::printer {

namespace {

void closeFd(int &fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// "127.0.0.1:9100" or "[::1]:9100".
std::string describe(const sockaddr_storage &address) {
  char host[INET6_ADDRSTRLEN] = "?";
  std::uint16_t port = 0;
  if (address.ss_family == AF_INET) {
    const auto &in = reinterpret_cast<const sockaddr_in &>(address);
    ::inet_ntop(AF_INET, &in.sin_addr, host, sizeof host);
    port = ntohs(in.sin_port);
    return std::string(host) + ":" + std::to_string(port);
  }
  const auto &in6 = reinterpret_cast<const sockaddr_in6 &>(address);
  ::inet_ntop(AF_INET6, &in6.sin6_addr, host, sizeof host);
  port = ntohs(in6.sin6_port);
  return "[" + std::string(host) + "]:" + std::to_string(port);
}

// A non-blocking listening socket: the door accepts what is there and goes
// back to watching.
int listenOn(const std::string &host, const std::string &port, sockaddr_storage *bound) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo *found = nullptr;
  if (const int failed = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); failed != 0)
    throw std::runtime_error("cannot listen on " + host + ":" + port + ": " +
                             ::gai_strerror(failed));
  int lastError = EADDRNOTAVAIL;
  int fd = -1;
  for (const addrinfo *at = found; at && fd < 0; at = at->ai_next) {
    fd = ::socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, at->ai_protocol);
    if (fd < 0) {
      lastError = errno;
      continue;
    }
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(fd, at->ai_addr, at->ai_addrlen) != 0 || ::listen(fd, 64) != 0) {
      lastError = errno;
      closeFd(fd);
    }
  }
  ::freeaddrinfo(found);
  if (fd < 0)
    throw std::system_error(lastError, std::generic_category(),
                            "cannot listen on " + host + ":" + port);
  socklen_t length = sizeof *bound;
  ::getsockname(fd, reinterpret_cast<sockaddr *>(bound), &length);
  return fd;
}

}  // namespace

TcpListener::TcpListener(TcpListenerOptions options, ReceiptWriter &writer,
                         std::atomic<PrinterState> &state)
    : options_(std::move(options)), writer_(writer), state_(state) {
  sockaddr_storage bound{};
  listener_ = listenOn(options_.host, options_.port, &bound);
  address_ = describe(bound);
  port_ = bound.ss_family == AF_INET
              ? ntohs(reinterpret_cast<const sockaddr_in &>(bound).sin_port)
              : ntohs(reinterpret_cast<const sockaddr_in6 &>(bound).sin6_port);
  if (::pipe2(stopPipe_, O_CLOEXEC | O_NONBLOCK) != 0 ||
      ::pipe2(finishPipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
    const int failed = errno;
    closeFd(listener_);
    closeFd(stopPipe_[0]);
    closeFd(stopPipe_[1]);
    throw std::system_error(failed, std::generic_category(), "pipe2");
  }
}

TcpListener::~TcpListener() {
  stop();
  closeFd(listener_);
  closeFd(stopPipe_[0]);
  closeFd(stopPipe_[1]);
  closeFd(finishPipe_[0]);
  closeFd(finishPipe_[1]);
}

void TcpListener::start() {
  if (door_.joinable()) return;
  door_ = std::thread([this] { watchDoor(); });
  printer_ = std::thread([this] { printJobs(); });
}

void TcpListener::requestStop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  jobReady_.notify_all();
  const char byte = 1;
  [[maybe_unused]] ssize_t ignored = ::write(stopPipe_[1], &byte, 1);  // full: already asked
}

void TcpListener::finish() {
  const char byte = 1;
  [[maybe_unused]] ssize_t ignored = ::write(finishPipe_[1], &byte, 1);
  if (door_.joinable()) door_.join();
  if (printer_.joinable()) printer_.join();
}

void TcpListener::stop() {
  requestStop();
  if (door_.joinable()) door_.join();
  if (printer_.joinable()) printer_.join();
  for (Connection &waiting : ready_) closeFd(waiting.fd);  // never started: nothing printed
  ready_.clear();
}

void TcpListener::watchDoor() {
  std::vector<Connection> silent;  // accepted, nothing sent yet
  watchConnections(silent);
  for (Connection &connection : silent) closeFd(connection.fd);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    doorClosed_ = true;
  }
  jobReady_.notify_all();
}

void TcpListener::watchConnections(std::vector<Connection> &silent) {
  std::vector<pollfd> fds;
  bool finishing = false;  // the listen queue is taken once more, then never
  for (;;) {
    fds.assign({{stopPipe_[0], POLLIN, 0},
                {finishing ? -1 : listener_, POLLIN, 0},
                {finishing ? -1 : finishPipe_[0], POLLIN, 0}});
    auto wait = std::chrono::milliseconds(-1);
    const auto now = Clock::now();
    for (const Connection &connection : silent) {
      fds.push_back({connection.fd, POLLIN, 0});
      const auto left = std::max(std::chrono::milliseconds(0),
                                 std::chrono::duration_cast<std::chrono::milliseconds>(
                                     connection.since + options_.idleTimeout - now));
      if (wait.count() < 0 || left < wait) wait = left;
    }
    if (::poll(fds.data(), fds.size(), static_cast<int>(wait.count())) < 0) {
      if (errno == EINTR) continue;
      if (options_.log) options_.log(std::string("poll failed: ") + std::strerror(errno));
      return;
    }
    if (fds[0].revents) return;
    // A first byte (or the end of a connection that sent none) takes the
    // connection out of the waiting room: into the printer's queue, in the
    // order the bytes came, or closed. The silent ones are closed at last.
    std::vector<Connection> stillSilent;
    const auto later = Clock::now();
    for (std::size_t i = 0; i < silent.size(); ++i) {
      Connection &connection = silent[i];
      char byte = 0;
      const short events = fds[i + 3].revents;
      const ssize_t peeked = events ? ::recv(connection.fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) : -1;
      const bool gone =
          events && (peeked == 0 || (peeked < 0 && errno != EAGAIN && errno != EINTR));
      if (peeked == 1) {
        std::lock_guard<std::mutex> lock(mutex_);
        ready_.push_back(std::move(connection));
        jobReady_.notify_one();
      } else if (gone || later - connection.since >= options_.idleTimeout) {
        closeFd(connection.fd);
      } else {
        stillSilent.push_back(std::move(connection));
      }
    }
    silent.swap(stillSilent);
    const bool finishNow = !finishing && fds[2].revents;
    if (fds[1].revents || finishNow) admit(silent);
    finishing = finishing || finishNow;
    if (finishing && silent.empty()) return;
  }
}

void TcpListener::admit(std::vector<Connection> &silent) {
  for (;;) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    const int fd = ::accept4(listener_, reinterpret_cast<sockaddr *>(&address), &length,
                             SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of descriptors: the connections stay in the listen queue a
      // moment, rather than the door spinning on them.
      if (errno == EMFILE || errno == ENFILE) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      return;  // EAGAIN: all taken; or the client gave up first
    }
    std::size_t waiting = silent.size();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      waiting += ready_.size();
    }
    if (waiting >= kMaxWaitingConnections) {
      refuse(fd, describe(address));
      continue;
    }
    refusing_ = false;
    silent.push_back({fd, describe(address), Clock::now()});
  }
}

// Closed at once, so the client learns it now instead of waiting in line.
void TcpListener::refuse(int fd, const std::string &peer) {
  ::close(fd);
  if (!refusing_ && options_.log)
    options_.log("network connection from " + peer + " refused: " +
                 std::to_string(kMaxWaitingConnections) +
                 " connections already waiting (more refusals are not logged until one is taken)");
  refusing_ = true;
}

void TcpListener::printJobs() {
  for (;;) {
    Connection job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      jobReady_.wait(lock, [this] { return stopping_ || !ready_.empty() || doorClosed_; });
      if (stopping_ || ready_.empty()) return;  // stopped, or every job served
      job = std::move(ready_.front());
      ready_.pop_front();
    }
    serve(job);
    closeFd(job.fd);
  }
}

}  // namespace it433td::printer
