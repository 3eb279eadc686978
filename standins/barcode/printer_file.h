// The printer file: raster bit image commands for the black rows, paper
// feed for the white ones.
#ifndef P32GECODEBAR_PRINTER_FILE_H
#define P32GECODEBAR_PRINTER_FILE_H

#include <cstdint>
#include <vector>

#include "mono_bitmap.h"

namespace p32gecodebar {

// Lays `image` out on the paper with its left edge `indent` dots from the
// paper's left edge (0 <= indent) and writes the printer's bytes to `out`:
// - the white rows above the first black one and below the last become
//   feed, 0x1B 0x4A n, at most 255 dots per command;
// - the rows from the first black one to the last, white rows inside
//   included, are one picture: raster bit image commands back to back,
//   0x1D 0x76 0x30 m xL xH yL yH, never split by a feed (a feed inside a
//   symbol can misplace its bands on a real paper path). Their rows start
//   at the paper's left edge and end with the last byte that holds black
//   in the command. m is 0, or 2 (double height) where a pair of identical
//   rows goes as one data row; the split into commands is the one with the
//   fewest bytes. A picture taller than 4,096 rows is cut into pieces of
//   4,096 rows first, so no command prints more than the 4,096 dots the
//   printer takes in one image;
// - the file ends with the trailing white plus `trailingFeedDots`.
// Returns P32GECODEBAR_TOO_WIDE if the image does not fit the paper beside
// the indent, else P32GECODEBAR_OK.
int32_t buildPrinterFile(const MonoBitmap &image, int32_t indent, int32_t trailingFeedDots,
                         std::vector<uint8_t> &out);

}  // namespace p32gecodebar

#endif
