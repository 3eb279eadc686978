// cmd_demo.cpp - it433td demo: a sample receipt through the real module, the
// device and barcode libraries and the virtual printer on a pseudo-terminal.
#include "commands.h"
#include "common/shown_text.h"
#include "host/demo_receipt.h"
#include "common/output_folder.h"
#include "host/qr_folder.h"
#include "host/receipt_job.h"
#include "common/tool_error.h"
#include "emulator/doors/pty_door.h"
#include "emulator/session.h"
#include "receipt_folder.h"

#include <cstdio>

namespace it433td::tools {

namespace {

struct DemoOptions {
  std::filesystem::path out = "it433td-demo";
};

// A serial port name, so the module opens it with the printer's line
// settings (57600 baud, ...) as it would a real COM port.
constexpr const char *kDemoPort = "COM1";

int runDemo(const DemoOptions &options, const CommonOptions &common) {
  const ParsedReceipt receipt = parseReceipt(demoReceipt());
  if (!receipt.error.empty()) throw ToolError(kExitBadInput, "demo receipt: " + receipt.error);

  // Refused before anything is printed: a receipt nobody can see, or a QR
  // code the module cannot render.
  prepareOutputFolder(options.out);
  const RunQrFolder qrFolder;

  PtyDoorKind port;
  port.port = kDemoPort;
  SessionOptions sessionOptions;
  sessionOptions.doorKinds = {&port};
  sessionOptions.outputFolder = options.out;
  VirtualPrinterSession session(sessionOptions);
  // Before the module's first use: the device library and the module's raw
  // copy of the QR printer file both look COM1 up there.
  port.door->ports()->useInThisProcess();

  std::printf("Printing the demo receipt on %s (the virtual printer on %s)\n", kDemoPort,
              port.door->slavePath().c_str());
  std::fflush(stdout);
  std::optional<JobFailure> failure;
  {
    DriverModule module(common.modulePath);
    module.start();
    Progress progress;
    failure = printReceipt(module, kDemoPort, receipt.steps, progress);
  }
  const auto transcripts = session.stop();
  if (failure) {
    std::string message = describeFailure(*failure, kDemoPort);
    for (const auto &transcript : transcripts)
      message += "\n  printed so far: " + std::filesystem::absolute(printer::pictureOf(transcript)).string();
    throw ToolError(kExitOperationFailed, message);
  }
  if (transcripts.empty()) throw ToolError(kExitOperationFailed, "the virtual printer wrote no receipt");
  for (const auto &transcript : transcripts)
    printMessage(stdout,
                 "receipt picture: " + std::filesystem::absolute(printer::pictureOf(transcript)).string() +
                     "\nreceipt transcript: " + std::filesystem::absolute(transcript).string());
  return kExitOk;
}

}  // namespace

void addDemoCommand(CLI::App &app, std::shared_ptr<CommonOptions> common) {
  auto options = std::make_shared<DemoOptions>();
  CLI::App *command = app.add_subcommand(
      "demo", "print a sample receipt on the virtual printer and write its picture");
  command->add_option("--out", options->out, "folder for the receipt's PNG and transcript")
      ->capture_default_str();
  command->callback([options, common] { common->exitStatus = runDemo(*options, *common); });
}

}  // namespace it433td::tools
