// golden_names.h - the file names of a run's golden receipts.
//
// A receipt printed under a label NAME is NAME.txt, the second under the
// same label NAME-2.txt, and so on; a receipt printed before any label is
// receipt-NNNN.txt, numbered among the run's unlabelled receipts. A label
// becomes a file name that is safe everywhere a repository is checked out:
// letters, digits and . _ - + , = @ [ ] ( ) stay, every other byte is %XX
// (so "tests/test_till.py::test_qr" is "tests%2Ftest_till.py%3A%3Atest_qr"),
// and so is a leading '.', a trailing '.', the first letter of a Windows
// device name (CON, COM1, ...) and the '-' before final digits, so that no
// label's name is another's second receipt, or an unlabelled one's.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace it433td::tools {

// The longest file name stem of a label: the name of its 100,000th
// receipt still fits the 255 bytes of a file name.
constexpr std::size_t kMaxLabelStemBytes = 240;

// Why `label` cannot be one ("" when it can): empty, not UTF-8, holding a
// control character, or longer than kMaxLabelStemBytes once encoded.
std::string labelProblem(std::string_view label);

// The file name stem of a label labelProblem accepts.
std::string labelStem(std::string_view label);

// Gives each receipt of a run, in order, its golden file's name.
class GoldenNames {
public:
  // "" for a receipt printed before any label.
  std::string next(const std::string &label);

private:
  std::size_t unlabelled_ = 0;
  std::map<std::string, std::size_t> labelled_;  // receipts so far, by stem
};

}  // namespace it433td::tools
