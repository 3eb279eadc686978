// guarded_http_server.cpp - the waiting room, the workers, and the stream
// through which cpp-httplib reads a request and writes its answer.
#include "emulator/web/guarded_http_server.h"

#include "emulator/web/request_framing.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace it433td::tools {

namespace {

using Clock = std::chrono::steady_clock;

// cpp-httplib's accept loop hands each connection to its task queue; this
// one runs the task at once, on the accept thread, and the task only hands
// the connection to the waiting room.
class RunAtOnce : public httplib::TaskQueue {
public:
  void enqueue(std::function<void()> task) override { task(); }
  void shutdown() override {}
};

int millisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
}

bool waitFor(int fd, short events, int milliseconds) {
  pollfd ready{fd, events, 0};
  int result;
  while ((result = ::poll(&ready, 1, milliseconds)) < 0 && errno == EINTR) {
  }
  return result > 0 && (ready.revents & events);
}

// An answer of the door's own, for a connection it is about to close; sent
// only if the socket takes it at once.
void tell(int fd, const char *statusLine) {
  const std::string answer = std::string("HTTP/1.1 ") + statusLine +
                             "\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
  [[maybe_unused]] ssize_t ignored =
      ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

void addressOf(const sockaddr_storage &address, std::string &ip, int &port) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET) {
    const auto &in = reinterpret_cast<const sockaddr_in &>(address);
    ::inet_ntop(AF_INET, &in.sin_addr, text, sizeof text);
    port = ntohs(in.sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto &in6 = reinterpret_cast<const sockaddr_in6 &>(address);
    ::inet_ntop(AF_INET6, &in6.sin6_addr, text, sizeof text);
    port = ntohs(in6.sin6_port);
  }
  ip = text;
}

// One request's view of a connection: the request the waiting room read
// whole, to read; the socket, to write.
class ConnectionStream final : public httplib::Stream {
public:
  ConnectionStream(int fd, std::string request) : fd_(fd), request_(std::move(request)) {}

  bool is_readable() const override { return at_ < request_.size(); }
  bool is_writable() const override {
    if (!waitFor(fd_, POLLOUT, static_cast<int>(std::chrono::milliseconds(
                                   GuardedHttpServer::kWriteTime).count())))
      return false;
    char byte;  // a client that has closed reads as an end of stream
    return !waitFor(fd_, POLLIN, 0) || ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
  }
  ssize_t read(char *into, size_t size) override {
    const std::size_t count = std::min(size, request_.size() - at_);
    std::memcpy(into, request_.data() + at_, count);
    at_ += count;
    return static_cast<ssize_t>(count);
  }
  ssize_t write(const char *from, size_t size) override {
    if (!is_writable()) return -1;
    return ::send(fd_, from, size, MSG_NOSIGNAL | MSG_DONTWAIT);
  }
  void get_remote_ip_and_port(std::string &ip, int &port) const override {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    ::getpeername(fd_, reinterpret_cast<sockaddr *>(&address), &length);
    addressOf(address, ip, port);
  }
  void get_local_ip_and_port(std::string &ip, int &port) const override {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    ::getsockname(fd_, reinterpret_cast<sockaddr *>(&address), &length);
    addressOf(address, ip, port);
  }
  socket_t socket() const override { return fd_; }

  // Whether cpp-httplib read the request to its end.
  bool readWhole() const { return at_ == request_.size(); }

private:
  int fd_;
  std::string request_;
  std::size_t at_ = 0;
};

}  // namespace

GuardedHttpServer::GuardedHttpServer(std::size_t quickWorkers, std::size_t streamWorkers,
                                     std::string streamPath)
    : streamPath_(std::move(streamPath)) {
  new_task_queue = [] { return new RunAtOnce; };
  // What the answers' Keep-Alive header tells the client.
  set_keep_alive_timeout(std::chrono::duration_cast<std::chrono::seconds>(kFirstByteTime).count());
  set_keep_alive_max_count(kMaxRequestsPerConnection);
  if (::pipe2(wakePipe_, O_CLOEXEC | O_NONBLOCK) != 0)
    throw std::system_error(errno, std::generic_category(), "pipe2");
  watcher_ = std::thread([this] { watch(); });
  for (std::size_t i = 0; i < quickWorkers; ++i)
    quick_.threads.emplace_back([this] { work(quick_); });
  for (std::size_t i = 0; i < streamWorkers; ++i)
    streams_.threads.emplace_back([this] { work(streams_); });
}

GuardedHttpServer::~GuardedHttpServer() {
  shutdown();
  ::close(wakePipe_[0]);
  ::close(wakePipe_[1]);
}

int GuardedHttpServer::bind(const std::string &host, int port) {
  if (port == 0)
    port = bind_to_any_port(host);
  else if (!bind_to_port(host, port))
    return -1;
  if (port > 0) ::listen(svr_sock_, kListenQueue);  // a listening socket takes a new length
  return port;
}

void GuardedHttpServer::shutdown() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  const char byte = 1;
  [[maybe_unused]] ssize_t ignored = ::write(wakePipe_[1], &byte, 1);
  if (watcher_.joinable()) watcher_.join();
  for (Pool *pool : {&quick_, &streams_}) {
    pool->wake.notify_all();
    for (std::thread &worker : pool->threads)
      if (worker.joinable()) worker.join();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Connection &left : entering_) ::close(left.fd);
  entering_.clear();
  for (Pool *pool : {&quick_, &streams_}) {
    for (const Connection &left : pool->ready) ::close(left.fd);
    pool->ready.clear();
  }
}

bool GuardedHttpServer::process_and_close_socket(socket_t sock) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++open_;
  }
  enter({sock, {}, Clock::now(), {}, 0});
  return true;
}

void GuardedHttpServer::enter(Connection connection) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    entering_.push_back(std::move(connection));
  }
  const char byte = 1;
  [[maybe_unused]] ssize_t ignored = ::write(wakePipe_[1], &byte, 1);  // full: already woken
}

void GuardedHttpServer::closeConnection(int fd) {
  ::shutdown(fd, SHUT_RDWR);
  ::close(fd);
  std::lock_guard<std::mutex> lock(mutex_);
  --open_;
}

void GuardedHttpServer::watch() {
  std::vector<Connection> waiting;
  std::vector<pollfd> fds;
  for (;;) {
    std::vector<Connection> arrived;
    std::size_t open = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closing_) break;
      arrived.swap(entering_);
      open = open_;
    }
    for (Connection &connection : arrived) seat(std::move(connection), waiting, open);
    fds.assign(1, {wakePipe_[0], POLLIN, 0});
    auto next = Clock::time_point::max();
    for (const Connection &connection : waiting) {
      fds.push_back({connection.fd, POLLIN, 0});
      next = std::min(next, connection.bytes.empty() ? connection.since + kFirstByteTime
                                                     : connection.firstByte + kRequestTime);
    }
    const int timeout = next == Clock::time_point::max() ? -1 : millisecondsUntil(next);
    if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
    char drained[64];
    while (::read(wakePipe_[0], drained, sizeof drained) > 0) {
    }
    readWaiting(waiting, fds);
  }
  for (const Connection &connection : waiting) closeConnection(connection.fd);
}

void GuardedHttpServer::seat(Connection connection, std::vector<Connection> &waiting,
                             std::size_t &open) {
  if (connection.answered == 0 && open > kMaxConnections) {
    // Room for the newcomer: the connection that has waited longest for
    // its request goes; with none waiting, the newcomer.
    const auto oldest = std::min_element(
        waiting.begin(), waiting.end(),
        [](const Connection &a, const Connection &b) { return a.since < b.since; });
    if (oldest == waiting.end()) {
      tell(connection.fd, "503 Service Unavailable");
      closeConnection(connection.fd);
      --open;
      return;
    }
    closeConnection(oldest->fd);
    waiting.erase(oldest);
    --open;
  }
  if (!leaveWhenWhole(connection)) waiting.push_back(std::move(connection));
}

void GuardedHttpServer::readWaiting(std::vector<Connection> &waiting,
                                    const std::vector<pollfd> &fds) {
  std::vector<Connection> still;
  const auto now = Clock::now();
  for (std::size_t i = 0; i < waiting.size(); ++i) {
    Connection &connection = waiting[i];
    if (fds[i + 1].revents && !readFrom(connection)) continue;
    if (connection.bytes.empty() ? now >= connection.since + kFirstByteTime
                                 : now >= connection.firstByte + kRequestTime) {
      if (!connection.bytes.empty()) tell(connection.fd, "408 Request Timeout");
      closeConnection(connection.fd);
      continue;
    }
    still.push_back(std::move(connection));
  }
  waiting.swap(still);
}

bool GuardedHttpServer::readFrom(Connection &connection) {
  char buffer[4096];
  const ssize_t got = ::recv(connection.fd, buffer, sizeof buffer, MSG_DONTWAIT);
  if (got < 0 && (errno == EAGAIN || errno == EINTR)) return true;
  if (got <= 0) {  // closed by the client, or reset
    closeConnection(connection.fd);
    return false;
  }
  if (connection.bytes.empty()) connection.firstByte = Clock::now();
  connection.bytes.append(buffer, static_cast<std::size_t>(got));
  return !leaveWhenWhole(connection);
}

bool GuardedHttpServer::leaveWhenWhole(Connection &connection) {
  const RequestFraming framing = requestFraming(connection.bytes, payload_max_length_);
  const char *refusal = framing.refusal;
  if (framing.length == 0 && connection.bytes.size() > kHeadLimit)
    refusal = "431 Request Header Fields Too Large";
  if (refusal) {
    tell(connection.fd, refusal);
    closeConnection(connection.fd);
    return true;
  }
  if (framing.length == 0 || connection.bytes.size() < framing.length) return false;
  connection.requestLength = framing.length;
  dispatch(std::move(connection));
  return true;
}

void GuardedHttpServer::dispatch(Connection connection) {
  const bool stream = requestPath(connection.bytes) == streamPath_;
  Pool &pool = stream ? streams_ : quick_;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!stream || pool.busy + pool.ready.size() < pool.threads.size()) {
      pool.ready.push_back(std::move(connection));
      pool.wake.notify_one();
      return;
    }
  }
  tell(connection.fd, "503 Service Unavailable");
  closeConnection(connection.fd);
}

void GuardedHttpServer::work(Pool &pool) {
  for (;;) {
    Connection connection;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      pool.wake.wait(lock, [&] { return closing_ || !pool.ready.empty(); });
      if (closing_) return;
      connection = std::move(pool.ready.front());
      pool.ready.pop_front();
      ++pool.busy;
    }
    answer(std::move(connection));
    std::lock_guard<std::mutex> lock(mutex_);
    --pool.busy;
  }
}

void GuardedHttpServer::answer(Connection connection) {
  std::string next = connection.bytes.substr(connection.requestLength);
  connection.bytes.resize(connection.requestLength);
  ConnectionStream stream(connection.fd, std::move(connection.bytes));
  const bool last = ++connection.answered >= kMaxRequestsPerConnection;
  bool closedByClient = false;
  const bool answered = process_request(stream, last, closedByClient, nullptr);
  bool closing;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing = closing_;
  }
  if (!answered || last || closedByClient || closing || !stream.readWhole()) {
    closeConnection(connection.fd);
    return;
  }
  connection.bytes = std::move(next);
  connection.since = connection.firstByte = Clock::now();
  enter(std::move(connection));
}

}  // namespace it433td::tools
