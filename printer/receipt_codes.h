// receipt_codes.h - the QR codes and CODE128 symbols on a receipt, read
// from its picture as the paper shows it (zxing-cpp), not from the commands
// that drew it: a code sent as many raster bands, with feeds or blank lines
// between them, is read whole.
#pragma once

#include "receipt.h"

#include <cstddef>
#include <string>
#include <vector>

namespace it433td::printer {

struct CodeOnPaper {
  std::string format;  // "QR", "CODE128"
  std::string bytes;
  std::size_t item = 0;  // the first picture item the code lies on
};

// The codes in the picture of the receipt's items [first, end), top to
// bottom, then left to right. Only raster images put ink there: text and
// the printer's own CODE128 symbols are known from their bytes.
// `pdf417`: PDF417 symbols too (the ESC/POS model prints them).
std::vector<CodeOnPaper> readCodes(const Receipt &receipt, std::size_t first, std::size_t end,
                                   bool pdf417 = false);

// True for an item that may lie inside a picture read by readCodes: images,
// and what puts no ink on the paper (feeds, empty lines, notes, warnings).
bool mayBePartOfAPicture(const PrintedItem &item);

}  // namespace it433td::printer
