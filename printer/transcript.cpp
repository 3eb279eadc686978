// transcript.cpp - receipts as text.
#include "transcript.h"

#include <cstdio>

namespace it433td::printer {

Utf8Lead utf8Lead(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return {2, 0x80, 0xBF};
  if (lead >= 0xE0 && lead <= 0xEF)
    return {3, static_cast<unsigned char>(lead == 0xE0 ? 0xA0 : 0x80),
            static_cast<unsigned char>(lead == 0xED ? 0x9F : 0xBF)};
  if (lead >= 0xF0 && lead <= 0xF4)
    return {4, static_cast<unsigned char>(lead == 0xF0 ? 0x90 : 0x80),
            static_cast<unsigned char>(lead == 0xF4 ? 0x8F : 0xBF)};
  return {};
}

std::size_t utf8SequenceLength(std::string_view text, std::size_t at) {
  if (at >= text.size()) return 0;
  const auto byteAt = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  if (byteAt(at) < 0x80) return 1;
  const Utf8Lead lead = utf8Lead(byteAt(at));
  if (!lead.length || at + lead.length > text.size()) return 0;
  if (byteAt(at + 1) < lead.low || byteAt(at + 1) > lead.high) return 0;
  for (std::size_t k = 2; k < lead.length; ++k)
    if (byteAt(at + k) < 0x80 || byteAt(at + k) > 0xBF) return 0;
  return lead.length;
}

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
    } else if (size_t length = c >= 0x80 ? utf8SequenceLength(bytes, i) : 0;
               length && !(c == 0xC2 && static_cast<unsigned char>(bytes[i + 1]) < 0xA0)) {
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

std::vector<std::string> warningsOf(const Receipt &receipt) {
  std::vector<std::string> warnings;
  for (const PrintedItem &item : receipt.items)
    if (item.kind == ItemKind::Warning) warnings.push_back(item.transcript);
  return warnings;
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
