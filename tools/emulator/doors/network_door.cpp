// network_door.cpp - the TCP listener, and the network door's options.
#include "emulator/doors/network_door.h"

#include "common/host_port.h"
#include "common/tool_error.h"
#include "emulator/doors/limit_words.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace it433td::tools {

namespace {

// "127.0.0.1:9100" or "[::1]:9100".
std::string describeAddress(const sockaddr_storage &address) {
  char host[INET6_ADDRSTRLEN] = "?";
  if (address.ss_family == AF_INET) {
    const auto &in = reinterpret_cast<const sockaddr_in &>(address);
    ::inet_ntop(AF_INET, &in.sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(in.sin_port));
  }
  const auto &in6 = reinterpret_cast<const sockaddr_in6 &>(address);
  ::inet_ntop(AF_INET6, &in6.sin6_addr, host, sizeof host);
  return "[" + std::string(host) + "]:" + std::to_string(ntohs(in6.sin6_port));
}

std::string peerOf(int connection) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getpeername(connection, reinterpret_cast<sockaddr *>(&address), &length) != 0) return "?";
  return describeAddress(address);
}

// A non-blocking listening socket: the waiting room accepts what is there
// and goes back to watching.
int listenOn(const std::string &host, const std::string &port) {
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
      ::close(fd);
      fd = -1;
    }
  }
  ::freeaddrinfo(found);
  if (fd < 0)
    throw std::system_error(lastError, std::generic_category(),
                            "cannot listen on " + host + ":" + port);
  return fd;
}

}  // namespace

NetworkDoor::NetworkDoor(const NetworkDoorOptions &options, const DoorContext &context)
    : NetworkDoor(listenOn(options.host, options.port), context, options.limits) {}

NetworkDoor::NetworkDoor(int listener, const DoorContext &context, const JobLimits &limits)
    : JobDoor(listener, peerOf, limits, context) {
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  ::getsockname(listener, reinterpret_cast<sockaddr *>(&bound), &length);
  address_ = describeAddress(bound);
  port_ = bound.ss_family == AF_INET
              ? ntohs(reinterpret_cast<const sockaddr_in &>(bound).sin_port)
              : ntohs(reinterpret_cast<const sockaddr_in6 &>(bound).sin6_port);
}

std::vector<std::string> NetworkDoor::describe() const {
  return {"network printer on " + address_ + ": raw print jobs, one at a time, each at most " +
          durationWords(limits().jobTimeout) + " and " + sizeWords(limits().jobLimit) +
          ", printer " + std::string(printer::stateName(context().state.load()))};
}

void NetworkDoorKind::addOptions(CLI::App &command) {
  auto *listenOption = command.add_option("--listen", listen,
                                          "take raw print jobs over TCP on [HOST:]PORT (e.g. 9100; "
                                          "host 127.0.0.1 unless given)");
  command
      .add_option("--job-timeout", jobTimeoutSeconds,
                  "end a network job after this many seconds at the printer (default 60)")
      ->check(CLI::Range(1u, 86400u))
      ->needs(listenOption);
  command
      .add_option("--job-limit", jobLimit,
                  "end a network job past this many bytes, e.g. 16MiB (the default), 512K")
      ->transform(CLI::AsSizeValue(false))
      ->check(CLI::Range(std::uint64_t{1}, std::uint64_t{1} << 40))
      ->needs(listenOption);
}

void NetworkDoorKind::prepare() {
  if (!wanted()) return;
  const HostPort at = parseHostPort(listen, "127.0.0.1", "--listen");
  options_.host = at.host;
  options_.port = at.port;
  options_.limits.jobTimeout = std::chrono::seconds(jobTimeoutSeconds);
  options_.limits.jobLimit = jobLimit;
}

std::unique_ptr<Door> NetworkDoorKind::open(const DoorContext &context) {
  try {
    auto opened = std::make_unique<NetworkDoor>(options_, context);
    door = opened.get();
    return opened;
  } catch (const std::exception &error) {
    throw ToolError(kExitBadInput, std::string("--listen: ") + error.what());
  }
}

std::unique_ptr<DoorKind> networkDoorKind() { return std::make_unique<NetworkDoorKind>(); }

}  // namespace it433td::tools
