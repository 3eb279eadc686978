// commands.h - the subcommands of it433td, listed once. Each is a file
// cmd_<name>.cpp that defines add<Name>Command: it adds itself to the
// command line, and its callback stores the program's exit status or
// throws ToolError. main() adds every command of the list, in its order.
//
// A new subcommand: its file, one line here, and the file in
// CMakeLists.txt. A file whose command is missing here has no declaration,
// which -Werror=missing-declarations stops in every build.
#pragma once

#include <CLI/CLI.hpp>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace it433td::tools {

#define IT433TD_SUBCOMMANDS(X) \
  X(addDemoCommand)            \
  X(addPrintCommand)           \
  X(addEmulateCommand)         \
  X(addRenderCommand)          \
  X(addStatusCommand)          \
  X(addLabelCommand)           \
  /* end of the subcommands */

struct CommonOptions {
  std::filesystem::path modulePath;  // --module, default <bin>/../lib/libPkg_Vossik.so.6
  std::vector<std::string> commandLine;  // it433td's own argv, as it was run
  int exitStatus = 0;
};

#define IT433TD_DECLARE_SUBCOMMAND(add) \
  void add(CLI::App &app, std::shared_ptr<CommonOptions> common);
IT433TD_SUBCOMMANDS(IT433TD_DECLARE_SUBCOMMAND)
#undef IT433TD_DECLARE_SUBCOMMAND

}  // namespace it433td::tools
