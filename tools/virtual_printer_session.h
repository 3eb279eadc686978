// virtual_printer_session.h - the virtual printer on a pseudo-terminal,
// reachable under a port name: a PtyServer whose slave is entered in an
// IT433TD_PORTS folder.
#pragma once

#include "ports_folder.h"
#include "pty_server.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace it433td::tools {

struct SessionOptions {
  std::string port = "COM1";
  std::filesystem::path outputFolder;
  std::filesystem::path portsFolder;  // empty: a temporary folder of our own
  printer::PrinterState initialState = printer::PrinterState::Online;
  std::function<void(const std::string &)> log;
};

class VirtualPrinterSession {
public:
  // Maps the port and starts serving on a thread of its own. Throws
  // ToolError when no pseudo-terminal or folder can be had.
  explicit VirtualPrinterSession(const SessionOptions &options);
  ~VirtualPrinterSession();

  const PortsFolder &ports() const { return ports_; }
  printer::PtyServer &server() { return *server_; }

  // Stops serving: what is still queued is printed and the unfinished
  // receipt written. Returns the transcripts written, in order.
  std::vector<std::filesystem::path> stop();

private:
  PortsFolder ports_;
  std::unique_ptr<printer::PtyServer> server_;
};

// The picture that goes with a transcript: receipt-0001.txt -> .png.
std::filesystem::path pictureOf(const std::filesystem::path &transcript);

}  // namespace it433td::tools
