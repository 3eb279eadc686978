// escpos_decoder.cpp - the ESC/POS state machine: a command's header is
// gathered byte by byte until the table tells its length, its data counted
// into data_, then the whole command is interpreted (its barcodes, 2-D
// symbols and images in escpos_graphics.cpp).
#include "escpos_decoder.h"

#include "escpos_commands.h"

#include <algorithm>

namespace it433td::printer {

namespace {

// GS v 0 carries at most 255 bytes a row (2040 dots) of 4096 rows: more
// than any paper, so a too-wide image is still read whole and warned about.
constexpr std::uint64_t kMostRasterRowBytes = 255;

// 0 / '0' off, 1 / '1' on: the bit most ESC/POS switches take.
bool on(int n) { return (n & 1) != 0; }

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
  qr_.stored = pdf417_.stored = graphicsStored_ = downloadedStored_ = false;
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
      if ((n & 0x0F) > 2) return refuse("justification " + std::to_string(n) + " is none");
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
      return refuse("code table " + std::to_string(n) + " is none this printer has (" +
                    std::string(codeTableName(text.table)) + " kept)");
    case 'R':
      if (!internationalSetKnown(n))
        return refuse("international set " + std::to_string(n) + " is none this printer has");
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
    case 'L': return refuse("page mode is not supported: what follows prints as in standard mode");
    default:
      // In the table and nothing a receipt shows (ESC U, ESC V, ESC 4...): taken.
      return inTable();
  }
  settingsChanged();
  return true;
}

bool EscposDecoder::interpretGs() {
  const int n = param(2);
  switch (head_[1]) {
    case '!':
      if ((n >> 4) > 7 || (n & 0x0F) > 7) return refuse("size " + std::to_string(n) + " is none");
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
      if (!downloadedStored_) return refuse("no image defined (GS *) to print");
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
    default: return inTable();
  }
  settingsChanged();
  return true;
}

// FS: Kanji settings, taken; NV bit images, of which none is stored here.
bool EscposDecoder::interpretFs() {
  if (head_[1] == 'p') return refuse("no NV bit image is stored in the virtual printer");
  return inTable();
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

bool EscposDecoder::inTable() const {
  return foreignCommandShape(head_.data(), head_.size()).length ==
         ForeignCommandShape::Length::Known;
}

bool EscposDecoder::refuse(std::string what) {
  bad(std::move(what));
  return true;  // the command was read; what it asked for is refused
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
    switch (head_[1]) {
      case kEOT: return "DLE EOT";
      case kENQ: return "DLE ENQ";
      case kDC4: return "DLE DC4";
      default: return "DLE";
    }
  }
  if (head_.size() >= 3 && head_[0] == kGS && head_[1] == 'v')
    return "GS v 0 (raster image, ESC/POS)";
  if (head_.size() >= 2 && head_[0] == kESC && head_[1] == 'J')
    return "ESC J (print and feed, ESC/POS)";
  return foreignCommandName(head_.data(), std::min<std::size_t>(head_.size(), 3));
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
