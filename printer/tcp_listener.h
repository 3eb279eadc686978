// tcp_listener.h - the virtual printer as a network printer: raw print jobs
// over TCP (conventionally port 9100), like a receipt printer's network card,
// shared by a team without any one client holding it.
//
// What a connection sends is one job. Jobs print one at a time, in the order
// their first bytes arrive: a connection that has sent nothing waits in the
// door's waiting room and does not hold the printer (one that sends nothing
// for `idleTimeout` is closed). At most kMaxWaitingConnections wait, silent
// or ready; beyond that a connection is closed at once. A job at the printer
// ends when its sender closes, when it sends nothing for `idleTimeout`, after
// `jobTimeout` in all, past `jobLimit` bytes, or once it has printed
// kMaxReceiptsPerJob receipts or kMaxPaperDotsPerJob of paper. A limit shows
// in the transcript as "[NOTE job ended: <why>]" where the job stopped
// (VirtualPrinter::endJobAtLimit); any other ending is named in the warning of a
// receipt it leaves uncut.
//
// Each job has a decoder and print head of its own, so a job that sends junk
// or stops in the middle of a command leaves nothing behind for the next one.
// Status requests (DLE EOT n) are answered on the connection at once.
// Receipts go to a shared ReceiptWriter, numbered with those of the other
// ports.
#pragma once

#include "receipt_writer.h"
#include "virtual_printer.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace it433td::printer {

// Connections waiting for the printer, silent or with a job ready.
constexpr std::size_t kMaxWaitingConnections = 64;
// What a job may print. Paper is cheap to send and costly to store: 3 bytes
// feed 255 dots, 86 KB of dense condensed text fill 4 m of paper whose
// picture takes 3.2 MB, 3 bytes print and cut a receipt of two files. So the
// size limit alone does not bound what a job leaves on disk; these do: one
// roll of paper (a real printer would run out), and a number of receipts.
constexpr int kMaxReceiptsPerJob = 200;
constexpr long kMaxPaperDotsPerJob = 80L * 1000 * 8;  // 80 m at 8 dots a millimetre

struct TcpListenerOptions {
  std::string host = "127.0.0.1";  // a name or an address; "0.0.0.0" or "::" for all
  std::string port = "9100";       // "0": any free port (see port())
  std::chrono::milliseconds idleTimeout{10000};
  std::chrono::milliseconds jobTimeout{60000};  // a job's whole time at the printer
  std::uint64_t jobLimit = std::uint64_t{16} << 20;  // bytes a job may send
  std::function<void(const std::string &)> log;
};

// "60 s", "1500 ms"; "16 MiB", "512 KiB", "1000 bytes": limits in words.
std::string durationWords(std::chrono::milliseconds duration);
std::string sizeWords(std::uint64_t bytes);

class TcpListener {
public:
  // Binds and listens; throws std::system_error (or std::runtime_error for a
  // host that does not resolve). `writer` and `state` must outlive it.
  TcpListener(TcpListenerOptions options, ReceiptWriter &writer,
              std::atomic<PrinterState> &state);
  ~TcpListener();  // stop()
  TcpListener(const TcpListener &) = delete;
  TcpListener &operator=(const TcpListener &) = delete;

  std::uint16_t port() const { return port_; }
  // "127.0.0.1:9100", "[::1]:9100".
  const std::string &address() const { return address_; }

  void start();  // serves on threads of its own: the door and the printer
  // Ends the job being served (what has arrived is printed, its unfinished
  // receipt written), closes the waiting connections and ends the threads.
  // Safe to call twice.
  void stop();
  // stop() without waiting for the threads: from any other thread, e.g. to
  // cut finish() short.
  void requestStop();
  // After start(): prints what the clients connected so far send, then
  // ends the threads, for a run whose clients have ended. The connections
  // still in the listen queue are taken, each one's job is printed to its
  // end (within its limits; one that stays silent waits at most
  // `idleTimeout`), and no later connection is taken.
  void finish();

private:
  using Clock = std::chrono::steady_clock;
  struct Connection {
    int fd = -1;
    std::string peer;
    Clock::time_point since;
  };

  // The door: accepts, and watches each connection until its first byte.
  void watchDoor();
  void watchConnections(std::vector<Connection> &silent);  // until a stop or finish
  void admit(std::vector<Connection> &silent);
  void refuse(int fd, const std::string &peer);
  // The printer: serves the ready jobs, one at a time, in order.
  void printJobs();
  void serve(const Connection &job);

  TcpListenerOptions options_;
  ReceiptWriter &writer_;
  std::atomic<PrinterState> &state_;
  int listener_ = -1;
  int stopPipe_[2] = {-1, -1};
  int finishPipe_[2] = {-1, -1};  // wakes the door for finish()
  std::uint16_t port_ = 0;
  std::string address_;

  std::mutex mutex_;
  std::condition_variable jobReady_;
  std::deque<Connection> ready_;  // sent their first byte, in that order
  bool stopping_ = false;
  bool doorClosed_ = false;  // no more jobs will come
  bool refusing_ = false;  // the last connection was refused (logged once)
  std::thread door_;
  std::thread printer_;
};

}  // namespace it433td::printer
