// tcp_listener.h - the virtual printer as a network printer: raw print jobs
// over TCP (conventionally port 9100), like a receipt printer's network card.
//
// One job at a time: a connection is served from accept to end of stream,
// then the next is accepted; later connections wait their turn in the
// listen queue. Each job has a decoder and print head of its own, so a job
// that sends junk or stops in the middle of a command leaves nothing behind
// for the next one; a job that sends nothing for `idleTimeout` is ended, so
// a stalled client holds the printer no longer than that. Status requests
// (DLE EOT n) are answered on the connection at once. Receipts go to a
// shared ReceiptWriter, numbered with those of the other ports.
#pragma once

#include "receipt_writer.h"
#include "virtual_printer.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace it433td::printer {

struct TcpListenerOptions {
  std::string host = "127.0.0.1";  // a name or an address; "0.0.0.0" or "::" for all
  std::string port = "9100";       // "0": any free port (see port())
  std::chrono::milliseconds idleTimeout{10000};
  std::function<void(const std::string &)> log;
};

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

  void start();  // serves on a thread of its own
  // Ends the job being served (its unfinished receipt is written) and the
  // thread. Safe to call twice.
  void stop();

private:
  void run();
  void serve(int connection, const std::string &peer);

  TcpListenerOptions options_;
  ReceiptWriter &writer_;
  std::atomic<PrinterState> &state_;
  int listener_ = -1;
  int stopPipe_[2] = {-1, -1};
  std::uint16_t port_ = 0;
  std::string address_;
  std::thread thread_;
};

}  // namespace it433td::printer
