// cmd_emulate.cpp - it433td emulate: the virtual printer under a port name,
// on a network port and on a web page, until stopped, for testing any host
// program against it; with `-- COMMAND ARGS...`, for one run of COMMAND
// (emulate_run.h). With --model escpos (and --paper 58) every door's
// printer stands in for a generic ESC/POS printer instead of the IT433TD.
//
// Signals are taken by sigwait on the main thread (blocked everywhere else),
// so the handlers are ordinary code: SIGUSR1 toggles paper-out, SIGUSR2
// toggles offline (cover open); SIGINT, SIGTERM, SIGHUP and SIGQUIT stop the
// printer, which writes what it has been sent (no temporary file is left).
#include "commands.h"
#include "emulator/run/emulate_run.h"
#include "common/shown_text.h"
#include "common/host_port.h"
#include "common/tool_error.h"
#include "emulator/door.h"
#include "emulator/session.h"
#include "common/setup_options.h"
#include "emulator/web/web_console.h"
#include "emulator/web/web_hosts.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <unistd.h>

namespace it433td::tools {

namespace {

using printer::PrinterState;

struct EmulateOptions {
  std::vector<std::unique_ptr<DoorKind>> doors = doorKinds();  // each with its options
  std::filesystem::path out;  // required but with a COMMAND: then a temporary folder
  RunOptions run;
  bool paperOut = false;
  bool offline = false;
  SetupOptions setup;
  unsigned finishTimeoutSeconds = 60;
  std::string web;
  std::vector<std::string> webHosts;
};

void say(const std::string &line) { printMessage(stdout, line); }

// A run's private folder (mode 0700, mkdtemp's): its control socket, and
// its receipts without --out. Removed at the end.
struct RunFolder {
  RunFolder() {
    std::string name = (std::filesystem::temp_directory_path() / "it433td-run-XXXXXX").string();
    if (!::mkdtemp(name.data()))
      throw ToolError(kExitBadInput, "cannot make a temporary folder for the run: " + name);
    path = name;
  }
  ~RunFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::filesystem::path path;
};

// "emulate needs --port NAME, --listen [HOST:]PORT, or both".
std::string doorsNeeded(const EmulateOptions &options) {
  std::string ways;
  for (const auto &kind : options.doors) ways += (ways.empty() ? "" : ", ") + kind->howToAsk();
  return "emulate needs " + ways + (options.doors.size() == 2 ? ", or both" : ", or several");
}

// What the doors serve, a line or more each; a model other than the
// IT433TD is named on each door's first line.
void describeDoors(const VirtualPrinterSession &session, const printer::PrinterSetup &setup) {
  const std::string named = setup.escpos() ? " (" + printer::describeSetup(setup) + ")" : "";
  for (const auto &door : session.doors()) {
    const std::vector<std::string> lines = door->describe();
    for (std::size_t i = 0; i < lines.size(); ++i) say(lines[i] + (i == 0 ? named : ""));
  }
}

int runEmulate(const EmulateOptions &options, const std::vector<std::string> &commandLine) {
  bool anyDoor = false;
  for (const auto &kind : options.doors) anyDoor = anyDoor || kind->wanted();
  if (!anyDoor) throw ToolError(kExitBadInput, doorsNeeded(options));
  SessionOptions sessionOptions;
  sessionOptions.setup = options.setup.setup();  // a bad --model or --paper stops it here
  const bool running = !options.run.command.empty();
  if (options.out.empty() && !running)
    throw ToolError(kExitBadInput, "emulate needs --out DIR, the folder for the receipts");
  RunOptions run = options.run;
  run.out = options.out;
  run.finishTimeout = std::chrono::seconds(options.finishTimeoutSeconds);
  run.acceptCommand = acceptCommandFor(commandLine);
  const std::unique_ptr<GoldenFolder> expected = running ? checkRunOptions(run) : nullptr;
  std::optional<RunFolder> runFolder;
  if (running) runFolder.emplace();
  if (runFolder) run.runFolder = runFolder->path;

  sigset_t signals, before;
  sigemptyset(&signals);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2}) sigaddset(&signals, signal);
  if (running) {
    sigaddset(&signals, SIGCHLD);  // COMMAND ended
    // Ignored (inherited so), SIGCHLD would have COMMAND reaped before we
    // could read its status.
    ::signal(SIGCHLD, SIG_DFL);
  }
  // Before any thread exists, so every thread inherits the mask.
  pthread_sigmask(SIG_BLOCK, &signals, &before);

  for (const auto &kind : options.doors) sessionOptions.doorKinds.push_back(kind.get());
  sessionOptions.outputFolder = options.out.empty() ? runFolder->path : options.out;
  sessionOptions.initialState = options.offline    ? PrinterState::Offline
                                : options.paperOut ? PrinterState::PaperOut
                                                   : PrinterState::Online;
  sessionOptions.log = say;
  if (!options.web.empty()) sessionOptions.web = parseHostPort(options.web, "127.0.0.1", "--web");
  for (const std::string &name : options.webHosts) sessionOptions.webHosts.push_back(webHostName(name));
  VirtualPrinterSession session(sessionOptions);

  describeDoors(session, sessionOptions.setup);
  if (session.web()) say("web page: " + session.web()->url());
  say("receipts go to " + std::filesystem::absolute(sessionOptions.outputFolder).string() +
      (options.out.empty() ? " (removed at the end; --out DIR keeps them)" : ""));
  if (running) return runOnPrinter(session, run, expected.get(), signals, before, say);
  for (const auto &door : session.doors())
    if (const std::string hint = door->hint(); !hint.empty()) say(hint);
  say("kill -USR1 " + std::to_string(::getpid()) + " toggles paper-out, kill -USR2 " +
      std::to_string(::getpid()) + " toggles offline; Ctrl-C stops");
  say("ready");

  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) continue;
    if (!session.takeStateSignal(signal)) break;
  }
  const auto transcripts = session.stop();
  say("stopped after " + std::to_string(transcripts.size()) + " receipt(s)");
  return kExitOk;
}

}  // namespace

void addEmulateCommand(CLI::App &app, std::shared_ptr<CommonOptions> common) {
  auto options = std::make_shared<EmulateOptions>();
  CLI::App *command = app.add_subcommand(
      "emulate",
      "run the virtual printer on a pseudo-terminal under a port name, on a network port, "
      "or both, until stopped; or for one run of COMMAND, given after --");
  command->add_option("--out", options->out,
                      "folder for the receipts, written at each cut (with COMMAND: a temporary "
                      "folder unless given)");
  auto *paperOut = command->add_flag("--paper-out", options->paperOut, "start out of paper");
  command->add_flag("--offline", options->offline, "start offline (cover open)")
      ->excludes(paperOut);
  options->setup.addTo(*command);
  for (const auto &kind : options->doors) kind->addOptions(*command);
  auto *web = command->add_option(
      "--web", options->web, "serve the live web page on [HOST:]PORT (host 127.0.0.1 unless given)");
  command
      ->add_option("--web-host", options->webHosts,
                   "a further name the page answers to, e.g. printer.example (repeatable; "
                   "bound to a loopback address it answers to localhost, 127.0.0.1 and [::1], "
                   "elsewhere also to this machine's names and addresses)")
      ->needs(web);
  auto *run = command->add_option(
      "COMMAND", options->run.command,
      "-- COMMAND ARGS...: run COMMAND with IT433TD_PORTS (and IT433TD_PRINTER_ADDRESS with "
      "--listen) set, wait for it and for its last receipt, sum up, exit with its status");
  command->add_flag("--strict", options->run.strict,
                    "with COMMAND: exit status 1 when it succeeded but a receipt has a warning")
      ->needs(run);
  auto *expect = command->add_option(
      "--expect", options->run.expect,
      "with COMMAND: compare each receipt's transcript with its golden file in DIR (NAME.txt, "
      "NAME-2.txt, ... after `it433td label NAME`; receipt-000N.txt for the Nth unlabelled one), "
      "a unified diff for each difference; exit status 1 on any when COMMAND succeeded");
  expect->needs(run);
  command
      ->add_option("--finish-timeout", options->finishTimeoutSeconds,
                   "with COMMAND: wait at most this many seconds, once it has ended, for the "
                   "printer to finish (default 60); then end, naming what still held it, "
                   "with exit status 1")
      ->check(CLI::Range(1u, 86400u))
      ->needs(run);
  command
      ->add_option("--update-expected", options->run.updateExpected,
                   "with COMMAND: when it succeeds, write the receipts' transcripts to DIR as "
                   "--expect reads them")
      ->needs(run)
      ->excludes(expect);
  command->callback(
      [options, common] { common->exitStatus = runEmulate(*options, common->commandLine); });
}

}  // namespace it433td::tools
