// transcript.h - the text form of a receipt.
//
// Text lines appear as printed (UTF-8, one line per printed line, wrapped
// where the printer wrapped); everything else as a marker on its own line:
//   [CODE128 "123456"]                 a barcode
//   [CODE128 "..." NOT PRINTED: why]    data the barcode cannot carry
//   [IMAGE 264x264]                    a raster image, printed size in dots
//   [IMAGE 264x264 QR "payload"]       ... on which a QR code (or CODE128) was read
//                                      off the paper, with its content (receipt_codes.h)
//   [IMAGE REJECTED 800x8: why]        an image the printer skipped
//   [FEED 40]                          paper fed by 40 dots
//   [UNKNOWN 0x0D]                     an unknown byte (inline, where it came)
//   [UNKNOWN 0x01 x5000]               a run of one unknown byte, as one marker
//   [UNKNOWN ESC a]                    an ESC/POS command, skipped whole (inline)
//   [TRUNCATED CODE128: 9 of 12 bytes] a command cut short by the stream's end
//   [WARNING what: examples]           what is most likely a mistake, after
//                                      the line where it first happened
//   [NOTE job ended: 16 MiB size limit] a job ended by a limit of its port
//   [CUT]                              the cutter fired: end of the receipt
//   [CONTINUED]                        the receipt grew too long for one picture
//                                      (or its transcript past 1 MiB)
// Quoted data is binary-safe: see escapeBytes.
#pragma once

#include "receipt.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace it433td::printer {

// A well-formed UTF-8 sequence led by this byte: its length (2 to 4; 0 for
// a byte that leads none) and the range its second byte must be in (no
// overlong forms, no surrogates, nothing past U+10FFFF).
struct Utf8Lead {
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
};
Utf8Lead utf8Lead(unsigned char lead);

// Length of the well-formed UTF-8 sequence at text[at] (1 for ASCII, 2 to 4
// otherwise, by the rules above), or 0 where none starts.
std::size_t utf8SequenceLength(std::string_view text, std::size_t at);

// Quotes bytes for a marker: printable ASCII and well-formed UTF-8 stay,
// '"' and '\' get a backslash, every other byte becomes \xNN, C1 controls
// in UTF-8 (U+0080-U+009F, which a terminal may act on) included. So a
// transcript holds no control character but its line feeds (and DEL, from
// text byte 0x7F, which a terminal ignores).
std::string escapeBytes(std::string_view bytes);

std::string transcriptOf(const Receipt &receipt);

// The receipt's warning lines ("[WARNING ...", "[NOTE ..."), in order.
std::vector<std::string> warningsOf(const Receipt &receipt);

}  // namespace it433td::printer
