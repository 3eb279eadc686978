// Rendering, decoded back with a real barcode reader, and the receipt folder.
#include "barcodes.h"
#include "printer_streams.h"
#include "receipt_folder.h"
#include "renderer.h"
#include "scratch_folder.h"
#include "virtual_printer.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace it433td::printer;
using namespace printer_test;
namespace fs = std::filesystem;

namespace {

std::vector<Receipt> printAll(const std::string &stream) {
  std::vector<Receipt> receipts;
  VirtualPrinter printer([&](Receipt &&r) { receipts.push_back(std::move(r)); }, nullptr);
  printer.feed(stream);
  printer.finish();
  return receipts;
}

std::vector<DecodedCode> decodePng(const fs::path &png, int *width, int *height) {
  cairo_surface_t *surface = cairo_image_surface_create_from_png(png.c_str());
  std::vector<DecodedCode> codes;
  if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) {
    *width = cairo_image_surface_get_width(surface);
    *height = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const unsigned char *data = cairo_image_surface_get_data(surface);
    std::vector<std::uint8_t> grey(dotCount(*width, *height));
    for (int y = 0; y < *height; ++y)
      for (int x = 0; x < *width; ++x)
        grey[dotIndex(x, y, *width)] =
            (reinterpret_cast<const std::uint32_t *>(data + y * stride)[x] >> 8) & 0xFF;
    codes = decodeAllInGrey(grey.data(), *width, *height, *width);
  }
  cairo_surface_destroy(surface);
  return codes;
}

bool contains(const std::vector<DecodedCode> &codes, const std::string &format,
              const std::string &bytes) {
  for (const auto &code : codes)
    if (code.format == format && code.bytes == bytes) return true;
  return false;
}

const std::string kQrPayload = "https://www.sefaz.example/nfce?p=35251112345678000190650010000001231";

std::string sampleReceipt() {
  return "\x0F" "Padaria S\xC6o Jo\xC6o - P\xC6o de a\x87\xA3" "car\n\x12" + code128("7891234567895") +
         "\n" + qrRaster(kQrPayload, 3, 16) + "\x1BJ\x30" "\x1Bw";
}

TEST(Renderer, APngOfTheReceiptDecodesBackToItsCodes) {
  TempFolder folder;
  const auto receipts = printAll(sampleReceipt());
  ASSERT_EQ(receipts.size(), 1u);
  const fs::path png = folder.path / "receipt.png";
  std::string error;
  ASSERT_TRUE(writePng(receipts[0], png, &error)) << error;
  int width = 0, height = 0;
  const auto codes = decodePng(png, &width, &height);
  EXPECT_EQ(width, kPaperWidthDots);
  EXPECT_EQ(height, receipts[0].lengthDots);
  EXPECT_TRUE(contains(codes, "CODE128", "7891234567895"));
  EXPECT_TRUE(contains(codes, "QR", kQrPayload));

  // A full disk takes the last bytes on close: the write still fails.
  EXPECT_FALSE(writePng(receipts[0], "/dev/full", &error));
  EXPECT_EQ(error, "/dev/full: No space left on device");
}

TEST(Renderer, TextIsDrawnInItsCellsAndAccentsDiffer) {
  const GreyImage plain = renderGrey(printAll("a\n\x1Bw").at(0));
  const GreyImage accented = renderGrey(printAll("\xC6\n\x1Bw").at(0));  // ã
  ASSERT_EQ(plain.height, kLineHeightDots);
  auto inked = [](const GreyImage &image, int x0, int x1) {
    int count = 0;
    for (int y = 0; y < image.height; ++y)
      for (int x = x0; x < x1; ++x) count += image.pixels[dotIndex(x, y, image.width)] < 128;
    return count;
  };
  EXPECT_GT(inked(plain, 0, kNormalCharDots), 10);
  EXPECT_EQ(inked(plain, kNormalCharDots, kPaperWidthDots), 0);  // nothing outside the cell
  EXPECT_GT(inked(accented, 0, kNormalCharDots), inked(plain, 0, kNormalCharDots));  // the tilde
}

// --- the receipt folder ----------------------------------------------------

std::vector<std::string> namesIn(const fs::path &folder) {
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// Two writers sharing a folder (two emulators, render beside emulate) both
// start counting at the same number: neither replaces the other's receipt.
TEST(ReceiptFolder, WritersSharingAFolderNeverReplaceEachOthersReceipts) {
  TempFolder folder;
  ReceiptFolder first(folder.path), second(folder.path);
  const Receipt one = printAll("one\n\x1Bw").at(0), two = printAll("two\n\x1Bw").at(0);
  std::string error;
  const fs::path a = first.write(one, &error);
  const fs::path b = second.write(two, &error);
  EXPECT_EQ(a.filename(), "receipt-0001.txt") << error;
  EXPECT_EQ(b.filename(), "receipt-0002.txt") << error;
  EXPECT_EQ(readFile(a), "one\n[CUT]\n");
  EXPECT_EQ(readFile(b), "two\n[CUT]\n");

  // A transcript without its picture holds its number too: the picture
  // published under it is taken back and both go under the next number.
  std::ofstream(folder.path / "receipt-0003.txt") << "stray\n";
  EXPECT_EQ(first.write(one, &error).filename(), "receipt-0004.txt") << error;
  EXPECT_EQ(readFile(folder.path / "receipt-0003.txt"), "stray\n");
  EXPECT_EQ(namesIn(folder.path),
            (std::vector<std::string>{"receipt-0001.png", "receipt-0001.txt", "receipt-0002.png",
                                      "receipt-0002.txt", "receipt-0003.txt", "receipt-0004.png",
                                      "receipt-0004.txt"}));  // no temporaries left behind

  // At the same time, from two threads: every receipt kept, each whole.
  std::vector<fs::path> written[2];
  std::thread other([&] {
    std::string otherError;
    for (int i = 0; i < 10; ++i) written[1].push_back(second.write(two, &otherError));
  });
  for (int i = 0; i < 10; ++i) written[0].push_back(first.write(one, &error));
  other.join();
  for (int w = 0; w < 2; ++w)
    for (const fs::path &path : written[w])
      EXPECT_EQ(readFile(path), w ? "two\n[CUT]\n" : "one\n[CUT]\n");
  EXPECT_EQ(namesIn(folder.path).size(), 7u + 40u);
}

TEST(ReceiptFolder, HugeNumbersInTheFolderNeitherOverflowNorCount) {
  TempFolder folder;
  std::ofstream(folder.path / "receipt-2147483647.txt") << "old\n";
  std::string error;
  EXPECT_EQ(ReceiptFolder(folder.path).write(printAll("a\n").at(0), &error).filename(),
            "receipt-2147483648.txt")
      << error;

  TempFolder other;
  std::ofstream(other.path / "receipt-0007.png") << "old";
  std::ofstream(other.path / "receipt-123456789012345678901234.txt") << "too large";
  EXPECT_EQ(ReceiptFolder(other.path).write(printAll("a\n").at(0), &error).filename(),
            "receipt-0008.txt")
      << error;
}

}  // namespace
