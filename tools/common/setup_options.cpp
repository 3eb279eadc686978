// setup_options.cpp - the options' words, checked by parseSetup.
#include "common/setup_options.h"

#include "common/tool_error.h"

namespace it433td::tools {

void SetupOptions::addTo(CLI::App &command) {
  command.add_option("--model", model,
                     "the printer to stand in for: it433td (default) or escpos, a generic ESC/POS "
                     "printer");
  command.add_option("--paper", paper,
                     "paper width in mm for --model escpos: 80 (default, 576 dots) or 58 (384 "
                     "dots)");
}

printer::PrinterSetup SetupOptions::setup() const {
  std::string error;
  const auto parsed = printer::parseSetup(model, paper, &error);
  if (!parsed) throw ToolError(kExitBadInput, error);
  return *parsed;
}

}  // namespace it433td::tools
