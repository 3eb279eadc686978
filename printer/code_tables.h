// code_tables.h - the character code tables of a generic ESC/POS printer
// (ESC t n) and its international character sets (ESC R n), to Unicode.
//
// The single-byte tables come from glibc's iconv, which carries them (the
// Katakana table's half-width kana too; only its 32 block and box-drawing
// characters are typed in here); the international sets replace up
// to twelve ASCII characters (# $ @ [ \ ] ^ ` { | } ~) with national ones.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace it433td::printer {

enum class CodeTable : std::uint8_t {
  PC437,
  Katakana,
  PC850,
  PC860,
  PC863,
  PC865,
  WPC1252,
  PC866,
  PC852,
  PC858
};

// The table ESC t n selects, or nothing for a number no table here has.
std::optional<CodeTable> codeTableForNumber(int n);
// "PC437", "WPC1252".
std::string_view codeTableName(CodeTable table);
// True for an ESC R n this printer has (0 USA to 12 Latin America).
bool internationalSetKnown(int n);

// The UTF-8 form of a text byte (0x20-0xFF) in the table, with the
// international set's characters in place; "" for a byte the table cannot
// print (below 0x20, DEL, the holes of WPC1252).
const std::string &tableGlyph(CodeTable table, int internationalSet, unsigned char byte);

}  // namespace it433td::printer
