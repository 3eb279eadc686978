// stream_decoder.cpp - the byte-stream state machine.
//
// A command's fixed header is gathered in command_ and checked byte by byte
// (classify); once whole, its data bytes (CODE128 data, raster rows) are
// counted down in dataLeft_ and copied in bulk. Nothing is ever read past
// what was fed, and no allocation depends on a size the stream claims: data
// is stored only as it arrives, and only for images within the paper.
#include "stream_decoder.h"

#include "escpos_commands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace it433td::printer {

namespace {

constexpr std::uint8_t kCode128Fixed[] = {'|', '3', '0', 0x01, 0x00};  // after ESC
constexpr std::size_t kCode128Header = 7;  // ESC | 3 0 01 00 n
constexpr std::size_t kRasterHeader = 8;   // GS v 0 m xL xH yL yH

bool isRasterMode(std::uint8_t m) { return m <= 3 || (m >= '0' && m <= '3'); }

std::uint32_t fnv1a(const std::vector<std::uint8_t> &bytes) {
  std::uint32_t hash = 2166136261u;
  for (std::uint8_t b : bytes) hash = (hash ^ b) * 16777619u;
  return hash;
}

const char *kindName(EventKind kind) {
  switch (kind) {
    case EventKind::Text: return "TEXT";
    case EventKind::LineFeed: return "LF";
    case EventKind::CondensedOn: return "CONDENSED ON";
    case EventKind::CondensedOff: return "CONDENSED OFF";
    case EventKind::Code128: return "CODE128";
    case EventKind::Cut: return "CUT";
    case EventKind::RasterImage: return "IMAGE";
    case EventKind::RasterRejected: return "IMAGE REJECTED";
    case EventKind::Feed: return "FEED";
    case EventKind::StatusRequest: return "STATUS";
    case EventKind::Unknown: return "UNKNOWN";
    case EventKind::Foreign: return "FOREIGN";
    case EventKind::Truncated: return "TRUNCATED";
    case EventKind::Settings: return "SETTINGS";
    case EventKind::Position: return "POSITION";
    case EventKind::Tab: return "TAB";
    case EventKind::Barcode: return "BARCODE";
    case EventKind::Symbol2D: return "2D SYMBOL";
    case EventKind::Drawer: return "DRAWER";
    case EventKind::StatusQuery: return "STATUS QUERY";
    case EventKind::BadCommand: return "BAD COMMAND";
  }
  return "?";
}

}  // namespace

std::string describe(const PrinterEvent &event) {
  std::string out = kindName(event.kind);
  char buf[96];
  if (!event.bytes.empty()) {
    out += " bytes=";
    for (const char c : event.bytes) {
      std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned char>(c));
      out += buf;
    }
  }
  if (event.value) out += " value=" + std::to_string(event.value);
  if (event.width || event.height) {
    std::snprintf(buf, sizeof buf, " %dx%d", event.width, event.height);
    out += buf;
  }
  if (!event.raster.empty()) {
    std::snprintf(buf, sizeof buf, " raster=%zu/%08X", event.raster.size(),
                  static_cast<unsigned>(fnv1a(event.raster)));
    out += buf;
  }
  if (!event.detail.empty()) out += " (" + event.detail + ")";
  if (event.received || event.expected)
    out += " " + std::to_string(event.received) + "/" + std::to_string(event.expected);
  return out;
}

StreamDecoder::StreamDecoder(EventSink sink) : sink_(std::move(sink)) {}

void StreamDecoder::feed(std::string_view bytes) {
  feed(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
}

// Status requests are real-time commands: a printer answers them as they
// arrive, wherever that is, even inside another command's header or data.
// So the bytes are looked at for DLE EOT n first; the commands are read up
// to the request's last byte, then the request is handed out. The request's
// bytes are still read as whatever they stand in (image data, say).
void StreamDecoder::feed(const std::uint8_t *data, std::size_t size) {
  std::size_t begin = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (realTimeHeld_ == 0) {  // only a DLE can begin a request: skip to the next one
      const void *dle = std::memchr(data + i, kDLE, size - i);
      if (!dle) break;
      i = static_cast<std::size_t>(static_cast<const std::uint8_t *>(dle) - data);
    }
    const std::uint8_t byte = data[i];
    if (realTimeHeld_ == 2) {
      realTimeHeld_ = 0;
      read(data + begin, i + 1 - begin);
      begin = i + 1;
      PrinterEvent request;
      request.kind = EventKind::StatusRequest;
      request.value = byte;
      request.offset = offset_ - 3;
      emit(std::move(request));
    } else if (byte == kDLE) {
      realTimeHeld_ = 1;
    } else {
      realTimeHeld_ = realTimeHeld_ == 1 && byte == kEOT ? 2 : 0;
    }
  }
  read(data + begin, size - begin);
}

void StreamDecoder::read(const std::uint8_t *data, std::size_t size) {
  std::size_t i = 0;
  while (i < size) {
    if (dataLeft_ > 0) {
      std::size_t used = 0;
      feedData(data + i, size - i, &used);
      i += used;
    } else {
      ++offset_;  // counted first: a mismatch feeds the bytes after the lead again
      take(data[i++]);
    }
  }
}

// A command's data bytes, copied in bulk: as many as are left, or up to and
// including a NUL for data that ends with one.
void StreamDecoder::feedData(const std::uint8_t *data, std::size_t size, std::size_t *used) {
  std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(dataLeft_, size));
  bool ended = false;
  if (untilNul_) {
    if (const void *nul = std::memchr(data, 0, chunk)) {
      chunk = static_cast<std::size_t>(static_cast<const std::uint8_t *>(nul) - data) + 1;
      ended = true;
    }
  }
  if (keepData_) {
    if (pending_.kind == EventKind::Code128)
      pending_.bytes.append(reinterpret_cast<const char *>(data), chunk);
    else
      pending_.raster.insert(pending_.raster.end(), data, data + chunk);
  } else if (pending_.kind == EventKind::Foreign) {
    if (pending_.bytes.size() < kForeignBytesKept)
      pending_.bytes.append(reinterpret_cast<const char *>(data),
                            std::min(chunk, kForeignBytesKept - pending_.bytes.size()));
    pending_.value += static_cast<int>(chunk);  // at most 65540 bytes (GS ( L)
  }
  dataLeft_ -= chunk;
  offset_ += chunk;
  *used = chunk;
  if (ended) dataLeft_ = 0;
  if (dataLeft_ == 0) endData();
}

void StreamDecoder::finish() {
  flushText();
  if (!command_.empty()) {
    PrinterEvent event;
    event.kind = EventKind::Truncated;
    event.detail = commandName();
    event.offset = commandStart_;
    event.received = command_.size() + (dataTotal_ - dataLeft_);
    event.expected = dataLeft_ > 0 && !untilNul_ ? command_.size() + dataTotal_ : 0;
    command_.clear();
    dataLeft_ = dataTotal_ = 0;
    untilNul_ = false;
    pending_ = PrinterEvent{};
    emit(std::move(event));
  }
  offset_ = 0;
  realTimeHeld_ = 0;
}

void StreamDecoder::take(std::uint8_t byte) {
  if (!command_.empty()) {
    takeInCommand(byte);
    return;
  }
  if (byte >= 0x20) {
    if (text_.empty()) textStart_ = offset_ - 1;
    text_.push_back(static_cast<char>(byte));
    if (text_.size() >= kTextEventLimit) flushText();
    return;
  }
  flushText();
  PrinterEvent event;
  event.offset = offset_ - 1;
  switch (byte) {
    case kLF: event.kind = EventKind::LineFeed; break;
    case kSI: event.kind = EventKind::CondensedOn; break;
    case kDC2: event.kind = EventKind::CondensedOff; break;
    case kESC:
    case kGS:
    case kFS:
    case kDLE:
      commandStart_ = offset_ - 1;
      command_.push_back(byte);
      return;
    default:
      event.kind = EventKind::Unknown;
      event.bytes.assign(1, static_cast<char>(byte));
      break;
  }
  emit(std::move(event));
}

void StreamDecoder::takeInCommand(std::uint8_t byte) {
  command_.push_back(byte);
  switch (classify()) {
    case Match::Incomplete: return;
    case Match::Complete: completeCommand(); return;
    case Match::Mismatch: mismatch(); return;
  }
}

StreamDecoder::Match StreamDecoder::classify() {
  const std::size_t size = command_.size();
  const std::uint8_t last = command_.back();
  switch (command_[0]) {
    case kESC:
      if (size == 2 && last == 'w') return Match::Complete;
      if (command_[1] == 'J') return size == 3 ? Match::Complete : Match::Incomplete;  // ESC J n
      if (command_[1] != '|') return classifyForeign();
      if (size <= 6 && last != kCode128Fixed[size - 2]) return Match::Mismatch;
      return size == kCode128Header ? Match::Complete : Match::Incomplete;
    case kGS:
      if (command_[1] != 'v') return classifyForeign();
      if (size == 3 && last != '0') return Match::Mismatch;
      if (size == 4 && !isRasterMode(last)) return Match::Mismatch;
      return size == kRasterHeader ? Match::Complete : Match::Incomplete;
    case kFS:
      return classifyForeign();
    case kDLE:
      if (size == 2) return last == kEOT ? Match::Incomplete : Match::Mismatch;
      return Match::Complete;
    default:
      return Match::Mismatch;  // not reached: only the four lead bytes start a command
  }
}

StreamDecoder::Match StreamDecoder::classifyForeign() const {
  const ForeignCommandShape shape = foreignCommandShape(command_.data(), command_.size());
  switch (shape.length) {
    case ForeignCommandShape::Length::NotACommand: return Match::Mismatch;
    case ForeignCommandShape::Length::NeedMore: return Match::Incomplete;
    case ForeignCommandShape::Length::Known: break;
  }
  return command_.size() < shape.headerBytes ? Match::Incomplete : Match::Complete;
}

void StreamDecoder::completeCommand() {
  PrinterEvent event;
  event.offset = commandStart_;
  const bool ours = command_[0] == kDLE || (command_[0] == kESC && (command_[1] == 'w' ||
                    command_[1] == 'J' || command_[1] == '|')) ||
                    (command_[0] == kGS && command_[1] == 'v');
  if (!ours) return startForeign();
  if (command_[0] == kDLE) {  // a status request, answered as it arrived (feed)
    command_.clear();
    return;
  }
  if (command_[0] == kESC && command_[1] == 'w') {
    event.kind = EventKind::Cut;
  } else if (command_[0] == kESC && command_[1] == 'J') {
    event.kind = EventKind::Feed;
    event.value = command_[2];
  } else if (command_[0] == kESC) {  // CODE128 header: the length byte is last
    pending_ = PrinterEvent{};
    pending_.kind = EventKind::Code128;
    pending_.offset = commandStart_;
    startData(command_[6], true);
    return;
  } else {
    return startRaster();
  }
  command_.clear();
  emit(std::move(event));
}

void StreamDecoder::startForeign() {
  ForeignCommandShape shape = foreignCommandShape(command_.data(), command_.size());
  pending_ = PrinterEvent{};
  pending_.kind = EventKind::Foreign;
  pending_.offset = commandStart_;
  pending_.detail = foreignCommandName(command_.data(), command_.size());
  pending_.bytes.assign(command_.begin(), command_.end());
  pending_.value = static_cast<int>(command_.size());
  // A length no command of its kind has is a stray header, not a
  // command: the bytes after it are read as they come.
  if (shape.dataBytes > shape.maxDataBytes) {
    pending_.expected = shape.dataBytes;
    shape.dataBytes = 0;
  }
  startData(shape.dataBytes, false, shape.untilNul);
}

void StreamDecoder::startRaster() {
  const int mode = command_[3] & 0x03;
  const std::uint64_t widthBytes = command_[4] + 256u * command_[5];
  const std::uint64_t heightDots = command_[6] + 256u * command_[7];
  const std::uint64_t printedWidth = widthBytes * 8 * ((mode & 1) ? 2 : 1);
  const std::uint64_t printedHeight = heightDots * ((mode & 2) ? 2 : 1);
  pending_ = PrinterEvent{};
  pending_.kind = EventKind::RasterImage;
  pending_.offset = commandStart_;
  pending_.value = mode;
  pending_.width = static_cast<int>(widthBytes * 8);
  pending_.height = static_cast<int>(heightDots);
  // A header the printer cannot take at all (rows longer than the paper's
  // 72 bytes, more rows than one image holds) is no image: its bytes are
  // read on as they come, so a stray header swallows nothing. One it takes
  // but cannot print has its data counted off.
  std::string reject;
  bool taken = true;
  if (widthBytes > kPaperWidthDots / 8) {
    reject = "more than " + std::to_string(kPaperWidthDots / 8) + " bytes a row";
    taken = false;
  } else if (heightDots > kMaxImageHeightDots) {
    reject = "more than " + std::to_string(kMaxImageHeightDots) + " rows";
    taken = false;
  } else if (widthBytes == 0 || heightDots == 0) {
    reject = "empty";
  } else if (printedWidth > kPaperWidthDots) {
    reject = "wider than the paper";
  } else if (printedHeight > kMaxImageHeightDots) {
    reject = "taller than " + std::to_string(kMaxImageHeightDots) + " dots";
  }
  if (!reject.empty()) {
    pending_.kind = EventKind::RasterRejected;
    pending_.width = static_cast<int>(printedWidth);
    pending_.height = static_cast<int>(printedHeight);
    pending_.detail = reject;
  }
  startData(taken ? widthBytes * heightDots : 0, reject.empty());
}

void StreamDecoder::startData(std::uint64_t count, bool keep, bool untilNul) {
  dataTotal_ = dataLeft_ = count;
  keepData_ = keep;
  untilNul_ = untilNul;
  if (count == 0) endData();
}

void StreamDecoder::endData() {
  command_.clear();
  dataTotal_ = dataLeft_ = 0;
  untilNul_ = false;
  PrinterEvent event = std::move(pending_);
  pending_ = PrinterEvent{};
  emit(std::move(event));
}

void StreamDecoder::mismatch() {
  // The lead byte is unknown; what followed it is decoded as fresh bytes,
  // at the offsets they came at.
  const std::vector<std::uint8_t> rest(command_.begin() + 1, command_.end());
  PrinterEvent event;
  event.kind = EventKind::Unknown;
  event.offset = commandStart_;
  event.bytes.assign(1, static_cast<char>(command_[0]));
  command_.clear();
  emit(std::move(event));
  offset_ = commandStart_ + 1;
  read(rest.data(), rest.size());
}

void StreamDecoder::flushText() {
  if (text_.empty()) return;
  PrinterEvent event;
  event.kind = EventKind::Text;
  event.offset = textStart_;
  event.bytes.swap(text_);
  emit(std::move(event));
}

void StreamDecoder::emit(PrinterEvent event) {
  if (sink_) sink_(event);
}

std::string StreamDecoder::commandName() const {
  const bool hasSecond = command_.size() >= 2;
  switch (command_[0]) {
    case kESC:
      if (!hasSecond) return "ESC";
      if (command_[1] == 'J') return "FEED";
      if (command_[1] == '|') return "CODE128";
      return foreignCommandName(command_.data(), command_.size());
    case kGS:
      if (!hasSecond) return "GS";
      if (command_[1] == 'v') return "IMAGE";
      return foreignCommandName(command_.data(), command_.size());
    case kFS: return foreignCommandName(command_.data(), command_.size());
    default: return hasSecond ? "STATUS REQUEST" : "DLE";
  }
}

}  // namespace it433td::printer
