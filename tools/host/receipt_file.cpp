// receipt_file.cpp - parsing a receipt file into printer operations.
#include "host/receipt_file.h"

#include "host/cp850_text.h"
#include "operation_rules.h"
#include "host/qr_payload.h"

namespace it433td::tools {

namespace {

bool startsWithKeyword(std::string_view line, std::string_view keyword) {
  return line.substr(0, keyword.size()) == keyword &&
         (line.size() == keyword.size() || line[keyword.size()] == ' ');
}

bool isCut(std::string_view line) {
  if (line.substr(0, 3) != "cut") return false;
  return line.find_first_not_of(" \t", 3) == std::string_view::npos;
}

std::string at(int line) { return "line " + std::to_string(line) + ": "; }

}  // namespace

const char *stepLabel(ReceiptStep::Kind kind) {
  switch (kind) {
    case ReceiptStep::Kind::Text: return "text";
    case ReceiptStep::Kind::Code128: return "CODE128";
    case ReceiptStep::Kind::QrCode: return "QR code";
    case ReceiptStep::Kind::Cut: return "cut";
  }
  return "?";
}

ParsedReceipt parseReceipt(std::string_view content) {
  ParsedReceipt parsed;
  auto fail = [&](int line, const std::string &why) {
    parsed.steps.clear();
    parsed.error = at(line) + why;
    return parsed;
  };
  int number = 0;
  std::size_t start = 0;
  // Editors on Windows often start a UTF-8 file with a byte-order mark; it
  // is no character of the receipt. A UTF-16 file is not a receipt file.
  if (content.substr(0, 3) == "\xEF\xBB\xBF") start = 3;
  if (content.substr(0, 2) == "\xFF\xFE" || content.substr(0, 2) == "\xFE\xFF")
    return fail(1, "the file is UTF-16 (it starts with a UTF-16 byte-order mark); "
                   "receipt files are UTF-8");
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    if (end == std::string_view::npos) end = content.size();
    std::string_view line = content.substr(start, end - start);
    start = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    if (!line.empty() && line[0] == '#') continue;
    ReceiptStep step;
    step.line = step.lastLine = number;
    if (startsWithKeyword(line, "code128")) {
      step.kind = ReceiptStep::Kind::Code128;
      step.bytes = std::string(line.substr(std::min(line.size(), std::size_t{8})));
      if (step.bytes.empty()) return fail(number, "code128 needs data");
      if (step.bytes.size() > driver::kCode128MaxData)
        return fail(number, "CODE128 data is " + std::to_string(step.bytes.size()) +
                                " bytes; the printer takes at most " +
                                std::to_string(driver::kCode128MaxData));
      for (const char byte : step.bytes)  // signed or not, a byte over 0x7E fails
        if (byte < 0x20 || byte > 0x7E)
          return fail(number, "CODE128 data must be printable ASCII");
    } else if (startsWithKeyword(line, "qr")) {
      step.kind = ReceiptStep::Kind::QrCode;
      step.bytes = std::string(line.substr(std::min(line.size(), std::size_t{3})));
      if (step.bytes.empty()) return fail(number, "qr needs data");
      // Found now, not halfway through the receipt on the paper.
      const std::string problem = qrPayloadProblem(step.bytes);
      if (!problem.empty()) return fail(number, problem);
    } else if (isCut(line)) {
      step.kind = ReceiptStep::Kind::Cut;
    } else {
      if (!line.empty() && line[0] == '\\') line.remove_prefix(1);
      Cp850Result text = utf8ToCp850(line);
      if (!text.error.empty()) return fail(number, text.error);
      text.bytes += '\n';
      auto &steps = parsed.steps;
      if (!steps.empty() && steps.back().kind == ReceiptStep::Kind::Text) {
        steps.back().bytes += text.bytes;
        steps.back().lastLine = number;
        continue;
      }
      step.bytes = std::move(text.bytes);
    }
    parsed.steps.push_back(std::move(step));
  }
  return parsed;
}

}  // namespace it433td::tools
