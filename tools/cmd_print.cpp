// cmd_print.cpp - it433td print --port NAME FILE: a receipt file on a port.
#include "commands.h"
#include "receipt_job.h"
#include "tool_error.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

namespace it433td::tools {

namespace {

struct PrintOptions {
  std::string port;
  std::string file;
};

std::string readReceiptFile(const std::string &name) {
  if (name == "-")
    return std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  std::error_code ec;
  if (std::filesystem::is_directory(name, ec))
    throw ToolError(kExitBadInput, name + ": is a folder, not a receipt file");
  std::ifstream in(name, std::ios::binary);
  if (!in) throw ToolError(kExitBadInput, name + ": cannot be read");
  try {
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.bad()) return content;
  } catch (const std::ios_base::failure &) {  // a read error past the open
  }
  throw ToolError(kExitBadInput, name + ": cannot be read");
}

int runPrint(const PrintOptions &options, const CommonOptions &common) {
  const ParsedReceipt receipt = parseReceipt(readReceiptFile(options.file));
  if (!receipt.error.empty()) throw ToolError(kExitBadInput, options.file + ": " + receipt.error);

  for (const ReceiptStep &step : receipt.steps)
    if (step.kind == ReceiptStep::Kind::QrCode) {
      const std::string problem = ensureDadosFolder();
      if (!problem.empty()) std::fprintf(stderr, "it433td: warning: %s\n", problem.c_str());
      break;
    }

  DriverModule module(common.modulePath);
  module.start();
  const auto started = std::chrono::steady_clock::now();
  std::optional<JobFailure> failure;
  {
    Progress progress;
    failure = printReceipt(module, options.port, receipt.steps, progress);
  }
  if (failure) throw ToolError(kExitOperationFailed, describeFailure(*failure));
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
  std::printf("printed %s on %s: %zu operations in %.1f s\n", options.file.c_str(),
              options.port.c_str(), receipt.steps.size(), took.count());
  return kExitOk;
}

}  // namespace

void addPrintCommand(CLI::App &app, std::shared_ptr<CommonOptions> common) {
  auto options = std::make_shared<PrintOptions>();
  CLI::App *command = app.add_subcommand(
      "print", "print a receipt file (text lines, code128 DATA, qr DATA, cut) on a port");
  command->add_option("--port", options->port, "the printer's port: COM1, LPT1, a path, "
                                               "or a name of the IT433TD_PORTS folder")
      ->required();
  command->add_option("FILE", options->file, "the receipt file, - for standard input")
      ->required();
  command->callback([options, common] { common->exitStatus = runPrint(*options, *common); });
}

}  // namespace it433td::tools
