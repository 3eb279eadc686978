// How serial line settings become termios flags on a tty (POSIX).
#pragma once

#include <stdint.h>

#include "line_values.h"

namespace megencom32 {


// MEGENCOM32_OK when every value is one this library can set (a speed
// termios knows, and the values of checkLineValues), MEGENCOM32_BAD_SETTINGS
// otherwise.
int32_t checkLineSettings(const LineSettings &settings);

// Puts the tty on `fd` in raw mode with the given line settings, then reads
// the settings back: a driver that silently drops one (no mark/space parity,
// an odd speed) answers MEGENCOM32_BAD_SETTINGS. A pseudo-terminal has no
// wire: Linux keeps its character size at 8 bits and its parity off whatever
// is asked, so on a pty those two are set but not checked.
int32_t applyLineSettings(int fd, const LineSettings &settings, bool pseudoTerminal);

// True when `fd` is the slave side of a Unix98 pseudo-terminal.
bool isPseudoTerminal(int fd);

// Five zeros on a tty: keeps speed, character size, parity, stop bits and
// flow control as they are, and makes the line raw otherwise (no output
// processing, no echo, no canonical input), so bytes go out exactly as given
// and the printer's status answers come back unchanged.
int32_t makeRawKeepingLine(int fd);

}  // namespace megencom32
