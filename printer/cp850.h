// cp850.h - the printer's character set (code page 850) to Unicode.
#pragma once

#include <string>
#include <string_view>

namespace it433td::printer {

// The UTF-8 form of one printable byte (0x20-0xFF) of code page 850.
// Bytes below 0x20 are control bytes, never text: they give "".
const std::string &cp850Glyph(unsigned char byte);

// A whole run of code page 850 text in UTF-8.
std::string cp850ToUtf8(std::string_view text);

}  // namespace it433td::printer
