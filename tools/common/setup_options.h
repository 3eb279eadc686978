// setup_options.h - `--model` and `--paper`: which printer the virtual
// printer stands in for (printer_model.h), on every command that runs it.
#pragma once

#include "printer_model.h"

#include <CLI/CLI.hpp>

#include <string>

namespace it433td::tools {

struct SetupOptions {
  std::string model;  // as given; empty: the default
  std::string paper;

  void addTo(CLI::App &command);
  // The setup asked for; throws ToolError (bad input) saying what is wrong.
  printer::PrinterSetup setup() const;
};

}  // namespace it433td::tools
