// receipt.h - a printed receipt: what went onto the paper, where, and how
// it reads in the transcript.
//
// Paper layout: 576 dots wide (80 mm at 8 dots per mm; 58 mm ESC/POS paper
// has 384). Normal text has 48
// columns of 12 dots, condensed text 64 columns of 9 dots; every text line
// is 24 dots high. A CODE128 barcode is 64 dots of bars (2 dots per module,
// 1 when that would not fit), centred, with its text under it (24 dots).
// Raster images print 1:1 from the left edge; feeds advance the paper.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace it433td::printer {

constexpr int kPaperWidthDots = 576;  // 80 mm at 8 dots per mm
constexpr int kLineHeightDots = 24;
constexpr int kNormalCharDots = 12;
constexpr int kCondensedCharDots = 9;
constexpr int kBarHeightDots = 64;
constexpr int kMaxReceiptDots = 32000;  // longer paper continues in the next receipt
// A receipt's transcript grows past this only by its last item; then the
// receipt continues in the next one, as with paper longer than kMaxReceiptDots.
constexpr std::size_t kMaxReceiptTranscriptBytes = std::size_t{1} << 20;
// A receipt with this many runs of unknown bytes is junk (a wrong baud rate,
// a binary file sent to the port): what follows, up to the next cut, is
// counted in one note instead of being laid out, so junk costs little more
// than reading it.
constexpr int kMaxUnknownRunsPerReceipt = 256;

// Where the dot (x, y) of a picture `width` dots wide lies in its pixels,
// row after row, and how many dots a `width` x `height` picture has. Dots
// and sizes are never negative.
constexpr std::size_t dotIndex(int x, int y, int width) {
  return static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
         static_cast<std::size_t>(x);
}
constexpr std::size_t dotCount(int width, int height) { return dotIndex(0, height, width); }

struct Glyph {
  std::string utf8;  // one character
  int x = 0;         // left edge, dots
  int width = 0;     // cell width: 12 normal, 9 condensed (ESC/POS: times its width scale)
  // The ESC/POS model's styles; the IT433TD's glyphs keep the defaults.
  int y = 0;                     // top of the cell, dots below the line's top
  int height = kLineHeightDots;  // cell height
  bool small = false;            // the 9-dot font (condensed, font B)
  int scaleX = 1, scaleY = 1;    // the font's magnification
  bool bold = false, reverse = false, upsideDown = false;
  int underline = 0;  // dots thick
};

enum class ItemKind {
  TextLine,  // glyphs (maybe none: an empty line)
  Barcode,   // modules from x, moduleWidth dots each, text under it
  Image,     // pixels, width x height
  Feed,      // blank paper
  Note,      // transcript only: nothing printed (rejected or cut-short commands)
  Warning,   // transcript only ("[WARNING ...", "[NOTE ..."); a mark in the
             // picture's margin at y and a banner under the paper
};

struct PrintedItem {
  ItemKind kind = ItemKind::Note;
  int y = 0;       // top, dots from the start of the receipt
  int height = 0;  // dots of paper it takes
  std::string transcript;

  std::vector<Glyph> glyphs;  // TextLine

  std::vector<bool> modules;  // Barcode
  int x = 0;                  // Barcode, Image: left edge
  int moduleWidth = 0;
  std::string humanReadable;  // UTF-8
  int barHeight = kBarHeightDots;
  bool textAbove = false, textBelow = true;  // the human-readable text

  int width = 0;                     // Image
  std::vector<std::uint8_t> pixels;  // width * height, 1 = black dot
};

struct Receipt {
  int number = 0;        // 1, 2, ... in the order the printer finished them
  int widthDots = kPaperWidthDots;  // the paper's (384 on 58 mm ESC/POS paper)
  int lengthDots = 0;    // paper used
  bool cut = false;      // ended by the cutter (not by the end of the stream)
  bool continued = false;  // ended because the paper (or transcript) ran past its limit
  std::vector<PrintedItem> items;
  // What a test run named the receipt as it was printed (its golden file's
  // name, `it433td label`); set by the port it came through, never printed.
  std::string label;

  bool empty() const { return items.empty(); }
};

}  // namespace it433td::printer
