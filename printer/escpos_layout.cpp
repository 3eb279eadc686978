// escpos_layout.cpp - the receipt builder's part for the ESC/POS model:
// styled glyphs and their transcript marks, the print area, justification,
// positions and tab stops, barcodes of every symbology and 2-D symbols.
#include "barcodes.h"
#include "receipt_builder.h"
#include "transcript.h"

#include <algorithm>

namespace it433td::printer {

namespace {

// "\"data\"", escaped as the transcript writes bytes (built by appending:
// gcc 12 warns wrongly about "literal" + std::string&&).
std::string quoted(std::string_view bytes) {
  std::string text(1, '"');
  text += escapeBytes(bytes);
  text += '"';
  return text;
}

// "{B U 2x2}" for what differs from plain text; "" for plain.
std::string styleMark(const Glyph &glyph) {
  std::string mark;
  const auto add = [&](const std::string &flag) { mark += (mark.empty() ? "" : " ") + flag; };
  if (glyph.small) add("b");
  if (glyph.bold) add("B");
  if (glyph.underline) add(glyph.underline > 1 ? "UU" : "U");
  if (glyph.reverse) add("R");
  if (glyph.upsideDown) add("I");
  if (glyph.scaleX != 1 || glyph.scaleY != 1)
    add(std::to_string(glyph.scaleX) + "x" + std::to_string(glyph.scaleY));
  return mark.empty() ? mark : "{" + mark + "}";
}

}  // namespace

int ReceiptBuilder::areaLeft() const {
  if (!settings_) return 0;
  return std::clamp(settings_->leftMargin, 0, receipt_.widthDots - kNormalCharDots);
}

int ReceiptBuilder::areaRight() const {
  if (!settings_) return receipt_.widthDots;
  const int width = settings_->areaWidth > 0 ? settings_->areaWidth : receipt_.widthDots;
  return std::clamp(areaLeft() + width, areaLeft() + kNormalCharDots, receipt_.widthDots);
}

int ReceiptBuilder::alignedX(int width) const {
  const int room = std::max(0, areaRight() - areaLeft() - width);
  if (!settings_ || settings_->align == Align::Left) return areaLeft();
  return areaLeft() + (settings_->align == Align::Centre ? room / 2 : room);
}

std::string ReceiptBuilder::wrapSubject() const {
  if (!settings_) return "48 columns, 64 condensed";
  const int dots = areaRight() - areaLeft();
  return std::to_string(dots) + " dots: " + std::to_string(dots / kNormalCharDots) +
         " columns of font A, " + std::to_string(dots / kCondensedCharDots) + " of font B";
}

Glyph ReceiptBuilder::styledGlyph(unsigned char byte, std::uint64_t offset) {
  const TextStyle &style = settings_->text;
  Glyph glyph;
  glyph.utf8 = tableGlyph(style.table, style.internationalSet, byte);
  if (glyph.utf8.empty()) {
    const std::string table(codeTableName(style.table));
    warn(WarningKind::UnprintableByte, table,
         hexBytes(std::string(1, static_cast<char>(byte)), 1) + at(offset));
    glyph.utf8 = "\xEF\xBF\xBD";  // U+FFFD, where the printer prints its own blot
  }
  glyph.width = style.charWidth();
  glyph.height = style.charHeight();
  glyph.small = style.fontB;
  glyph.scaleX = style.widthScale;
  glyph.scaleY = style.heightScale;
  glyph.bold = style.bold;
  glyph.underline = style.underline;
  glyph.reverse = style.reverse;
  glyph.upsideDown = style.upsideDown;
  return glyph;
}

void ReceiptBuilder::markStyle(const Glyph &glyph) {
  const std::string mark = styleMark(glyph);
  if (mark == lineStyle_) return;
  closeStyle();
  lineTranscript_ += mark;
  lineStyle_ = mark;
}

void ReceiptBuilder::closeStyle() {
  if (!lineStyle_.empty()) lineTranscript_ += "{/}";
  lineStyle_.clear();
}

// The line's cells are bottom-aligned on the tallest; the paper advances by
// the line spacing, or by the tallest cell when that is more. Justified
// lines shift as a whole; an upside-down line is mirrored in the area.
void ReceiptBuilder::layOutLine(PrintedItem &line) {
  int tallest = 0;
  for (const Glyph &glyph : line.glyphs) tallest = std::max(tallest, glyph.height);
  line.height = std::max(settings_->lineSpacing, tallest);
  if (line.glyphs.empty()) return;
  for (Glyph &glyph : line.glyphs) glyph.y = tallest - glyph.height;
  const int shift = alignedX(lineX_ - areaLeft()) - areaLeft();
  for (Glyph &glyph : line.glyphs) {
    glyph.x += shift;
    if (glyph.upsideDown) glyph.x = areaLeft() + areaRight() - glyph.x - glyph.width;
  }
  if (settings_->align != Align::Left)
    line.transcript.insert(0, settings_->align == Align::Centre ? "{centre}" : "{right}");
}

// The transcript gets the spaces a position or tab stands for, in columns
// of the current font, so a price moved to the right stays readable.
void ReceiptBuilder::moveTo(int x) {
  x = std::clamp(x, areaLeft(), areaRight());
  const int column = settings_ ? settings_->text.charWidth() : kNormalCharDots;
  if (x > lineX_) {
    const int spaces = std::max(1, (x - std::max(lineX_, areaLeft()) + column / 2) / column);
    closeStyle();
    lineTranscript_.append(static_cast<std::size_t>(spaces), ' ');
  }
  lineX_ = x;
}

void ReceiptBuilder::nextTabStop() {
  if (!settings_) return;
  for (const int stop : settings_->tabStops)
    if (areaLeft() + stop > lineX_ && areaLeft() + stop <= areaRight())
      return moveTo(areaLeft() + stop);
}

void ReceiptBuilder::addEscposBarcode(const PrinterEvent &event) {
  printPendingLine();
  const std::string &format = event.detail;
  Bars bars = encodeBarcode(format, event.bytes);
  const int module = settings_->barcodeModule;
  const int count = static_cast<int>(bars.modules.size());
  if (bars.error.empty() && count * module > areaRight() - areaLeft())
    bars.error =
        "wider than the print area (" + std::to_string(areaRight() - areaLeft()) + " dots)";
  if (!bars.error.empty()) {
    addNote("[" + format + " " + quoted(event.bytes) + " NOT PRINTED: " + bars.error + "]");
    warn(WarningKind::BarcodeNotPrinted, format + ": " + bars.error,
         quoted(event.bytes.substr(0, 24)) + at(event.offset));
    return;
  }
  PrintedItem item;
  item.kind = ItemKind::Barcode;
  item.moduleWidth = module;
  item.x = alignedX(count * module);
  item.barHeight = settings_->barcodeHeight;
  item.textAbove = settings_->hri == Hri::Above || settings_->hri == Hri::Both;
  item.textBelow = settings_->hri == Hri::Below || settings_->hri == Hri::Both;
  item.height = item.barHeight + kLineHeightDots * (item.textAbove + item.textBelow);
  item.humanReadable = bars.text;
  // What a scanner reads off the bars, not the data they were made from.
  const std::string read = readBars(format, bars.modules);
  item.transcript = "[" + format + " " + quoted(read.empty() ? bars.text : read) +
                    (read.empty() ? " NOT READ]" : "]");
  item.modules = std::move(bars.modules);
  if (read.empty()) warn(WarningKind::CodeNotRead, format, quoted(bars.text) + at(event.offset));
  place(std::move(item));
}

// A 2-D symbol prints as an image of its modules, so its transcript line is
// read off the picture like a raster QR code's.
void ReceiptBuilder::addSymbol(const PrinterEvent &event) {
  printPendingLine();
  const std::string &format = event.detail;
  SymbolModules symbol = encodeSymbol(format, event.bytes, event.width);
  const int module = std::max(1, event.value);
  const int moduleHeight = format == "QR" ? module : 3 * module;  // PDF417 rows: 3 modules high
  const int width = symbol.width * module, height = symbol.height * moduleHeight;
  if (symbol.error.empty() && width > areaRight() - areaLeft())
    symbol.error = std::to_string(width) + " dots wide, wider than the print area (" +
                   std::to_string(areaRight() - areaLeft()) + " dots)";
  if (symbol.error.empty() && height > kMaxImageHeightDots) symbol.error = "taller than 4096 dots";
  if (!symbol.error.empty()) {
    addNote("[" + format + " " + quoted(event.bytes.substr(0, 48)) +
            " NOT PRINTED: " + symbol.error + "]");
    warn(WarningKind::SymbolNotPrinted, format + ": " + symbol.error,
         std::to_string(event.bytes.size()) + " bytes" + at(event.offset));
    return;
  }
  PrinterEvent image;
  image.kind = EventKind::RasterImage;
  image.offset = event.offset;
  image.width = (width + 7) / 8 * 8;
  image.height = height;
  const int rowBytes = image.width / 8;
  image.raster.assign(dotCount(rowBytes, height), 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      if (symbol.modules[dotIndex(x / module, y / moduleHeight, symbol.width)])
        image.raster[dotIndex(x / 8, y, rowBytes)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
  closeImageRun();  // a symbol of its own, not a band of the image before it
  addImage(image);
}

void ReceiptBuilder::addBadCommand(const PrinterEvent &event) {
  const bool unknown = event.detail.find("not an ESC/POS command") != std::string::npos;
  markInline((unknown ? "[UNKNOWN " : "[BAD ") +
             event.detail.substr(0, event.detail.find_first_of("(:") - 1) + "]");
  warn(WarningKind::UnknownCommand, event.detail,
       hexBytes(event.bytes, static_cast<std::uint64_t>(event.value)) + at(event.offset));
}

bool ReceiptBuilder::blank() const {
  for (const PrintedItem &item : receipt_.items)
    if (item.kind != ItemKind::Feed &&
        !(item.kind == ItemKind::TextLine && item.glyphs.empty() && item.transcript.empty()))
      return false;
  return true;
}

}  // namespace it433td::printer
