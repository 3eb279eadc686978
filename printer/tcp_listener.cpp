// tcp_listener.cpp - accept, serve one job, accept the next.
#include "tcp_listener.h"

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
    fd = ::socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC, at->ai_protocol);
    if (fd < 0) {
      lastError = errno;
      continue;
    }
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(fd, at->ai_addr, at->ai_addrlen) != 0 || ::listen(fd, 16) != 0) {
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
  if (::pipe2(stopPipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
    const int failed = errno;
    closeFd(listener_);
    throw std::system_error(failed, std::generic_category(), "pipe2");
  }
}

TcpListener::~TcpListener() {
  stop();
  closeFd(listener_);
  closeFd(stopPipe_[0]);
  closeFd(stopPipe_[1]);
}

void TcpListener::start() {
  if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
}

void TcpListener::stop() {
  const char byte = 1;
  [[maybe_unused]] ssize_t ignored = ::write(stopPipe_[1], &byte, 1);  // full: already asked
  if (thread_.joinable()) thread_.join();
}

void TcpListener::run() {
  for (;;) {
    pollfd fds[2] = {{stopPipe_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      if (options_.log) options_.log(std::string("poll failed: ") + std::strerror(errno));
      return;
    }
    if (fds[0].revents) return;
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    const int connection =
        ::accept4(listener_, reinterpret_cast<sockaddr *>(&peer), &length, SOCK_CLOEXEC);
    if (connection < 0) continue;  // the client gave up first, or out of descriptors: next
    serve(connection, describe(peer));
    ::close(connection);
  }
}

void TcpListener::serve(int connection, const std::string &peer) {
  // Answers go out at once and are dropped, never waited for, if the client
  // does not read them.
  VirtualPrinter printer([this](Receipt &&receipt) { writer_.submit(std::move(receipt)); },
                         [connection](std::uint8_t answer) {
                           ::send(connection, &answer, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                         });
  printer.shareState(state_);
  std::uint64_t received = 0;
  std::string ending = "end of the job";
  for (;;) {
    pollfd fds[2] = {{stopPipe_[0], POLLIN, 0}, {connection, POLLIN, 0}};
    const int ready = ::poll(fds, 2, static_cast<int>(options_.idleTimeout.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) {
      ending = "nothing sent for " + std::to_string(options_.idleTimeout.count()) + " ms";
      break;
    }
    if (ready < 0 || fds[0].revents) {
      // What has arrived is printed; what the client still sends is not waited for.
      std::uint8_t buffer[4096];
      ssize_t got;
      for (int reads = 0; reads < 256 &&  // what the socket holds, not a flood
                          (got = ::recv(connection, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;
           ++reads) {
        received += static_cast<std::uint64_t>(got);
        printer.feed(buffer, static_cast<std::size_t>(got));
      }
      ending = "the printer stopped";
      break;
    }
    std::uint8_t buffer[4096];
    const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // end of stream, or the connection reset
    received += static_cast<std::uint64_t>(got);
    printer.feed(buffer, static_cast<std::size_t>(got));
  }
  printer.finish(ending);
  if (options_.log)
    options_.log("network job from " + peer + ": " + std::to_string(received) + " bytes, " + ending);
}

}  // namespace it433td::printer
