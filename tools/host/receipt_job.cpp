// receipt_job.cpp - the calling order a host follows: StartIT433TD (done by
// the caller), IniciaPorta, the operations, FechaPorta.
#include "host/receipt_job.h"
#include "host/qr_folder.h"

#include "Cli_Vossik.h"
#include "MEGENCOM32.h"
#include "operation_rules.h"
#include "common/ports_folder.h"
#include "host/status_names.h"

namespace it433td::tools {

namespace {

using std::chrono::milliseconds;

// The least time the module blocks in each operation: its fixed pauses.
milliseconds expectedPause(ReceiptStep::Kind kind) {
  switch (kind) {
    case ReceiptStep::Kind::Text: return milliseconds(driver::kTextWritePauseMs);
    case ReceiptStep::Kind::Code128: return milliseconds(driver::kBarcodePauseMs);
    case ReceiptStep::Kind::QrCode: return milliseconds(driver::kQrCopyWindowMs);
    case ReceiptStep::Kind::Cut: return milliseconds(0);
  }
  return milliseconds(0);
}

const char *operationOf(ReceiptStep::Kind kind) {
  switch (kind) {
    case ReceiptStep::Kind::Text: return "FormataTX_IT433TD";
    case ReceiptStep::Kind::Code128: return "ImprimeCODE128_IT433TD";
    case ReceiptStep::Kind::QrCode: return "ImprimeQRCode_IT433TD";
    case ReceiptStep::Kind::Cut: return "AcionaGuilhotina_IT433TD";
  }
  return "?";
}

std::string labelOf(const ReceiptStep &step) {
  const std::string lines =
      step.lastLine > step.line
          ? "lines " + std::to_string(step.line) + "-" + std::to_string(step.lastLine)
          : "line " + std::to_string(step.line);
  return std::string(stepLabel(step.kind)) + " (" + lines + ")";
}

std::int32_t runStep(DriverModule &module, const std::string &port, const ReceiptStep &step) {
  switch (step.kind) {
    case ReceiptStep::Kind::Text: return module.printCondensed(port, step.bytes);
    case ReceiptStep::Kind::Code128: return module.printCode128(port, step.bytes);
    case ReceiptStep::Kind::QrCode: return module.printQrCode(port, step.bytes);
    case ReceiptStep::Kind::Cut: return module.cutPaper(port);
  }
  return 0;
}

}  // namespace

std::string describeFailure(const JobFailure &failure, const std::string &port) {
  std::string where = failure.operation;
  if (failure.line > 0) where += " (line " + std::to_string(failure.line) + ")";
  std::string message = where + " failed: " + describeStatus(failure.status);
  if (failure.status == MEGENCOM32_NO_SUCH_PORT) message += "\n  " + explainPortName(port);
  if (failure.status == IT433TD_NOT_RENDERED) message += "\n  " + describeQrFolder();
  return message;
}

std::optional<JobFailure> printReceipt(DriverModule &module, const std::string &port,
                                       const std::vector<ReceiptStep> &steps, Progress &progress) {
  progress.begin("open " + port, milliseconds(0));
  const std::int32_t opened = module.openPort(port);
  progress.end(opened == 0);
  if (opened != 0) return JobFailure{"IniciaPorta_IT433TD", 0, opened};

  std::optional<JobFailure> failure;
  for (const ReceiptStep &step : steps) {
    progress.begin(labelOf(step), expectedPause(step.kind));
    const std::int32_t status = runStep(module, port, step);
    progress.end(status == 0);
    if (status != 0) {
      failure = JobFailure{operationOf(step.kind), step.line, status};
      break;
    }
  }
  // Close whatever happened; after a failure the first status is the news
  // (a QR code whose reopening failed leaves the port closed already).
  progress.begin("close " + port, milliseconds(0));
  const std::int32_t closed = module.closePort(port);
  progress.end(closed == 0);
  if (!failure && closed != 0) failure = JobFailure{"FechaPorta_IT433TD", 0, closed};
  return failure;
}

}  // namespace it433td::tools
