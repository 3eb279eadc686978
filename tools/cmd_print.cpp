// cmd_print.cpp - it433td print --port NAME FILE: a receipt file on a port.
#include "commands.h"
#include "common/shown_text.h"
#include "common/input_file.h"
#include "host/qr_folder.h"
#include "host/receipt_job.h"
#include "common/tool_error.h"

#include <chrono>
#include <cstdio>

namespace it433td::tools {

namespace {

struct PrintOptions {
  std::string port;
  std::string file;
};

// A receipt is a few kilobytes; this leaves room for hundreds of QR codes.
constexpr std::size_t kMaxReceiptFileBytes = 4u << 20;

int runPrint(const PrintOptions &options, const CommonOptions &common) {
  const ParsedReceipt receipt = parseReceipt(readInputFile(
      options.file, kMaxReceiptFileBytes, "larger than 4 MiB, the limit for a receipt file"));
  if (!receipt.error.empty())
    throw ToolError(kExitBadInput, shownText(options.file) + ": " + receipt.error);

  // Every reason to refuse comes before the first byte is printed.
  std::optional<RunQrFolder> qrFolder;
  for (const ReceiptStep &step : receipt.steps)
    if (step.kind == ReceiptStep::Kind::QrCode) {
      qrFolder.emplace();
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
  if (failure) throw ToolError(kExitOperationFailed, describeFailure(*failure, options.port));
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
  char summary[64];
  std::snprintf(summary, sizeof summary, ": %zu operations in %.1f s", receipt.steps.size(),
                took.count());
  printMessage(stdout, "printed " + options.file + " on " + options.port + summary);
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
