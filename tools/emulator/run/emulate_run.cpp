// emulate_run.cpp - start COMMAND, wait for it and for the printer, sum up.
#include "emulator/run/emulate_run.h"

#include "emulator/run/child_command.h"
#include "emulator/run/expected_receipts.h"
#include "common/output_folder.h"
#include "common/receipt_summary.h"
#include "common/shown_text.h"
#include "common/tool_error.h"
#include "receipt_warnings.h"

#include <atomic>
#include <cstdio>
#include <exception>
#include <pthread.h>
#include <thread>

namespace it433td::tools {

namespace {

bool isStop(int signal) {
  return signal == SIGINT || signal == SIGTERM || signal == SIGHUP || signal == SIGQUIT;
}

int waitForCommand(ChildCommand &command, VirtualPrinterSession &session, const sigset_t &signals) {
  for (;;) {
    siginfo_t info{};
    const int signal = sigwaitinfo(&signals, &info);
    if (signal < 0 || session.takeStateSignal(signal)) continue;
    if (signal == SIGCHLD) {
      if (const auto status = command.ended()) return *status;
    } else if (isStop(signal) && info.si_code != SI_KERNEL) {
      // Sent to it433td alone (kill, a CI runner's timeout). The terminal's
      // Ctrl-C (SI_KERNEL) goes to the whole process group: COMMAND has it.
      command.signal(signal);
    }
  }
}

// On a thread of its own, so that a stop signal can cut the wait short:
// *interrupted is then true.
std::vector<printer::WrittenReceipt> finishPrinting(VirtualPrinterSession &session,
                                                   const sigset_t &signals, bool *interrupted,
                                                   const std::function<void(const std::string &)> &say) {
  std::vector<printer::WrittenReceipt> written;
  std::exception_ptr failed;
  std::atomic<bool> done{false};
  const pthread_t waiting = pthread_self();
  std::thread finisher([&] {
    try {
      written = session.finish();
    } catch (...) {
      failed = std::current_exception();
    }
    done = true;
    pthread_kill(waiting, SIGCHLD);  // wakes sigwaitinfo below
  });
  *interrupted = false;
  while (!done) {
    const int signal = sigwaitinfo(&signals, nullptr);
    if (signal < 0 || session.takeStateSignal(signal) || !isStop(signal) || *interrupted) continue;
    say("stopping: the printer no longer waits for the port and the network jobs");
    session.interrupt();
    *interrupted = true;
  }
  finisher.join();
  if (failed) std::rethrow_exception(failed);
  return written;
}

}  // namespace

void checkRunOptions(const RunOptions &options) {
  std::error_code ec;
  if (!options.expect.empty() && !std::filesystem::is_directory(options.expect, ec))
    throw ToolError(kExitBadInput, "--expect " + shownText(options.expect.string()) + ": not a folder");
  if (!options.updateExpected.empty())
    if (const std::string problem = prepareFolder(options.updateExpected); !problem.empty())
      throw ToolError(kExitBadInput,
                      "--update-expected " + shownText(options.updateExpected.string()) + ": " + problem);
}

int runOnPrinter(VirtualPrinterSession &session, const RunOptions &options,
                 const sigset_t &signals, const sigset_t &before,
                 const std::function<void(const std::string &)> &say) {
  const std::vector<std::string> environment = session.environment();
  std::string shownEnvironment;
  for (const std::string &variable : environment) shownEnvironment += " " + variable;
  say("running " + commandLineText(options.command) + " with" + shownEnvironment);
  std::fflush(stdout);  // before COMMAND writes to the same output
  ChildCommand command(options.command, environment, before);
  const int commandStatus = waitForCommand(command, session, signals);
  say(commandLineText({options.command[0]}) + " exited with status " +
      std::to_string(commandStatus) + "; the printer finishes the last receipt");

  bool interrupted = false;
  const std::vector<printer::WrittenReceipt> written =
      finishPrinting(session, signals, &interrupted, say);
  std::size_t warnings = 0;
  std::vector<std::filesystem::path> transcripts;
  for (const printer::WrittenReceipt &receipt : written) {
    printWarningsOf(receipt.transcript.stem().string(), receipt.warnings);
    warnings += receipt.warnings.size();
    transcripts.push_back(receipt.transcript);
  }
  say(receiptsSummary(written.size(), warnings));
  std::vector<std::string> failures;  // what turns COMMAND's success into status 1
  if (interrupted) failures.push_back("stopped before the last receipt was written");
  if (const std::size_t lost = session.receiptsLost())
    failures.push_back(counted(lost, "receipt") + " could not be written");
  if (options.strict && warnings) failures.push_back("--strict: " + printer::warningCount(warnings));
  if (!options.expect.empty()) {
    const std::size_t differences = compareWithExpected(options.expect, transcripts);
    const std::string folder = shownText(options.expect.string());
    if (differences)
      failures.push_back("--expect: " + counted(differences, "difference") + " from " + folder);
    else
      say("--expect: every receipt as in " + folder);
  }
  if (!options.updateExpected.empty()) {
    // Golden receipts only from a whole run: never some receipts short.
    if (commandStatus == 0 && !interrupted && !session.receiptsLost())
      updateExpected(options.updateExpected, transcripts);
    else
      say("--update-expected: nothing written, the run failed");
  }
  std::fflush(stdout);
  for (const std::string &failure : failures) printMessage(stderr, "it433td: " + failure);
  return commandStatus == 0 && !failures.empty() ? kExitOperationFailed : commandStatus;
}

}  // namespace it433td::tools
