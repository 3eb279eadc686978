// code_tables.cpp - the tables, each converted from iconv once, on first use.
#include "code_tables.h"

#include <iconv.h>

#include <array>
#include <cstring>
#include <mutex>

namespace it433td::printer {

namespace {

struct TableInfo {
  CodeTable table;
  int number;  // ESC t n
  const char *name;
  const char *iconvName;
};

constexpr TableInfo kTables[] = {
    {CodeTable::PC437, 0, "PC437", "CP437"},
    {CodeTable::Katakana, 1, "Katakana", "SHIFT_JIS"},
    {CodeTable::PC850, 2, "PC850", "CP850"},
    {CodeTable::PC860, 3, "PC860", "CP860"},
    {CodeTable::PC863, 4, "PC863", "CP863"},
    {CodeTable::PC865, 5, "PC865", "CP865"},
    {CodeTable::WPC1252, 16, "WPC1252", "CP1252"},
    {CodeTable::PC866, 17, "PC866", "CP866"},
    {CodeTable::PC852, 18, "PC852", "CP852"},
    {CodeTable::PC858, 19, "PC858", "CP858"},
};
constexpr std::size_t kTableCount = sizeof kTables / sizeof kTables[0];

// The characters at # $ @ [ \ ] ^ ` { | } ~ in each international set.
constexpr unsigned char kNationalPositions[12] = {'#', '$', '@', '[', '\\', ']',
                                                  '^', '`', '{', '|', '}',  '~'};
constexpr const char *kNationalSets[][12] = {
    {"#", "$", "@", "[", "\\", "]", "^", "`", "{", "|", "}", "~"},  // 0 USA
    {"#", "$", "à", "°", "ç", "§", "^", "`", "é", "ù", "è", "¨"},   // 1 France
    {"#", "$", "§", "Ä", "Ö", "Ü", "^", "`", "ä", "ö", "ü", "ß"},   // 2 Germany
    {"£", "$", "@", "[", "\\", "]", "^", "`", "{", "|", "}", "~"},  // 3 UK
    {"#", "$", "@", "Æ", "Ø", "Å", "^", "`", "æ", "ø", "å", "~"},   // 4 Denmark I
    {"#", "¤", "É", "Ä", "Ö", "Å", "Ü", "é", "ä", "ö", "å", "ü"},   // 5 Sweden
    {"#", "$", "@", "°", "\\", "é", "^", "ù", "à", "ò", "è", "ì"},  // 6 Italy
    {"₧", "$", "@", "¡", "Ñ", "¿", "^", "`", "¨", "ñ", "}", "~"},   // 7 Spain I
    {"#", "$", "@", "[", "¥", "]", "^", "`", "{", "|", "}", "~"},   // 8 Japan
    {"#", "¤", "É", "Æ", "Ø", "Å", "Ü", "é", "æ", "ø", "å", "ü"},   // 9 Norway
    {"#", "$", "É", "Æ", "Ø", "Å", "Ü", "é", "æ", "ø", "å", "ü"},   // 10 Denmark II
    {"#", "$", "á", "¡", "Ñ", "¿", "é", "`", "í", "ñ", "ó", "ú"},   // 11 Spain II
    {"#", "$", "á", "¡", "Ñ", "¿", "é", "ü", "í", "ñ", "ó", "ú"},   // 12 Latin America
};
constexpr int kNationalSetCount = sizeof kNationalSets / sizeof kNationalSets[0];

using Glyphs = std::array<std::string, 256>;

// One byte through iconv; "" where the table has no character there.
std::string convert(iconv_t cd, unsigned char byte) {
  char in[1] = {static_cast<char>(byte)};
  char out[8] = {};
  char *inPtr = in, *outPtr = out;
  std::size_t inLeft = 1, outLeft = sizeof out;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) return {};
  return std::string(out, sizeof out - outLeft);
}

Glyphs loadTable(const TableInfo &info) {
  Glyphs glyphs;
  const iconv_t cd = iconv_open("UTF-8", info.iconvName);
  if (cd == reinterpret_cast<iconv_t>(-1)) return glyphs;  // no gconv module: nothing prints
  for (int byte = 0x20; byte < 0x100; ++byte)
    if (byte != 0x7F)
      glyphs[static_cast<std::size_t>(byte)] = convert(cd, static_cast<unsigned char>(byte));
  iconv_close(cd);
  if (info.table == CodeTable::Katakana) {
    // 0x80-0x9F: blocks and box drawing, which receipt libraries use for rules.
    static constexpr const char *kGraphics[32] = {
        "▁", "▂", "▃", "▄", "▅", "▆", "▇", "█", "▏", "▎", "▍", "▌", "▋", "▊", "▉", "┼",
        "┴", "┬", "┤", "├", "▔", "─", "│", "▕", "┌", "┐", "└", "┘", "╭", "╮", "╰", "╯"};
    for (int i = 0; i < 32; ++i) glyphs[static_cast<std::size_t>(0x80 + i)] = kGraphics[i];
    for (int byte = 0x20; byte < 0x7F; ++byte)  // ASCII, where Shift JIS has its yen and overline
      glyphs[static_cast<std::size_t>(byte)] = std::string(1, static_cast<char>(byte));
  }
  // A byte iconv maps to a C1 control (U+0080-U+009F) prints nothing either.
  for (std::string &glyph : glyphs)
    if (glyph.size() == 2 && static_cast<unsigned char>(glyph[0]) == 0xC2 &&
        static_cast<unsigned char>(glyph[1]) < 0xA0)
      glyph.clear();
  return glyphs;
}

const Glyphs &glyphsOf(CodeTable table) {
  static std::array<Glyphs, kTableCount> tables;
  static std::once_flag loaded;
  std::call_once(loaded, [] {
    for (std::size_t i = 0; i < kTableCount; ++i) tables[i] = loadTable(kTables[i]);
  });
  return tables[static_cast<std::size_t>(table)];
}

}  // namespace

std::optional<CodeTable> codeTableForNumber(int n) {
  for (const TableInfo &info : kTables)
    if (info.number == n) return info.table;
  return std::nullopt;
}

std::string_view codeTableName(CodeTable table) {
  return kTables[static_cast<std::size_t>(table)].name;
}

bool internationalSetKnown(int n) { return n >= 0 && n < kNationalSetCount; }

const std::string &tableGlyph(CodeTable table, int internationalSet, unsigned char byte) {
  if (internationalSet > 0 && internationalSet < kNationalSetCount) {
    static const std::array<std::array<std::string, 12>, kNationalSetCount> national = [] {
      std::array<std::array<std::string, 12>, kNationalSetCount> sets;
      for (int set = 0; set < kNationalSetCount; ++set)
        for (std::size_t i = 0; i < 12; ++i)
          sets[static_cast<std::size_t>(set)][i] = kNationalSets[set][i];
      return sets;
    }();
    for (std::size_t i = 0; i < 12; ++i)
      if (kNationalPositions[i] == byte)
        return national[static_cast<std::size_t>(internationalSet)][i];
  }
  return glyphsOf(table)[byte];
}

}  // namespace it433td::printer
