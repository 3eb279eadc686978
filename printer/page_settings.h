// page_settings.h - what a generic ESC/POS printer has been told about the
// lines to come: the text style, the justification, the line spacing, the
// print area, the tab stops and how barcodes look. The ESC/POS decoder keeps
// them and hands them to the receipt builder whenever a command changes
// them (a Settings event).
#pragma once

#include "code_tables.h"

#include <vector>

namespace it433td::printer {

enum class Align { Left, Centre, Right };
enum class Hri { None, Above, Below, Both };  // a barcode's human-readable text

struct TextStyle {
  CodeTable table = CodeTable::PC437;
  int internationalSet = 0;  // ESC R: 0 USA
  bool fontB = false;        // font B, 9 x 17 dots (font A: 12 x 24)
  bool bold = false;         // ESC E, ESC G, ESC ! bit 3
  int underline = 0;         // dots thick: 0, 1 or 2
  bool reverse = false;      // white on black (GS B)
  bool upsideDown = false;   // ESC {
  int widthScale = 1;        // 1 to 8 (GS !, ESC !)
  int heightScale = 1;
  int charSpacing = 0;  // dots right of each character (ESC SP)

  int charWidth() const { return (fontB ? 9 : 12) * widthScale + charSpacing * widthScale; }
  int charHeight() const { return (fontB ? 17 : 24) * heightScale; }
  bool operator==(const TextStyle &other) const;
  bool operator!=(const TextStyle &other) const { return !(*this == other); }
};

struct PageSettings {
  TextStyle text;
  Align align = Align::Left;
  int lineSpacing = 30;       // dots from one line to the next (ESC 2: 1/6 inch)
  int leftMargin = 0;         // dots (GS L)
  int areaWidth = 0;          // dots (GS W); 0: to the paper's right edge
  std::vector<int> tabStops;  // dots from the left margin (ESC D); every 8 columns by default
  int barcodeHeight = 162;    // dots (GS h)
  int barcodeModule = 3;      // dots of the narrowest bar (GS w)
  Hri hri = Hri::None;        // GS H
  bool hriFontB = false;      // GS f

  PageSettings();
};

}  // namespace it433td::printer
