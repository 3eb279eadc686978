#include "bmp_codec.h"

#include <utility>

#include "P32GeCodeBar.h"

namespace p32gecodebar {
namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kInfoHeaderSize = 40;   // BITMAPINFOHEADER
constexpr size_t kCoreHeaderSize = 12;   // the old BITMAPCOREHEADER, not supported
constexpr size_t kPaletteEntrySize = 4;  // blue, green, red, reserved
constexpr int32_t kDotsPerMetre = 8000;  // 8 dots per mm, the printer's resolution

void put16(std::vector<uint8_t> &out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t> &out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}
uint32_t get16(const uint8_t *p) { return p[0] | (static_cast<uint32_t>(p[1]) << 8); }
uint32_t get32(const uint8_t *p) { return get16(p) | (get16(p + 2) << 16); }

size_t bmpStride(int64_t width) { return static_cast<size_t>((width + 31) / 32 * 4); }

// A palette entry prints black when it is darker than mid-grey.
bool paletteEntryIsBlack(const uint8_t *entry) {
  const unsigned luma = 299u * entry[2] + 587u * entry[1] + 114u * entry[0];
  return luma < 128u * 1000u;
}

}  // namespace

std::vector<uint8_t> encodeBmp(const MonoBitmap &image) {
  const size_t stride = bmpStride(image.width());
  const size_t pixelBytes = stride * static_cast<size_t>(image.height());
  const size_t offset = kFileHeaderSize + kInfoHeaderSize + 2 * kPaletteEntrySize;

  std::vector<uint8_t> out;
  out.reserve(offset + pixelBytes);
  out.push_back('B');
  out.push_back('M');
  put32(out, static_cast<uint32_t>(offset + pixelBytes));
  put32(out, 0);  // reserved
  put32(out, static_cast<uint32_t>(offset));

  put32(out, kInfoHeaderSize);
  put32(out, static_cast<uint32_t>(image.width()));
  put32(out, static_cast<uint32_t>(image.height()));  // positive: bottom-up
  put16(out, 1);                                      // planes
  put16(out, 1);                                      // bits per pixel
  put32(out, 0);                                      // no compression
  put32(out, static_cast<uint32_t>(pixelBytes));
  put32(out, kDotsPerMetre);
  put32(out, kDotsPerMetre);
  put32(out, 2);  // colours used
  put32(out, 2);  // colours important

  put32(out, 0x00000000);  // index 0: black
  put32(out, 0x00FFFFFF);  // index 1: white

  // Index 0 is black, so a file bit is the inverse of our image bit.
  for (int32_t y = image.height() - 1; y >= 0; --y) {
    const uint8_t *row = image.row(y);
    for (size_t i = 0; i < stride; ++i)
      out.push_back(i < image.stride() ? static_cast<uint8_t>(~row[i]) : 0xFF);
  }
  return out;
}

int32_t decodeBmp(const uint8_t *bytes, size_t size, MonoBitmap &out) {
  if (bytes == nullptr || size < kFileHeaderSize + 4) return P32GECODEBAR_BAD_BITMAP;
  if (bytes[0] != 'B' || bytes[1] != 'M') return P32GECODEBAR_BAD_BITMAP;
  const uint32_t dataOffset = get32(bytes + 10);
  const uint32_t headerSize = get32(bytes + 14);

  if (headerSize == kCoreHeaderSize) return P32GECODEBAR_UNSUPPORTED_BITMAP;
  // BITMAPINFOHEADER and its longer successors (V2, V3, V4, V5) share the
  // first 40 bytes.
  if (headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 &&
      headerSize != 124)
    return P32GECODEBAR_BAD_BITMAP;
  if (size < kFileHeaderSize + headerSize) return P32GECODEBAR_BAD_BITMAP;

  const uint8_t *info = bytes + kFileHeaderSize;
  const auto width = static_cast<int32_t>(get32(info + 4));
  const auto rawHeight = static_cast<int32_t>(get32(info + 8));
  const uint32_t planes = get16(info + 12);
  const uint32_t bitCount = get16(info + 14);
  const uint32_t compression = get32(info + 16);
  const uint32_t coloursUsed = get32(info + 32);

  if (planes != 1) return P32GECODEBAR_BAD_BITMAP;
  if (bitCount != 1 || compression != 0) return P32GECODEBAR_UNSUPPORTED_BITMAP;
  if (width <= 0 || rawHeight == 0) return P32GECODEBAR_BAD_BITMAP;
  // Negative height: rows stored top-down. 64-bit, so INT32_MIN negates safely.
  const int64_t height = rawHeight < 0 ? -static_cast<int64_t>(rawHeight) : rawHeight;
  if (height > CODEBAR32_MAX_BITMAP_HEIGHT) return P32GECODEBAR_BITMAP_TOO_LARGE;

  // Two palette entries are needed; a larger palette is allowed, only its
  // first two entries matter to 1-bit pixels.
  if (coloursUsed == 1 || coloursUsed > 256) return P32GECODEBAR_BAD_BITMAP;
  const size_t paletteEntries = coloursUsed == 0 ? 2 : coloursUsed;
  const size_t paletteStart = kFileHeaderSize + headerSize;
  const size_t paletteEnd = paletteStart + paletteEntries * kPaletteEntrySize;
  if (paletteEnd > size || dataOffset < paletteEnd) return P32GECODEBAR_BAD_BITMAP;

  // The rows must lie wholly inside the file (64-bit arithmetic: a huge
  // width cannot wrap around).
  const uint64_t fileStride = (static_cast<uint64_t>(width) + 31) / 32 * 4;
  const uint64_t pixelBytes = fileStride * static_cast<uint64_t>(height);
  if (dataOffset > size || pixelBytes > size - dataOffset) return P32GECODEBAR_BAD_BITMAP;

  const bool black0 = paletteEntryIsBlack(bytes + paletteStart);
  const bool black1 = paletteEntryIsBlack(bytes + paletteStart + kPaletteEntrySize);

  // Bounded by the file size checked above.
  MonoBitmap image(width, static_cast<int32_t>(height));
  for (int64_t fileRow = 0; fileRow < height; ++fileRow) {
    const int64_t y = rawHeight > 0 ? height - 1 - fileRow : fileRow;
    const uint8_t *src = bytes + dataOffset + static_cast<size_t>(fileRow) * fileStride;
    uint8_t *dst = image.row(static_cast<int32_t>(y));
    for (size_t i = 0; i < image.stride(); ++i) {
      const uint8_t bits = src[i];  // a 1 bit selects palette index 1
      uint8_t value = 0;
      if (black0 && black1) value = 0xFF;
      else if (black1) value = bits;
      else if (black0) value = static_cast<uint8_t>(~bits);
      dst[i] = value;
    }
  }
  image.clearPadding();
  out = std::move(image);
  return P32GECODEBAR_OK;
}

}  // namespace p32gecodebar
