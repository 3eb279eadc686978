// commands.h - the subcommands of it433td. Each adds itself to the command
// line; its callback stores the program's exit status, or throws ToolError.
#pragma once

#include <CLI/CLI.hpp>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace it433td::tools {

struct CommonOptions {
  std::filesystem::path modulePath;  // --module, default <bin>/../lib/libPkg_Vossik.so.6
  std::vector<std::string> commandLine;  // it433td's own argv, as it was run
  int exitStatus = 0;
};

void addDemoCommand(CLI::App &app, std::shared_ptr<CommonOptions> common);
void addPrintCommand(CLI::App &app, std::shared_ptr<CommonOptions> common);
void addEmulateCommand(CLI::App &app, std::shared_ptr<CommonOptions> common);
void addRenderCommand(CLI::App &app, std::shared_ptr<CommonOptions> common);
void addStatusCommand(CLI::App &app, std::shared_ptr<CommonOptions> common);
void addLabelCommand(CLI::App &app, std::shared_ptr<CommonOptions> common);

}  // namespace it433td::tools
