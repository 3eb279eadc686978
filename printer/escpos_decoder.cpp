// escpos_decoder.cpp - the ESC/POS state machine: a command's header is
// gathered byte by byte until the table tells its length, its data counted
// into data_, then the whole command is interpreted.
#include "escpos_decoder.h"

#include "escpos_commands.h"

#include <algorithm>
#include <cstdio>

namespace it433td::printer {

namespace {

constexpr std::uint8_t kHT = 0x09, kLF = 0x0A, kFF = 0x0C, kCR = 0x0D, kCAN = 0x18;
constexpr std::uint8_t kESC = 0x1B, kGS = 0x1D, kDLE = 0x10;
constexpr std::uint8_t kEOT = 0x04, kENQ = 0x05, kDC4 = 0x14;
// NV graphics a job may define, all keys together: a printer's NV memory
// is small, and a stream defining key after key must not fill ours.
constexpr std::size_t kNvGraphicsBytes = std::size_t{1} << 20;
// GS v 0 carries at most 255 bytes a row (2040 dots) of 4096 rows: more
// than any paper, so a too-wide image is still read whole and warned about.
constexpr std::uint64_t kMostRasterRowBytes = 255;

// 0 / '0' off, 1 / '1' on: the bit most ESC/POS switches take.
bool on(int n) { return (n & 1) != 0; }

int word(int low, int high) { return low + 256 * high; }

}  // namespace

bool TextStyle::operator==(const TextStyle &o) const {
  return table == o.table && internationalSet == o.internationalSet && fontB == o.fontB &&
         bold == o.bold && underline == o.underline && reverse == o.reverse &&
         upsideDown == o.upsideDown && widthScale == o.widthScale && heightScale == o.heightScale &&
         charSpacing == o.charSpacing;
}

PageSettings::PageSettings() {
  for (int column = 8; column <= 64; column += 8) tabStops.push_back(column * 12);
}

EscposDecoder::EscposDecoder(EventSink sink, int paperWidthDots)
    : sink_(std::move(sink)), paperWidthDots_(paperWidthDots) {
  resetSettings();
}

void EscposDecoder::feed(std::string_view bytes) {
  feed(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
}

void EscposDecoder::feed(const std::uint8_t *data, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    if (inData_ && !untilNul_ && dataLeft_ > 1) {  // bulk: image data
      const std::size_t n =
          static_cast<std::size_t>(std::min<std::uint64_t>(dataLeft_ - 1, size - i));
      data_.append(reinterpret_cast<const char *>(data + i), n);
      dataLeft_ -= n;
      offset_ += n;
      i += n - 1;
      continue;
    }
    take(data[i]);
    ++offset_;
  }
}

void EscposDecoder::finish() {
  flushText();
  if (!head_.empty()) {
    PrinterEvent cutShort = event(EventKind::Truncated);
    cutShort.detail = name();
    cutShort.received = head_.size() + data_.size();
    if (inData_ && !untilNul_) cutShort.expected = cutShort.received + dataLeft_;
    emit(std::move(cutShort));
  }
  head_.clear();
  data_.clear();
  inData_ = false;
  dataLeft_ = 0;
  offset_ = 0;
  resetSettings();
  qrStored_ = pdfStored_ = graphicsStored_ = downloadedStored_ = false;
}

void EscposDecoder::take(std::uint8_t byte) {
  if (inData_) {
    if (untilNul_ && byte == 0) return complete();
    data_.push_back(static_cast<char>(byte));
    if (--dataLeft_ == 0) complete();
    return;
  }
  if (!head_.empty()) return takeHeader(byte);
  if (byte >= 0x20) {
    if (text_.empty()) textStart_ = offset_;
    text_.push_back(static_cast<char>(byte));
    if (text_.size() >= kTextEventLimit) flushText();
    return;
  }
  flushText();
  switch (byte) {
    case kESC:
    case kGS:
    case 0x1C:
    case kDLE:
      commandStart_ = offset_;
      head_.push_back(byte);
      return;
    case kLF: emit(event(EventKind::LineFeed)); return;
    case kHT: emit(event(EventKind::Tab)); return;
    case kCR:   // ignored, as by most printers: CR LF is one line feed
    case kFF:   // page mode only
    case kCAN:  // page mode only
    case 0x00:  // padding some drivers send
      return;
    default: {
      PrinterEvent unknown = event(EventKind::Unknown);
      unknown.bytes.assign(1, static_cast<char>(byte));
      emit(std::move(unknown));
    }
  }
}

void EscposDecoder::takeHeader(std::uint8_t byte) {
  head_.push_back(byte);
  const std::uint8_t lead = head_[0], code = head_[1];
  if (lead == kDLE) {
    const std::size_t length = code == kEOT || code == kENQ ? 3 : code == kDC4 ? 5 : 2;
    if (head_.size() == length) complete();
    return;
  }
  if (lead == kESC && code == 'J') {
    if (head_.size() == 3) complete();
    return;
  }
  if (lead == kGS && code == 'v') {
    if (head_.size() < 3) return;
    if (head_[2] != '0') return complete();  // named as unknown there
    if (head_.size() < 8) return;
    const std::uint64_t rowBytes = static_cast<std::uint64_t>(word(head_[4], head_[5]));
    const std::uint64_t rows = static_cast<std::uint64_t>(word(head_[6], head_[7]));
    if (rowBytes > kMostRasterRowBytes || rows > static_cast<std::uint64_t>(kMaxImageHeightDots)) {
      bad("claims " + std::to_string(rowBytes * rows) +
          " data bytes, more than any image: the bytes after its header are read as they came");
      head_.clear();
      return;
    }
    if (rowBytes * rows == 0) return complete();
    return startData(rowBytes * rows, false);
  }
  const ForeignCommandShape shape = foreignCommandShape(head_.data(), head_.size());
  switch (shape.length) {
    case ForeignCommandShape::Length::NotACommand: return complete();  // named as unknown there
    case ForeignCommandShape::Length::NeedMore: return;
    case ForeignCommandShape::Length::Known: break;
  }
  if (head_.size() < shape.headerBytes) return;
  if (shape.dataBytes > shape.maxDataBytes && !shape.untilNul) {
    bad("claims " + std::to_string(shape.dataBytes) +
        " data bytes, more than any such command: the bytes after its header are read as they "
        "came");
    head_.clear();
    return;
  }
  if (shape.dataBytes == 0) return complete();
  startData(shape.dataBytes, shape.untilNul);
}

void EscposDecoder::startData(std::uint64_t count, bool untilNul) {
  inData_ = true;
  untilNul_ = untilNul;
  dataLeft_ = count;
}

void EscposDecoder::complete() {
  interpret();
  head_.clear();
  data_.clear();
  inData_ = false;
  untilNul_ = false;
  dataLeft_ = 0;
}

void EscposDecoder::interpret() {
  const bool known = head_[0] == kESC   ? interpretEsc()
                     : head_[0] == kGS  ? interpretGs()
                     : head_[0] == kDLE ? interpretDle()
                                        : interpretFs();
  if (!known) bad("not an ESC/POS command");
}

bool EscposDecoder::interpretEsc() {
  TextStyle &text = settings_.text;
  const int n = param(2);
  switch (head_[1]) {
    case '@': resetSettings(); return true;
    case 'a':
      if ((n & 0x0F) > 2) return bad("justification " + std::to_string(n) + " is none"), true;
      settings_.align = static_cast<Align>(n & 0x0F);
      break;
    case 'E':
    case 'G': text.bold = on(n); break;
    case '-': text.underline = (n & 0x0F) > 2 ? 2 : n & 0x0F; break;
    case '!':
      text.fontB = on(n);
      text.bold = (n & 0x08) != 0;
      text.heightScale = (n & 0x10) ? 2 : 1;
      text.widthScale = (n & 0x20) ? 2 : 1;
      text.underline = (n & 0x80) ? 1 : 0;
      break;
    case 'M': text.fontB = (n & 0x0F) != 0; break;
    case '{': text.upsideDown = on(n); break;
    case ' ': text.charSpacing = n; break;
    case 't':
      if (const auto table = codeTableForNumber(n)) {
        text.table = *table;
        break;
      }
      return bad("code table " + std::to_string(n) + " is none this printer has (" +
                 std::string(codeTableName(text.table)) + " kept)"),
             true;
    case 'R':
      if (!internationalSetKnown(n))
        return bad("international set " + std::to_string(n) + " is none this printer has"), true;
      text.internationalSet = n;
      break;
    case '2': settings_.lineSpacing = 30; break;
    case '3': settings_.lineSpacing = n; break;
    case 'd': {
      emit(event(EventKind::LineFeed));
      PrinterEvent feed = event(EventKind::Feed);
      feed.value = std::max(0, n - 1) * settings_.lineSpacing;
      if (feed.value) emit(std::move(feed));
      return true;
    }
    case 'J': {
      PrinterEvent feed = event(EventKind::Feed);
      feed.value = n;
      emit(std::move(feed));
      return true;
    }
    case '$':
    case '\\': {
      PrinterEvent position = event(EventKind::Position);
      const int units = word(param(2), param(3));
      position.value = head_[1] == '$' ? units : static_cast<std::int16_t>(units);
      position.width = head_[1] == '\\';
      emit(std::move(position));
      return true;
    }
    case 'D': {
      settings_.tabStops.clear();
      for (char column : data_)
        settings_.tabStops.push_back(static_cast<unsigned char>(column) * text.charWidth());
      break;
    }
    case '*': bitImage(); return true;
    case 'i':
    case 'm': cut(); return true;
    case 'p': {
      PrinterEvent drawer = event(EventKind::Drawer);
      drawer.value = on(param(2)) ? 5 : 2;
      drawer.detail = "pulse on " + std::to_string(2 * param(3)) + " ms, off " +
                      std::to_string(2 * param(4)) + " ms";
      emit(std::move(drawer));
      return true;
    }
    case 'Z': {  // m (version) n (level) k (module) dL dH data
      PrinterEvent symbol = event(EventKind::Symbol2D);
      symbol.detail = escZPdf417_ ? "PDF417" : "QR";
      symbol.bytes = data_;
      symbol.value = std::clamp(param(4), 1, 16);
      const std::string levels = "LMQH";
      const std::size_t level = levels.find(static_cast<char>(param(3)));
      symbol.width = level == std::string::npos ? 0 : static_cast<int>(level);
      emit(std::move(symbol));
      return true;
    }
    case 'L':
      return bad("page mode is not supported: what follows prints as in standard mode"), true;
    default:
      // In the table and nothing a receipt shows (ESC U, ESC V, ESC 4...): taken.
      return foreignCommandShape(head_.data(), head_.size()).length ==
             ForeignCommandShape::Length::Known;
  }
  settingsChanged();
  return true;
}

bool EscposDecoder::interpretGs() {
  const int n = param(2);
  switch (head_[1]) {
    case '!':
      if ((n >> 4) > 7 || (n & 0x0F) > 7)
        return bad("size " + std::to_string(n) + " is none"), true;
      settings_.text.widthScale = (n >> 4) + 1;
      settings_.text.heightScale = (n & 0x0F) + 1;
      break;
    case 'B': settings_.text.reverse = on(n); break;
    case 'L': settings_.leftMargin = word(param(2), param(3)); break;
    case 'W': settings_.areaWidth = word(param(2), param(3)); break;
    case 'h': settings_.barcodeHeight = std::max(1, n); break;
    case 'w': settings_.barcodeModule = std::clamp(n >= 68 ? n - 67 : n, 1, 6); break;
    case 'H': settings_.hri = static_cast<Hri>(n & 3); break;
    case 'f': settings_.hriFontB = on(n); break;
    case 'Z': escZPdf417_ = n == 0 || n == '0'; return true;
    case 'V': cut(); return true;
    case 'k': barcode(); return true;
    case 'v': {
      if (head_.size() < 8) return false;  // GS v 1...: not a command
      PrinterEvent image = event(EventKind::RasterImage);
      image.width = 8 * word(head_[4], head_[5]);
      image.height = word(head_[6], head_[7]);
      image.value = head_[3] & 3;
      image.raster.assign(data_.begin(), data_.end());
      if (image.width && image.height) emit(std::move(image));
      return true;
    }
    case '(':
    case '8': extendedGs(head_[2]); return true;
    case '*': definedImage(); return true;
    case '/':
      if (!downloadedStored_) return bad("no image defined (GS *) to print"), true;
      printStored(downloaded_, 1 + (n & 1), 1 + ((n >> 1) & 1));
      return true;
    case 'r':
    case 'I':
    case 'a': {
      PrinterEvent query = event(EventKind::StatusQuery);
      query.detail = std::string("GS ") + static_cast<char>(head_[1]);
      query.value = n;
      emit(std::move(query));
      return true;
    }
    default:
      return foreignCommandShape(head_.data(), head_.size()).length ==
             ForeignCommandShape::Length::Known;
  }
  settingsChanged();
  return true;
}

// FS: Kanji settings, taken; NV bit images, of which none is stored here.
bool EscposDecoder::interpretFs() {
  if (head_[1] == 'p') return bad("no NV bit image is stored in the virtual printer"), true;
  return foreignCommandShape(head_.data(), head_.size()).length ==
         ForeignCommandShape::Length::Known;
}

bool EscposDecoder::interpretDle() {
  switch (head_[1]) {
    case kEOT: {
      PrinterEvent request = event(EventKind::StatusRequest);
      request.value = param(2);
      emit(std::move(request));
      return true;
    }
    case kENQ: return true;  // recover from an error: none here
    case kDC4: {
      if (param(2) != 1) return true;  // other real-time functions: nothing to show
      PrinterEvent drawer = event(EventKind::Drawer);
      drawer.value = on(param(3)) ? 5 : 2;
      drawer.detail = "pulse " + std::to_string(100 * std::clamp(param(4), 1, 8)) + " ms";
      emit(std::move(drawer));
      return true;
    }
    default: return false;
  }
}

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
    case 67: qrModule_ = std::clamp(static_cast<int>(at(0)), 1, 16); return;
    case 69:
      if (at(0) < 48 || at(0) > 51)
        return bad("QR error correction " + std::to_string(at(0)) + " is none");
      qrLevel_ = at(0) - 48;
      return;
    case 80:
      qrData_.assign(params.substr(std::min<std::size_t>(1, params.size())));  // after m = 48
      qrStored_ = true;
      return;
    case 81: {
      if (!qrStored_) return bad("no QR data stored (function 80) to print");
      PrinterEvent symbol = event(EventKind::Symbol2D);
      symbol.detail = "QR";
      symbol.bytes = qrData_;
      symbol.value = qrModule_;
      symbol.width = qrLevel_;
      return emit(std::move(symbol));
    }
    case 82: return;  // size information: asked for, never printed
    default: return bad("QR function " + std::to_string(fn) + " is none");
  }
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
    case 67: pdfModule_ = std::clamp(static_cast<int>(at(0)), 1, 8); return;
    case 69: pdfLevel_ = at(0) == 48 ? std::clamp(at(1) - 48, 0, 8) : 1; return;
    case 80:
      pdfData_.assign(params.substr(std::min<std::size_t>(1, params.size())));
      pdfStored_ = true;
      return;
    case 81: {
      if (!pdfStored_) return bad("no PDF417 data stored (function 80) to print");
      PrinterEvent symbol = event(EventKind::Symbol2D);
      symbol.detail = "PDF417";
      symbol.bytes = pdfData_;
      symbol.value = pdfModule_;
      symbol.width = pdfLevel_;
      return emit(std::move(symbol));
    }
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

// GS V m [n], ESC i, ESC m: the forms with n feed n dots first.
void EscposDecoder::cut() {
  if (head_[0] == kGS) {
    const int m = head_[2];
    const bool plain = m == 0 || m == 1 || m == 48 || m == 49;
    const bool feeds = m == 65 || m == 66 || m == 97 || m == 98 || m == 103 || m == 104;
    if (!plain && !feeds) return bad("cut mode " + std::to_string(m) + " is none");
    if (feeds && param(3)) {
      PrinterEvent feed = event(EventKind::Feed);
      feed.value = param(3);
      emit(std::move(feed));
    }
  }
  PrinterEvent cutEvent = event(EventKind::Cut);
  cutEvent.received = head_.size();
  emit(std::move(cutEvent));
}

void EscposDecoder::bad(std::string what) {
  PrinterEvent event = this->event(EventKind::BadCommand);
  std::string bytes(head_.begin(), head_.end());
  bytes += data_;
  event.value = static_cast<int>(std::min<std::size_t>(bytes.size(), INT32_MAX));
  bytes.resize(std::min(bytes.size(), kForeignBytesKept));
  event.bytes = std::move(bytes);
  event.detail = name() + ": " + what;
  emit(std::move(event));
}

std::string EscposDecoder::name() const {
  if (head_.size() >= 2 && head_[0] == kDLE) {
    static const std::string kNames[] = {"DLE EOT", "DLE ENQ", "DLE DC4"};
    return head_[1] == kEOT   ? kNames[0]
           : head_[1] == kENQ ? kNames[1]
           : head_[1] == kDC4 ? kNames[2]
                              : "DLE";
  }
  if (head_.size() >= 3 && head_[0] == kGS && head_[1] == 'v')
    return "GS v 0 (raster image, ESC/POS)";
  if (head_.size() >= 2 && head_[0] == kESC && head_[1] == 'J')
    return "ESC J (print and feed, ESC/POS)";
  std::string named = foreignCommandName(head_.data(), std::min<std::size_t>(head_.size(), 3));
  if (named.find(" (") == std::string::npos && head_.size() >= 2) {  // not in the table
    char code[8];
    std::snprintf(code, sizeof code, head_[1] > 0x20 && head_[1] < 0x7F ? "%c" : "0x%02X",
                  head_[1]);
    named += std::string(" ") + code;
  }
  return named;
}

void EscposDecoder::resetSettings() {
  settings_ = PageSettings{};
  settings_.areaWidth = paperWidthDots_;
  settingsChanged();
}

void EscposDecoder::settingsChanged() {
  PrinterEvent changed = event(EventKind::Settings);
  changed.settings = std::make_shared<const PageSettings>(settings_);
  emit(std::move(changed));
}

void EscposDecoder::flushText() {
  if (text_.empty()) return;
  PrinterEvent text;
  text.kind = EventKind::Text;
  text.offset = textStart_;
  text.bytes.swap(text_);
  text_.clear();
  emit(std::move(text));
}

void EscposDecoder::emit(PrinterEvent event) {
  if (sink_) sink_(event);
}

PrinterEvent EscposDecoder::event(EventKind kind) const {
  PrinterEvent event;
  event.kind = kind;
  event.offset = head_.empty() ? offset_ : commandStart_;
  return event;
}

}  // namespace it433td::printer
