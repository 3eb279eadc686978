// child_command.h - the program that `emulate -- COMMAND` runs against the
// virtual printer.
//
// Started with posix_spawnp: looked up in PATH as a shell would, in our
// process group (so a Ctrl-C at the terminal reaches it as it reaches us),
// with our standard streams and the descriptors we inherited (ours are all
// close-on-exec), and with the signal mask it433td had before it took its
// signals over (it changes no signal's action).
#pragma once

#include <csignal>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace it433td::tools {

class ChildCommand {
public:
  // Runs argv with `environment` ("NAME=value") over ours, replacing
  // variables of the same name. `mask` is the signal mask it starts with.
  // Throws ToolError: kExitCommandNotFound when there is no such program,
  // kExitCommandNotRunnable when it cannot be run (no permission, not a
  // program).
  ChildCommand(const std::vector<std::string> &argv, const std::vector<std::string> &environment,
               const sigset_t &mask);
  ~ChildCommand();  // one still running (a failure on our side) is killed
  ChildCommand(const ChildCommand &) = delete;
  ChildCommand &operator=(const ChildCommand &) = delete;

  // Once it has ended, its exit status as a shell gives it: 0-255, or
  // 128 + N when signal N ended it. Never waits.
  std::optional<int> ended();
  void signal(int number) const;  // until it has ended

private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// The command line as a message shows it: words quoted where a shell would
// need it, control characters spelled out.
std::string commandLineText(const std::vector<std::string> &argv);

}  // namespace it433td::tools
