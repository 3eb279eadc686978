// virtual_printer_session.h - one virtual printer behind any of its ports:
// a pseudo-terminal under a port name (a PtyServer whose slave is entered in
// an IT433TD_PORTS folder), a network port for raw print jobs, and a live
// web page. All share one state and one receipt folder.
#pragma once

#include "host_port.h"
#include "ports_folder.h"
#include "pty_server.h"
#include "receipt_writer.h"
#include "tcp_listener.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace it433td::tools {

class WebConsole;

struct SessionOptions {
  std::string port = "COM1";  // empty: no pseudo-terminal
  std::filesystem::path outputFolder;
  std::filesystem::path portsFolder;  // empty: a temporary folder of our own
  printer::PrinterState initialState = printer::PrinterState::Online;
  std::function<void(const std::string &)> log;
  double baud = 0;                   // the pseudo-terminal's pace; 0: full speed
  std::optional<HostPort> listen;    // raw print jobs over TCP
  std::chrono::milliseconds jobTimeout{60000};       // a network job's time at the printer
  std::uint64_t jobLimit = std::uint64_t{16} << 20;  // and its bytes
  std::optional<HostPort> web;       // the live page
  std::vector<std::string> webHosts;  // further names it answers to (web_hosts.h)
};

class VirtualPrinterSession {
public:
  // Maps the port, opens the listeners and starts serving on threads of
  // their own. Throws ToolError when something cannot be had.
  explicit VirtualPrinterSession(const SessionOptions &options);
  ~VirtualPrinterSession();

  bool hasPty() const { return server_ != nullptr; }
  const PortsFolder &ports() const { return *ports_; }  // with a pseudo-terminal only
  printer::PtyServer &server() { return *server_; }     // with a pseudo-terminal only
  const printer::TcpListener *listener() const { return listener_.get(); }
  const WebConsole *web() const { return web_.get(); }

  printer::PrinterState state() const { return state_.load(); }
  // Any thread: the status answers on every port, and the web page.
  void setState(printer::PrinterState state);
  // SIGUSR1 toggles paper-out, SIGUSR2 offline (cover open), each back to
  // online the second time. False for any other signal.
  bool takeStateSignal(int signal);

  // Stops serving: what is still queued is printed and the unfinished
  // receipts written. Returns the transcripts written, in order.
  std::vector<std::filesystem::path> stop();
  // For a run whose programs have ended: waits until the last program that
  // has the port open closes it (a detached QR copy still writing
  // included) and every network job sent so far is printed, then stops.
  // A holder or a connection silent for 10 s is not waited for. Returns
  // the receipts written, in order.
  std::vector<printer::WrittenReceipt> finish();
  // Cuts finish() short, from another thread: as stop() from then on.
  void interrupt();
  std::size_t receiptsLost() const { return writer_->receiptsLost(); }

private:
  std::atomic<printer::PrinterState> state_;
  std::function<void(const std::string &)> log_;
  std::optional<PortsFolder> ports_;
  std::unique_ptr<printer::ReceiptWriter> writer_;
  std::unique_ptr<WebConsole> web_;
  std::unique_ptr<printer::PtyServer> server_;
  std::unique_ptr<printer::TcpListener> listener_;
};

// The picture that goes with a transcript: receipt-0001.txt -> .png.
std::filesystem::path pictureOf(const std::filesystem::path &transcript);

}  // namespace it433td::tools
