// barcodes.h - CODE128 bars and reading codes out of printed images (zxing-cpp).
#pragma once

#include <cstdint>
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

// A code found in a picture: its format ("QR", "CODE128", ...), its bytes,
// and the box it lies in (dots of the picture, right and bottom inclusive).
struct DecodedCode {
  std::string format;
  std::string bytes;
  int left = 0, top = 0, right = 0, bottom = 0;
};

// Every QR code and CODE128 symbol in an 8-bit grey picture (0 = black).
std::vector<DecodedCode> readQrAndCode128InGrey(const std::uint8_t *grey, int width, int height,
                                                int rowStride);

// Every barcode and 2D code of any format in an 8-bit grey picture, e.g. a
// rendered receipt.
std::vector<DecodedCode> decodeAllInGrey(const std::uint8_t *grey, int width, int height,
                                         int rowStride);

}  // namespace it433td::printer
