// status_answers.h - the one-byte answers of the real-time status request.
//
// The host sends DLE EOT n (0x10 0x04 n) and the printer answers one byte at
// once, even in the middle of a print job. The bits follow the common
// receipt-printer convention; bits 1 and 4 are always set and bits 0 and 7
// always clear, so every answer has the form 0b0xx1xx10.
//
//   n = 1  printer status     0x12 base; bit 3 (0x08) set while offline
//                             (cover open or paper out).
//   n = 2  offline cause      0x12 base; bit 2 (0x04) cover open,
//                             bit 5 (0x20) printing stopped by paper end,
//                             bit 6 (0x40) an error occurred (never set here).
//   n = 3  error cause        0x12: the virtual printer has no cutter,
//                             mechanism or recoverable errors.
//   n = 4  paper roll sensor  0x12 base; bits 2 and 3 (0x0C) paper near end,
//                             bits 5 and 6 (0x60) paper out.
//
// Any other n is not a status request the printer knows: it gives no answer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace it433td::printer {

// What the operator has done to the printer.
enum class PrinterState : std::uint8_t {
  Online,        // ready, paper loaded
  PaperNearEnd,  // ready, but the roll is nearly used up
  PaperOut,      // no paper: printing stops, the printer goes offline
  Offline,       // cover open: the printer is offline
};

// The state's name as used by the command line and the README:
// "online", "near-end", "paper-out", "offline".
std::string_view stateName(PrinterState state);
std::optional<PrinterState> stateFromName(std::string_view name);

namespace status_bits {
constexpr std::uint8_t kFixed = 0x12;          // bits 1 and 4, always set
constexpr std::uint8_t kOffline = 0x08;        // n=1, bit 3
constexpr std::uint8_t kCoverOpen = 0x04;      // n=2, bit 2
constexpr std::uint8_t kPaperEndStop = 0x20;   // n=2, bit 5
constexpr std::uint8_t kErrorOccurred = 0x40;  // n=2, bit 6
constexpr std::uint8_t kPaperNearEnd = 0x0C;   // n=4, bits 2 and 3
constexpr std::uint8_t kPaperOut = 0x60;       // n=4, bits 5 and 6
}  // namespace status_bits

// The ESC/POS model's transmitted status, following the common convention:
//   GS r 1 (or '1')  paper sensor: 0x03 paper near end, 0x0F paper out
//   GS r 2 (or '2')  drawer kick connector: 0x00 (pin 3 low)
//   GS I 1, 2, 3     printer model ID 0x20, type ID 0x02, firmware ID 0x10
//   GS I 65 to 68    "_" and the firmware, maker, model, serial, then NUL
//   GS a n           automatic status back, four bytes: 0x10 with 0x08
//                    offline and 0x20 cover open, 0x00, 0x03 near end and
//                    0x0C paper out (0x0F both), 0x0F
// An n the printer does not know gives "".
std::string escposQueryAnswer(PrinterState state, std::string_view command, int n, int paperMm);
std::string automaticStatus(PrinterState state);

// The answer to DLE EOT n in the given state, or nothing for an n the
// printer does not know (only 1 to 4 are answered).
std::optional<std::uint8_t> statusAnswer(PrinterState state, int n);

}  // namespace it433td::printer
