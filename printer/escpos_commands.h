// escpos_commands.h - the common ESC/POS commands, which the IT433TD does not
// understand: what each is called and how long it is.
//
// A job written for an ESC/POS printer (a raw CUPS queue, a generic POS
// library) starts with ESC @ and sets alignment, bold and sizes with short
// commands. The IT433TD shares only ESC J, GS v 0 and DLE EOT with that set;
// everything else would print its parameter bytes as text ("a", "E", "!").
// Knowing the lengths lets the decoder skip those bytes and name the command.
#pragma once

#include "control_bytes.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace it433td::printer {

struct ForeignCommandShape {
  enum class Length {
    NotACommand,  // not in the table: the lead byte is unknown
    NeedMore,     // the bytes so far do not tell the length yet
    Known,
  };
  Length length = Length::NotACommand;
  std::size_t headerBytes = 0;  // Known: the command's bytes before its data
  std::uint64_t dataBytes = 0;  // Known: data bytes after the header (untilNul: at most)
  bool untilNul = false;        // the data ends with a NUL byte (GS k format A, ESC D)
  // Known: the most data a real command of this kind carries. A header
  // claiming more is a stray one (a command cut off, junk), not a command.
  std::uint64_t maxDataBytes = 0;
};

// What the command whose first bytes are head[0..size) is (size >= 2, head[0]
// ESC, GS or FS). Header bytes are asked for one at a time: the answer for
// `size` bytes only looks at those.
ForeignCommandShape foreignCommandShape(const std::uint8_t *head, std::size_t size);

// "ESC @ (initialise, ESC/POS)", from the first two or three bytes of a
// command foreignCommandShape knows; "ESC 0x07" for two bytes it does not.
std::string foreignCommandName(const std::uint8_t *head, std::size_t size);

}  // namespace it433td::printer
