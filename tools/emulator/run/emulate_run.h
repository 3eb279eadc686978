// emulate_run.h - `it433td emulate ... -- COMMAND ARGS...`: the virtual
// printer for one run of a program, for CI.
//
// COMMAND runs with the printer's addresses in its environment
// (IT433TD_PORTS for the port, IT433TD_PRINTER_ADDRESS for the network
// port). Once it has ended, the printer waits until the last receipt is
// written (VirtualPrinterSession::finish), then the run is summed up: the
// receipts and their warnings, with --expect the differences from the
// golden receipts. The exit status is COMMAND's; 1 instead when COMMAND
// succeeded but --strict found warnings, --expect a difference, or a
// receipt could not be written.
#pragma once

#include "emulator/session.h"

#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace it433td::tools {

struct RunOptions {
  std::vector<std::string> command;
  bool strict = false;
  std::filesystem::path expect;          // compare with these golden receipts
  std::filesystem::path updateExpected;  // write them there, when COMMAND succeeded
};

// Before anything starts: a golden folder that is not there (a typo) or
// one that cannot be written would otherwise be found only after the whole
// run. Throws ToolError (kExitBadInput).
void checkRunOptions(const RunOptions &options);

// `signals` are blocked in every thread and taken here with sigwaitinfo;
// COMMAND starts with `before`, the signal mask it433td started with.
// SIGINT, SIGTERM, SIGHUP and SIGQUIT sent to it433td are passed on to
// COMMAND; SIGUSR1 and SIGUSR2 toggle paper-out and offline. Returns the
// exit status.
int runOnPrinter(VirtualPrinterSession &session, const RunOptions &options,
                 const sigset_t &signals, const sigset_t &before,
                 const std::function<void(const std::string &)> &say);

}  // namespace it433td::tools
