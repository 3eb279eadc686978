// escpos_decoder.h - reads the byte stream of a generic ESC/POS printer
// into the same print events the receipt builder lays out for the IT433TD.
//
// It keeps what the commands set (page_settings.h) and hands the settings
// out in a Settings event whenever a command changes them; text, feeds,
// barcodes, 2-D symbols, images, cuts, the cash drawer and status queries
// become the events stream_decoder.h lists. A command's length comes from
// the ESC/POS table (escpos_commands.h), so a command it does not draw is
// still skipped whole; a length field claiming more than such a command can
// carry is named as malformed and the bytes after its header are read as
// they came, so it never swallows what follows.
//
// Bytes may arrive in any chunking: feeding a stream in pieces gives exactly
// the events of feeding it whole.
#pragma once

#include "page_settings.h"
#include "stream_decoder.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace it433td::printer {

class EscposDecoder {
public:
  using EventSink = StreamDecoder::EventSink;

  // `paperWidthDots`: where the print area ends by default.
  EscposDecoder(EventSink sink, int paperWidthDots);

  void feed(const std::uint8_t *data, std::size_t size);
  void feed(std::string_view bytes);
  std::uint64_t offset() const { return offset_; }
  // End of the stream: held text out, a command cut short reported as a
  // Truncated event; the settings go back to their defaults (a new job).
  void finish();

private:
  // An image kept by the printer until a command prints it.
  struct StoredImage {
    int width = 0, height = 0;  // dots
    int scaleX = 1, scaleY = 1;
    std::vector<std::uint8_t> raster;  // packed rows, MSB left
  };

  // A 2-D symbol as GS ( k has set and stored it.
  struct StoredSymbol {
    const char *format;
    int module, level;
    std::string data;
    bool stored = false;
  };

  void take(std::uint8_t byte);
  void takeHeader(std::uint8_t byte);
  void startData(std::uint64_t count, bool untilNul);
  void complete();
  void interpret();
  bool interpretEsc();
  bool interpretGs();
  bool interpretDle();
  bool interpretFs();
  void extendedGs(std::uint8_t function);
  void qrCode(std::uint8_t fn, std::string_view params);
  void pdf417(std::uint8_t fn, std::string_view params);
  void graphics(std::string_view data);
  void barcode();
  void bitImage();
  void definedImage();
  void cut();
  void printStored(const StoredImage &image, int scaleX, int scaleY);
  // GS ( k function 80 and 81 of a symbol.
  void storeSymbol(StoredSymbol &symbol, std::string_view params);
  void printSymbol(const StoredSymbol &symbol);
  void bad(std::string what);
  bool refuse(std::string what);
  // In the ESC/POS table: taken whole, though nothing a receipt shows.
  bool inTable() const;  // bad(), for a command read whole
  void settingsChanged();
  void resetSettings();
  void flushText();
  void emit(PrinterEvent event);
  PrinterEvent event(EventKind kind) const;
  std::string name() const;
  int param(std::size_t i) const { return i < head_.size() ? head_[i] : 0; }
  static int word(int low, int high) { return low + 256 * high; }  // nL nH

  EventSink sink_;
  int paperWidthDots_;
  PageSettings settings_;
  std::string text_;
  std::vector<std::uint8_t> head_;  // the command's header
  std::string data_;                // its data
  std::uint64_t dataLeft_ = 0;
  bool untilNul_ = false;
  bool inData_ = false;
  std::uint64_t offset_ = 0;
  std::uint64_t textStart_ = 0;
  std::uint64_t commandStart_ = 0;
  // 2-D symbols: what GS ( k has set and stored.
  StoredSymbol qr_{"QR", 3, 0, {}}, pdf417_{"PDF417", 3, 1, {}};
  bool escZPdf417_ = false;     // GS Z 0: ESC Z prints PDF417
  StoredImage graphicsBuffer_;  // GS ( L function 112
  bool graphicsStored_ = false;
  StoredImage downloaded_;  // GS *
  bool downloadedStored_ = false;
  std::map<int, StoredImage> nvGraphics_;  // GS ( L function 67, by key; kept across jobs
  std::size_t nvBytes_ = 0;                // their rasters' bytes
};

}  // namespace it433td::printer
