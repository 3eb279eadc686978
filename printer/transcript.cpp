// transcript.cpp - receipts as text.
#include "transcript.h"

#include <cstdio>

namespace it433td::printer {

namespace {

// Length of the well-formed UTF-8 sequence starting at s[i] (2 to 4 bytes,
// no overlong forms, no surrogates), or 0.
size_t utf8SequenceLength(std::string_view s, size_t i) {
  const auto at = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = at(i);
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) length = 2;
  else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else
    return 0;
  if (i + length > s.size()) return 0;
  if (at(i + 1) < low || at(i + 1) > high) return 0;
  for (size_t k = 2; k < length; ++k)
    if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
  return length;
}

}  // namespace

std::string escapeBytes(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
      ++i;
    } else if (size_t length = c >= 0x80 ? utf8SequenceLength(bytes, i) : 0) {
      out.append(bytes.substr(i, length));
      i += length;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
      ++i;
    }
  }
  return out;
}

std::string transcriptOf(const Receipt &receipt) {
  std::string text;
  for (const PrintedItem &item : receipt.items) {
    text += item.transcript;
    text += '\n';
  }
  if (receipt.cut) text += "[CUT]\n";
  if (receipt.continued) text += "[CONTINUED]\n";
  return text;
}

}  // namespace it433td::printer
