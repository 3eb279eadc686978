// 1-bit BMP files: writing our images, and reading any well-formed one.
#ifndef P32GECODEBAR_BMP_CODEC_H
#define P32GECODEBAR_BMP_CODEC_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "mono_bitmap.h"

namespace p32gecodebar {

// A bottom-up 1-bit BMP with a BITMAPINFOHEADER and a two-entry palette
// (index 0 black, index 1 white), rows padded to 4 bytes, 8 dots per mm.
std::vector<uint8_t> encodeBmp(const MonoBitmap &image);

// Reads a 1-bit uncompressed BMP from `size` bytes. Every field is checked
// against the bytes actually present before anything is read or allocated.
// Returns a P32GECODEBAR_* status; `out` is set only on success.
int32_t decodeBmp(const uint8_t *bytes, size_t size, MonoBitmap &out);

}  // namespace p32gecodebar

#endif
