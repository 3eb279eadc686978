// emulate_run.h - `it433td emulate ... -- COMMAND ARGS...`: the virtual
// printer for one run of a program, for CI.
//
// COMMAND runs with the printer's addresses in its environment
// (IT433TD_PORTS for the port, IT433TD_PRINTER_ADDRESS for the network
// port) and the run's control socket (IT433TD_RUN_SOCKET, run_control.h),
// through which it labels its receipts. Once it has ended, the printer
// waits until the print data stops (VirtualPrinterSession::finish), at
// most --finish-timeout, what COMMAND left running is ended, and the run is
// summed up: the receipts and their warnings, with --expect the
// differences from the golden receipts. The exit status is COMMAND's when it failed: that is
// what the run is about, and nothing found after it (a golden folder that
// cannot be read any more) says anything about it. When COMMAND succeeded:
// 2 when a golden folder could not be read after all, else 1 when --strict
// found warnings, --expect a difference, a receipt could not be written,
// or the wait for the last receipt was stopped or timed out.
#pragma once

#include "emulator/run/expected_receipts.h"
#include "emulator/session.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace it433td::tools {

struct RunOptions {
  std::vector<std::string> command;
  bool strict = false;
  std::filesystem::path expect;          // compare with these golden receipts
  std::filesystem::path updateExpected;  // write them there, when COMMAND succeeded
  std::filesystem::path out;             // --out, when given
  std::string acceptCommand;             // the command line that accepts the receipts
  std::filesystem::path runFolder;       // the run's private folder (mode 0700): its control socket
  std::chrono::seconds finishTimeout{60};  // the longest wait for the last receipt
};

// Before anything starts: a golden folder that is not there (a typo), one
// that cannot be written, one that holds a link or a FIFO as a receipt
// file, or one that is --out, inside it or around it (the receipts would be
// compared with themselves, or overwrite their golden files) would
// otherwise be found only after the whole run. Returns --expect's folder,
// held open for the comparison (null without --expect). Throws ToolError
// (kExitBadInput).
std::unique_ptr<GoldenFolder> checkRunOptions(const RunOptions &options);

// `commandLine` (it433td's own) with --expect DIR turned into
// --update-expected DIR: the command that makes DIR hold the run's receipts.
std::string acceptCommandFor(const std::vector<std::string> &commandLine);

// `signals` are blocked in every thread and taken here with sigwaitinfo;
// COMMAND starts with `before`, the signal mask it433td started with.
// SIGINT, SIGTERM, SIGHUP and SIGQUIT sent to it433td are passed on to
// COMMAND; SIGUSR1 and SIGUSR2 toggle paper-out and offline. Returns the
// exit status.
int runOnPrinter(VirtualPrinterSession &session, const RunOptions &options,
                 const GoldenFolder *expected, const sigset_t &signals, const sigset_t &before,
                 const std::function<void(const std::string &)> &say);

}  // namespace it433td::tools
