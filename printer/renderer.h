// renderer.h - draws a receipt as the paper would look: a PNG 576 pixels
// wide, one pixel per printer dot, black on white (cairo, DejaVu Sans Mono).
// A receipt with warnings is drawn wider and taller: a grey margin right of
// the paper marks each place a warning happened, and a black banner under
// the paper counts them.
#pragma once

#include "receipt.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace it433td::printer {

// The receipt as 8-bit grey, one byte per dot (0 black, 255 white), rows of
// the receipt's paper width (more with warnings); at least one row.
struct GreyImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
};
GreyImage renderGrey(const Receipt &receipt);

// Writes the receipt as PNG; false (with a reason) when the file cannot be
// written.
bool writePng(const Receipt &receipt, const std::filesystem::path &path, std::string *error);

}  // namespace it433td::printer
