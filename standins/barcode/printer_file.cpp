#include "printer_file.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

#include "P32GeCodeBar.h"

namespace p32gecodebar {
namespace {

constexpr size_t kPaperBytes = CODEBAR32_PAPER_DOTS / 8;
constexpr int32_t kMaxFeedDots = 255;      // one byte of dots per feed command
// The tallest image the printer takes in one raster command, in printed dots
// (double-height rows count twice); the virtual printer's kMaxImageHeightDots
// (printer/stream_decoder.h) refuses anything taller. Bands of black rows
// are cut at this height, so no command can exceed it.
constexpr int32_t kMaxRasterDots = 4096;
constexpr int64_t kRasterHeaderBytes = 8;  // 0x1D 0x76 0x30 m xL xH yL yH
constexpr uint8_t kNormalSize = 0x00;
constexpr uint8_t kDoubleHeight = 0x02;    // m bit 1: every data row prints twice

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

bool sameRows(const MonoBitmap &image, int32_t a, int32_t b) {
  return std::memcmp(image.row(a), image.row(b), image.stride()) == 0;
}

// One raster command of a band: `dataRows` rows sent from image row `top`;
// double height prints each one twice and takes every other image row.
struct RasterCommand {
  int32_t top = 0;
  int32_t dataRows = 0;
  bool doubleHeight = false;
};

// Splits the band [top, top + rows) into the raster commands that cost the
// fewest bytes, every command `widthBytes` wide. A pair of identical rows can
// go as one data row of a double-height command; a QR module of 3 dots is
// then one double row and one normal row, a third less data for one more
// 8-byte header a module row. Dynamic programming over the rows, linear in
// their number: open[i][k] is the cheapest cover of rows [0, i) whose last
// command is of kind k (0 normal, 1 double height) and may grow further.
// Ties keep one normal command, so a band without repeated rows is sent
// exactly as a single plain raster image.
std::vector<RasterCommand> planBand(const MonoBitmap &image, int32_t top, int32_t rows,
                                    int64_t widthBytes) {
  constexpr int64_t kNever = std::numeric_limits<int64_t>::max() / 4;
  enum Step : uint8_t { kNone, kExtend, kStart };
  const size_t n = static_cast<size_t>(rows);
  std::vector<std::array<int64_t, 2>> open(n + 1, {kNever, kNever});
  std::vector<std::array<Step, 2>> how(n + 1, {kNone, kNone});
  auto best = [&](size_t i) { return i == 0 ? int64_t{0} : std::min(open[i][0], open[i][1]); };
  auto bestKind = [&](size_t i) -> size_t { return open[i][1] < open[i][0] ? 1 : 0; };
  auto relax = [&](size_t to, size_t kind, int64_t extend, int64_t start) {
    const int64_t cost = std::min(extend, start);
    if (cost >= open[to][kind]) return;
    open[to][kind] = cost;
    how[to][kind] = extend <= start ? kExtend : kStart;
  };
  for (size_t i = 0; i < n; ++i) {
    const int64_t startCost = best(i) + kRasterHeaderBytes + widthBytes;
    relax(i + 1, 0, open[i][0] + widthBytes, startCost);
    const auto y = static_cast<int32_t>(i) + top;
    if (i + 1 < n && sameRows(image, y, y + 1)) relax(i + 2, 1, open[i][1] + widthBytes, startCost);
  }

  std::vector<RasterCommand> commands;
  size_t i = n;
  size_t kind = bestKind(n);
  RasterCommand current{0, 0, kind == 1};
  while (i > 0) {
    const Step step = how[i][kind];
    ++current.dataRows;
    i -= kind == 1 ? 2 : 1;
    if (step == kStart) {
      current.top = top + static_cast<int32_t>(i);
      commands.push_back(current);
      if (i > 0) kind = bestKind(i);
      current = RasterCommand{0, 0, kind == 1};
    }
  }
  std::reverse(commands.begin(), commands.end());
  return commands;
}

void appendRaster(std::vector<uint8_t> &out, const MonoBitmap &image, int32_t indent,
                  const RasterCommand &command) {
  const int32_t step = command.doubleHeight ? 2 : 1;
  const int32_t end = command.top + command.dataRows * step;
  std::array<uint8_t, kPaperBytes + 1> paper{};
  // At least one byte: a command of white rows alone (inside the picture)
  // would otherwise be an empty image, which the printer refuses.
  size_t widthBytes = 1;
  for (int32_t y = command.top; y < end; y += step)
    widthBytes = std::max(widthBytes, placeRow(image, y, indent, paper));

  const int32_t rows = command.dataRows;
  out.insert(out.end(), {0x1D, 0x76, 0x30, command.doubleHeight ? kDoubleHeight : kNormalSize,
                         static_cast<uint8_t>(widthBytes & 0xFF),
                         static_cast<uint8_t>(widthBytes >> 8), static_cast<uint8_t>(rows & 0xFF),
                         static_cast<uint8_t>(rows >> 8)});
  for (int32_t y = command.top; y < end; y += step) {
    placeRow(image, y, indent, paper);
    out.insert(out.end(), paper.begin(), paper.begin() + static_cast<ptrdiff_t>(widthBytes));
  }
}

// A band of rows: planned as a whole at its widest row, then each command
// sent only as wide as its own rows need.
void appendBand(std::vector<uint8_t> &out, const MonoBitmap &image, int32_t indent, int32_t top,
                int32_t rows) {
  std::array<uint8_t, kPaperBytes + 1> paper{};
  size_t widthBytes = 0;
  for (int32_t y = top; y < top + rows; ++y)
    widthBytes = std::max(widthBytes, placeRow(image, y, indent, paper));
  for (const RasterCommand &command :
       planBand(image, top, rows, static_cast<int64_t>(widthBytes)))
    appendRaster(out, image, indent, command);
}

}  // namespace

int32_t buildPrinterFile(const MonoBitmap &image, int32_t indent, int32_t trailingFeedDots,
                         std::vector<uint8_t> &out) {
  if (indent < 0 || static_cast<int64_t>(indent) + image.width() > CODEBAR32_PAPER_DOTS)
    return P32GECODEBAR_TOO_WIDE;

  out.clear();
  int32_t top = 0;
  while (top < image.height() && image.rowIsWhite(top)) ++top;
  int32_t bottom = image.height();
  while (bottom > top && image.rowIsWhite(bottom - 1)) --bottom;
  if (bottom > top) appendFeed(out, top);  // an all-white image is one feed
  for (int32_t y = top; y < bottom; y += kMaxRasterDots)
    appendBand(out, image, indent, y, std::min(kMaxRasterDots, bottom - y));
  appendFeed(out,
             static_cast<int64_t>(image.height() - (bottom > top ? bottom : 0)) + trailingFeedDots);
  return P32GECODEBAR_OK;
}

}  // namespace p32gecodebar
