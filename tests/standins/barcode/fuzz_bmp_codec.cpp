// fuzz_bmp_codec.cpp - the barcode library's 1-bit BMP reader and its
// BMP-to-printer-file conversion on arbitrary bytes.
//
// Any bytes give a status or a bitmap, never a read outside the input. Each
// bitmap read then checks the round trip: our own BMP of it reads back to
// the same bitmap and converts to the same printer file; and that printer
// file prints exactly the bitmap at its indent, then the cutter clearance,
// with no raster command taller than the printer takes.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "P32GeCodeBar.h"
#include "bmp_codec.h"
#include "printer_file.h"

namespace {

using p32gecodebar::MonoBitmap;

constexpr int kMaxRasterDots = 4096;  // the most the printer takes in one image
constexpr size_t kPaperBytes = CODEBAR32_PAPER_DOTS / 8;

[[noreturn]] void fail(const char *what, const MonoBitmap &image, int32_t indent) {
  std::fprintf(stderr, "%s (bitmap %dx%d, indent %d)\n", what, image.width(), image.height(),
               indent);
  std::abort();
}

bool sameBitmap(const MonoBitmap &a, const MonoBitmap &b) {
  if (a.width() != b.width() || a.height() != b.height()) return false;
  for (int32_t y = 0; y < a.height(); ++y)
    if (std::memcmp(a.row(y), b.row(y), a.stride()) != 0) return false;
  return true;
}

// The paper row `y` should show: the bitmap's row at the indent, packed as
// the printer takes it (MSB the leftmost dot), or white below the bitmap.
std::array<uint8_t, kPaperBytes> expectedRow(const MonoBitmap &image, int32_t indent, int64_t y) {
  std::array<uint8_t, kPaperBytes> row{};
  if (y < image.height())
    for (int32_t x = 0; x < image.width(); ++x)
      if (image.black(x, static_cast<int32_t>(y)))
        row[static_cast<size_t>(indent + x) / 8] |= static_cast<uint8_t>(0x80 >> ((indent + x) % 8));
  return row;
}

// Walks the printer file as the printer prints it, dot row by dot row: the
// paper must show the bitmap at its indent, then `trailingFeed` white rows,
// and every command must be one the printer takes (feed, or a raster image
// no wider than the paper and at most 4,096 dots tall).
void expectPrintedAsIs(const std::vector<uint8_t> &file, const MonoBitmap &image, int32_t indent,
                       int32_t trailingFeed) {
  int64_t y = 0;  // the paper's next dot row
  size_t pos = 0;
  while (pos < file.size()) {
    const size_t left = file.size() - pos;
    const uint8_t *command = file.data() + pos;
    if (left >= 3 && command[0] == 0x1B && command[1] == 0x4A) {
      for (int n = 0; n < command[2]; ++n, ++y)
        if (expectedRow(image, indent, y) != std::array<uint8_t, kPaperBytes>{})
          fail("a feed passes over black dots", image, indent);
      pos += 3;
      continue;
    }
    if (left < 8 || command[0] != 0x1D || command[1] != 0x76 || command[2] != 0x30 ||
        (command[3] != 0 && command[3] != 2))
      fail("a byte that is no feed and no raster image", image, indent);
    const int height = command[3] == 2 ? 2 : 1;
    const size_t widthBytes = command[4] | size_t{command[5]} << 8;
    const int rows = command[6] | command[7] << 8;
    if (widthBytes == 0 || widthBytes > kPaperBytes || rows == 0 || rows * height > kMaxRasterDots)
      fail("a raster image the printer does not take", image, indent);
    if ((left - 8) / widthBytes < static_cast<size_t>(rows)) fail("a raster image cut short", image, indent);
    for (int r = 0; r < rows; ++r) {
      std::array<uint8_t, kPaperBytes> printed{};
      std::copy_n(command + 8 + static_cast<size_t>(r) * widthBytes, widthBytes, printed.begin());
      for (int k = 0; k < height; ++k, ++y)
        if (printed != expectedRow(image, indent, y)) fail("the printed dots are not the bitmap's", image, indent);
    }
    pos += 8 + widthBytes * static_cast<size_t>(rows);
  }
  if (y != static_cast<int64_t>(image.height()) + trailingFeed)
    fail("the paper is not the bitmap's height plus the trailing feed", image, indent);
}

void expectRoundTrip(const MonoBitmap &image, int32_t indent) {
  const int32_t trailingFeed = CODEBAR32_CUTTER_CLEARANCE_DOTS;  // as the library converts
  // The bitmap invariant the printer file relies on: padding bits are white.
  const int spare = static_cast<int>(image.stride() * 8) - image.width();
  for (int32_t y = 0; y < image.height() && spare > 0; ++y)
    if (image.row(y)[image.stride() - 1] & ((1u << spare) - 1)) fail("black padding bits", image, indent);

  std::vector<uint8_t> printerFile;
  const int32_t status = p32gecodebar::buildPrinterFile(image, indent, trailingFeed, printerFile);
  const bool fits = static_cast<int64_t>(indent) + image.width() <= CODEBAR32_PAPER_DOTS;
  if (status != (fits ? P32GECODEBAR_OK : P32GECODEBAR_TOO_WIDE))
    fail("the printer file's status does not follow the width", image, indent);

  const std::vector<uint8_t> bmp = p32gecodebar::encodeBmp(image);
  MonoBitmap reread;
  if (p32gecodebar::decodeBmp(bmp.data(), bmp.size(), reread) != P32GECODEBAR_OK)
    fail("our own BMP does not read back", image, indent);
  if (!sameBitmap(image, reread)) fail("our own BMP reads back as another bitmap", image, indent);
  if (!fits) return;

  std::vector<uint8_t> again;
  if (p32gecodebar::buildPrinterFile(reread, indent, trailingFeed, again) !=
          P32GECODEBAR_OK ||
      again != printerFile)
    fail("the BMP round trip changed the printer file", image, indent);
  expectPrintedAsIs(printerFile, image, indent, trailingFeed);
}

// The bitmap with each row repeated `repeats` times: a small file then makes
// a picture taller than one raster command.
MonoBitmap stretched(const MonoBitmap &image, int repeats) {
  MonoBitmap tall(image.width(), image.height() * repeats);
  for (int32_t y = 0; y < tall.height(); ++y)
    std::memcpy(tall.row(y), image.row(y / repeats), image.stride());
  return tall;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  MonoBitmap image;
  const int32_t status = p32gecodebar::decodeBmp(data, size, image);
  if (status == P32GECODEBAR_OK) {
    if (image.width() <= 0 || image.height() <= 0) std::abort();
    // The file header's reserved bytes, which the reader skips, give the
    // indent (offset 6) and, when offset 8 holds 'T', a tall picture: each
    // row repeated so the picture is just taller than one raster command.
    // Only then, as a tall picture costs time in proportion.
    const int32_t indent = (data[6] | data[7] << 8) % CODEBAR32_PAPER_DOTS;
    const int repeats = data[8] == 'T' ? kMaxRasterDots / image.height() + 1 : 1;
    expectRoundTrip(repeats > 1 ? stretched(image, repeats) : image, indent);
  } else if (status != P32GECODEBAR_BAD_BITMAP && status != P32GECODEBAR_UNSUPPORTED_BITMAP &&
             status != P32GECODEBAR_BITMAP_TOO_LARGE) {
    std::abort();
  }
  return 0;
}
