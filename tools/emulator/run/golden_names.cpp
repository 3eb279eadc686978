// golden_names.cpp - labels percent-encoded into file names.
#include "emulator/run/golden_names.h"

#include "receipt_folder.h"
#include "transcript.h"

#include <array>
#include <cctype>
#include <cstdio>

namespace it433td::tools {

namespace {

bool keptAsItIs(unsigned char byte) {
  return std::isalnum(byte) ||
         std::string_view("._-+,=@[]()").find(static_cast<char>(byte)) != std::string_view::npos;
}

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 name devices on Windows, whatever
// follows after a dot.
bool isWindowsDeviceName(std::string_view label) {
  const std::string_view base = label.substr(0, label.find('.'));
  std::string upper;
  for (const char c : base) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  static constexpr std::array<std::string_view, 4> kPlain = {"CON", "PRN", "AUX", "NUL"};
  for (const std::string_view name : kPlain)
    if (upper == name) return true;
  return upper.size() == 4 && (upper.rfind("COM", 0) == 0 || upper.rfind("LPT", 0) == 0) &&
         upper[3] >= '1' && upper[3] <= '9';
}

}  // namespace

std::string labelProblem(std::string_view label) {
  if (label.empty()) return "a label cannot be empty";
  if (label.size() > kMaxLabelStemBytes || labelStem(label).size() > kMaxLabelStemBytes)
    return "a label is at most " + std::to_string(kMaxLabelStemBytes) +
           " bytes as a file name (letters, digits and . _ - + , = @ [ ] ( ) one byte each, "
           "anything else three)";
  for (std::size_t i = 0; i < label.size();) {
    const std::size_t length = printer::utf8SequenceLength(label, i);
    const auto byte = static_cast<unsigned char>(label[i]);
    if (length == 0) return "a label must be UTF-8 text";
    if (byte < 0x20 || byte == 0x7F ||
        (byte == 0xC2 && static_cast<unsigned char>(label[i + 1]) < 0xA0))
      return "a label cannot hold a control character";
    i += length;
  }
  return "";
}

std::string labelStem(std::string_view label) {
  // The '-' of a final "-<digits>": NAME-2 is the second receipt of NAME.
  std::size_t digits = label.size();
  while (digits > 0 && std::isdigit(static_cast<unsigned char>(label[digits - 1]))) --digits;
  const bool finalNumber = digits < label.size() && digits > 0 && label[digits - 1] == '-';
  std::string stem;
  for (std::size_t i = 0; i < label.size(); ++i) {
    const auto byte = static_cast<unsigned char>(label[i]);
    const bool encoded = !keptAsItIs(byte) || (byte == '.' && (i == 0 || i + 1 == label.size())) ||
                         (i == 0 && isWindowsDeviceName(label)) || (finalNumber && i + 1 == digits);
    if (!encoded) {
      stem += static_cast<char>(byte);
      continue;
    }
    char hex[4];
    std::snprintf(hex, sizeof hex, "%%%02X", byte);
    stem += hex;
  }
  return stem;
}

std::string GoldenNames::next(const std::string &label) {
  if (label.empty())
    return printer::receiptFileName(static_cast<std::int64_t>(++unlabelled_), ".txt");
  const std::string stem = labelStem(label);
  const std::size_t count = ++labelled_[stem];
  return stem + (count == 1 ? "" : "-" + std::to_string(count)) + ".txt";
}

}  // namespace it433td::tools
