// emulate_run.cpp - start COMMAND, wait for it and for the printer, sum up.
#include "emulator/run/emulate_run.h"

#include "emulator/run/child_command.h"
#include "emulator/run/expected_receipts.h"
#include "emulator/run/run_control.h"
#include "common/output_folder.h"
#include "common/receipt_summary.h"
#include "common/shown_text.h"
#include "common/tool_error.h"
#include "receipt_warnings.h"

#include <atomic>
#include <cstdio>
#include <exception>
#include <optional>
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
    } else if (isStop(signal)) {
      // Sent to it433td (kill, a CI runner's timeout): to COMMAND's whole
      // group, its children with it. (A Ctrl-C at the terminal reaches
      // COMMAND's group itself, which is then the terminal's foreground.)
      command.signal(signal);
    }
  }
}

// How the wait for the last receipt ended.
enum class Finished { Whole, Stopped, TimedOut };

// On a thread of its own, so that a stop signal or the time-out can cut the
// wait short.
Finished finishPrinting(VirtualPrinterSession &session, const sigset_t &signals,
                        std::chrono::seconds timeout, std::vector<printer::WrittenReceipt> *written,
                        const std::function<void(const std::string &)> &say) {
  std::exception_ptr failed;
  std::atomic<bool> done{false};
  const pthread_t waiting = pthread_self();
  std::thread finisher([&] {
    try {
      *written = session.finish();
    } catch (...) {
      failed = std::current_exception();
    }
    done = true;
    pthread_kill(waiting, SIGCHLD);  // wakes sigtimedwait below
  });
  Finished how = Finished::Whole;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done) {
    const auto left =
        std::max(std::chrono::nanoseconds(0), deadline - std::chrono::steady_clock::now());
    const timespec wait{static_cast<time_t>(left.count() / 1'000'000'000),
                        static_cast<long>(left.count() % 1'000'000'000)};
    const int signal = sigtimedwait(&signals, nullptr, &wait);
    if (how != Finished::Whole) continue;  // cut short already: wait for the finisher
    if (signal < 0 && errno == EAGAIN) {
      std::string busy;
      for (const std::string &holder : session.holders())
        busy += (busy.empty() ? ": " : "; ") + holder;
      say("the printer still has work after " + std::to_string(timeout.count()) +
          " s (--finish-timeout)" + busy + "; it stops, and what has arrived is written");
      session.interrupt();
      how = Finished::TimedOut;
    } else if (signal > 0 && !session.takeStateSignal(signal) && isStop(signal)) {
      say("stopping: the printer no longer waits for the port and the network jobs");
      session.interrupt();
      how = Finished::Stopped;
    }
  }
  finisher.join();
  if (failed) std::rethrow_exception(failed);
  return how;
}

}  // namespace

namespace {

// `inner` is `outer` or lies inside it (both as absolute, lexically normal
// paths, links resolved where they exist).
bool within(const std::filesystem::path &inner, const std::filesystem::path &outer) {
  auto at = inner.begin();
  for (const std::filesystem::path &part : outer) {
    if (at == inner.end() || *at != part) return false;
    ++at;
  }
  return true;
}

std::filesystem::path resolved(const std::filesystem::path &folder) {
  std::error_code ec;
  std::filesystem::path path =
      std::filesystem::weakly_canonical(std::filesystem::absolute(folder), ec);
  if (ec) path = std::filesystem::absolute(folder).lexically_normal();
  if (!path.empty() && !path.has_filename()) path = path.parent_path();  // no trailing "/"
  return path;
}

void checkApart(const std::filesystem::path &out, const std::filesystem::path &golden,
                const std::string &option) {
  if (out.empty() || golden.empty()) return;
  const std::filesystem::path a = resolved(out), b = resolved(golden);
  const std::string where = a == b         ? " is the same folder as "
                            : within(a, b) ? " is inside "
                            : within(b, a) ? " holds "
                                           : "";
  if (where.empty()) return;
  throw ToolError(kExitBadInput, "--out " + shownText(out.string()) + where + option + " " +
                                     shownText(golden.string()) +
                                     ": the run's receipts must go to a folder of their own, "
                                     "apart from the golden ones");
}

}  // namespace

std::unique_ptr<GoldenFolder> checkRunOptions(const RunOptions &options) {
  checkApart(options.out, options.expect, "--expect");
  checkApart(options.out, options.updateExpected, "--update-expected");
  if (!options.updateExpected.empty()) {
    if (const std::string problem = prepareFolder(options.updateExpected); !problem.empty())
      throw ToolError(kExitBadInput,
                      "--update-expected " + shownText(options.updateExpected.string()) + ": " + problem);
    GoldenFolder(options.updateExpected, "--update-expected");  // no link or FIFO to replace
  }
  if (options.expect.empty()) return nullptr;
  return std::make_unique<GoldenFolder>(options.expect, "--expect");
}

std::string acceptCommandFor(const std::vector<std::string> &commandLine) {
  std::vector<std::string> words(commandLine);
  for (std::string &word : words) {
    if (word == "--") break;  // COMMAND's own words follow
    if (word == "--expect") word = "--update-expected";
    if (word.rfind("--expect=", 0) == 0) word = "--update-expected=" + word.substr(9);
  }
  return commandLineText(words);
}

namespace {

// What the run came to, for its summary and its exit status.
struct RunEnd {
  int commandStatus = 0;
  Finished finished = Finished::Whole;
  std::vector<printer::WrittenReceipt> written;
  std::vector<std::string> failures;  // what turns COMMAND's success into status 1
  bool goldenUnreadable = false;      // ... or into 2
  bool accept = false;                // --expect found differences
};

// COMMAND with the doors' addresses and the run's control socket, waited
// for; then the last receipts, and what COMMAND left running ended.
RunEnd runCommand(VirtualPrinterSession &session, const RunOptions &options,
                  const sigset_t &signals, const sigset_t &before,
                  const std::function<void(const std::string &)> &say) {
  std::optional<RunControl> control;
  control.emplace(options.runFolder,
                  [&session](const std::string &name) { return session.label(name); });
  std::vector<std::string> environment = session.environment();
  environment.push_back(control->environment());
  std::string shownEnvironment;
  for (const std::string &variable : environment) shownEnvironment += " " + variable;
  say("running " + commandLineText(options.command) + " with" + shownEnvironment);
  std::fflush(stdout);  // before COMMAND writes to the same output
  ChildCommand command(options.command, environment, before);
  RunEnd end;
  end.commandStatus = waitForCommand(command, session, signals);
  say(commandLineText({options.command[0]}) + " exited with status " +
      std::to_string(end.commandStatus) + "; the printer finishes the last receipt");
  end.finished = finishPrinting(session, signals, options.finishTimeout, &end.written, say);
  control.reset();
  // Whatever COMMAND left running (a status monitor, a stray copy) is
  // ended: a run leaves nothing behind.
  if (command.endTree(std::chrono::seconds(2)))
    say("ended what " + commandLineText({options.command[0]}) + " left running");
  return end;
}

// --expect and --update-expected, for the run's receipts.
void checkGoldenReceipts(RunEnd &end, const std::vector<RunReceipt> &receipts, bool whole,
                         const RunOptions &options, const GoldenFolder *expected,
                         const std::function<void(const std::string &)> &say) {
  if (expected) {
    const std::string folder = shownText(expected->path().string());
    try {
      if (const std::size_t differences = compareWithExpected(*expected, receipts)) {
        end.failures.push_back("--expect: " + counted(differences, "difference") + " from " +
                               folder);
        end.accept = true;
      } else {
        say("--expect: every receipt as in " + folder);
      }
    } catch (const ToolError &error) {
      end.failures.push_back(error.what());
      end.goldenUnreadable = true;
    }
  }
  if (options.updateExpected.empty()) return;
  // Golden receipts only from a whole run: never some receipts short.
  if (!whole) {
    say("--update-expected: nothing written, the run failed");
    return;
  }
  try {
    updateExpected(options.updateExpected, receipts);
  } catch (const ToolError &error) {
    end.failures.push_back(error.what());
  }
}

}  // namespace

int runOnPrinter(VirtualPrinterSession &session, const RunOptions &options,
                 const GoldenFolder *expected, const sigset_t &signals, const sigset_t &before,
                 const std::function<void(const std::string &)> &say) {
  RunEnd end = runCommand(session, options, signals, before, say);
  std::size_t warnings = 0;
  std::vector<RunReceipt> receipts;
  for (const printer::WrittenReceipt &receipt : end.written) {
    printWarningsOf(receipt.transcript.stem().string(), receipt.warnings);
    warnings += receipt.warnings.size();
    receipts.push_back({receipt.transcript, receipt.label});
  }
  say(receiptsSummary(end.written.size(), warnings));
  if (end.finished == Finished::Stopped)
    end.failures.push_back("stopped before the last receipt was written");
  if (end.finished == Finished::TimedOut)
    end.failures.push_back("--finish-timeout: the printer still had work " +
                           std::to_string(options.finishTimeout.count()) + " s after " +
                           commandLineText({options.command[0]}) + " ended");
  if (const std::size_t lost = session.receiptsLost())
    end.failures.push_back(counted(lost, "receipt") + " could not be written");
  if (options.strict && warnings)
    end.failures.push_back("--strict: " + printer::warningCount(warnings));
  const bool whole =
      end.commandStatus == 0 && end.finished == Finished::Whole && !session.receiptsLost();
  checkGoldenReceipts(end, receipts, whole, options, expected, say);
  std::fflush(stdout);
  for (const std::string &failure : end.failures) printMessage(stderr, "it433td: " + failure);
  if (end.accept && !options.acceptCommand.empty())
    printMessage(stderr, "it433td: to accept these receipts as the golden ones, run: " +
                             options.acceptCommand);
  // COMMAND's own failure wins over anything found after it: it is what the
  // run is about, and a golden folder's fault says nothing of it. Then a
  // golden folder that could not be read (bad input), then the rest.
  if (end.commandStatus != 0) return end.commandStatus;
  if (end.goldenUnreadable) return kExitBadInput;
  return end.failures.empty() ? kExitOk : kExitOperationFailed;
}

}  // namespace it433td::tools
