// escpos_commands.cpp - one table of ESC/POS commands: code, meaning, length.
#include "escpos_commands.h"

#include <cstdint>
#include <cstdio>

namespace it433td::printer {

namespace {

enum class Shape {
  Fixed,         // `params` bytes follow the two-byte code
  CutMode,       // GS V m [n]: n only for m 65, 66, 97, 98, 103, 104
  Barcode,       // GS k m: m 0-6 data up to NUL; m 65-79 n d1..dn
  Extended,      // GS ( fn pL pH d1..d(pL + 256 pH)
  BitImage,      // ESC * m nL nH d1..dk: k = n, or 3n for 24-dot images
  DefineImage,   // GS * x y d1..d(8xy)
  Tabs,          // ESC D n1..nk NUL, at most 32 positions
  LongExtended,  // GS 8 L p1 p2 p3 p4 d1..d(p1 + 256 p2 + 65536 p3 + 16777216 p4)
  Symbol2D,      // ESC Z m n k dL dH d1..d(dL + 256 dH)
};

struct Entry {
  std::uint8_t lead;
  std::uint8_t code;
  std::uint8_t params;  // Fixed
  Shape shape;
  const char *meaning;
};

// The commands most ESC/POS drivers and libraries send. ESC J, GS v 0 and
// DLE EOT are the IT433TD's own and never reach this table.
constexpr Entry kCommands[] = {
    {kESC, '@', 0, Shape::Fixed, "initialise"},
    {kESC, 'a', 1, Shape::Fixed, "justification"},
    {kESC, 'E', 1, Shape::Fixed, "bold"},
    {kESC, '!', 1, Shape::Fixed, "print mode"},
    {kESC, 'd', 1, Shape::Fixed, "print and feed lines"},
    {kESC, 'e', 1, Shape::Fixed, "print and reverse feed"},
    {kESC, 't', 1, Shape::Fixed, "character code table"},
    {kESC, '-', 1, Shape::Fixed, "underline"},
    {kESC, 'G', 1, Shape::Fixed, "double-strike"},
    {kESC, 'M', 1, Shape::Fixed, "character font"},
    {kESC, '2', 0, Shape::Fixed, "default line spacing"},
    {kESC, '3', 1, Shape::Fixed, "line spacing"},
    {kESC, 'R', 1, Shape::Fixed, "international character set"},
    {kESC, '{', 1, Shape::Fixed, "upside-down printing"},
    {kESC, 'V', 1, Shape::Fixed, "quarter-turn rotation"},
    {kESC, ' ', 1, Shape::Fixed, "character spacing"},
    {kESC, 'U', 1, Shape::Fixed, "unidirectional printing"},
    {kESC, 'r', 1, Shape::Fixed, "print colour"},
    {kESC, 'p', 3, Shape::Fixed, "cash drawer pulse"},
    {kESC, '$', 2, Shape::Fixed, "absolute print position"},
    {kESC, '\\', 2, Shape::Fixed, "relative print position"},
    {kESC, 'i', 0, Shape::Fixed, "partial cut"},
    {kESC, 'm', 0, Shape::Fixed, "partial cut"},
    {kESC, 'c', 2, Shape::Fixed, "panel buttons and paper sensors"},
    {kESC, '=', 1, Shape::Fixed, "select peripheral device"},
    {kESC, '%', 1, Shape::Fixed, "user-defined characters"},
    {kESC, '?', 1, Shape::Fixed, "cancel user-defined character"},
    {kESC, 'L', 0, Shape::Fixed, "page mode"},
    {kESC, 'S', 0, Shape::Fixed, "standard mode"},
    {kESC, 'T', 1, Shape::Fixed, "page mode direction"},
    {kESC, 'W', 8, Shape::Fixed, "page mode area"},
    {kESC, 0x0C, 0, Shape::Fixed, "print page"},
    {kESC, '*', 0, Shape::BitImage, "bit image"},
    {kESC, 'D', 0, Shape::Tabs, "horizontal tab positions"},
    {kESC, '4', 0, Shape::Fixed, "italic"},
    {kESC, '5', 0, Shape::Fixed, "cancel italic"},
    {kESC, 'Z', 0, Shape::Symbol2D, "print 2D symbol"},
    {kGS, 'V', 0, Shape::CutMode, "cut"},
    {kGS, 'k', 0, Shape::Barcode, "barcode"},
    {kGS, '(', 0, Shape::Extended, "extended command"},
    {kGS, '!', 1, Shape::Fixed, "character size"},
    {kGS, 'B', 1, Shape::Fixed, "reverse printing"},
    {kGS, 'H', 1, Shape::Fixed, "barcode text position"},
    {kGS, 'h', 1, Shape::Fixed, "barcode height"},
    {kGS, 'w', 1, Shape::Fixed, "barcode module width"},
    {kGS, 'f', 1, Shape::Fixed, "barcode text font"},
    {kGS, 'L', 2, Shape::Fixed, "left margin"},
    {kGS, 'W', 2, Shape::Fixed, "print area width"},
    {kGS, 'P', 2, Shape::Fixed, "motion units"},
    {kGS, 'b', 1, Shape::Fixed, "smoothing"},
    {kGS, 'a', 1, Shape::Fixed, "automatic status back"},
    {kGS, 'r', 1, Shape::Fixed, "status request"},
    {kGS, 'I', 1, Shape::Fixed, "printer ID"},
    {kGS, 'T', 1, Shape::Fixed, "print position to line start"},
    {kGS, '$', 2, Shape::Fixed, "absolute vertical position"},
    {kGS, '\\', 2, Shape::Fixed, "relative vertical position"},
    {kGS, '/', 1, Shape::Fixed, "print downloaded bit image"},
    {kGS, ':', 0, Shape::Fixed, "macro definition"},
    {kGS, '*', 0, Shape::DefineImage, "define downloaded bit image"},
    {kGS, '8', 0, Shape::LongExtended, "extended command"},
    {kGS, 'Z', 1, Shape::Fixed, "2D symbol type"},
    {kFS, 'p', 2, Shape::Fixed, "print NV bit image"},
    {kFS, '.', 0, Shape::Fixed, "cancel Kanji mode"},
    {kFS, '&', 0, Shape::Fixed, "Kanji mode"},
    {kFS, 'C', 1, Shape::Fixed, "Kanji code system"},
    {kFS, '!', 1, Shape::Fixed, "Kanji print mode"},
    {kFS, '(', 0, Shape::Extended, "extended command"},
    {kFS, 'S', 2, Shape::Fixed, "Kanji character spacing"},
    {kFS, '-', 1, Shape::Fixed, "Kanji underline"},
};

// GS ( fn and GS 8 fn: the functions worth naming; others (and FS's) are
// "extended command".
const char *extendedMeaning(std::uint8_t lead, std::uint8_t fn) {
  if (lead != kGS) return nullptr;
  switch (fn) {
    case 'k': return "QR code and 2D symbols";
    case 'L': return "graphics";
    case 'A': return "test print";
    case 'E': return "user setup";
    default: return nullptr;
  }
}

const Entry *find(std::uint8_t lead, std::uint8_t code) {
  for (const Entry &entry : kCommands)
    if (entry.lead == lead && entry.code == code) return &entry;
  return nullptr;
}

// `most`: the data a real command of the kind carries at most; by default
// what its length bytes can count.
ForeignCommandShape known(std::size_t header, std::uint64_t data = 0, bool untilNul = false,
                          std::uint64_t most = UINT64_MAX) {
  return {ForeignCommandShape::Length::Known, header, data, untilNul, most};
}

// The largest data of the commands whose length bytes can claim far more:
// GS ( k stores at most a QR code of version 40 (7089 bytes and 3 function
// bytes); ESC * at most 1023 columns (nH 0 to 3); GS * at most x * y = 1536.
constexpr std::uint64_t kMostSymbolData = 7092;
constexpr std::uint64_t kMostBitImageColumns = 1023;
constexpr std::uint64_t kMostDefinedImageBlocks = 1536;
// GS 8 L carries what GS ( L does when it needs more than 65,535 bytes: at
// most four colour planes of a 4096-row image as wide as the paper, and its
// ten bytes of function and size.
constexpr std::uint64_t kMostLongGraphicsData = 4u * 72u * 4096u + 10u;

constexpr ForeignCommandShape kNeedMore{ForeignCommandShape::Length::NeedMore};

std::string codeName(std::uint8_t byte) {
  switch (byte) {
    case kESC: return "ESC";
    case kGS: return "GS";
    case kFS: return "FS";
    case ' ': return "SP";
    case 0x0C: return "FF";
    default: break;
  }
  if (byte > 0x20 && byte < 0x7F) return std::string(1, static_cast<char>(byte));
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02X", byte);
  return hex;
}

}  // namespace

ForeignCommandShape foreignCommandShape(const std::uint8_t *head, std::size_t size) {
  const Entry *entry = size >= 2 ? find(head[0], head[1]) : nullptr;
  if (!entry) return {};
  const auto at = [&](std::size_t i) { return static_cast<std::uint64_t>(head[i]); };
  switch (entry->shape) {
    case Shape::Fixed: return known(2u + entry->params);
    case Shape::CutMode:
      if (size < 3) return kNeedMore;
      switch (head[2]) {
        case 65:
        case 66:
        case 97:
        case 98:
        case 103:
        case 104: return known(4);
        default: return known(3);
      }
    case Shape::Barcode:
      if (size < 3) return kNeedMore;
      if (head[2] <= 6) return known(3, 256, true);  // up to 255 characters and the NUL
      if (head[2] < 65 || head[2] > 79) return known(3);
      if (size < 4) return kNeedMore;
      return known(4, at(3));
    case Shape::Extended:
      if (size < 5) return kNeedMore;
      return known(5, at(3) + 256 * at(4), false, head[2] == 'k' ? kMostSymbolData : UINT64_MAX);
    case Shape::BitImage: {
      if (size < 5) return kNeedMore;
      const std::uint64_t columns = at(3) + 256 * at(4);
      const std::uint64_t bytesPerColumn = head[2] <= 1                       ? 1
                                           : (head[2] == 32 || head[2] == 33) ? 3
                                                                              : 0;
      return known(5, columns * bytesPerColumn, false, kMostBitImageColumns * bytesPerColumn);
    }
    case Shape::DefineImage:
      if (size < 4) return kNeedMore;
      return known(4, at(2) * at(3) * 8, false, kMostDefinedImageBlocks * 8);
    case Shape::Tabs: return known(2, 33, true);
    case Shape::LongExtended:
      if (size < 7) return kNeedMore;
      return known(7, at(3) + 256 * at(4) + 65536 * at(5) + 16777216 * at(6), false,
                   head[2] == 'L' ? kMostLongGraphicsData : kMostSymbolData);
    case Shape::Symbol2D:
      if (size < 7) return kNeedMore;
      return known(7, at(5) + 256 * at(6), false, kMostSymbolData);
  }
  return {};
}

std::string foreignCommandName(const std::uint8_t *head, std::size_t size) {
  const Entry *entry = size >= 2 ? find(head[0], head[1]) : nullptr;
  if (!entry) {  // not in the table: its two bytes, "ESC 0x07"
    if (size < 2) return size ? codeName(head[0]) : std::string();
    return codeName(head[0]) + " " + codeName(head[1]);
  }
  std::string code = codeName(head[0]) + " " + codeName(head[1]);
  const char *meaning = entry->meaning;
  if ((entry->shape == Shape::Extended || entry->shape == Shape::LongExtended) && size >= 3) {
    code += " " + codeName(head[2]);
    if (const char *named = extendedMeaning(head[0], head[2])) meaning = named;
  }
  return code + " (" + meaning + ", ESC/POS)";
}

}  // namespace it433td::printer
