// child_command.h - the program that `emulate -- COMMAND` runs against the
// virtual printer.
//
// Started with posix_spawnp: looked up in PATH as a shell would, in a
// process group of its own, with our standard streams and the descriptors
// we inherited (ours are all close-on-exec), and with the signal mask
// it433td had before it took its signals over (it changes no signal's
// action). When it433td runs in the foreground of a terminal, COMMAND's
// group is the terminal's foreground group while COMMAND runs, as a shell
// makes it: a Ctrl-C reaches it, and it may read the terminal; Ctrl-Z stops
// it and it433td together. it433td is the subreaper of COMMAND's tree, so
// what COMMAND leaves behind (a process that left its group included)
// stays within reach until endTree().
#pragma once

#include <chrono>
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
  ~ChildCommand();  // ends the tree (a failure on our side): endTree(0s)
  ChildCommand(const ChildCommand &) = delete;
  ChildCommand &operator=(const ChildCommand &) = delete;

  // Once it has ended, its exit status as a shell gives it: 0-255, or
  // 128 + N when signal N ended it. Never waits. A job-control stop of
  // COMMAND (Ctrl-Z) stops it433td too, until both are continued.
  std::optional<int> ended();
  // To COMMAND's whole process group, also after COMMAND itself ended.
  void signal(int number) const;
  // Ends what is left of COMMAND's tree: its process group and every
  // process that came back to us as an orphan get SIGTERM, and SIGKILL
  // after `grace`; all are reaped. True when any was still running.
  bool endTree(std::chrono::milliseconds grace);

private:
  void takeTerminal(pid_t group) const;

  pid_t pid_ = -1;     // also the process group's ID
  int terminal_ = -1;  // the terminal whose foreground COMMAND has, if any
  std::optional<int> status_;
  bool treeEnded_ = false;
};

// The command line as a message shows it: words quoted where a shell would
// need it, control characters spelled out.
std::string commandLineText(const std::vector<std::string> &argv);

}  // namespace it433td::tools
