// cmd_render.cpp - it433td render FILE... --out DIR [--strict] [--model
// MODEL] [--paper MM]: captured byte streams printed on the virtual
// printer's paper, with each receipt's warnings and a summary; --strict
// makes any warning exit status 1 (for CI).
#include "commands.h"
#include "common/input_file.h"
#include "common/output_folder.h"
#include "receipt_folder.h"
#include "common/receipt_summary.h"
#include "receipt_warnings.h"
#include "common/shown_text.h"
#include "common/tool_error.h"
#include "common/setup_options.h"
#include "transcript.h"
#include "virtual_printer.h"

#include <cstdio>
#include <filesystem>

namespace it433td::tools {

namespace {

struct RenderOptions {
  std::vector<std::string> files;
  std::filesystem::path out;
  bool strict = false;
  SetupOptions setup;
};

// Captured streams, all files together. A day of a busy till's receipts is
// a few megabytes; the limit keeps a runaway input from filling the memory.
constexpr std::size_t kMaxCapturedBytes = 128u << 20;

int runRender(const RenderOptions &options) {
  const printer::PrinterSetup setup = options.setup.setup();
  // Ctrl-C while a receipt is being written leaves no temporary file.
  printer::removeReceiptTemporariesOnSignals();
  // Every file is read before anything is printed: a missing one leaves no
  // half-printed stream behind.
  std::vector<std::string> streams;
  std::size_t total = 0;
  for (const std::string &name : options.files) {
    streams.push_back(readInputFile(name, kMaxCapturedBytes - total,
                                    "takes the captured streams past 128 MiB, the limit of render"));
    total += streams.back().size();
  }
  prepareOutputFolder(options.out);
  printer::ReceiptFolder folder(options.out);
  int status = kExitOk;
  std::size_t receipts = 0, warnings = 0;
  // All files form one stream, as if sent one after the other.
  printer::VirtualPrinter printer(
      [&](printer::Receipt &&receipt) {
        ++receipts;
        const std::vector<std::string> found = printer::warningsOf(receipt);
        warnings += found.size();
        std::string error;
        const auto written = folder.write(receipt, &error);
        if (written.empty()) {
          printMessage(stderr, "it433td: " + error);
          status = kExitOperationFailed;
          return;
        }
        printMessage(stdout, "receipt picture: " + printer::pictureOf(written).string() +
                                 "\nreceipt transcript: " + written.string());
        printWarningsOf(written.stem().string(), found);
      },
      nullptr, setup);
  for (const std::string &stream : streams) printer.feed(stream);
  printer.finish();
  printMessage(stdout, receiptsSummary(receipts, warnings));
  if (options.strict && warnings && status == kExitOk) {
    std::fprintf(stderr, "it433td: --strict: %s\n", printer::warningCount(warnings).c_str());
    status = kExitOperationFailed;
  }
  return status;
}

}  // namespace

void addRenderCommand(CLI::App &app, std::shared_ptr<CommonOptions> common) {
  auto options = std::make_shared<RenderOptions>();
  CLI::App *command =
      app.add_subcommand("render", "print captured printer byte streams as receipt pictures");
  command->add_option("FILE", options->files, "captured streams, one after the other; - for "
                                              "standard input")
      ->required();
  command->add_option("--out", options->out, "folder for the receipts")->required();
  command->add_flag("--strict", options->strict,
                    "exit status 1 when any receipt has a warning (ESC/POS commands, UTF-8 "
                    "text, no cut, too wide for the paper, ...)");
  options->setup.addTo(*command);
  command->callback([options, common] { common->exitStatus = runRender(*options); });
}

}  // namespace it433td::tools
