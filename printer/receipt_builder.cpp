// receipt_builder.cpp - the print head: line buffer, wrapping, paper advance.
#include "receipt_builder.h"

#include "barcodes.h"
#include "cp850.h"
#include "receipt_codes.h"
#include "transcript.h"

#include <algorithm>
#include <cstdio>

namespace it433td::printer {
namespace {

// Puts `bottom` under `top`, as one picture as wide as the wider of them.
// A band no wider than the picture is appended in place (the vector grows
// geometrically, so a run of n bands costs O(n) copies in all); only a wider
// band lays the picture out again, which happens at most once per 8 dots of
// paper width.
void stackBelow(PrintedItem &top, const PrintedItem &bottom) {
  if (bottom.width > top.width) {
    std::vector<std::uint8_t> pixels(dotCount(bottom.width, top.height), 0);
    for (int y = 0; y < top.height; ++y)
      std::copy_n(top.pixels.begin() + static_cast<long>(y) * top.width, top.width,
                  pixels.begin() + static_cast<long>(y) * bottom.width);
    top.pixels.swap(pixels);
    top.width = bottom.width;
  }
  const size_t start = dotCount(top.width, top.height);
  top.pixels.resize(start + dotCount(top.width, bottom.height), 0);
  for (int y = 0; y < bottom.height; ++y)
    std::copy_n(bottom.pixels.begin() + static_cast<long>(y) * bottom.width, bottom.width,
                top.pixels.begin() + static_cast<long>(start) + static_cast<long>(y) * top.width);
  top.height += bottom.height;
}

// "[UNKNOWN 0x01]", or "[UNKNOWN 0x01 x20000]" for a run of the same byte.
std::string unknownMarker(unsigned char byte, std::uint64_t count) {
  char marker[48];
  if (count == 1)
    std::snprintf(marker, sizeof marker, "[UNKNOWN 0x%02X]", byte);
  else
    std::snprintf(marker, sizeof marker, "[UNKNOWN 0x%02X x%llu]", byte,
                  static_cast<unsigned long long>(count));
  return marker;
}

}  // namespace

ReceiptBuilder::ReceiptBuilder(ReceiptSink sink, PrinterSetup setup)
    : sink_(std::move(sink)), setup_(setup) {
  startReceipt();
}

void ReceiptBuilder::startReceipt() {
  receipt_ = Receipt{};
  receipt_.widthDots = setup_.paperWidthDots();
}

// The next receipt's offsets count from the byte after the cut (ESC w, or
// the ESC/POS cut, whose length the event carries).
void ReceiptBuilder::cutAt(const PrinterEvent &cut) {
  printPendingLine();
  endReceipt(true, false);
  receiptStart_ = cut.offset + (cut.received ? cut.received : 2);
}

void ReceiptBuilder::onEvent(const PrinterEvent &event) {
  if (event.kind != EventKind::Unknown && event.kind != EventKind::StatusRequest) flushUnknownRun();
  if (event.kind != EventKind::Text) utf8_.reset();
  if (skipping_) return skip(event);
  // What prints nothing keeps a run of images open; so does the line feed
  // that prints a line of ESC * bit image.
  const bool quiet = event.kind == EventKind::StatusRequest || event.kind == EventKind::Settings ||
                     event.kind == EventKind::StatusQuery;
  const bool spentFeed = event.kind == EventKind::LineFeed && bitImageLine_ &&
                         lineGlyphs_.empty() && lineTranscript_.empty();
  if (event.kind != EventKind::RasterImage && !quiet && !spentFeed) closeImageRun();
  switch (event.kind) {
    case EventKind::Text: addText(event); break;
    case EventKind::LineFeed:
      if (spentFeed) {
        bitImageLine_ = false;
        break;
      }
      printLine(true);
      break;
    case EventKind::CondensedOn: condensed_ = true; break;
    case EventKind::CondensedOff: condensed_ = false; break;
    case EventKind::Code128: addBarcode(event); break;
    case EventKind::Cut: cutAt(event); break;
    case EventKind::RasterImage: addImage(event); break;
    case EventKind::RasterRejected:
      rejectImage(event.width, event.height, event.detail, event.offset);
      break;
    case EventKind::Feed: {
      printPendingLine();
      PrintedItem item;
      item.kind = ItemKind::Feed;
      item.height = event.value;
      item.transcript = "[FEED " + std::to_string(event.value) + "]";
      place(std::move(item));
      break;
    }
    case EventKind::StatusRequest: break;
    case EventKind::Unknown: {
      // Marked inline, where it came in the line; it prints nothing. A run
      // of the same byte (junk, a wrong baud rate) is one marker.
      const unsigned char byte =
          event.bytes.empty() ? 0 : static_cast<unsigned char>(event.bytes[0]);
      if (unknownRunCount_ && byte != unknownRunByte_) flushUnknownRun();
      if (!unknownRunCount_) unknownRunOffset_ = event.offset;
      unknownRunByte_ = byte;
      ++unknownRunCount_;
      break;
    }
    case EventKind::Foreign: addForeign(event); break;
    case EventKind::Settings: settings_ = event.settings; break;
    case EventKind::Position:
      moveTo(event.width ? lineX_ + event.value : areaLeft() + event.value);
      break;
    case EventKind::Tab: nextTabStop(); break;
    case EventKind::Barcode: addEscposBarcode(event); break;
    case EventKind::Symbol2D: addSymbol(event); break;
    case EventKind::Drawer:
      addNote("[DRAWER pin " + std::to_string(event.value) + ": " + event.detail + "]");
      break;
    case EventKind::StatusQuery: break;  // answered by the printer, never printed
    case EventKind::BadCommand: addBadCommand(event); break;
    case EventKind::Truncated: {
      std::string counts = std::to_string(event.received);
      if (event.expected) counts += " of " + std::to_string(event.expected);
      counts += event.received == 1 ? " byte" : " bytes";
      addNote("[TRUNCATED " + event.detail + ": " + counts + "]");
      warn(WarningKind::CutShort, {}, event.detail + ", " + counts + at(event.offset));
      break;
    }
  }
}

void ReceiptBuilder::addForeign(const PrinterEvent &event) {
  // Named inline where it came ("[UNKNOWN ESC a]"); its bytes print nothing.
  markInline("[UNKNOWN " + event.detail.substr(0, event.detail.rfind(" (")) + "]");
  warn(WarningKind::EscposCommand, event.detail,
       hexBytes(event.bytes, static_cast<std::uint64_t>(event.value)) +
           (event.expected ? " (claims " + std::to_string(event.expected) +
                                 " data bytes, more than any such command: the bytes after it "
                                 "are read as they came)"
                           : "") +
           at(event.offset));
}

void ReceiptBuilder::finish(std::string_view ending) {
  endSkipping();
  flushUnknownRun();
  printPendingLine();
  if (setup_.escpos() && blank()) startReceipt();
  if (!receipt_.empty()) {
    warn(WarningKind::NotCut, setup_.escpos() ? "GS V" : "ESC w", std::string(ending));
    endReceipt(false, false);
  }
  endStream();
}

void ReceiptBuilder::finishAtLimit(std::string_view limit) {
  endSkipping();
  flushUnknownRun();
  printPendingLine();
  placeWarningLine(WarningTally(WarningKind::JobEnded, std::string(limit)).line());
  endReceipt(false, false);
  endStream();
}

// The next stream counts its offsets from 0 and starts with a clean slate.
void ReceiptBuilder::endStream() {
  receiptStart_ = 0;
  skipping_ = false;  // junk that began with the stream's last byte: nothing was passed over
  utf8_.reset();
}

void ReceiptBuilder::addText(const PrinterEvent &event) {
  std::uint64_t offset = event.offset;
  for (char c : event.bytes) {
    const unsigned char byte = static_cast<unsigned char>(c);
    Glyph glyph;
    if (settings_) {
      glyph = styledGlyph(byte, offset);
    } else {
      glyph.width = condensed_ ? kCondensedCharDots : kNormalCharDots;
      glyph.small = condensed_;
      glyph.utf8 = cp850Glyph(byte);
    }
    bitImageLine_ = false;
    if (lineX_ < areaLeft()) lineX_ = areaLeft();
    if (lineX_ + glyph.width > areaRight() && lineX_ > areaLeft()) {  // wrap as the printer does
      warn(WarningKind::TextTooWide, wrapSubject(), at(offset).substr(1));
      printLine(true);
      lineX_ = areaLeft();
    }
    if (utf8_.take(byte, offset))
      warn(WarningKind::Utf8Text,
           settings_
               ? "the printer's code table is " + std::string(codeTableName(settings_->text.table))
               : "the IT433TD prints code page 850",
           "\"" + utf8_.found() + "\" " + hexBytes(utf8_.found(), utf8_.found().size()) +
               at(utf8_.foundAt()));
    glyph.x = lineX_;
    if (settings_) markStyle(glyph);
    lineTranscript_ += settings_ && glyph.utf8 == "{" ? "{{" : glyph.utf8;
    lineX_ += glyph.width;
    lineGlyphs_.push_back(std::move(glyph));
    ++offset;
  }
}

void ReceiptBuilder::flushUnknownRun() {
  if (!unknownRunCount_) return;
  const std::uint64_t count = unknownRunCount_;
  unknownRunCount_ = 0;
  markInline(unknownMarker(unknownRunByte_, count));
  const std::string byte = hexBytes(std::string(1, static_cast<char>(unknownRunByte_)), 1);
  warn(WarningKind::UnknownByte, setup_.escpos() ? "an ESC/POS command" : "an IT433TD command",
       byte + (count > 1 ? " x" + std::to_string(count) : "") + at(unknownRunOffset_), count);
}

void ReceiptBuilder::markInline(const std::string &marker) {
  lineTranscript_ += marker;
  if (++unknownRuns_ >= kMaxUnknownRunsPerReceipt) {
    printPendingLine();
    skipping_ = true;
    return;
  }
  // Markers print nothing, so the paper never ends such a line: past the
  // budget it goes out as it is, and the receipt continues in the next one.
  if (transcriptBytes_ + lineTranscript_.size() >= kMaxReceiptTranscriptBytes) printPendingLine();
}

void ReceiptBuilder::warn(WarningKind kind, std::string subject, std::string example,
                          std::uint64_t times) {
  for (WarningTally &tally : warnings_) {
    if (!tally.counts(kind, subject)) continue;
    tally.add(std::move(example), times);
    PrintedItem &item = receipt_.items[tally.item];
    transcriptBytes_ -= item.transcript.size();
    item.transcript = tally.line();
    transcriptBytes_ += item.transcript.size();
    return;
  }
  for (WarningTally &tally : pendingWarnings_) {
    if (!tally.counts(kind, subject)) continue;
    tally.add(std::move(example), times);
    return;
  }
  pendingWarnings_.emplace_back(kind, std::move(subject));
  pendingWarnings_.back().add(std::move(example), times);
  if (lineGlyphs_.empty() && lineTranscript_.empty()) placePendingWarnings();
}

void ReceiptBuilder::placePendingWarnings() {
  std::vector<WarningTally> pending;
  pending.swap(pendingWarnings_);
  for (WarningTally &tally : pending) {
    placeWarningLine(tally.line());
    tally.item = receipt_.items.size() - 1;  // placing may have begun a new receipt
    warnings_.push_back(std::move(tally));
  }
}

void ReceiptBuilder::placeWarningLine(std::string line) {
  closeImageRun();  // the picture so far is read before a line follows it
  PrintedItem item;
  item.kind = ItemKind::Warning;
  item.transcript = std::move(line);
  place(std::move(item));
}

std::string ReceiptBuilder::at(std::uint64_t offset) const {
  return " at byte " + std::to_string(offset >= receiptStart_ ? offset - receiptStart_ : 0);
}

void ReceiptBuilder::printLine(bool lineFeed) {
  closeStyle();
  bitImageLine_ = false;
  if (lineGlyphs_.empty() && !lineFeed) {
    std::string markers;
    markers.swap(lineTranscript_);
    if (!markers.empty()) addNote(std::move(markers));
    placePendingWarnings();
    return;
  }
  PrintedItem item;
  item.kind = ItemKind::TextLine;
  item.height = kLineHeightDots;
  item.glyphs.swap(lineGlyphs_);
  item.transcript.swap(lineTranscript_);
  if (settings_) layOutLine(item);
  lineGlyphs_.clear();
  lineTranscript_.clear();
  lineX_ = 0;
  place(std::move(item));
  placePendingWarnings();
}

// Commands other than text print what the line buffer holds first.
void ReceiptBuilder::printPendingLine() {
  if (!lineGlyphs_.empty() || !lineTranscript_.empty()) printLine(false);
}

void ReceiptBuilder::addNote(std::string transcript) {
  printPendingLine();
  PrintedItem item;
  item.kind = ItemKind::Note;
  item.transcript = std::move(transcript);
  place(std::move(item));
}

void ReceiptBuilder::addBarcode(const PrinterEvent &event) {
  printPendingLine();
  const std::string &data = event.bytes;
  Code128Bars bars = encodeCode128(data);
  const int count = static_cast<int>(bars.modules.size());
  const bool wide = bars.error.empty() && count > receipt_.widthDots;
  if (wide) bars.error = "wider than the paper";
  if (!bars.error.empty()) {
    addNote("[CODE128 \"" + escapeBytes(data) + "\" NOT PRINTED: " + escapeBytes(bars.error) + "]");
    constexpr std::size_t kShown = 24;
    warn(WarningKind::Code128NotPrinted,
         escapeBytes(bars.error) +
             (wide ? " (" + std::to_string(receipt_.widthDots) + " dots)" : ""),
         "\"" + escapeBytes(data.substr(0, kShown)) + (data.size() > kShown ? "..." : "") + "\"" +
             at(event.offset));
    return;
  }
  PrintedItem item;
  item.kind = ItemKind::Barcode;
  item.moduleWidth = 2 * count <= receipt_.widthDots ? 2 : 1;
  item.x = (receipt_.widthDots - item.moduleWidth * count) / 2;
  item.modules = std::move(bars.modules);
  item.height = kBarHeightDots + kLineHeightDots;
  item.humanReadable = cp850ToUtf8(data);  // CODE128 carries ASCII only, as bytes
  item.transcript = "[CODE128 \"" + escapeBytes(data) + "\"]";
  place(std::move(item));
}

void ReceiptBuilder::addImage(const PrinterEvent &event) {
  printPendingLine();
  const int scaleX = (event.value & 1) ? 2 : 1;
  const int scaleY = (event.value & 2) ? 2 : 1;
  const int rowBytes = event.width / 8;
  PrintedItem item;
  item.kind = ItemKind::Image;
  item.width = event.width * scaleX;
  item.height = event.height * scaleY;
  if (settings_) {
    if (item.width > receipt_.widthDots)
      return rejectImage(item.width, item.height, "wider than the paper", event.offset);
    item.x = std::min(alignedX(item.width), receipt_.widthDots - item.width);
    // A bit image is its line's content, justified as the line is.
    bitImageLine_ = event.detail == "bit image";
  }
  item.pixels.assign(dotCount(item.width, item.height), 0);
  for (int y = 0; y < item.height; ++y) {
    for (int x = 0; x < item.width; ++x) {
      const int sx = x / scaleX;
      const std::uint8_t byte = event.raster[dotIndex(sx / 8, y / scaleY, rowBytes)];
      item.pixels[dotIndex(x, y, item.width)] = (byte >> (7 - sx % 8)) & 1;
    }
  }
  // Raster images printed back to back are one picture on the paper (a
  // printer file may send a symbol as many bands): join them. The codes on
  // it are read once the stretch of paper it lies on ends (closePicture).
  if (imageRunOpen_ && !receipt_.empty() && receipt_.items.back().kind == ItemKind::Image &&
      receipt_.items.back().x == item.x && receipt_.lengthDots + item.height <= kMaxReceiptDots) {
    stackBelow(receipt_.items.back(), item);
    receipt_.lengthDots += item.height;
    return;
  }
  closeImageRun();
  place(std::move(item));
  imageRunOpen_ = true;
}

void ReceiptBuilder::rejectImage(int width, int height, const std::string &why,
                                 std::uint64_t offset) {
  closeImageRun();  // the image so far is read before the note follows it
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  addNote("[IMAGE REJECTED " + size + ": " + why + "]");
  const bool wide = why == "wider than the paper";
  warn(WarningKind::ImageNotPrinted,
       why + (wide ? " (" + std::to_string(receipt_.widthDots) + " dots)" : ""), size + at(offset));
}

void ReceiptBuilder::closeImageRun() {
  if (!imageRunOpen_) return;
  imageRunOpen_ = false;
  if (receipt_.empty() || receipt_.items.back().kind != ItemKind::Image) return;
  PrintedItem &item = receipt_.items.back();
  item.transcript =
      "[IMAGE " + std::to_string(item.width) + "x" + std::to_string(item.height) + "]";
  transcriptBytes_ += item.transcript.size();
}

void ReceiptBuilder::closePicture() {
  closeImageRun();
  const std::size_t first = pictureStart_;
  pictureStart_ = kNoPicture;
  if (first >= receipt_.items.size()) return;
  for (const CodeOnPaper &code :
       readCodes(receipt_, first, receipt_.items.size(), setup_.escpos())) {
    std::string &line = receipt_.items[code.item].transcript;  // "[IMAGE WxH ...]"
    const std::string shown = " " + code.format + " \"" + escapeBytes(code.bytes) + "\"";
    line.insert(line.size() - 1, shown);
    transcriptBytes_ += shown.size();
  }
}

// A receipt ends, to go on in the next one, when its paper or its transcript
// would grow past the limit (notes and markers take no paper, so junk input
// is bounded by the transcript's budget).
void ReceiptBuilder::place(PrintedItem item) {
  if (!mayBePartOfAPicture(item)) closePicture();
  const size_t transcriptBytes = item.transcript.size() + 1;  // and its newline
  if (!receipt_.empty() && (receipt_.lengthDots + item.height > kMaxReceiptDots ||
                            transcriptBytes_ + transcriptBytes > kMaxReceiptTranscriptBytes))
    endReceipt(false, true);
  if (item.kind == ItemKind::Image && pictureStart_ == kNoPicture)
    pictureStart_ = receipt_.items.size();
  transcriptBytes_ += transcriptBytes;
  item.y = receipt_.lengthDots;
  receipt_.lengthDots += item.height;
  receipt_.items.push_back(std::move(item));
}

void ReceiptBuilder::skip(const PrinterEvent &event) {
  switch (event.kind) {
    case EventKind::Cut:
      endSkipping();
      cutAt(event);
      break;
    case EventKind::Settings: settings_ = event.settings; break;  // they hold after the junk
    case EventKind::StatusQuery: break;
    case EventKind::Text: skippedText_ += event.bytes.size(); break;
    case EventKind::Unknown: ++skippedUnknown_; break;
    case EventKind::StatusRequest: break;  // answered by the printer, never printed
    default: ++skippedCommands_; break;
  }
}

void ReceiptBuilder::endSkipping() {
  if (!skipping_) return;
  skipping_ = false;
  addNote("[JUNK NOT PRINTED after " + std::to_string(kMaxUnknownRunsPerReceipt) +
          " runs of unknown bytes: " + std::to_string(skippedText_) + " text bytes, " +
          std::to_string(skippedUnknown_) + " unknown bytes, " + std::to_string(skippedCommands_) +
          " commands]");
  skippedText_ = skippedUnknown_ = skippedCommands_ = 0;
}

void ReceiptBuilder::endReceipt(bool cut, bool continued) {
  closePicture();
  if (receipt_.empty()) return;  // a cut with nothing printed since the last one
  receipt_.cut = cut;
  receipt_.continued = continued;
  receipt_.number = nextNumber_++;
  Receipt done = std::move(receipt_);
  startReceipt();
  transcriptBytes_ = 0;
  unknownRuns_ = 0;
  warnings_.clear();
  if (sink_) sink_(std::move(done));
}

}  // namespace it433td::printer
