// cmd_status.cpp - it433td status --port NAME: asks the printer for its
// state, as a host learns that the paper ran out. The module binds the
// device library's status request but never calls it; a host calls it
// through the module's exported slot Cli_Vossik::MEGENCOM32_StatusDoDispositivo.
#include "commands.h"
#include "common/shown_text.h"
#include "host/driver_module.h"
#include "MEGENCOM32.h"
#include "host/receipt_job.h"
#include "host/status_names.h"
#include "common/tool_error.h"

#include <cstdio>

namespace it433td::tools {

namespace {

struct StatusOptions {
  std::string port;
};

const char *inWords(std::int32_t status) {
  switch (status) {
    case MEGENCOM32_OK: return "online";
    case MEGENCOM32_PAPER_OUT: return "out of paper";
    case MEGENCOM32_OFFLINE: return "offline";
    case MEGENCOM32_NO_ANSWER: return "no answer";
    default: return nullptr;
  }
}

int runStatus(const StatusOptions &options, const CommonOptions &common) {
  DriverModule module(common.modulePath);
  module.start();
  const DriverModule::StatusRequest request = module.statusRequest();
  if (!request) throw ToolError(kExitNoModule, "the module has no bound status request");

  const std::int32_t opened = module.openPort(options.port);
  if (opened != 0)
    throw ToolError(kExitOperationFailed, describeFailure({"IniciaPorta_IT433TD", 0, opened}, options.port));
  std::int32_t answer = -1;
  const std::int32_t status = request(options.port.c_str(), &answer);
  module.closePort(options.port);

  const char *words = inWords(status);
  std::string line = options.port + ": " + (words ? words : describeStatus(status));
  if (answer >= 0) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned>(answer & 0xFF));
    line += std::string(" (last answer byte ") + hex + ")";
  }
  printMessage(stdout, line);
  if (status != MEGENCOM32_OK)
    std::fprintf(stderr, "it433td: MEGENCOM32_StatusDoDispositivo: %s\n",
                 describeStatus(status).c_str());
  return status == MEGENCOM32_OK ? kExitOk : kExitOperationFailed;
}

}  // namespace

void addStatusCommand(CLI::App &app, std::shared_ptr<CommonOptions> common) {
  auto options = std::make_shared<StatusOptions>();
  CLI::App *command =
      app.add_subcommand("status", "ask the printer whether it is online, out of paper or offline");
  command->add_option("--port", options->port, "the printer's port")->required();
  command->callback([options, common] { common->exitStatus = runStatus(*options, *common); });
}

}  // namespace it433td::tools
