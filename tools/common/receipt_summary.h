// receipt_summary.h - what render and emulate's run mode say about the
// receipts they wrote: each receipt's warnings, then a count.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace it433td::tools {

// To standard output: "receipt-0002: 1 warning", then each warning line
// indented. Nothing for a clean receipt.
void printWarningsOf(const std::string &receipt, const std::vector<std::string> &warnings);

// "1 receipt, 0 warnings", "3 receipts, 2 warnings".
std::string receiptsSummary(std::size_t receipts, std::size_t warnings);

// 1, "difference" -> "1 difference"; 2 -> "2 differences".
std::string counted(std::size_t count, const std::string &thing);

}  // namespace it433td::tools
