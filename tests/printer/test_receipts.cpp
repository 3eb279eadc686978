// The print head and the transcript: accents, wrapping, receipts split by
// cuts, markers, status answers.
#include "printer_streams.h"
#include "status_answers.h"
#include "transcript.h"
#include "virtual_printer.h"

#include <gtest/gtest.h>

using namespace it433td::printer;
using namespace printer_test;

namespace {

struct Printed {
  std::vector<Receipt> receipts;
  std::vector<std::string> transcripts;
  std::string answers;
};

Printed print(const std::string &stream, PrinterState state = PrinterState::Online) {
  Printed out;
  VirtualPrinter printer(
      [&](Receipt &&r) {
        out.transcripts.push_back(transcriptOf(r));
        out.receipts.push_back(std::move(r));
      },
      [&](std::uint8_t answer) { out.answers.push_back(static_cast<char>(answer)); });
  printer.setState(state);
  printer.feed(stream);
  printer.finish();
  return out;
}

TEST(Receipts, PortugueseAccentsInCodePage850BecomeUtf8) {
  // ã ç é õ ú Á Ç in code page 850.
  const Printed p = print("P\xC6o, a\x87\x82, p\xE4" "e, \xA3til, \xB5gua, \x80" "AIXA\n\x1Bw");
  ASSERT_EQ(p.transcripts.size(), 1u);
  EXPECT_EQ(p.transcripts[0], "Pão, açé, põe, útil, Água, ÇAIXA\n[CUT]\n");
}

TEST(Receipts, TextWrapsAtFortyEightColumnsAndCondensedAtSixtyFour) {
  const Printed normal = print(std::string(50, 'a') + "\n");
  EXPECT_EQ(normal.transcripts.at(0), std::string(48, 'a') + "\naa\n");
  EXPECT_EQ(normal.receipts.at(0).lengthDots, 2 * kLineHeightDots);

  const Printed condensed = print("\x0F" + std::string(65, 'c') + "\n\x12");
  EXPECT_EQ(condensed.transcripts.at(0), std::string(64, 'c') + "\nc\n");
  const auto &glyphs = condensed.receipts.at(0).items.at(0).glyphs;
  EXPECT_EQ(glyphs.back().x + glyphs.back().width, kPaperWidthDots);

  // A full line then a line feed prints one line, not an extra empty one.
  EXPECT_EQ(print(std::string(48, 'b') + "\n").transcripts.at(0), std::string(48, 'b') + "\n");
  // Condensed and normal mixed on one line share the 576 dots.
  const Printed mixed = print("\x0F" + std::string(32, 'c') + "\x12" + std::string(25, 'n') + "\n");
  EXPECT_EQ(mixed.transcripts.at(0), std::string(32, 'c') + std::string(24, 'n') + "\nn\n");
}

TEST(Receipts, CutsSplitTheStreamIntoReceipts) {
  const Printed p = print("one\n\x1Bw\x1Bw" "two\n\x1Bwthree");
  ASSERT_EQ(p.receipts.size(), 3u);  // the cut with nothing on the paper makes no receipt
  EXPECT_EQ(p.transcripts[0], "one\n[CUT]\n");
  EXPECT_EQ(p.transcripts[1], "two\n[CUT]\n");
  EXPECT_EQ(p.transcripts[2], "three\n");  // unfinished: the line buffer printed, no cut
  EXPECT_EQ(p.receipts[2].number, 3);
  EXPECT_FALSE(p.receipts[2].cut);
}

TEST(Receipts, MarkersForBarcodesFeedsUnknownBytesAndCutShortCommands) {
  const Printed p = print("a\rb\n" + code128("12\"34") + "\n\x1BJ\x28" +
                          code128(std::string("\xE9", 1)) + rasterHeader(0, 80, 1) +
                          std::string(80, 0) + "\x1B|30\x01");
  ASSERT_EQ(p.transcripts.size(), 1u);
  EXPECT_EQ(p.transcripts[0],
            "a[UNKNOWN 0x0D]b\n"
            "[CODE128 \"12\\\"34\"]\n"
            "\n"
            "[FEED 40]\n"
            "[CODE128 \"\\xE9\" NOT PRINTED: Bad character in input: \\xE9]\n"
            "[IMAGE REJECTED 640x1: wider than the paper]\n"
            "[TRUNCATED CODE128: 5 bytes]\n");
  EXPECT_EQ(p.receipts[0].lengthDots, kLineHeightDots + kBarHeightDots + kLineHeightDots +
                                          kLineHeightDots + 40);
}

TEST(Receipts, EscapedDataKeepsUtf8AndEscapesEverythingElse) {
  EXPECT_EQ(escapeBytes(std::string("a\0\\\"\n\xC3\xA3\xC3\x7F\xFF", 10)),
            "a\\x00\\\\\\\"\\x0Aã\\xC3\\x7F\\xFF");
  EXPECT_EQ(escapeBytes("\xED\xA0\x80"), "\\xED\\xA0\\x80");  // a surrogate is not UTF-8
}

TEST(Receipts, ImagesPrintOneToOneAndScaled) {
  const std::string feed("\x1BJ\x00", 3);
  const Printed p = print(rasterHeader(0, 1, 1) + "\x81" + feed + rasterHeader(3, 1, 1) + "\x80");
  const auto &items = p.receipts.at(0).items;
  EXPECT_EQ(items.at(0).width, 8);
  EXPECT_EQ(items[0].pixels, (std::vector<std::uint8_t>{1, 0, 0, 0, 0, 0, 0, 1}));
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[2].width, 16);
  EXPECT_EQ(items[2].height, 2);
  EXPECT_EQ(items[2].y, 1);
  EXPECT_EQ(items[2].pixels[0] + items[2].pixels[1] + items[2].pixels[16] + items[2].pixels[17], 4);
  EXPECT_EQ(p.transcripts[0], "[IMAGE 8x1]\n[FEED 0]\n[IMAGE 16x2]\n");
}

// A printer file may send one symbol as many raster bands: on paper they are
// one picture, and the transcript reads it as one.
TEST(Receipts, ImagesPrintedBackToBackAreOnePicture) {
  int width = 0;
  const std::string payload("00020126580014br.gov.bcb.pix");
  const std::string whole = qrRaster(payload, 3, 16, &width);
  const size_t rowBytes = static_cast<unsigned char>(whole[4]);
  const size_t rows = static_cast<unsigned char>(whole[6]) | static_cast<unsigned char>(whole[7]) << 8;
  std::string bands;
  for (size_t y = 0; y < rows; y += 2) {
    const int height = static_cast<int>(std::min<size_t>(2, rows - y));
    bands += rasterHeader(0, static_cast<int>(rowBytes), height) +
             whole.substr(8 + y * rowBytes, height * rowBytes);
  }
  const Printed p = print(bands + "\n");
  ASSERT_EQ(p.receipts.at(0).items.size(), 2u);  // the picture and the empty line
  EXPECT_EQ(p.receipts[0].items[0].height, static_cast<int>(rows));
  EXPECT_EQ(p.transcripts[0], "[IMAGE " + std::to_string(width) + "x" + std::to_string(rows) +
                                  " QR \"" + payload + "\"]\n\n");
}

// Bands of different widths: a narrower one goes under the picture as it is,
// a wider one widens the whole picture, every dot staying where it was.
TEST(Receipts, BackToBackImagesOfDifferentWidthsKeepEveryDot) {
  const Printed p = print(rasterHeader(0, 1, 1) + "\x80" + rasterHeader(0, 2, 1) + std::string("\x00\x01", 2) +
                          rasterHeader(0, 1, 1) + "\x01");
  ASSERT_EQ(p.receipts.at(0).items.size(), 1u);
  const PrintedItem &image = p.receipts[0].items[0];
  ASSERT_EQ(image.width, 16);
  ASSERT_EQ(image.height, 3);
  std::vector<std::uint8_t> expected(48, 0);
  expected[0] = expected[16 + 15] = expected[32 + 7] = 1;
  EXPECT_EQ(image.pixels, expected);
  EXPECT_EQ(p.transcripts[0], "[IMAGE 16x3]\n");
}

TEST(Receipts, RunsOfOneUnknownByteAreOneMarker) {
  const Printed p = print("a" + std::string(5, '\x01') + "\x02\x01" "b\n" + std::string(3, '\x01') +
                          std::string("\x10\x04\x01", 3) + std::string(2, '\x01'));
  ASSERT_EQ(p.transcripts.size(), 1u);
  // A status request between two bytes does not break their run.
  EXPECT_EQ(p.transcripts[0], "a[UNKNOWN 0x01 x5][UNKNOWN 0x02][UNKNOWN 0x01]b\n[UNKNOWN 0x01 x5]\n");
}

TEST(Receipts, APrintedQrCodeShowsItsContentBinarySafe) {
  int width = 0;
  const std::string payload("https://nfce.example/?p=1|2\x01", 28);
  const Printed p = print(qrRaster(payload, 3, 16, &width));
  ASSERT_EQ(p.transcripts.size(), 1u);
  const std::string size = std::to_string(width) + "x" + std::to_string(p.receipts[0].lengthDots);
  EXPECT_EQ(p.transcripts[0], "[IMAGE " + size + " QR \"https://nfce.example/?p=1|2\\x01\"]\n");
}

TEST(Receipts, VeryLongPaperContinuesInTheNextReceipt) {
  std::string stream;
  for (int i = 0; i < 1400; ++i) stream += "line\n";  // 1400 * 24 = 33600 dots
  const Printed p = print(stream);
  ASSERT_EQ(p.receipts.size(), 2u);
  EXPECT_TRUE(p.receipts[0].continued);
  EXPECT_LE(p.receipts[0].lengthDots, kMaxReceiptDots);
  EXPECT_EQ(p.receipts[0].items.size() + p.receipts[1].items.size(), 1400u);
}

// Junk input takes no paper; the transcript's budget bounds each receipt.
TEST(HeavyInput, JunkIsCollapsedAndEachReceiptsTranscriptIsBounded) {
  const Printed same = print(std::string(2'000'000, '\x01'));
  ASSERT_EQ(same.transcripts.size(), 1u);
  EXPECT_EQ(same.transcripts[0], "[UNKNOWN 0x01 x2000000]\n");

  // Feeds take no paper: the transcript's budget ends each receipt.
  std::string zeroFeeds;
  for (int i = 0; i < 150'000; ++i) zeroFeeds += std::string("\x1BJ\x00", 3);  // "[FEED 0]\n"
  const Printed p = print(zeroFeeds);
  ASSERT_GE(p.receipts.size(), 2u);
  size_t markers = 0;
  for (size_t i = 0; i < p.receipts.size(); ++i) {
    EXPECT_LE(p.transcripts[i].size(), kMaxReceiptTranscriptBytes + 64);
    const bool last = i + 1 == p.receipts.size();
    EXPECT_EQ(p.receipts[i].continued, !last);
    if (!last) {
      EXPECT_EQ(p.transcripts[i].substr(p.transcripts[i].size() - 12), "[CONTINUED]\n");
    }
    for (size_t at = p.transcripts[i].find('['); at != std::string::npos;
         at = p.transcripts[i].find('[', at + 1))
      ++markers;
  }
  EXPECT_EQ(markers - (p.receipts.size() - 1), 150'000u);

  // Unknown bytes of many kinds: past the limit of runs a receipt is junk and
  // is counted, not laid out, up to the cut; the next receipt prints again.
  std::string alternating;
  for (int i = 0; i < 100'000; ++i) alternating += "\x01\x02text";
  const Printed junk = print(alternating + "\x1Bw" "clean\n\x01\x1Bw");
  ASSERT_EQ(junk.receipts.size(), 2u);
  const std::string &first = junk.transcripts[0];
  EXPECT_LT(first.size(), 16'000u);
  EXPECT_NE(first.find("[JUNK NOT PRINTED after 256 runs of unknown bytes: 399492 text bytes, "
                       "199744 unknown bytes, 0 commands]\n[CUT]\n"),
            std::string::npos)
      << first.substr(first.size() - 200);
  EXPECT_EQ(junk.transcripts[1], "clean\n[UNKNOWN 0x01]\n[CUT]\n");
}

// 30 000 one-row bands (2.4 MB) are one picture, joined in place: copying
// the picture so far for every band took minutes (the case has a ctest
// TIMEOUT) and stalled the pty loop.
TEST(HeavyInput, ThirtyThousandOneRowImagesJoinWithoutRecopyingThePicture) {
  std::string band = rasterHeader(0, 72, 1) + std::string(72, '\0');
  std::string stream;
  stream.reserve(30'000 * band.size());
  for (int i = 0; i < 30'000; ++i) stream += band;
  const Printed p = print(stream);
  ASSERT_EQ(p.receipts.size(), 1u);
  ASSERT_EQ(p.receipts[0].items.size(), 1u);
  EXPECT_EQ(p.receipts[0].lengthDots, 30'000);
  EXPECT_EQ(p.transcripts[0], "[IMAGE 576x30000]\n");
}

TEST(StatusAnswers, EachStateAnswersAllFourRequests) {
  const std::string requests("\x10\x04\x01\x10\x04\x02\x10\x04\x03\x10\x04\x04", 12);
  EXPECT_EQ(print(requests, PrinterState::Online).answers, "\x12\x12\x12\x12");
  EXPECT_EQ(print(requests, PrinterState::PaperNearEnd).answers, "\x12\x12\x12\x1E");
  EXPECT_EQ(print(requests, PrinterState::PaperOut).answers, "\x1A\x32\x12\x72");
  EXPECT_EQ(print(requests, PrinterState::Offline).answers, "\x1A\x16\x12\x12");
}

TEST(StatusAnswers, AnswersComeAtOnceMidJobAndUnknownRequestsGetNone) {
  std::string answers;
  int receiptsBefore = -1;
  int receipts = 0;
  VirtualPrinter printer([&](Receipt &&) { ++receipts; },
                         [&](std::uint8_t a) {
                           answers.push_back(static_cast<char>(a));
                           receiptsBefore = receipts;
                         });
  printer.feed("text without a line feed \x10\x04");
  EXPECT_TRUE(answers.empty());
  printer.feed("\x01");
  EXPECT_EQ(answers, "\x12");  // answered inside the feed, before the rest arrives
  printer.setState(PrinterState::PaperOut);
  printer.feed(std::string("\x10\x04\x05\x10\x04\x00\x10\x04\x01", 9));
  EXPECT_EQ(answers, "\x12\x1A");
  EXPECT_EQ(printer.statusRequests(), 4u);
  EXPECT_EQ(receiptsBefore, 0);
  // A status request mid-text neither prints nor breaks the line.
  printer.feed("rest\n\x1Bw");
  EXPECT_EQ(receipts, 1);
}

TEST(StatusAnswers, StateNamesRoundTrip) {
  for (auto state : {PrinterState::Online, PrinterState::PaperNearEnd, PrinterState::PaperOut,
                     PrinterState::Offline})
    EXPECT_EQ(stateFromName(stateName(state)), state);
  EXPECT_FALSE(stateFromName("jammed"));
}

}  // namespace
