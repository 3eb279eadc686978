// fuzz_receipt_file.cpp - the receipt file of `it433td print` on arbitrary
// bytes: parseReceipt, its keyword lines and the UTF-8 to code page 850
// conversion of its text.
//
// Beyond "no crash" it checks that every accepted file converts back to the
// same text: each text step, read back from code page 850 into UTF-8 (iconv,
// the other direction), gives its source lines as written (less the escaping
// backslash); each barcode step's data is its line's after the keyword; the
// lines no step covers are comments; and no byte below 0x20 but the line
// feed, nor 0x7F, reaches the printer as text (it would be a command).
#include "host/receipt_file.h"

#include <iconv.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

using it433td::tools::ParsedReceipt;
using it433td::tools::parseReceipt;
using it433td::tools::ReceiptStep;
using Kind = ReceiptStep::Kind;

namespace {

[[noreturn]] void fail(const ReceiptStep *step, const char *what) {
  if (step)
    std::fprintf(stderr, "lines %d-%d (%s): %s\n", step->line, step->lastLine,
                 it433td::tools::stepLabel(step->kind), what);
  else
    std::fprintf(stderr, "%s\n", what);
  std::abort();
}

std::string cp850ToUtf8(const std::string &cp850) {
  static const iconv_t cd = ::iconv_open("UTF-8", "CP850");
  if (cd == reinterpret_cast<iconv_t>(-1)) fail(nullptr, "no CP850 in iconv");
  ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string in = cp850, out(cp850.size() * 3, '\0');
  char *inPointer = in.data(), *outPointer = out.data();
  std::size_t inLeft = in.size(), outLeft = out.size();
  if (::iconv(cd, &inPointer, &inLeft, &outPointer, &outLeft) == static_cast<std::size_t>(-1))
    fail(nullptr, "code page 850 text that does not read back as UTF-8");
  out.resize(out.size() - outLeft);
  return out;
}

// The file's lines as the format defines them: split at line feeds, one CR
// before the line feed dropped, a byte-order mark before the first ignored.
std::vector<std::string_view> linesOf(std::string_view content) {
  if (content.substr(0, 3) == "\xEF\xBB\xBF") content.remove_prefix(3);
  std::vector<std::string_view> lines;
  while (!content.empty()) {
    const std::size_t end = std::min(content.find('\n'), content.size());
    std::string_view line = content.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    content.remove_prefix(std::min(end + 1, content.size()));
  }
  return lines;
}

void checkTextStep(const ReceiptStep &step, const std::vector<std::string_view> &lines) {
  for (const char byte : step.bytes)  // signed or not, bytes over 0x7F pass
    if ((byte >= 0 && byte < 0x20 && byte != '\n') || byte == 0x7F)
      fail(&step, "a control byte in the printed text");
  const std::string text = cp850ToUtf8(step.bytes);
  std::size_t at = 0;
  for (int n = step.line; n <= step.lastLine; ++n) {
    const std::string_view source = lines[static_cast<std::size_t>(n) - 1];
    if (!source.empty() && source[0] == '#') continue;  // a comment between text lines
    const std::size_t end = text.find('\n', at);
    if (end == std::string::npos) fail(&step, "fewer printed lines than text lines");
    const std::string_view printed = std::string_view(text).substr(at, end - at);
    const bool escaped = !source.empty() && source[0] == '\\';
    if (printed != source.substr(escaped ? 1 : 0)) fail(&step, "a line prints other text than written");
    at = end + 1;
  }
  if (at != text.size()) fail(&step, "more printed lines than text lines");
}

void checkStep(const ReceiptStep &step, const std::vector<std::string_view> &lines) {
  const std::string_view source = lines[static_cast<std::size_t>(step.line) - 1];
  switch (step.kind) {
    case Kind::Text: checkTextStep(step, lines); return;
    case Kind::Code128:
      if (source != "code128 " + step.bytes) fail(&step, "the barcode data is not the line's");
      if (step.bytes.empty() || step.bytes.size() > 255) fail(&step, "CODE128 data of 1 to 255 bytes");
      for (const char byte : step.bytes)  // signed or not, a byte over 0x7E fails
        if (byte < 0x20 || byte > 0x7E) fail(&step, "CODE128 data beyond printable ASCII");
      break;
    case Kind::QrCode:
      if (source != "qr " + step.bytes || step.bytes.empty()) fail(&step, "the QR data is not the line's");
      break;
    case Kind::Cut:
      if (source.substr(0, 3) != "cut" || source.find_first_not_of(" \t", 3) != std::string_view::npos)
        fail(&step, "a cut from a line that is not \"cut\"");
      break;
  }
  if (step.lastLine != step.line) fail(&step, "a barcode or cut spans lines");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view content(reinterpret_cast<const char *>(data), size);
  const ParsedReceipt parsed = parseReceipt(content);
  if (!parsed.error.empty()) return 0;

  const std::vector<std::string_view> lines = linesOf(content);
  int covered = 0;  // the last line a step took
  for (const ReceiptStep &step : parsed.steps) {
    if (step.line <= covered || step.lastLine < step.line ||
        step.lastLine > static_cast<int>(lines.size()))
      fail(&step, "steps out of order or beyond the file");
    for (int n = covered + 1; n < step.line; ++n)
      if (lines[static_cast<std::size_t>(n) - 1].substr(0, 1) != "#")
        fail(&step, "a line before this step was skipped but is no comment");
    checkStep(step, lines);
    covered = step.lastLine;
  }
  for (std::size_t n = static_cast<std::size_t>(covered) + 1; n <= lines.size(); ++n)
    if (lines[n - 1].substr(0, 1) != "#") fail(nullptr, "a line at the end was skipped but is no comment");
  return 0;
}
