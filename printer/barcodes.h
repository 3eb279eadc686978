// barcodes.h - CODE128 bars and reading codes out of printed images (zxing-cpp).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace it433td::printer {

// The CODE128 bars of the data, one entry per module (true = bar), without
// quiet zones; or the reason it cannot be encoded (empty data, bytes above
// 0x7F, more than the encoder's 80 characters).
struct Code128Bars {
  std::vector<bool> modules;
  std::string error;  // empty when modules holds the bars
};
Code128Bars encodeCode128(std::string_view data);

// A code found in an image: its format ("QR", "CODE128", ...) and its bytes.
struct DecodedCode {
  std::string format;
  std::string bytes;
};

// Looks for one QR code in a printed image (pixels row by row, width*height,
// non-zero = black dot). A white border is added, since a raster image sent
// to the printer often has no quiet zone of its own.
std::optional<DecodedCode> decodeQrInImage(const std::vector<std::uint8_t> &pixels, int width,
                                           int height);

// Every barcode and QR code in an 8-bit grey image (0 = black), e.g. a
// rendered receipt.
std::vector<DecodedCode> decodeAllInGrey(const std::uint8_t *grey, int width, int height,
                                         int rowStride);

}  // namespace it433td::printer
