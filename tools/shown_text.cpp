// shown_text.cpp - control characters spelled out for the terminal.
#include "shown_text.h"

namespace it433td::tools {

std::size_t utf8SequenceLength(std::string_view text, std::size_t at) {
  if (at >= text.size()) return 0;
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2
                             : lead >= 0xE0 && lead < 0xF0                 ? 3
                             : lead >= 0xF0 && lead < 0xF5                 ? 4
                                                                           : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i)
    if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 0;
  // Overlong forms, surrogates and code points above U+10FFFF.
  const auto second = static_cast<unsigned char>(length > 1 ? text[at + 1] : 0);
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) ||
      (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90))
    return 0;
  return length;
}

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
    const std::size_t length = utf8SequenceLength(text, i);
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
