// session.h - one virtual printer behind the doors asked for (door.h: a
// pseudo-terminal under a port name, a network port for raw print jobs) and
// a live web page. All share one state and one receipt folder.
#pragma once

#include "common/host_port.h"
#include "emulator/door.h"
#include "emulator/receipt_labels.h"
#include "receipt_writer.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace it433td::tools {

class WebConsole;

struct SessionOptions {
  std::vector<DoorKind *> doorKinds;  // every kind; those their options ask for open
  std::filesystem::path outputFolder;
  printer::PrinterState initialState = printer::PrinterState::Online;
  printer::PrinterSetup setup;  // the model every door's printer stands in for
  std::function<void(const std::string &)> log;
  std::optional<HostPort> web;        // the live page
  std::vector<std::string> webHosts;  // further names it answers to (web_hosts.h)
};

class VirtualPrinterSession {
public:
  // Checks every door's options, makes the receipt folder, opens the doors
  // and the page and starts serving on threads of their own. Throws
  // ToolError when something cannot be had.
  explicit VirtualPrinterSession(const SessionOptions &options);
  ~VirtualPrinterSession();

  const std::vector<std::unique_ptr<Door>> &doors() const { return doors_; }
  const WebConsole *web() const { return web_.get(); }
  // What a program needs in its environment to reach every door.
  std::vector<std::string> environment() const;

  printer::PrinterState state() const { return state_.load(); }
  // Any thread: the status answers on every door, and the web page.
  void setState(printer::PrinterState state);
  // SIGUSR1 toggles paper-out, SIGUSR2 offline (cover open), each back to
  // online the second time. False for any other signal.
  bool takeStateSignal(int signal);

  // Stops serving: what is still queued is printed and the unfinished
  // receipts written. Returns the transcripts written, in order.
  std::vector<std::filesystem::path> stop();
  // For a run whose programs have ended: each door prints what they sent
  // (Door::finish), then the session stops. Returns the receipts written,
  // in order.
  std::vector<printer::WrittenReceipt> finish();
  // Cuts finish() short, from another thread: as stop() from then on.
  void interrupt();
  std::size_t receiptsLost() const { return writer_->receiptsLost(); }

  // Any thread: the receipts printed from now on are `name`'s (their
  // golden files' names, run/golden_names.h). Each door first takes in
  // what was sent before (Door::takeWhatArrived). Returns "" once the label
  // holds, or why the name cannot be one.
  std::string label(const std::string &name);
  // What still keeps any door busy (Door::holders).
  std::vector<std::string> holders() const;

private:
  std::atomic<printer::PrinterState> state_;
  std::function<void(const std::string &)> log_;
  ReceiptLabels labels_;
  std::unique_ptr<printer::ReceiptWriter> writer_;
  std::unique_ptr<WebConsole> web_;
  std::vector<std::unique_ptr<Door>> doors_;  // stopped and closed before the writer
};

}  // namespace it433td::tools
