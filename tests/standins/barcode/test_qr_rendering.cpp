// QR codes rendered into both files and read back by independent decoders,
// and the printer file's layout on the 576-dot paper.
#include <gtest/gtest.h>

#include <algorithm>

#include "P32GeCodeBar.h"
#include "barcode_test_support.h"

using namespace barcode_test;

namespace {

constexpr int kQuietModules = 4;

Bytes allByteValues() {
  Bytes bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<uint8_t>(i));
  return bytes;
}

struct PayloadCase {
  const char *name;
  Bytes payload;
};

void PrintTo(const PayloadCase &c, std::ostream *os) { *os << c.name; }

class QrRoundTrip : public ::testing::TestWithParam<PayloadCase> {};

TEST_P(QrRoundTrip, BothFilesDecodeToTheExactPayload) {
  TempFolder folder;
  const Rendering r = renderQr(folder, GetParam().payload, 'M', 16, 3);
  ASSERT_EQ(r.status, P32GECODEBAR_OK) << p32gecodebar_status_name(r.status);
  ASSERT_TRUE(r.bmp && r.prn);
  const Decodings d = decodeRendering(r);
  EXPECT_EQ(d.fromBmp, GetParam().payload) << "BMP through zbarimg";
  EXPECT_EQ(d.fromPaperZbar, GetParam().payload) << "printer file through zbar";
  EXPECT_EQ(d.fromPaperZxing, GetParam().payload) << "printer file through zxing";
}

INSTANTIATE_TEST_SUITE_P(
    Payloads, QrRoundTrip,
    ::testing::Values(PayloadCase{"Ascii", bytesOf("CUPOM FISCAL 000123 TOTAL R$ 45,90")},
                      PayloadCase{"Utf8", bytesOf("Pão de açúcar, coração, €5 — 東京")},
                      PayloadCase{"BinaryWithZeros", Bytes{0x00, 0x01, 0x00, 0xFF, 0x80, 0x00, 0x7F}},
                      PayloadCase{"AllByteValues", allByteValues()},
                      PayloadCase{"UrlWithQuery", bytesOf("https://nfce.example/q?p=3524|2|1|1|AB")}),
    [](const auto &test) { return std::string(test.param.name); });

TEST(QrRendering, EmptyPayloadRendersTheEmptySymbol) {
  TempFolder folder;
  const Rendering r = renderQr(folder, Bytes{}, 'M', 16, 3);
  ASSERT_EQ(r.status, P32GECODEBAR_OK);
  const Decodings d = decodeRendering(r);
  EXPECT_EQ(d.fromPaperZbar, Bytes{});
  EXPECT_EQ(d.fromBmp, Bytes{});
  // Version 1: 21 modules of 3 dots.
  const Paper paper = printOnPaper(*r.prn);
  ASSERT_EQ(paper.images.size(), 1u);
  EXPECT_EQ(paper.images[0].dotRows, 21 * 3);
}

TEST(QrRendering, EveryEccLevelDecodesAndStrongerLevelsNeedLargerSymbols) {
  const Bytes payload(120, 'x');
  int previousRows = 0;
  for (const int32_t ecc : {'L', 'M', 'Q', 'H'}) {
    TempFolder folder;
    const Rendering r = renderQr(folder, payload, ecc, 16, 3);
    ASSERT_EQ(r.status, P32GECODEBAR_OK) << static_cast<char>(ecc);
    EXPECT_EQ(decodeRendering(r).fromPaperZbar, payload) << static_cast<char>(ecc);
    const Paper paper = printOnPaper(*r.prn);
    ASSERT_EQ(paper.images.size(), 1u);
    EXPECT_GT(paper.images[0].dotRows, previousRows) << static_cast<char>(ecc);
    previousRows = paper.images[0].dotRows;
  }
}

TEST(QrRendering, ModuleSizeScalesTheSymbol) {
  const Bytes payload = bytesOf("module size check 0123456789");
  for (const int32_t moduleSize : {1, 2, 3, 5, 8}) {
    TempFolder folder;
    const Rendering r = renderQr(folder, payload, 'Q', 0, moduleSize);
    ASSERT_EQ(r.status, P32GECODEBAR_OK) << moduleSize;
    const Paper paper = printOnPaper(*r.prn);
    ASSERT_TRUE(paper.wellFormed) << paper.problem;
    ASSERT_EQ(paper.images.size(), 1u);
    const int rows = paper.images[0].dotRows;
    EXPECT_EQ(rows % moduleSize, 0);
    EXPECT_EQ((rows / moduleSize - 17) % 4, 0) << "not a QR symbol's side";
    // A 1-dot module is too small for the decoders' finder search: enlarge.
    const int scale = moduleSize < 3 ? 4 / moduleSize : 1;
    EXPECT_EQ(decodeRendering(r, scale).fromPaperZbar, payload) << moduleSize;
  }
}

// The symbol's quiet zone begins `indent` dots from the paper's left edge;
// its first black dot follows the quiet zone, and the raster rows end with
// the byte that holds the last black dot.
TEST(QrRendering, IndentPlacesTheSymbolAndRowsEndAtTheLastBlackByte) {
  const Bytes payload = bytesOf("indent");
  for (const int32_t indent : {0, 5, 16, 77, 300}) {
    TempFolder folder;
    const Rendering r = renderQr(folder, payload, 'M', indent, 3);
    ASSERT_EQ(r.status, P32GECODEBAR_OK) << indent;
    const Paper paper = printOnPaper(*r.prn);
    ASSERT_TRUE(paper.wellFormed) << paper.problem;
    const GreyImage &img = paper.image;
    int firstBlack = img.width, lastBlack = -1;
    for (int y = 0; y < img.height; ++y)
      for (int x = 0; x < img.width; ++x)
        if (img.black(x, y)) {
          firstBlack = std::min(firstBlack, x);
          lastBlack = std::max(lastBlack, x);
        }
    ASSERT_EQ(paper.images.size(), 1u);
    const int side = paper.images[0].dotRows;  // a square symbol
    EXPECT_EQ(firstBlack, indent + kQuietModules * 3) << indent;
    EXPECT_EQ(lastBlack, indent + kQuietModules * 3 + side - 1) << indent;
    EXPECT_EQ(paper.images[0].widthBytes, lastBlack / 8 + 1) << indent;
    EXPECT_EQ(decodeRendering(r).fromPaperZbar, payload) << indent;
  }
}

// The quiet zone above and below is feed; the symbol itself is one picture,
// never split by a feed: TILL-A#3 has a module row that is all white.
TEST(QrRendering, TheQuietZoneIsFeedAndTheSymbolOnePicture) {
  TempFolder folder;
  const Rendering r = renderQr(folder, bytesOf("TILL-A#3"), 'M', 16, 3);
  ASSERT_EQ(r.status, P32GECODEBAR_OK);
  const Paper paper = printOnPaper(*r.prn);
  ASSERT_TRUE(paper.wellFormed) << paper.problem;
  ASSERT_GE(paper.commands.size(), 3u);
  EXPECT_EQ(paper.commands.front().kind, PrinterCommand::kFeed);
  EXPECT_EQ(paper.commands.front().feedDots, kQuietModules * 3);
  EXPECT_EQ(paper.commands.back().kind, PrinterCommand::kFeed);
  EXPECT_EQ(paper.commands.back().feedDots, kQuietModules * 3 + CODEBAR32_CUTTER_CLEARANCE_DOTS);
  ASSERT_EQ(paper.images.size(), 1u) << "the symbol is one picture, no feed inside it";

  // Every command ends with the byte that holds its last black dot, but for
  // one of white rows alone (a byte wide); one such row is in this symbol.
  const Bytes &file = *r.prn;
  size_t expectedSize = 3 + 3;
  int whiteRows = 0;
  for (size_t c = 1; c + 1 < paper.commands.size(); ++c) {
    const PrinterCommand &raster = paper.commands[c];
    ASSERT_EQ(raster.kind, PrinterCommand::kRaster) << c;
    bool lastByteUsed = false;
    for (int y = 0; y < raster.rows; ++y) {
      const auto begin =
          file.begin() + static_cast<ptrdiff_t>(raster.dataOffset) + y * raster.widthBytes;
      whiteRows += std::all_of(begin, begin + raster.widthBytes, [](uint8_t b) { return b == 0; });
      lastByteUsed |= begin[raster.widthBytes - 1] != 0;
    }
    EXPECT_TRUE(lastByteUsed || raster.widthBytes == 1)
        << "command " << c << " wider than its black";
    expectedSize += 8 + static_cast<size_t>(raster.widthBytes * raster.rows);
  }
  EXPECT_GT(whiteRows, 0);
  // Exactly the headers, rows and two feeds: nothing else in the file.
  EXPECT_EQ(file.size(), expectedSize);
}

// A module of 3 dots is 3 equal dot rows: the file sends it as one row of
// a double-height command (m = 2) and one row of a normal command, two data
// rows instead of three.
TEST(QrRendering, ThreeDotModulesGoAsTwoDataRowsWithDoubleHeight) {
  TempFolder folder;
  const Rendering r = renderQr(folder, Bytes(1000, 0x5A), 'M', 16, 3);
  ASSERT_EQ(r.status, P32GECODEBAR_OK);
  const Paper paper = printOnPaper(*r.prn);
  ASSERT_TRUE(paper.wellFormed) << paper.problem;
  ASSERT_EQ(paper.images.size(), 1u);
  const PrintedImage &symbol = paper.images[0];
  const int moduleRows = symbol.dotRows / 3;
  EXPECT_EQ(moduleRows, 121) << "version 26";
  EXPECT_LE(symbol.dataRows, 2 * moduleRows);
  EXPECT_LE(symbol.commands, moduleRows + 1);
  bool sawDouble = false, sawNormal = false;
  for (const PrinterCommand &command : paper.commands) {
    if (command.kind != PrinterCommand::kRaster) continue;
    EXPECT_FALSE(command.doubleWidth);
    (command.doubleHeight ? sawDouble : sawNormal) = true;
  }
  EXPECT_TRUE(sawDouble && sawNormal);
  EXPECT_EQ(decodeRendering(r).fromPaperZxing, Bytes(1000, 0x5A));
}

uint32_t le32(const Bytes &b, size_t at) {
  return b[at] | uint32_t{b[at + 1]} << 8 | uint32_t{b[at + 2]} << 16 | uint32_t{b[at + 3]} << 24;
}

TEST(QrRendering, BitmapIsAPlainOneBitBmpWithItsQuietZone) {
  TempFolder folder;
  const Rendering r = renderQr(folder, bytesOf("bitmap"), 'M', 16, 3);
  ASSERT_EQ(r.status, P32GECODEBAR_OK);
  const Bytes &bmp = *r.bmp;
  ASSERT_GE(bmp.size(), 62u);
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  EXPECT_EQ(le32(bmp, 2), bmp.size());
  EXPECT_EQ(le32(bmp, 10), 62u);  // headers + two palette entries
  EXPECT_EQ(le32(bmp, 14), 40u);  // BITMAPINFOHEADER
  const uint32_t width = le32(bmp, 18), height = le32(bmp, 22);
  EXPECT_EQ(width, height);
  EXPECT_EQ(width, (21u + 2 * kQuietModules) * 3);  // version 1
  EXPECT_EQ(bmp[28], 1);                            // bits per pixel
  EXPECT_EQ(le32(bmp, 30), 0u);                     // uncompressed
  const size_t stride = (width + 31) / 32 * 4;
  EXPECT_EQ(bmp.size(), 62 + stride * height);
  // The bottom row lies in the quiet zone: white, padding included.
  for (size_t i = 0; i < stride; ++i) EXPECT_EQ(bmp[62 + i], 0xFF);
}

TEST(QrRendering, BmpToPrnOfTheBitmapGivesTheSamePrinterFile) {
  TempFolder folder;
  for (const int32_t indent : {0, 16, 61}) {
    const Rendering r = renderQr(folder, allByteValues(), 'H', indent, 3);
    ASSERT_EQ(r.status, P32GECODEBAR_OK);
    const std::string again = folder.file("again.prn");
    ASSERT_EQ(CODEBAR32_PGeBMPtoPRN(r.bmpPath.c_str(), again.c_str(), indent), P32GECODEBAR_OK);
    EXPECT_EQ(readFile(again), r.prn) << indent;
  }
}

TEST(QrRendering, TheDriversValuesGiveAPrinterFileThatFitsTheCopyWindow) {
  TempFolder folder;
  // 77 'M', indent 16, 3 dots per module: what the driver always passes.
  const Rendering r = renderQr(folder, Bytes(200, 0xA5), 77, 16, 3);
  ASSERT_EQ(r.status, P32GECODEBAR_OK);
  EXPECT_EQ(decodeRendering(r).fromPaperZxing, Bytes(200, 0xA5));
  EXPECT_LE(r.prn->size(), 15708u);
}

}  // namespace
