// Test helpers for the barcode library: a folder of our own, a reader of
// the printer file that puts its dots back on paper, and two independent QR
// decoders (zbar in-process and on files through zbarimg, and zxing-cpp).
#ifndef BARCODE_TEST_SUPPORT_H
#define BARCODE_TEST_SUPPORT_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace barcode_test {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(const std::string &text);
std::optional<Bytes> readFile(const std::string &path);
void writeFile(const std::string &path, const Bytes &bytes);
bool exists(const std::string &path);
std::vector<std::string> folderEntries(const std::string &folder);

// A fresh folder under the system's temporary folder, removed afterwards.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder &) = delete;
  TempFolder &operator=(const TempFolder &) = delete;
  const std::string &path() const { return path_; }
  std::string file(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// An 8-bit grey image, 0 black, 255 white.
struct GreyImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;
  bool black(int x, int y) const { return pixels[index(x, y)] == 0; }
  // Where the dot (x, y) lies in `pixels`, row after row.
  size_t index(int x, int y) const {
    return static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
  }
};

// One command of a printer file.
struct PrinterCommand {
  enum Kind { kFeed, kRaster } kind;
  int feedDots = 0;      // kFeed
  int widthBytes = 0;    // kRaster
  int rows = 0;          // kRaster: data rows sent
  bool doubleWidth = false;   // kRaster, m bit 0: each dot printed 2 dots wide
  bool doubleHeight = false;  // kRaster, m bit 1: each data row printed twice
  size_t dataOffset = 0; // kRaster: where d1 starts in the file
  int dotRows() const { return kind == kFeed ? feedDots : rows * (doubleHeight ? 2 : 1); }
};

// Raster commands printed back to back, with no feed between them: one
// picture on the paper.
struct PrintedImage {
  int top = 0;         // first dot row on the paper
  int dotRows = 0;     // height on the paper
  int widthBytes = 0;  // the widest of its commands
  int commands = 0;
  int dataRows = 0;    // rows sent, over all its commands
};

// The paper as the printer leaves it: 576 dots wide, a feed adds white rows,
// a raster command adds its rows starting at the paper's left edge (m's
// bit 0 doubling every dot's width, bit 1 every row's height).
struct Paper {
  bool wellFormed = false;  // false: a byte that is neither command
  std::string problem;
  std::vector<PrinterCommand> commands;
  std::vector<PrintedImage> images;
  GreyImage image;
};
Paper printOnPaper(const Bytes &printerFile);

GreyImage scaleUp(const GreyImage &image, int factor);

// Decoded QR payloads, as raw bytes.
std::vector<Bytes> decodeWithZbar(const GreyImage &image);
std::optional<Bytes> decodeWithZxing(const GreyImage &image);
// Runs zbarimg (which reads the file through ImageMagick) on an image file.
std::optional<Bytes> decodeFileWithZbarimg(const std::string &path);

// The two helpers below call the barcode library (rendering_support.cpp, for
// test programs linked with it); everything above needs no library.

// Renders `payload` through CODEBAR32_PGeCodeBarQRCODE into qrCode.bmp and
// qrCode.prn of `folder` (null data when the payload is empty, as the driver
// passes it) and reads both files back.
struct Rendering {
  int32_t status = -1;
  std::string bmpPath, prnPath;
  std::optional<Bytes> bmp, prn;
};
Rendering renderQr(const TempFolder &folder, const Bytes &payload, int32_t ecc = 'M',
                   int32_t indent = 16, int32_t moduleSize = 3);

// The payload every decoder reads back from a rendering: from the BMP file
// (zbarimg), from the printer file's paper (zbar and zxing). Empty optional
// entries mean "not decoded".
struct Decodings {
  std::optional<Bytes> fromBmp, fromPaperZbar, fromPaperZxing;
};
Decodings decodeRendering(const Rendering &rendering, int scale = 1);

}  // namespace barcode_test

#endif
