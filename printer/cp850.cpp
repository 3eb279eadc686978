// cp850.cpp - code page 850 to UTF-8 through glibc's iconv.
//
// The table of 256 glyphs is built once, on first use, by converting each
// byte on its own; iconv's "CP850" table is the well-kept one, so none is
// hand-written here.
#include "cp850.h"

#include <array>
#include <iconv.h>

namespace it433td::printer {

namespace {

using GlyphTable = std::array<std::string, 256>;

GlyphTable buildTable() {
  GlyphTable table;
  iconv_t cd = iconv_open("UTF-8", "CP850");
  for (int byte = 0x20; byte <= 0xFF; ++byte) {
    char in = static_cast<char>(byte);
    char out[8] = {};
    std::string glyph = "?";  // only if iconv is missing (never on glibc)
    if (cd != reinterpret_cast<iconv_t>(-1)) {
      char *inPtr = &in, *outPtr = out;
      size_t inLeft = 1, outLeft = sizeof out;
      if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1))
        glyph.assign(out, outPtr);
      iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
    }
    table[static_cast<size_t>(byte)] = glyph;
  }
  if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  return table;
}

}  // namespace

const std::string &cp850Glyph(unsigned char byte) {
  static const GlyphTable table = buildTable();  // thread-safe one-time init
  return table[byte];
}

std::string cp850ToUtf8(std::string_view text) {
  std::string utf8;
  utf8.reserve(text.size());
  for (char c : text) utf8 += cp850Glyph(static_cast<unsigned char>(c));
  return utf8;
}

}  // namespace it433td::printer
