// receipt_file.h - the receipt file: a receipt written as lines of text.
//
//   any other line      text, UTF-8, printed condensed in code page 850 and
//                       followed by a line feed (an empty line feeds a line)
//   code128 DATA        a CODE128 barcode of DATA (ASCII, 1 to 255 bytes)
//   qr DATA             a QR code of DATA (bytes as written, at least one)
//   cut                 fire the paper cutter
//   # ...               a comment, not printed
//   \...                a text line printed without the backslash, so
//                       "\cut", "\# 1" and "\\x" print "cut", "# 1" and "\x"
//
// Keywords are lower case and start the line; DATA is everything after the
// single blank that follows the keyword, kept exactly. "cut" may be followed
// by blanks only. A line ending in CR LF loses its CR.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace it433td::tools {

struct ReceiptStep {
  enum class Kind { Text, Code128, QrCode, Cut };
  Kind kind = Kind::Text;
  // Text: code page 850 bytes, each line ending in a line feed; runs of text
  // lines (comments in between do not count) are joined into one step, so
  // they cost one write and one pause.
  // Code128, QrCode: the data bytes.
  std::string bytes;
  int line = 0;      // first line of the file it comes from
  int lastLine = 0;  // last line (text runs span several)
};

struct ParsedReceipt {
  std::vector<ReceiptStep> steps;
  std::string error;  // "line 4, column 2: ...", empty when the file is sound
};

// Parses and converts the whole file before anything is printed, so a bad
// line never leaves half a receipt on the paper.
ParsedReceipt parseReceipt(std::string_view content);

// The step's operation as a person calls it: "text", "CODE128", "QR code", "cut".
const char *stepLabel(ReceiptStep::Kind kind);

}  // namespace it433td::tools
