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
// - runs of white rows (the image's top and bottom margins included) become
//   feed, 0x1B 0x4A n, at most 255 dots per command;
// - each run of rows holding black becomes raster bit image commands,
//   0x1D 0x76 0x30 m xL xH yL yH, whose rows start at the paper's left edge
//   and end with the last byte that holds black in the command. m is 0, or 2
//   (double height) where a pair of identical rows goes as one data row;
//   the split into commands is the one with the fewest bytes. A run taller
//   than 4,096 rows is cut into pieces of 4,096 rows first, so no command
//   prints more than the 4,096 dots the printer takes in one image;
// - the file ends with the trailing white plus `trailingFeedDots`.
// Returns P32GECODEBAR_TOO_WIDE if the image does not fit the paper beside
// the indent, else P32GECODEBAR_OK.
int32_t buildPrinterFile(const MonoBitmap &image, int32_t indent, int32_t trailingFeedDots,
                         std::vector<uint8_t> &out);

}  // namespace p32gecodebar

#endif
