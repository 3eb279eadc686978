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

// The bars of a barcode an ESC/POS printer prints (GS k): `format` one of
// "UPC-A", "UPC-E", "EAN13", "EAN8", "CODE39", "ITF", "CODABAR", "CODE93",
// "CODE128" (its data with the code-set prefixes {A, {B, {C); `text` what
// it carries, for the human-readable line; or why the data cannot be
// encoded.
struct Bars {
  std::vector<bool> modules;
  std::string text;
  std::string error;
};
Bars encodeBarcode(std::string_view format, std::string_view data);

// A 2-D symbol's modules, row after row (true = dark): "QR" at error
// correction 0-3 (L, M, Q, H) or "PDF417" at level 0-8; or why not.
struct SymbolModules {
  int width = 0, height = 0;
  std::vector<bool> modules;
  std::string error;
};
SymbolModules encodeSymbol(std::string_view format, std::string_view data, int level);

// What a scanner set for `format` reads off the bars (a narrow bar one
// module), or "" when nothing reads: the transcript says what the paper
// carries.
std::string readBars(std::string_view format, const std::vector<bool> &modules);

// A code found in a picture: its format ("QR", "CODE128", ...), its bytes,
// and the box it lies in (dots of the picture, right and bottom inclusive).
struct DecodedCode {
  std::string format;
  std::string bytes;
  int left = 0, top = 0, right = 0, bottom = 0;
};

// Every QR code and CODE128 symbol (and PDF417, when asked: reading them
// costs a third more) in an 8-bit grey picture (0 = black).
std::vector<DecodedCode> readQrAndCode128InGrey(const std::uint8_t *grey, int width, int height,
                                                int rowStride, bool pdf417 = false);

// Every barcode and 2D code of any format in an 8-bit grey picture, e.g. a
// rendered receipt.
std::vector<DecodedCode> decodeAllInGrey(const std::uint8_t *grey, int width, int height,
                                         int rowStride);

}  // namespace it433td::printer
