// shown_text.cpp - control characters spelled out for the terminal.
#include "common/shown_text.h"

#include "transcript.h"

namespace it433td::tools {

namespace {

void appendHex(std::string &out, const char *format, unsigned value) {
  char spelled[12];
  std::snprintf(spelled, sizeof spelled, format, value);
  out += spelled;
}

}  // namespace

std::string shownText(std::string_view text, bool keepLineBreaks) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const std::size_t length = printer::utf8SequenceLength(text, i);
    if (length == 0) {
      appendHex(out, "\\x%02X", byte);
      ++i;
      continue;
    }
    // C1 controls are U+0080-U+009F: in UTF-8, 0xC2 followed by 0x80-0x9F.
    const auto next = static_cast<unsigned char>(length == 2 ? text[i + 1] : 0);
    const bool c0OrDel = length == 1 && (byte < 0x20 || byte == 0x7F);
    const bool c1 = byte == 0xC2 && next < 0xA0;
    if (c0OrDel && !(keepLineBreaks && byte == '\n'))
      appendHex(out, "U+%04X", byte);
    else if (c1)
      appendHex(out, "U+%04X", next);
    else
      out.append(text.substr(i, length));
    i += length;
  }
  return out;
}

void printMessage(std::FILE *to, std::string_view message) {
  const std::string shown = shownText(message, true);
  std::fprintf(to, "%s\n", shown.c_str());
  std::fflush(to);
}

}  // namespace it433td::tools
