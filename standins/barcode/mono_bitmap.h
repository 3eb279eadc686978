// A black-and-white image in printer form: rows of packed bytes, the most
// significant bit is the leftmost dot, 1 is black. Padding bits past the
// right edge are always 0, so a row is white exactly when all its bytes are 0.
#ifndef P32GECODEBAR_MONO_BITMAP_H
#define P32GECODEBAR_MONO_BITMAP_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace p32gecodebar {

class MonoBitmap {
 public:
  MonoBitmap() = default;
  // A white image. Callers bound width and height before allocating.
  MonoBitmap(int32_t width, int32_t height)
      : width_(width), height_(height), stride_((static_cast<size_t>(width) + 7) / 8),
        bytes_(stride_ * static_cast<size_t>(height), 0) {}

  int32_t width() const { return width_; }
  int32_t height() const { return height_; }
  size_t stride() const { return stride_; }

  uint8_t *row(int32_t y) { return bytes_.data() + stride_ * static_cast<size_t>(y); }
  const uint8_t *row(int32_t y) const {
    return bytes_.data() + stride_ * static_cast<size_t>(y);
  }

  bool black(int32_t x, int32_t y) const { return (row(y)[x / 8] & (0x80 >> (x % 8))) != 0; }
  void setBlack(int32_t x, int32_t y) { row(y)[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8)); }

  // Blackens the rectangle [x, x + w) x [y, y + h); the caller keeps it inside.
  void fillRect(int32_t x, int32_t y, int32_t w, int32_t h) {
    for (int32_t dy = 0; dy < h; ++dy)
      for (int32_t dx = 0; dx < w; ++dx) setBlack(x + dx, y + dy);
  }

  bool rowIsWhite(int32_t y) const {
    const uint8_t *r = row(y);
    for (size_t i = 0; i < stride_; ++i)
      if (r[i] != 0) return false;
    return true;
  }

  // Clears the padding bits of the last byte of every row.
  void clearPadding() {
    const int spare = static_cast<int>(stride_ * 8 - static_cast<size_t>(width_));
    if (spare == 0 || stride_ == 0) return;
    const uint8_t keep = static_cast<uint8_t>(0xFF << spare);
    for (int32_t y = 0; y < height_; ++y) row(y)[stride_ - 1] &= keep;
  }

 private:
  int32_t width_ = 0;
  int32_t height_ = 0;
  size_t stride_ = 0;
  std::vector<uint8_t> bytes_;
};

}  // namespace p32gecodebar

#endif
