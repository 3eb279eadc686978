// cmd_emulate.cpp - it433td emulate: the virtual printer under a port name
// until SIGINT or SIGTERM, for testing any host program against it.
//
// Signals are taken by sigwait on the main thread (blocked everywhere else),
// so the handlers are ordinary code: SIGUSR1 toggles paper-out, SIGUSR2
// toggles offline (cover open); SIGINT, SIGTERM, SIGHUP and SIGQUIT stop the
// printer, which writes what it has been sent (no temporary file is left).
#include "commands.h"
#include "tool_error.h"
#include "virtual_printer_session.h"

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace it433td::tools {

namespace {

using printer::PrinterState;

struct EmulateOptions {
  std::string port;
  std::filesystem::path out;
  std::filesystem::path portsFolder;
  bool paperOut = false;
  bool offline = false;
};

void say(const std::string &line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

PrinterState toggled(PrinterState now, PrinterState other) {
  return now == other ? PrinterState::Online : other;
}

int runEmulate(const EmulateOptions &options) {
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2}) sigaddset(&signals, signal);
  // Before the server's thread exists, so it inherits the mask.
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  SessionOptions sessionOptions;
  sessionOptions.port = options.port;
  sessionOptions.outputFolder = options.out;
  sessionOptions.portsFolder = options.portsFolder;
  sessionOptions.initialState = options.offline    ? PrinterState::Offline
                                : options.paperOut ? PrinterState::PaperOut
                                                   : PrinterState::Online;
  sessionOptions.log = say;
  VirtualPrinterSession session(sessionOptions);

  say("virtual IT433TD on " + session.server().slavePath() + ", port " + options.port + " (" +
      session.ports().entryFor(options.port).string() + "), printer " +
      std::string(printer::stateName(session.server().state())));
  say("receipts go to " + std::filesystem::absolute(options.out).string());
  if (options.portsFolder.empty())
    say("for other programs: export IT433TD_PORTS=" + session.ports().path().string());
  say("kill -USR1 " + std::to_string(::getpid()) + " toggles paper-out, kill -USR2 " +
      std::to_string(::getpid()) + " toggles offline; Ctrl-C stops");
  say("ready");

  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) continue;
    if (signal == SIGUSR1 || signal == SIGUSR2) {
      const PrinterState next = toggled(session.server().state(), signal == SIGUSR1
                                                                       ? PrinterState::PaperOut
                                                                       : PrinterState::Offline);
      session.server().setState(next);
      say("printer " + std::string(printer::stateName(next)));
      continue;
    }
    break;
  }
  const auto transcripts = session.stop();
  say("stopped after " + std::to_string(transcripts.size()) + " receipt(s)");
  return kExitOk;
}

}  // namespace

void addEmulateCommand(CLI::App &app, std::shared_ptr<CommonOptions> common) {
  auto options = std::make_shared<EmulateOptions>();
  CLI::App *command = app.add_subcommand(
      "emulate", "run the virtual printer on a pseudo-terminal under a port name until stopped");
  command->add_option("--port", options->port, "the port name to map, e.g. COM1")->required();
  command->add_option("--out", options->out, "folder for the receipts, written at each cut")
      ->required();
  command->add_option("--ports-dir", options->portsFolder,
                      "put the port's entry into this IT433TD_PORTS folder "
                      "(default: a temporary folder, printed)");
  auto *paperOut = command->add_flag("--paper-out", options->paperOut, "start out of paper");
  command->add_flag("--offline", options->offline, "start offline (cover open)")
      ->excludes(paperOut);
  command->callback([options, common] { common->exitStatus = runEmulate(*options); });
}

}  // namespace it433td::tools
