// guarded_http_server.h - cpp-httplib's server with doors that clients
// cannot wear out.
//
// cpp-httplib 0.11 gives each connection a thread of its pool from accept to
// close, and bounds only each single read (5 s): a connection that drips its
// request a byte at a time, or idles between requests, holds its thread, and
// with every thread held the page is unreachable. Here a connection holds a
// thread only while a whole request is being answered:
//   - accepted connections wait in one poll loop (the waiting room) for a
//     request: its first byte within kFirstByteTime of opening or of the
//     last answer, its whole head (at most kHeadLimit) and its body (the
//     Content-Length given, at most the payload limit) within kRequestTime
//     of that first byte; otherwise the connection is closed (with 408 for
//     a request cut short, 431 for an overlong head; request_framing.h
//     names what else is answered there);
//   - a whole request goes to a fixed set of workers, which answer it
//     through cpp-httplib's own parsing and routing
//     (Server::process_request) and never wait for a byte; each write may
//     wait kWriteTime for the client to read. Requests for the stream path
//     (the page's event stream, which lasts while the page is open) have
//     workers of their own: with every one of them busy, one more is
//     answered 503 at once; the others queue for theirs. A request that
//     cpp-httplib refuses before reading it whole (a bad line, a header
//     line past 8 KiB: 400) closes the connection, whose next bytes would
//     not start a request;
//   - between requests a keep-alive connection waits in the waiting room
//     again, holding no thread;
//   - at most kMaxConnections are open: one more closes the connection that
//     has waited longest for its request, or is refused (503) when every
//     open one is being answered.
// cpp-httplib still parses, routes, runs the pre-routing handler, adds the
// default headers, streams chunked answers and enforces the payload limit.
#pragma once

#include <httplib.h>
#include <poll.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace it433td::tools {

class GuardedHttpServer : public httplib::Server {
public:
  static constexpr auto kFirstByteTime = std::chrono::seconds(5);
  static constexpr auto kRequestTime = std::chrono::seconds(10);
  static constexpr auto kWriteTime = std::chrono::seconds(5);
  static constexpr std::size_t kHeadLimit = 16 * 1024;
  static constexpr std::size_t kMaxConnections = 256;
  static constexpr std::size_t kMaxRequestsPerConnection = 100;
  static constexpr int kListenQueue = 128;

  // `quickWorkers` answer every request but those for `streamPath`, which
  // `streamWorkers` answer, each for as long as its stream lasts.
  GuardedHttpServer(std::size_t quickWorkers, std::size_t streamWorkers, std::string streamPath);
  ~GuardedHttpServer() override;  // shutdown()
  GuardedHttpServer(const GuardedHttpServer &) = delete;
  GuardedHttpServer &operator=(const GuardedHttpServer &) = delete;

  // bind_to_port (port 0: bind_to_any_port) with a listen queue of
  // kListenQueue instead of cpp-httplib's 5, so that a burst of connections
  // is not made to retry a second later. The port bound, or -1.
  int bind(const std::string &host, int port);

  // After stop() and the end of listen_after_bind(): closes the waiting
  // connections and ends the threads once the answers under way end.
  void shutdown();

private:
  using Clock = std::chrono::steady_clock;
  struct Connection {
    int fd = -1;
    std::string bytes;         // read and not yet answered: a request, or part of one
    Clock::time_point since;   // opened, or last answered
    Clock::time_point firstByte;
    std::size_t answered = 0;  // requests answered on it
    std::size_t requestLength = 0;  // of the whole request that starts `bytes`, once known
  };
  // Workers and the whole requests waiting for them.
  struct Pool {
    std::deque<Connection> ready;
    std::condition_variable wake;
    std::size_t busy = 0;
    std::vector<std::thread> threads;
  };

  // Called by cpp-httplib's accept loop (run inline, see the .cpp) with each
  // accepted connection: hands it to the waiting room.
  bool process_and_close_socket(socket_t sock) override;

  void enter(Connection connection);  // into the waiting room, from any thread
  void watch();                       // the waiting room's loop
  // A connection handed over: to the workers with a whole request, else to
  // the room (closing the one that waited longest when the room is full).
  void seat(Connection connection, std::vector<Connection> &waiting, std::size_t &open);
  // Once its bytes hold a whole request, hands the connection to a worker;
  // one the room cannot take is answered and closed. False while it stays.
  bool leaveWhenWhole(Connection &connection);
  void dispatch(Connection connection);
  // What the waiting connections sent since the last poll; those out of
  // time are closed.
  void readWaiting(std::vector<Connection> &waiting, const std::vector<pollfd> &fds);
  // Reads what a waiting connection sent; false once it is done with.
  bool readFrom(Connection &connection);
  void work(Pool &pool);  // a worker's loop
  void answer(Connection connection);
  void closeConnection(int fd);

  std::string streamPath_;
  std::mutex mutex_;
  std::vector<Connection> entering_;  // handed over, not yet in the loop
  Pool quick_, streams_;
  std::size_t open_ = 0;              // connections open, wherever they are
  bool closing_ = false;
  int wakePipe_[2] = {-1, -1};
  std::thread watcher_;
};

}  // namespace it433td::tools
