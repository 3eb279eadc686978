// tool_error.h - how a subcommand gives up: a message for the person at the
// terminal and the program's exit status.
#pragma once

#include <stdexcept>
#include <string>

namespace it433td::tools {

// Exit statuses of it433td.
enum ExitStatus : int {
  kExitOk = 0,
  kExitOperationFailed = 1,  // a printer operation answered a failure status
  kExitBadInput = 2,         // bad command line, unreadable or malformed receipt file
  kExitNoModule = 3,         // the module or its vendor libraries cannot be loaded
  // emulate's COMMAND cannot be started, as a shell says it:
  kExitCommandNotRunnable = 126,  // found, but not a program we may run
  kExitCommandNotFound = 127,     // no such program
};

class ToolError : public std::runtime_error {
public:
  ToolError(ExitStatus status, const std::string &message)
      : std::runtime_error(message), status_(status) {}
  ExitStatus status() const { return status_; }

private:
  ExitStatus status_;
};

}  // namespace it433td::tools
