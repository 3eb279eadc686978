// QR encoding (through libqrencode) and drawing of the symbol as dots.
#ifndef P32GECODEBAR_QR_SYMBOL_H
#define P32GECODEBAR_QR_SYMBOL_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "mono_bitmap.h"

namespace p32gecodebar {

// The largest payload a QR code holds in 8-bit mode (version 40, ECC L).
constexpr size_t kMaxQrPayloadBytes = 2953;

// The symbol as a square of modules, without its quiet zone.
struct QrModules {
  int32_t version = 0;
  int32_t width = 0;           // modules per side
  std::vector<uint8_t> dark;   // width * width, row-major, 1 = dark
};

// Encodes `length` bytes in 8-bit mode at the smallest version that holds
// them. eccLevel is 'L', 'M', 'Q' or 'H'. An empty payload gives the empty
// symbol (version 1, no data segment). Returns a P32GECODEBAR_* status.
int32_t encodeQr(int32_t eccLevel, const uint8_t *data, size_t length, QrModules &out);

// Side of the drawn image in dots, quiet zone included (64-bit: no overflow).
int64_t qrImageDots(const QrModules &symbol, int32_t moduleSize);

// Draws the symbol with its quiet zone, moduleSize dots per module. The
// caller checks qrImageDots() against its limits first.
MonoBitmap drawQr(const QrModules &symbol, int32_t moduleSize);

}  // namespace p32gecodebar

#endif
