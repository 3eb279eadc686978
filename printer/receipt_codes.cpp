// receipt_codes.cpp - the images of a stretch of paper drawn where they
// lie, with a white border (a raster image often has no quiet zone of its
// own), and read once.
#include "receipt_codes.h"

#include "barcodes.h"

#include <algorithm>
#include <tuple>

namespace it433td::printer {

namespace {

constexpr int kBorderDots = 16;

}  // namespace

bool mayBePartOfAPicture(const PrintedItem &item) {
  switch (item.kind) {
    case ItemKind::Image:
    case ItemKind::Feed:
    case ItemKind::Note:
    case ItemKind::Warning: return true;
    case ItemKind::TextLine: return item.glyphs.empty();
    case ItemKind::Barcode: return false;
  }
  return false;
}

std::vector<CodeOnPaper> readCodes(const Receipt &receipt, std::size_t first, std::size_t end,
                                   bool pdf417) {
  end = std::min(end, receipt.items.size());
  // The images' box only: the paper beside them is white, and the reader's
  // time goes with the dots it is shown.
  int top = -1, bottom = 0, left = 0, right = 0;
  for (std::size_t i = first; i < end; ++i) {
    const PrintedItem &item = receipt.items[i];
    if (item.kind != ItemKind::Image) continue;
    left = top < 0 ? item.x : std::min(left, item.x);
    if (top < 0) top = item.y;
    bottom = std::max(bottom, item.y + item.height);
    right = std::max(right, item.x + item.width);
  }
  if (top < 0 || right <= left) return {};

  const int pictureWidth = right - left + 2 * kBorderDots;
  const int pictureHeight = bottom - top + 2 * kBorderDots;
  std::vector<std::uint8_t> grey(dotCount(pictureWidth, pictureHeight), 0xFF);
  for (std::size_t i = first; i < end; ++i) {
    const PrintedItem &item = receipt.items[i];
    if (item.kind != ItemKind::Image) continue;
    for (int y = 0; y < item.height; ++y) {
      const std::uint8_t *dots = item.pixels.data() + dotIndex(0, y, item.width);
      std::uint8_t *row = grey.data() + dotIndex(kBorderDots + item.x - left,
                                                 item.y - top + y + kBorderDots, pictureWidth);
      for (int x = 0; x < item.width; ++x)
        if (dots[x]) row[x] = 0;
    }
  }

  std::vector<DecodedCode> found =
      readQrAndCode128InGrey(grey.data(), pictureWidth, pictureHeight, pictureWidth, pdf417);
  std::sort(found.begin(), found.end(), [](const DecodedCode &a, const DecodedCode &b) {
    return std::tie(a.top, a.left, a.format, a.bytes) < std::tie(b.top, b.left, b.format, b.bytes);
  });
  std::vector<CodeOnPaper> codes;
  for (const DecodedCode &code : found) {
    // The first image whose rows the code's box reaches.
    const int codeTop = code.top - kBorderDots + top, codeBottom = code.bottom - kBorderDots + top;
    for (std::size_t i = first; i < end; ++i) {
      const PrintedItem &item = receipt.items[i];
      if (item.kind != ItemKind::Image || item.y + item.height <= codeTop || item.y > codeBottom)
        continue;
      codes.push_back({code.format, code.bytes, i});
      break;
    }
  }
  return codes;
}

}  // namespace it433td::printer
