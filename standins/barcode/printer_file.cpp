#include "printer_file.h"

#include <algorithm>
#include <array>

#include "P32GeCodeBar.h"

namespace p32gecodebar {
namespace {

constexpr size_t kPaperBytes = CODEBAR32_PAPER_DOTS / 8;
constexpr int32_t kMaxFeedDots = 255;      // one byte of dots per feed command
constexpr int32_t kMaxRasterRows = 65535;  // yL yH

void appendFeed(std::vector<uint8_t> &out, int64_t dots) {
  while (dots > 0) {
    const auto step = static_cast<uint8_t>(std::min<int64_t>(dots, kMaxFeedDots));
    out.insert(out.end(), {0x1B, 0x4A, step});
    dots -= step;
  }
}

// One image row moved `indent` dots to the right, as paper bytes. Returns the
// number of bytes up to and including the last one holding black.
size_t placeRow(const MonoBitmap &image, int32_t y, int32_t indent,
                std::array<uint8_t, kPaperBytes + 1> &paper) {
  paper.fill(0);
  const uint8_t *src = image.row(y);
  const size_t first = static_cast<size_t>(indent) / 8;
  const int shift = indent % 8;
  // The caller checked indent + width <= paper width, so every black bit
  // lands inside the paper; the spare byte takes only the padding's zeros.
  for (size_t i = 0; i < image.stride(); ++i) {
    paper[first + i] |= static_cast<uint8_t>(src[i] >> shift);
    if (shift != 0) paper[first + i + 1] |= static_cast<uint8_t>(src[i] << (8 - shift));
  }
  size_t used = kPaperBytes;
  while (used > 0 && paper[used - 1] == 0) --used;
  return used;
}

void appendRaster(std::vector<uint8_t> &out, const MonoBitmap &image, int32_t indent,
                  int32_t top, int32_t rows) {
  std::array<uint8_t, kPaperBytes + 1> paper{};
  size_t widthBytes = 0;
  for (int32_t y = top; y < top + rows; ++y)
    widthBytes = std::max(widthBytes, placeRow(image, y, indent, paper));

  out.insert(out.end(), {0x1D, 0x76, 0x30, 0x00, static_cast<uint8_t>(widthBytes & 0xFF),
                         static_cast<uint8_t>(widthBytes >> 8), static_cast<uint8_t>(rows & 0xFF),
                         static_cast<uint8_t>(rows >> 8)});
  for (int32_t y = top; y < top + rows; ++y) {
    placeRow(image, y, indent, paper);
    out.insert(out.end(), paper.begin(), paper.begin() + static_cast<ptrdiff_t>(widthBytes));
  }
}

}  // namespace

int32_t buildPrinterFile(const MonoBitmap &image, int32_t indent, int32_t trailingFeedDots,
                         std::vector<uint8_t> &out) {
  if (indent < 0 || static_cast<int64_t>(indent) + image.width() > CODEBAR32_PAPER_DOTS)
    return P32GECODEBAR_TOO_WIDE;

  out.clear();
  int64_t pendingFeed = 0;
  int32_t y = 0;
  while (y < image.height()) {
    if (image.rowIsWhite(y)) {
      ++pendingFeed;
      ++y;
      continue;
    }
    int32_t end = y;
    while (end < image.height() && end - y < kMaxRasterRows && !image.rowIsWhite(end)) ++end;
    appendFeed(out, pendingFeed);
    pendingFeed = 0;
    appendRaster(out, image, indent, y, end - y);
    y = end;
  }
  appendFeed(out, pendingFeed + trailingFeedDots);
  return P32GECODEBAR_OK;
}

}  // namespace p32gecodebar
