// The virtual printer puts a QR printer file on paper dot for dot as the
// plain form would: one normal raster command for the whole symbol. This
// checks that the double-height rows of the compact file mean the same to
// the printer as to our own parser.
#include <gtest/gtest.h>

#include <algorithm>

#include "P32GeCodeBar.h"
#include "barcode_test_support.h"
#include "printer_file.h"
#include "renderer.h"
#include "transcript.h"
#include "virtual_printer.h"

using namespace barcode_test;
namespace vp = it433td::printer;

namespace {

// The same paper as one normal raster command between two feeds.
Bytes plainPrinterFile(const Paper &paper) {
  const GreyImage &img = paper.image;
  int top = img.height, bottom = -1, lastBlack = -1;
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x)
      if (img.black(x, y)) {
        top = std::min(top, y);
        bottom = y;
        lastBlack = std::max(lastBlack, x);
      }
  const int widthBytes = lastBlack / 8 + 1, rows = bottom - top + 1;
  auto feed = [](Bytes &out, int dots) {
    for (; dots > 0; dots -= 255) out.insert(out.end(), {0x1B, 0x4A, static_cast<uint8_t>(std::min(dots, 255))});
  };
  Bytes out;
  feed(out, top);
  out.insert(out.end(), {0x1D, 0x76, 0x30, 0x00, static_cast<uint8_t>(widthBytes), 0,
                         static_cast<uint8_t>(rows & 0xFF), static_cast<uint8_t>(rows >> 8)});
  for (int y = top; y <= bottom; ++y)
    for (int b = 0; b < widthBytes; ++b) {
      uint8_t byte = 0;
      for (int bit = 0; bit < 8; ++bit)
        if (img.black(b * 8 + bit, y)) byte |= static_cast<uint8_t>(0x80 >> bit);
      out.push_back(byte);
    }
  feed(out, img.height - 1 - bottom);
  return out;
}

std::vector<vp::GreyImage> printedBy(const Bytes &file) {
  std::vector<vp::GreyImage> pages;
  vp::VirtualPrinter printer([&](vp::Receipt &&receipt) { pages.push_back(vp::renderGrey(receipt)); },
                             [](uint8_t) {});
  printer.feed(file.data(), file.size());
  printer.feed("\x1Bw");  // cut, as the host does after the QR code: the paper alone is drawn
  printer.finish();
  return pages;
}

TEST(VirtualPrinterPaper, CompactQrFilePrintsLikeThePlainOne) {
  for (const size_t length : {size_t{20}, size_t{1000}}) {
    TempFolder folder;
    Bytes payload(length);
    for (size_t i = 0; i < length; ++i) payload[i] = static_cast<uint8_t>(i * 37 + 1);
    const Rendering r = renderQr(folder, payload, 'M', 16, 3);
    ASSERT_EQ(r.status, P32GECODEBAR_OK);
    const Paper paper = printOnPaper(*r.prn);
    ASSERT_TRUE(paper.wellFormed) << paper.problem;
    const Bytes plain = plainPrinterFile(paper);
    EXPECT_LT(r.prn->size(), plain.size()) << length;

    const auto compactPages = printedBy(*r.prn), plainPages = printedBy(plain);
    ASSERT_EQ(compactPages.size(), 1u);
    ASSERT_EQ(plainPages.size(), 1u);
    EXPECT_EQ(compactPages[0].height, plainPages[0].height) << length;
    EXPECT_TRUE(compactPages[0].pixels == plainPages[0].pixels) << length;
    // And the printer's paper is our parser's paper.
    ASSERT_EQ(compactPages[0].width, paper.image.width);
    ASSERT_EQ(compactPages[0].height, paper.image.height);
    EXPECT_TRUE(compactPages[0].pixels == paper.image.pixels) << length;
  }
}

// TILL-A#3 has a module row that is all white: drawn as one picture, the
// printer reads the symbol, where two bands with a feed between were read
// as two images and no code.
TEST(VirtualPrinterPaper, ASymbolWithAWhiteModuleRowIsOneImageAndIsRead) {
  TempFolder folder;
  const Rendering r = renderQr(folder, bytesOf("TILL-A#3"), 'M', 16, 3);
  ASSERT_EQ(r.status, P32GECODEBAR_OK);
  std::vector<std::string> transcripts;
  vp::VirtualPrinter printer(
      [&](vp::Receipt &&receipt) { transcripts.push_back(vp::transcriptOf(receipt)); },
      [](uint8_t) {});
  printer.feed(r.prn->data(), r.prn->size());
  printer.feed("\x1Bw");
  printer.finish();
  ASSERT_EQ(transcripts.size(), 1u);
  EXPECT_EQ(transcripts[0], "[FEED 12]\n[IMAGE 96x63 QR \"TILL-A#3\"]\n[FEED 132]\n[CUT]\n");
}

// A picture taller than the printer takes in one raster image (4,096 dot
// rows): the printer refuses none of the printer file's commands and prints
// every dot of it.
TEST(VirtualPrinterPaper, TallPictureIsPrintedWholeWithNoCommandRefused) {
  p32gecodebar::MonoBitmap picture(576, 5000);
  picture.fillRect(0, 0, 576, 5000);
  Bytes file;
  ASSERT_EQ(p32gecodebar::buildPrinterFile(picture, 0, 0, file), P32GECODEBAR_OK);

  std::vector<vp::Receipt> receipts;
  vp::VirtualPrinter printer([&](vp::Receipt &&receipt) { receipts.push_back(std::move(receipt)); },
                             [](uint8_t) {});
  printer.feed(file.data(), file.size());
  printer.finish();
  ASSERT_EQ(receipts.size(), 1u);
  int imageRows = 0;
  for (const vp::PrintedItem &item : receipts[0].items) {
    EXPECT_NE(item.kind, vp::ItemKind::Note) << item.transcript;
    if (item.kind != vp::ItemKind::Image) continue;
    imageRows += item.height;
    EXPECT_EQ(std::count(item.pixels.begin(), item.pixels.end(), 0), 0) << item.transcript;
  }
  EXPECT_EQ(imageRows, 5000);
}

}  // namespace
