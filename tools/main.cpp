// main.cpp - it433td: prints receipts through the IT433TD driver module,
// emulates the printer on a pseudo-terminal, and shows a demo receipt.
#include "commands.h"
#include "driver_module.h"
#include "tool_error.h"

#include <cstdio>

using namespace it433td::tools;

int main(int argc, char **argv) {
  CLI::App app{"it433td - the IT433TD receipt printer through its driver module"};
  app.require_subcommand(1);
  app.fallthrough();
  auto common = std::make_shared<CommonOptions>();
  common->modulePath = defaultModulePath();
  app.add_option("--module", common->modulePath, "the driver module to load")
      ->capture_default_str();

  addDemoCommand(app, common);
  addPrintCommand(app, common);
  addEmulateCommand(app, common);
  addRenderCommand(app, common);
  addStatusCommand(app, common);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &error) {
    return app.exit(error) == 0 ? kExitOk : kExitBadInput;
  } catch (const ToolError &error) {
    std::fflush(stdout);
    std::fprintf(stderr, "it433td: %s\n", error.what());
    return error.status();
  } catch (const std::exception &error) {
    std::fflush(stdout);
    std::fprintf(stderr, "it433td: %s\n", error.what());
    return kExitOperationFailed;
  }
  return common->exitStatus;
}
