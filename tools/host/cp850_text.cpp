// cp850_text.cpp - conversion with glibc's iconv, whose CP850 table is the
// printer's character set.
#include "host/cp850_text.h"

#include "common/shown_text.h"
#include "transcript.h"

#include <cerrno>
#include <iconv.h>
#include <memory>

namespace it433td::tools {

namespace {

struct IconvCloser {
  void operator()(void *cd) const { ::iconv_close(static_cast<iconv_t>(cd)); }
};

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
    const bool unconvertible = errno == EILSEQ;
    const std::size_t offset = static_cast<std::size_t>(inPointer - in.data());
    const std::string_view rest = std::string_view(in).substr(offset);
    const std::string_view character = rest.substr(0, printer::utf8SequenceLength(rest, 0));
    const std::string shown = shownText(character);
    const std::string where = "column " + std::to_string(columnOf(in, offset)) + ": ";
    if (unconvertible && character == "\xEF\xBB\xBF")
      result.error = where + "a byte-order mark (U+FEFF), which is no printable character";
    else if (unconvertible && !character.empty() && shown != character)  // a C1 control
      result.error = where + "control character " + shown + " (only printable characters are printed)";
    else if (unconvertible && !character.empty())
      result.error = where + "\"" + shown + "\" is not in code page 850";
    else
      result.error = where + "not well-formed UTF-8";
    return result;
  }
  out.resize(out.size() - outLeft);
  result.bytes = std::move(out);
  return result;
}

}  // namespace it433td::tools
