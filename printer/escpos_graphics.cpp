// escpos_graphics.cpp - the ESC/POS decoder's barcodes, 2-D symbols and
// images: what GS k, GS ( k, GS ( L / GS 8 L, ESC * and GS * carry.
#include "escpos_decoder.h"

#include <algorithm>

namespace it433td::printer {

namespace {

// NV graphics a job may define, all keys together: a printer's NV memory
// is small, and a stream defining key after key must not fill ours.
constexpr std::size_t kNvGraphicsBytes = std::size_t{1} << 20;

}  // namespace

// GS ( fn pL pH ... and GS 8 fn p1..p4 ...: data_ holds what follows the
// length bytes.
void EscposDecoder::extendedGs(std::uint8_t function) {
  if (function == 'k' && data_.size() >= 2) {
    const auto cn = static_cast<unsigned char>(data_[0]);
    const auto fn = static_cast<unsigned char>(data_[1]);
    const std::string_view params = std::string_view(data_).substr(2);
    if (cn == 49) return qrCode(fn, params);
    if (cn == 48) return pdf417(fn, params);
    return bad("2D symbol " + std::to_string(cn) + " is not supported (QR 49, PDF417 48 are)");
  }
  if (function == 'L') return graphics(data_);
  if (function == 'k') return bad("too short");
  // Test print, user setup, and the rest: nothing a receipt shows.
}

void EscposDecoder::qrCode(std::uint8_t fn, std::string_view params) {
  const auto at = [&](std::size_t i) {
    return i < params.size() ? static_cast<unsigned char>(params[i]) : 0;
  };
  switch (fn) {
    case 65: return;  // model 1 or 2: both print as model 2 here
    case 67: qr_.module = std::clamp(static_cast<int>(at(0)), 1, 16); return;
    case 69:
      if (at(0) < 48 || at(0) > 51)
        return bad("QR error correction " + std::to_string(at(0)) + " is none");
      qr_.level = at(0) - 48;
      return;
    case 80: return storeSymbol(qr_, params);
    case 81: return printSymbol(qr_);
    case 82: return;  // size information: asked for, never printed
    default: return bad("QR function " + std::to_string(fn) + " is none");
  }
}

void EscposDecoder::storeSymbol(StoredSymbol &symbol, std::string_view params) {
  symbol.data.assign(params.substr(std::min<std::size_t>(1, params.size())));  // after m = 48
  symbol.stored = true;
}

void EscposDecoder::printSymbol(const StoredSymbol &symbol) {
  if (!symbol.stored)
    return bad(std::string("no ") + symbol.format + " data stored (function 80) to print");
  PrinterEvent event = this->event(EventKind::Symbol2D);
  event.detail = symbol.format;
  event.bytes = symbol.data;
  event.value = symbol.module;
  event.width = symbol.level;
  emit(std::move(event));
}

void EscposDecoder::pdf417(std::uint8_t fn, std::string_view params) {
  const auto at = [&](std::size_t i) {
    return i < params.size() ? static_cast<unsigned char>(params[i]) : 0;
  };
  switch (fn) {
    case 65:
    case 66:
    case 68:
    case 70: return;  // columns, rows, row height, options: the encoder's own
    case 67: pdf417_.module = std::clamp(static_cast<int>(at(0)), 1, 8); return;
    case 69: pdf417_.level = at(0) == 48 ? std::clamp(at(1) - 48, 0, 8) : 1; return;
    case 80: return storeSymbol(pdf417_, params);
    case 81: return printSymbol(pdf417_);
    case 82: return;
    default: return bad("PDF417 function " + std::to_string(fn) + " is none");
  }
}

// GS ( L / GS 8 L: m fn ... Raster graphics stored (112) and printed (50);
// NV graphics defined (67) and printed by key (69).
void EscposDecoder::graphics(std::string_view data) {
  const auto at = [&](std::size_t i) {
    return i < data.size() ? static_cast<unsigned char>(data[i]) : 0;
  };
  const int fn = at(1);
  // The size at `from`, the dots `skip` bytes after it.
  const auto image = [&](std::size_t from, int scaleX, int scaleY, std::size_t skip = 4) {
    StoredImage stored;
    stored.width = word(at(from), at(from + 1));
    stored.height = word(at(from + 2), at(from + 3));
    stored.scaleX = scaleX;
    stored.scaleY = scaleY;
    const std::size_t rowBytes = static_cast<std::size_t>(stored.width + 7) / 8;
    const std::size_t bytes = rowBytes * static_cast<std::size_t>(stored.height);
    const std::string_view dots = data.substr(std::min(data.size(), from + skip));
    if (dots.size() < bytes || stored.height > kMaxImageHeightDots) return StoredImage{};
    stored.raster.assign(dots.begin(), dots.begin() + static_cast<long>(bytes));
    // Pad each row to whole bytes of the width the builder expects (8 * row bytes).
    stored.width = static_cast<int>(rowBytes * 8);
    return stored;
  };
  switch (fn) {
    case 112: {                                // a bx by c xL xH yL yH d...
      if (at(5) != 49 && at(5) != 48) return;  // a second colour: a mono printer prints the first
      graphicsBuffer_ = image(6, at(3) == 2 ? 2 : 1, at(4) == 2 ? 2 : 1);
      graphicsStored_ = graphicsBuffer_.width > 0;
      if (!graphicsStored_) bad("image data shorter than its size");
      return;
    }
    case 50:
    case 2:
      if (!graphicsStored_) return bad("no graphics stored (function 112) to print");
      printStored(graphicsBuffer_, graphicsBuffer_.scaleX, graphicsBuffer_.scaleY);
      graphicsStored_ = false;
      return;
    case 67: {  // a kc1 kc2 b xL xH yL yH c d...
      StoredImage stored = image(6, 1, 1, 5);
      if (!stored.width) return bad("image data shorter than its size");
      StoredImage &slot = nvGraphics_[word(at(3), at(4))];
      if (nvBytes_ - slot.raster.size() + stored.raster.size() > kNvGraphicsBytes) {
        if (slot.raster.empty()) nvGraphics_.erase(word(at(3), at(4)));
        return bad("NV graphics memory full (" + std::to_string(kNvGraphicsBytes) + " bytes)");
      }
      nvBytes_ = nvBytes_ - slot.raster.size() + stored.raster.size();
      slot = std::move(stored);
      return;
    }
    case 69: {  // kc1 kc2 x y
      const auto found = nvGraphics_.find(word(at(2), at(3)));
      if (found == nvGraphics_.end()) return bad("no NV graphics of that key defined");
      printStored(found->second, at(4) == 2 ? 2 : 1, at(5) == 2 ? 2 : 1);
      return;
    }
    default: return;  // capacity queries, deletions: nothing printed
  }
}

void EscposDecoder::printStored(const StoredImage &image, int scaleX, int scaleY) {
  PrinterEvent event = this->event(EventKind::RasterImage);
  event.width = image.width;
  event.height = image.height;
  event.value = (scaleX == 2 ? 1 : 0) | (scaleY == 2 ? 2 : 0);
  event.raster = image.raster;
  emit(std::move(event));
}

// GS k m ...: form A (m 0-6) up to a NUL, form B (m 65-73) n bytes.
void EscposDecoder::barcode() {
  static constexpr const char *kFormats[] = {"UPC-A", "UPC-E",   "EAN13",  "EAN8",   "CODE39",
                                             "ITF",   "CODABAR", "CODE93", "CODE128"};
  const int m = head_[2];
  const int index = m <= 6 ? m : m >= 65 && m <= 73 ? m - 65 : -1;
  if (index < 0 || (m <= 6 && index > 6))
    return bad("barcode system " + std::to_string(m) + " is not supported");
  PrinterEvent code = event(EventKind::Barcode);
  code.detail = kFormats[index];
  code.bytes = data_;
  emit(std::move(code));
}

// ESC * m nL nH d...: a row of vertical dot columns, 8 or 24 dots high,
// drawn 1:1 at double density and doubled otherwise.
void EscposDecoder::bitImage() {
  const int m = head_[2];
  const bool tall = m == 32 || m == 33;
  if (!tall && m != 0 && m != 1) return bad("bit image mode " + std::to_string(m) + " is none");
  const int columns = word(head_[3], head_[4]);
  const int scaleX = (m == 0 || m == 32) ? 2 : 1, scaleY = tall ? 1 : 3;
  const int bytesPerColumn = tall ? 3 : 1;
  PrinterEvent image = event(EventKind::RasterImage);
  image.width = (columns * scaleX + 7) / 8 * 8;
  image.height = 8 * bytesPerColumn * scaleY;
  image.detail = "bit image";  // it prints with the line it is in
  const int rowBytes = image.width / 8;
  image.raster.assign(static_cast<std::size_t>(rowBytes * image.height), 0);
  for (int column = 0; column < columns; ++column)
    for (int dot = 0; dot < 8 * bytesPerColumn; ++dot) {
      const auto byte = static_cast<unsigned char>(
          data_[static_cast<std::size_t>(column * bytesPerColumn + dot / 8)]);
      if (!((byte >> (7 - dot % 8)) & 1)) continue;
      for (int sx = 0; sx < scaleX; ++sx)
        for (int sy = 0; sy < scaleY; ++sy) {
          const int x = column * scaleX + sx, y = dot * scaleY + sy;
          image.raster[static_cast<std::size_t>(y * rowBytes + x / 8)] |=
              static_cast<std::uint8_t>(0x80 >> (x % 8));
        }
    }
  if (columns) emit(std::move(image));
}

// GS * x y d...: x * 8 columns of y bytes each, kept for GS /.
void EscposDecoder::definedImage() {
  const int columns = 8 * head_[2], rows = 8 * head_[3];
  downloaded_ = StoredImage{};
  downloaded_.width = columns;
  downloaded_.height = rows;
  const int rowBytes = columns / 8;
  downloaded_.raster.assign(static_cast<std::size_t>(rowBytes * rows), 0);
  for (int column = 0; column < columns; ++column)
    for (int y = 0; y < rows; ++y) {
      const auto byte =
          static_cast<unsigned char>(data_[static_cast<std::size_t>(column * head_[3] + y / 8)]);
      if ((byte >> (7 - y % 8)) & 1)
        downloaded_.raster[static_cast<std::size_t>(y * rowBytes + column / 8)] |=
            static_cast<std::uint8_t>(0x80 >> (column % 8));
    }
  downloadedStored_ = columns > 0 && rows > 0;
}

}  // namespace it433td::printer
