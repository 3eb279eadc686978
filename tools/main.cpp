// main.cpp - it433td: prints receipts through the IT433TD driver module,
// emulates the printer on a pseudo-terminal, and shows a demo receipt.
#include "commands.h"
#include "common/shown_text.h"
#include "host/driver_module.h"
#include "common/tool_error.h"

#include "operation_rules.h"
#include "port_names.h"

#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

using namespace it433td::tools;

namespace {

// The first word of the command line that is neither an option nor the
// value of --module: the subcommand, when there is one.
const char *firstWord(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--module") == 0) {
      ++i;
      continue;
    }
    if (argv[i][0] != '-') return argv[i];
  }
  return nullptr;
}

}  // namespace

int main(int argc, char **argv) {
  CLI::App app{"it433td - the IT433TD receipt printer through its driver module"};
  app.set_version_flag("--version", "it433td " IT433TD_VERSION);
  app.require_subcommand(1);
  app.fallthrough();
  auto common = std::make_shared<CommonOptions>();
  common->modulePath = defaultModulePath();
  common->commandLine.assign(argv, argv + argc);
  app.add_option("--module", common->modulePath, "the driver module to load")
      ->capture_default_str();
  // Laid out as CLI11 lays out options, so the manual page (help2man) reads
  // it as a list.
  char environment[512];
  std::snprintf(environment, sizeof environment,
                "Environment:\n  %-26s  the folder of port names (default %s)\n  %-26s  the "
                "folder the module renders QR codes in (default: a private folder for each "
                "print or demo run, removed at its end)",
                it433td::kPortsFolderVariable, it433td::kDefaultPortsFolder,
                it433td::driver::kQrFolderVariable);
  app.footer(environment);

#define IT433TD_ADD_SUBCOMMAND(add) add(app, common);
  IT433TD_SUBCOMMANDS(IT433TD_ADD_SUBCOMMAND)
#undef IT433TD_ADD_SUBCOMMAND

  // CLI11 would only say that a subcommand is required.
  if (const char *word = firstWord(argc, argv)) {
    std::string known;
    bool found = false;
    for (const CLI::App *command : app.get_subcommands({})) {
      known += (known.empty() ? "" : ", ") + command->get_name();
      found = found || command->get_name() == word;
    }
    if (!found) {
      printMessage(stderr, "it433td: unknown command \"" + shownText(word) + "\" (commands: " +
                               known + ")");
      return kExitBadInput;
    }
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &error) {
    // CLI11's words quote the arguments: spelled out like every message.
    std::ostringstream out, err;
    const int status = app.exit(error, out, err);
    std::fputs(shownText(out.str(), true).c_str(), stdout);
    std::fputs(shownText(err.str(), true).c_str(), stderr);
    return status == 0 ? kExitOk : kExitBadInput;
  } catch (const ToolError &error) {
    std::fflush(stdout);
    printMessage(stderr, std::string("it433td: ") + error.what());
    return error.status();
  } catch (const std::exception &error) {
    std::fflush(stdout);
    printMessage(stderr, std::string("it433td: ") + error.what());
    return kExitOperationFailed;
  }
  return common->exitStatus;
}
