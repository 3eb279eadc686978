// cmd_label.cpp - it433td label NAME: inside a run of `emulate -- COMMAND`,
// the receipts printed from now on are NAME's golden receipts (NAME.txt,
// NAME-2.txt, ...) until the next label. Through the run's control socket
// (run_control.h); outside a run it fails.
#include "commands.h"
#include "emulator/run/golden_names.h"
#include "emulator/run/run_control.h"
#include "common/shown_text.h"
#include "common/tool_error.h"

#include <chrono>
#include <cstdlib>

namespace it433td::tools {

namespace {

// A label waits until what was sent before it is read; on a slow --baud
// line that may be a while.
constexpr std::chrono::seconds kLabelTimeout{120};

int runLabel(const std::string &name) {
  if (const char *socket = std::getenv(kRunSocketVariable); !socket || !*socket)
    throw ToolError(kExitBadInput, "label: not inside a run of `it433td emulate ... -- COMMAND` (" +
                                       std::string(kRunSocketVariable) + " is not set)");
  if (const std::string problem = labelProblem(name); !problem.empty())
    throw ToolError(kExitBadInput, "label \"" + shownText(name) + "\": " + problem);
  if (const std::string problem = requestLabel(name, kLabelTimeout); !problem.empty())
    throw ToolError(kExitNoModule, "label \"" + shownText(name) + "\": " + problem);
  return kExitOk;
}

}  // namespace

void addLabelCommand(CLI::App &app, std::shared_ptr<CommonOptions> common) {
  auto name = std::make_shared<std::string>();
  CLI::App *command = app.add_subcommand(
      "label",
      "inside a run of emulate -- COMMAND: the receipts printed from now on are NAME's "
      "golden receipts (NAME.txt, NAME-2.txt, ...), until the next label");
  command->add_option("NAME", *name, "the name, e.g. a test's id")->required();
  command->callback([name, common] { common->exitStatus = runLabel(*name); });
}

}  // namespace it433td::tools
