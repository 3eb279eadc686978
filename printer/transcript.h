// transcript.h - the text form of a receipt.
//
// Text lines appear as printed (UTF-8, one line per printed line, wrapped
// where the printer wrapped); everything else as a marker on its own line:
//   [CODE128 "123456"]                 a barcode
//   [CODE128 "..." NOT PRINTED: why]    data the barcode cannot carry
//   [IMAGE 264x264]                    a raster image, printed size in dots
//   [IMAGE 264x264 QR "payload"]       ... holding a QR code, with its content
//   [IMAGE REJECTED 800x8: why]        an image the printer skipped
//   [FEED 40]                          paper fed by 40 dots
//   [UNKNOWN 0x0D]                     an unknown byte (inline, where it came)
//   [UNKNOWN 0x01 x5000]               a run of one unknown byte, as one marker
//   [TRUNCATED CODE128: 9 of 12 bytes] a command cut short by the stream's end
//   [NOTE job ended: 60 s time limit]  the printer ended a network job there
//   [CUT]                              the cutter fired: end of the receipt
//   [CONTINUED]                        the receipt grew too long for one picture
//                                      (or its transcript past 1 MiB)
// Quoted data is binary-safe: see escapeBytes.
#pragma once

#include "receipt.h"

#include <string>
#include <string_view>

namespace it433td::printer {

// Quotes bytes for a marker: printable ASCII and well-formed UTF-8 stay,
// '"' and '\' get a backslash, every other byte becomes \xNN.
std::string escapeBytes(std::string_view bytes);

std::string transcriptOf(const Receipt &receipt);

}  // namespace it433td::printer
