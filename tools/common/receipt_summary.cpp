// receipt_summary.cpp - the lines, spelled out as every message is.
#include "common/receipt_summary.h"

#include "receipt_warnings.h"
#include "common/shown_text.h"

namespace it433td::tools {

void printWarningsOf(const std::string &receipt, const std::vector<std::string> &warnings) {
  if (warnings.empty()) return;
  printMessage(stdout, receipt + ": " + printer::warningCount(warnings.size()));
  for (const std::string &line : warnings) printMessage(stdout, "  " + line);
}

std::string receiptsSummary(std::size_t receipts, std::size_t warnings) {
  return counted(receipts, "receipt") + ", " + printer::warningCount(warnings);
}

std::string counted(std::size_t count, const std::string &thing) {
  return std::to_string(count) + " " + thing + (count == 1 ? "" : "s");
}

}  // namespace it433td::tools
