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
//     last answer, its whole head (at most kHeadLimit) within kRequestTime
//     of that first byte; otherwise the connection is closed (with 408 for
//     a request cut short, 431 for an overlong head);
//   - a whole head goes to a fixed set of workers, which answer it through
//     cpp-httplib's own parsing and routing (Server::process_request); a
//     body must arrive by the same kRequestTime, each write may wait
//     kWriteTime for the client to read;
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

  // `workers`: requests answered at once, long ones (event streams) included.
  explicit GuardedHttpServer(std::size_t workers);
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
    std::string bytes;         // read and not yet answered: a head, or part of one
    Clock::time_point since;   // opened, or last answered
    Clock::time_point firstByte;
    std::size_t answered = 0;  // requests answered on it
  };

  // Called by cpp-httplib's accept loop (run inline, see the .cpp) with each
  // accepted connection: hands it to the waiting room.
  bool process_and_close_socket(socket_t sock) override;

  void enter(Connection connection);  // into the waiting room, from any thread
  void watch();                       // the waiting room's loop
  // A connection handed over: to the workers with a whole head, else to
  // the room (closing the one that waited longest when the room is full).
  void seat(Connection connection, std::vector<Connection> &waiting, std::size_t &open);
  // What the waiting connections sent since the last poll; those out of
  // time are closed.
  void readWaiting(std::vector<Connection> &waiting, const std::vector<pollfd> &fds);
  // Reads what a waiting connection sent; false once it is done with.
  bool readFrom(Connection &connection);
  void work();                        // a worker's loop
  void answer(Connection connection);
  void closeConnection(int fd);

  std::mutex mutex_;
  std::condition_variable workReady_;
  std::vector<Connection> entering_;  // handed over, not yet in the loop
  std::deque<Connection> ready_;      // a whole head read, for the workers
  std::size_t open_ = 0;              // connections open, wherever they are
  bool closing_ = false;
  int wakePipe_[2] = {-1, -1};
  std::thread watcher_;
  std::vector<std::thread> workers_;
};

}  // namespace it433td::tools
