// receipt_job.h - one receipt through the driver module: open the port, run
// the receipt's steps in order, close the port.
#pragma once

#include "host/driver_module.h"
#include "host/progress.h"
#include "host/receipt_file.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace it433td::tools {

struct JobFailure {
  std::string operation;  // the module's function, e.g. "ImprimeQRCode_IT433TD"
  int line = 0;           // receipt file line of the step, 0 for open and close
  std::int32_t status = 0;
};

// "ImprimeQRCode_IT433TD (line 12) failed: MEGENCOM32_BUSY (2): ..."; for
// "no such port" also how `port` resolved.
std::string describeFailure(const JobFailure &failure, const std::string &port);

// Prints the steps on `port` (StartIT433TD must have succeeded). Stops at
// the first failing operation and still closes the port. Returns the
// failure, or nothing when every operation answered 0.
std::optional<JobFailure> printReceipt(DriverModule &module, const std::string &port,
                                       const std::vector<ReceiptStep> &steps, Progress &progress);

}  // namespace it433td::tools
