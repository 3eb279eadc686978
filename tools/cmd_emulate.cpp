// cmd_emulate.cpp - it433td emulate: the virtual printer under a port name,
// on a network port and on a web page, until stopped, for testing any host
// program against it; with `-- COMMAND ARGS...`, for one run of COMMAND
// (emulate_run.h).
//
// Signals are taken by sigwait on the main thread (blocked everywhere else),
// so the handlers are ordinary code: SIGUSR1 toggles paper-out, SIGUSR2
// toggles offline (cover open); SIGINT, SIGTERM, SIGHUP and SIGQUIT stop the
// printer, which writes what it has been sent (no temporary file is left).
#include "commands.h"
#include "emulate_run.h"
#include "shown_text.h"
#include "host_port.h"
#include "tool_error.h"
#include "virtual_printer_session.h"
#include "web_console.h"
#include "web_hosts.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <unistd.h>

namespace it433td::tools {

namespace {

using printer::PrinterState;

struct EmulateOptions {
  std::string port;
  std::filesystem::path out;  // required but with a COMMAND: then a temporary folder
  RunOptions run;
  std::filesystem::path portsFolder;
  bool paperOut = false;
  bool offline = false;
  std::string listen;
  std::string web;
  std::vector<std::string> webHosts;
  double baud = 0;
  unsigned jobTimeoutSeconds = 60;
  std::uint64_t jobLimit = std::uint64_t{16} << 20;
};

void say(const std::string &line) { printMessage(stdout, line); }

// The receipts of a run without --out: a fresh folder, removed at the end.
struct RunFolder {
  RunFolder() {
    std::string name = (std::filesystem::temp_directory_path() / "it433td-run-XXXXXX").string();
    if (!::mkdtemp(name.data()))
      throw ToolError(kExitBadInput, "cannot make a temporary folder for the receipts: " + name);
    path = name;
  }
  ~RunFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::filesystem::path path;
};

int runEmulate(const EmulateOptions &options, const std::vector<std::string> &commandLine) {
  if (options.port.empty() && options.listen.empty())
    throw ToolError(kExitBadInput, "emulate needs --port NAME, --listen [HOST:]PORT, or both");
  if (options.baud > 0 && options.port.empty())
    throw ToolError(kExitBadInput, "--baud paces the pseudo-terminal: it needs --port");
  const bool running = !options.run.command.empty();
  if (options.out.empty() && !running)
    throw ToolError(kExitBadInput, "emulate needs --out DIR, the folder for the receipts");
  RunOptions run = options.run;
  run.out = options.out;
  run.acceptCommand = acceptCommandFor(commandLine);
  const std::unique_ptr<GoldenFolder> expected = running ? checkRunOptions(run) : nullptr;
  std::optional<RunFolder> runFolder;
  if (options.out.empty()) runFolder.emplace();

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

  SessionOptions sessionOptions;
  sessionOptions.port = options.port;
  sessionOptions.outputFolder = runFolder ? runFolder->path : options.out;
  sessionOptions.portsFolder = options.portsFolder;
  sessionOptions.initialState = options.offline    ? PrinterState::Offline
                                : options.paperOut ? PrinterState::PaperOut
                                                   : PrinterState::Online;
  sessionOptions.log = say;
  sessionOptions.baud = options.baud;
  if (!options.listen.empty())
    sessionOptions.listen = parseHostPort(options.listen, "127.0.0.1", "--listen");
  sessionOptions.jobTimeout = std::chrono::seconds(options.jobTimeoutSeconds);
  sessionOptions.jobLimit = options.jobLimit;
  if (!options.web.empty()) sessionOptions.web = parseHostPort(options.web, "127.0.0.1", "--web");
  for (const std::string &name : options.webHosts) sessionOptions.webHosts.push_back(webHostName(name));
  VirtualPrinterSession session(sessionOptions);

  const std::string state(printer::stateName(session.state()));
  if (session.hasPty()) {
    say("virtual IT433TD on " + session.server().slavePath() + ", port " + options.port + " (" +
        session.ports().entryFor(options.port).string() + "), printer " + state);
    if (options.baud > 0)
      say("the port is read at " + std::to_string(static_cast<long>(options.baud)) + " baud (" +
          std::to_string(static_cast<long>(printer::lineBytesPerSecond(options.baud))) +
          " bytes a second, 11 bits a byte)");
  }
  if (session.listener())
    say("network printer on " + session.listener()->address() +
        ": raw print jobs, one at a time, each at most " +
        printer::durationWords(std::chrono::seconds(options.jobTimeoutSeconds)) + " and " +
        printer::sizeWords(options.jobLimit) + ", printer " + state);
  if (session.web()) say("web page: " + session.web()->url());
  say("receipts go to " + std::filesystem::absolute(sessionOptions.outputFolder).string() +
      (runFolder ? " (removed at the end; --out DIR keeps them)" : ""));
  if (running) return runOnPrinter(session, run, expected.get(), signals, before, say);
  if (session.hasPty() && options.portsFolder.empty())
    say("for other programs: export IT433TD_PORTS=" + session.ports().path().string());
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
  command->add_option("--port", options->port, "the port name to map, e.g. COM1");
  command->add_option("--out", options->out,
                      "folder for the receipts, written at each cut (with COMMAND: a temporary "
                      "folder unless given)");
  command->add_option("--ports-dir", options->portsFolder,
                      "put the port's entry into this IT433TD_PORTS folder "
                      "(default: a temporary folder, printed)");
  auto *paperOut = command->add_flag("--paper-out", options->paperOut, "start out of paper");
  command->add_flag("--offline", options->offline, "start offline (cover open)")
      ->excludes(paperOut);
  auto *listen = command->add_option("--listen", options->listen,
                                     "take raw print jobs over TCP on [HOST:]PORT (e.g. 9100; "
                                     "host 127.0.0.1 unless given)");
  command
      ->add_option("--job-timeout", options->jobTimeoutSeconds,
                   "end a network job after this many seconds at the printer (default 60)")
      ->check(CLI::Range(1u, 86400u))
      ->needs(listen);
  command
      ->add_option("--job-limit", options->jobLimit,
                   "end a network job past this many bytes, e.g. 16MiB (the default), 512K")
      ->transform(CLI::AsSizeValue(false))
      ->check(CLI::Range(std::uint64_t{1}, std::uint64_t{1} << 40))
      ->needs(listen);
  auto *web = command->add_option(
      "--web", options->web, "serve the live web page on [HOST:]PORT (host 127.0.0.1 unless given)");
  command
      ->add_option("--web-host", options->webHosts,
                   "a further name the page answers to, e.g. printer.example (repeatable; "
                   "bound to a loopback address it answers to localhost, 127.0.0.1 and [::1], "
                   "elsewhere also to this machine's names and addresses)")
      ->needs(web);
  command->add_option("--baud", options->baud,
                      "read the port no faster than a serial line at this speed carries "
                      "(11 bits a byte), e.g. 57600")
      ->check(CLI::Range(1.0, 4000000.0));
  auto *run = command->add_option(
      "COMMAND", options->run.command,
      "-- COMMAND ARGS...: run COMMAND with IT433TD_PORTS (and IT433TD_PRINTER_ADDRESS with "
      "--listen) set, wait for it and for its last receipt, sum up, exit with its status");
  command->add_flag("--strict", options->run.strict,
                    "with COMMAND: exit status 1 when it succeeded but a receipt has a warning")
      ->needs(run);
  auto *expect = command->add_option(
      "--expect", options->run.expect,
      "with COMMAND: compare the Nth receipt's transcript with DIR/receipt-000N.txt, a unified "
      "diff for each difference; exit status 1 on any when COMMAND succeeded");
  expect->needs(run);
  command
      ->add_option("--update-expected", options->run.updateExpected,
                   "with COMMAND: when it succeeds, write the receipts' transcripts to DIR as "
                   "--expect reads them")
      ->needs(run)
      ->excludes(expect);
  command->callback([options, common] { common->exitStatus = runEmulate(*options, common->commandLine); });
}

}  // namespace it433td::tools
