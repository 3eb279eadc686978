// cp850_text.cpp - conversion with glibc's iconv, whose CP850 table is the
// printer's character set.
#include "cp850_text.h"

#include <cerrno>
#include <iconv.h>
#include <memory>

namespace it433td::tools {

namespace {

struct IconvCloser {
  void operator()(void *cd) const { ::iconv_close(static_cast<iconv_t>(cd)); }
};

// Length of the well-formed UTF-8 sequence at the start of `text`, or 0.
std::size_t utf8SequenceLength(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2
                                       : lead >= 0xE0 && lead < 0xF0 ? 3
                                       : lead >= 0xF0 && lead < 0xF5 ? 4
                                                                      : 0;
  if (length == 0 || length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i)
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 0;
  // Overlong forms, surrogates and code points above U+10FFFF.
  const auto second = static_cast<unsigned char>(length > 1 ? text[1] : 0);
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) ||
      (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90))
    return 0;
  return length;
}

// 1-based column of byte `offset`, counted in characters.
std::size_t columnOf(std::string_view text, std::size_t offset) {
  std::size_t column = 1;
  for (std::size_t i = 0; i < offset; ++i)
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++column;
  return column;
}

}  // namespace

Cp850Result utf8ToCp850(std::string_view utf8) {
  Cp850Result result;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<unsigned char>(utf8[i]);
    if (byte < 0x20 || byte == 0x7F) {
      static const char kHex[] = "0123456789ABCDEF";
      result.error = "column " + std::to_string(columnOf(utf8, i)) + ": control character 0x" +
                     kHex[byte >> 4] + kHex[byte & 0xF] + " (only printable characters are printed)";
      return result;
    }
  }
  std::unique_ptr<void, IconvCloser> cd(::iconv_open("CP850", "UTF-8"));
  if (cd.get() == reinterpret_cast<void *>(-1)) {
    cd.release();
    result.error = "glibc's iconv knows no CP850 conversion";
    return result;
  }
  std::string in(utf8);
  // Code page 850 takes one byte per character: the output never outgrows
  // the input.
  std::string out(in.size(), '\0');
  char *inPointer = in.data();
  std::size_t inLeft = in.size();
  char *outPointer = out.data();
  std::size_t outLeft = out.size();
  if (::iconv(static_cast<iconv_t>(cd.get()), &inPointer, &inLeft, &outPointer, &outLeft) ==
      static_cast<std::size_t>(-1)) {
    const std::size_t offset = static_cast<std::size_t>(inPointer - in.data());
    const std::string_view rest = std::string_view(in).substr(offset);
    const std::size_t length = utf8SequenceLength(rest);
    const std::string where = "column " + std::to_string(columnOf(in, offset)) + ": ";
    if (errno == EILSEQ && rest.substr(0, length) == "\xEF\xBB\xBF")
      result.error = where + "a byte-order mark (U+FEFF), which is no printable character";
    else if (errno == EILSEQ && length > 0)
      result.error = where + "\"" + std::string(rest.substr(0, length)) +
                     "\" is not in code page 850";
    else
      result.error = where + "not well-formed UTF-8";
    return result;
  }
  out.resize(out.size() - outLeft);
  result.bytes = std::move(out);
  return result;
}

}  // namespace it433td::tools
