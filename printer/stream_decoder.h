// stream_decoder.h - turns the printer's byte stream into print events.
//
// The command set (all the virtual printer understands):
//   0x20-0xFF                       printable text, code page 850
//   0x0A                            line feed
//   0x0F / 0x12                     condensed printing on / off
//   ESC | 3 0 0x01 0x00 n d1..dn    CODE128 barcode of n data bytes
//   ESC w                           cut the paper
//   GS v 0 m xL xH yL yH d1..dk     raster image, x bytes wide, y dots high,
//                                   k = x * y; m 0..3 or '0'..'3' (bit 0
//                                   doubles the width, bit 1 the height)
//   ESC J n                         feed n dots
//   DLE EOT n                       real-time status request
// A common ESC/POS command that is not one of these (ESC @, GS k, ...; see
// escpos_commands.h) becomes one Foreign event, its parameter and data bytes
// skipped with it, up to what a real command of its kind carries. A status
// request is answered wherever it arrives, even inside another command. Any other byte is unknown: it becomes an Unknown event
// and decoding goes on with the next byte. A command whose fixed bytes do
// not match (ESC | 4...) makes its first byte unknown and the bytes after it
// are decoded afresh.
//
// Bytes may arrive in any chunking: feeding a stream in pieces gives exactly
// the events of feeding it whole. Text is held until a non-text byte (or
// 4096 text bytes, or finish()) so that its events do not depend on chunking.
#pragma once

#include "page_settings.h"
#include "receipt.h"  // the paper's width

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace it433td::printer {

constexpr int kMaxImageHeightDots = 4096; // printed height cap of one raster image
constexpr std::size_t kTextEventLimit = 4096;

enum class EventKind {
  Text,  // bytes: code page 850 text
  LineFeed,
  CondensedOn,
  CondensedOff,
  Code128,  // bytes: the barcode data
  Cut,
  RasterImage,     // width/height (dots, before scaling), value: mode, raster
  RasterRejected,  // width/height as printed, detail: why; its data was skipped,
                   // unless the header was no image's (more than 72 bytes a
                   // row or 4096 rows): the bytes after it were read as they came
  Feed,            // value: dots
  StatusRequest,   // value: n (the printer answers 1 to 4, see status_answers.h);
                   // handed out where it arrives, even inside another command
  Unknown,         // bytes: the one unknown byte
  Foreign,         // an ESC/POS command: detail its name, bytes its first
                   // kForeignBytesKept bytes, value its length; expected, when
                   // not 0, the data it claimed, more than any such command
                   // carries: none was skipped
  Truncated,       // detail: command name; received/expected byte counts
  // The ESC/POS model's (escpos_decoder.h):
  Settings,     // settings: the page settings from now on
  Position,     // value: dots from the left margin, or (width 1) from here
  Tab,          // to the next tab stop
  Barcode,      // detail: the symbology ("EAN13"), bytes: its data
  Symbol2D,     // detail: "QR" or "PDF417", bytes: its data, value: module
                // dots, width: error correction (QR 0-3 for L M Q H)
  Drawer,       // value: the pin (2 or 5), detail: the pulse
  StatusQuery,  // detail: "GS r", "GS I" or "GS a", value: n
  BadCommand,   // detail: what is wrong, bytes: its first kForeignBytesKept bytes,
                // value: its length
};

constexpr std::size_t kForeignBytesKept = 16;

struct PrinterEvent {
  EventKind kind = EventKind::Unknown;
  std::string bytes;
  int value = 0;
  int width = 0;   // dots
  int height = 0;  // dots
  std::vector<std::uint8_t> raster;  // packed rows, width / 8 bytes per row, MSB left
  std::string detail;
  std::uint64_t received = 0;
  std::uint64_t expected = 0;  // 0: not known yet (the length was still to come)
  std::uint64_t offset = 0;    // of the event's first byte, counted from the
                               // stream's start (or the last finish())
  std::shared_ptr<const PageSettings> settings;  // Settings
};

// A one-line description of an event, for tests and debugging.
std::string describe(const PrinterEvent &event);

class StreamDecoder {
public:
  using EventSink = std::function<void(const PrinterEvent &)>;

  explicit StreamDecoder(EventSink sink);

  void feed(const std::uint8_t *data, std::size_t size);
  void feed(std::string_view bytes);
  // Bytes fed since the stream began (or the last finish()).
  std::uint64_t offset() const { return offset_; }
  // End of the stream: hands out held text and reports a command cut short
  // as a Truncated event (never guessed at). The decoder is then ready for a
  // new stream.
  void finish();
  bool midCommand() const { return !command_.empty() || dataLeft_ > 0; }

private:
  enum class Match { Incomplete, Complete, Mismatch };

  // Reads commands from bytes already looked at for status requests.
  void read(const std::uint8_t *data, std::size_t size);
  void take(std::uint8_t byte);
  void takeInCommand(std::uint8_t byte);
  Match classify();
  Match classifyForeign() const;
  void feedData(const std::uint8_t *data, std::size_t size, std::size_t *used);
  void startData(std::uint64_t count, bool keep, bool untilNul = false);
  void endData();
  void completeCommand();
  // The header of an ESC/POS command, or of a raster image, is whole: its
  // data (if it has any the printer takes) follows.
  void startForeign();
  void startRaster();
  void mismatch();
  void flushText();
  void emit(PrinterEvent event);
  std::string commandName() const;

  EventSink sink_;
  std::string text_;                   // held text bytes
  std::vector<std::uint8_t> command_;  // the command's bytes so far (header only)
  std::uint64_t dataLeft_ = 0;         // data bytes still to come
  std::uint64_t dataTotal_ = 0;
  bool keepData_ = false;
  bool untilNul_ = false;              // the data ends at a NUL (or after dataLeft_)
  PrinterEvent pending_;               // the command whose data is arriving
  std::uint64_t offset_ = 0;           // bytes taken so far
  std::uint64_t textStart_ = 0;        // offset of the held text's first byte
  std::uint64_t commandStart_ = 0;     // offset of command_[0]
  int realTimeHeld_ = 0;               // bytes of DLE EOT n seen so far (0 to 2)
};

}  // namespace it433td::printer
