// What a Windows host printed through Pkg_Vossik.dll under Wine, judged from
// the files wine_capture left: the host's statuses, the exact bytes that
// reached COM1 (a pseudo-terminal), the pty's line settings, and the QR
// printer file read back with a real QR decoder.
#include <gtest/gtest.h>
#include <zbar.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "wine_scenario.h"
#include "wine_width.h"

#ifdef IT433TD_HAVE_VIRTUAL_PRINTER
#include "virtual_printer.h"
#endif

namespace fs = std::filesystem;
using namespace it433td::wine_test;

namespace {

// wine.<width>.capture left its files in a folder named after the width.
fs::path outDir() { return fs::path(IT433TD_WINE_OUT) / wineWidth().name; }

std::string readFile(const fs::path &path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

// host_win's "<step> <value>" lines.
std::map<std::string, long> hostResults() {
  std::map<std::string, long> results;
  std::istringstream lines(readFile(outDir() / kHostOutputFile));
  std::string step;
  long value;
  while (lines >> step >> value) results[step] = value;
  return results;
}

std::string printerFile() { return readFile(outDir() / kStageFolder / "Dados" / "qrCode.prn"); }

std::string hexAround(const std::string &bytes, size_t at) {
  std::string out;
  const size_t from = at > 8 ? at - 8 : 0;
  for (size_t i = from; i < bytes.size() && i < at + 8; ++i) {
    char cell[8];
    std::snprintf(cell, sizeof cell, i == at ? "[%02X]" : "%02X ",
                  static_cast<unsigned char>(bytes[i]));
    out += cell;
  }
  return out;
}

// A readable verdict on two byte streams: where they part and what is there.
::testing::AssertionResult sameBytes(const std::string &expected, const std::string &actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
  return ::testing::AssertionFailure()
         << "streams differ at byte " << at << " of " << expected.size() << " expected, "
         << actual.size() << " received\n  expected: " << hexAround(expected, at)
         << "\n  received: " << hexAround(actual, at);
}

// The printer file's paper as dots: feed (ESC J n) gives white rows, each
// raster image (GS v 0) its rows from the left edge. 1 = black.
struct Paper {
  int width = 0;
  std::vector<std::vector<uint8_t>> rows;
};

bool layOut(const std::string &file, Paper &paper) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(file[i]); };
  size_t i = 0;
  while (i < file.size()) {
    if (byte(i) == 0x1B && i + 2 < file.size() && byte(i + 1) == 0x4A) {
      paper.rows.insert(paper.rows.end(), byte(i + 2), {});
      i += 3;
    } else if (byte(i) == 0x1D && i + 7 < file.size() && byte(i + 1) == 0x76 &&
               byte(i + 2) == 0x30) {
      const size_t x = byte(i + 4) | size_t{byte(i + 5)} << 8;
      const size_t y = byte(i + 6) | size_t{byte(i + 7)} << 8;
      i += 8;
      if (i + x * y > file.size()) return false;
      for (size_t r = 0; r < y; ++r) {
        std::vector<uint8_t> row(x * 8);
        for (size_t d = 0; d < x * 8; ++d) row[d] = (byte(i + r * x + d / 8) >> (7 - d % 8)) & 1;
        paper.width = std::max(paper.width, static_cast<int>(row.size()));
        paper.rows.push_back(std::move(row));
      }
      i += x * y;
    } else {
      return false;  // a QR printer file holds nothing else
    }
  }
  return true;
}

// Decodes the QR code printed on the paper with zbar.
std::string decodeQr(const Paper &paper) {
  const size_t margin = 32, width = static_cast<size_t>(paper.width) + 2 * margin;
  const size_t height = paper.rows.size() + 2 * margin;
  std::vector<uint8_t> gray(width * height, 0xFF);
  for (size_t r = 0; r < paper.rows.size(); ++r)
    for (size_t d = 0; d < paper.rows[r].size(); ++d)
      if (paper.rows[r][d]) gray[(r + margin) * width + d + margin] = 0;

  zbar::zbar_image_scanner_t *scanner = zbar::zbar_image_scanner_create();
  zbar::zbar_image_scanner_set_config(scanner, zbar::ZBAR_NONE, zbar::ZBAR_CFG_ENABLE, 0);
  zbar::zbar_image_scanner_set_config(scanner, zbar::ZBAR_QRCODE, zbar::ZBAR_CFG_ENABLE, 1);
  zbar::zbar_image_t *image = zbar::zbar_image_create();
  zbar::zbar_image_set_format(image, zbar_fourcc('Y', '8', '0', '0'));
  zbar::zbar_image_set_size(image, static_cast<unsigned>(width), static_cast<unsigned>(height));
  zbar::zbar_image_set_data(image, gray.data(), gray.size(), nullptr);
  std::string text;
  if (zbar::zbar_scan_image(scanner, image) > 0) {
    const zbar::zbar_symbol_t *symbol = zbar::zbar_image_first_symbol(image);
    text.assign(zbar::zbar_symbol_get_data(symbol), zbar::zbar_symbol_get_data_length(symbol));
  }
  zbar::zbar_image_destroy(image);
  zbar::zbar_image_scanner_destroy(scanner);
  return text;
}

TEST(WineRun, HostGetsSuccessFromEveryStepAndTheRefusalsForTheUnsafePortAndTheFailedCopy) {
  std::map<std::string, long> got = hostResults();
  const std::map<std::string, long> expected = {
      {"StartIT433TD", 1},
      {"IniciaPorta_IT433TD", 0},
      {"FormataTX_IT433TD", 0},
      {"ImprimeCODE128_IT433TD", 0},
      {"AcionaGuilhotina_IT433TD", 0},
      {"ImprimeQRCode_IT433TD", 0},  // the port was reopened after the copy
      {"ImprimeQRCode_unsafe_port", -1001},
      {"printer_file_untouched", 1},
      {"injected_file_absent", 1},
      {"ImprimeQRCode_copy_cannot_write", -1007},  // COPY's exit code, read within the window
      {"FormataTX_after_unsafe_port", 0},  // the refusal left the port open
      {"FechaPorta_IT433TD", 0},
  };
  for (const auto &[step, status] : expected) {
    ASSERT_TRUE(got.count(step)) << step << " missing from the host's output:\n"
                                 << readFile(outDir() / kHostOutputFile);
    EXPECT_EQ(got[step], status) << step;
  }
}

TEST(WineRun, UnsafePortNameStartsNothing) {
  std::map<std::string, long> got = hostResults();
  ASSERT_TRUE(got.count("ImprimeQRCode_unsafe_port_ms"));
  // A QR print that went ahead would have paused 3000 ms.
  EXPECT_LT(got["ImprimeQRCode_unsafe_port_ms"], 1000);
  EXPECT_FALSE(fs::exists(outDir() / kStageFolder / "injected.txt"));
}

TEST(WineRun, PortReceivesTextBarcodeCutQrCodeAndTheLastLineExactly) {
  const std::string prn = printerFile();
  ASSERT_FALSE(prn.empty()) << "no Dados\\qrCode.prn was rendered";
  const std::string code128 = kCode128;
  std::string expected;
  expected += '\x0F' + std::string(kText) + "\n" + '\x12';  // condensed frame
  expected += std::string("\x1B\x7C\x33\x30\x01\x00", 6);   // CODE128 command
  expected += static_cast<char>(code128.size()) + code128;
  expected += '\n';                                 // line feed after the barcode
  expected += "\x1B\x77";                           // cut
  expected += prn;                                  // COPY /B of the printer file
  expected += '\x0F' + std::string(kStillOpenText) + '\x12';
  EXPECT_TRUE(sameBytes(expected, readFile(outDir() / kCaptureFile)));
}

TEST(WineRun, QrPrinterFileReadsBackAsTheHostsData) {
  Paper paper;
  ASSERT_TRUE(layOut(printerFile(), paper)) << "not raster and feed commands only";
  EXPECT_EQ(decodeQr(paper), kQrData);
}

TEST(WineRun, SerialLineSettingsReachedThePty) {
  std::map<std::string, long> line;
  std::istringstream lines(readFile(outDir() / kLineSettingsFile));
  std::string name;
  long value;
  while (lines >> name >> value) line[name] = value;
  EXPECT_EQ(line["speed57600"], 1);
  EXPECT_EQ(line["cs8"], 1);
  EXPECT_EQ(line["crtscts"], 1);  // flow 1: RTS/CTS
  EXPECT_EQ(line["opost"], 0);    // raw: no newline translation
}

#ifdef IT433TD_HAVE_VIRTUAL_PRINTER
TEST(WineRun, VirtualPrinterPrintsTheTextTheBarcodeAndTheQrCode) {
  namespace vp = it433td::printer;
  std::vector<vp::Receipt> receipts;
  vp::VirtualPrinter printer([&](vp::Receipt &&r) { receipts.push_back(std::move(r)); },
                             [](std::uint8_t) {});
  printer.feed(readFile(outDir() / kCaptureFile));
  printer.finish();
  ASSERT_EQ(receipts.size(), 2u) << "one cut receipt, then the QR code and the last line";
  EXPECT_TRUE(receipts[0].cut);

  auto textOf = [](const vp::PrintedItem &item) {
    std::string s;
    for (const vp::Glyph &g : item.glyphs) s += g.utf8;
    return s;
  };
  bool text = false, barcode = false, image = false, lastLine = false;
  for (const vp::PrintedItem &item : receipts[0].items) {
    text |= item.kind == vp::ItemKind::TextLine && textOf(item) == kText;
    barcode |= item.kind == vp::ItemKind::Barcode && item.humanReadable == kCode128;
  }
  for (const vp::PrintedItem &item : receipts[1].items) {
    image |= item.kind == vp::ItemKind::Image && item.width > 0;
    lastLine |= item.kind == vp::ItemKind::TextLine && textOf(item) == "port still open";
  }
  EXPECT_TRUE(text);
  EXPECT_TRUE(barcode);
  EXPECT_TRUE(image);
  EXPECT_TRUE(lastLine);
}
#endif

}  // namespace
