// The print head and the transcript: accents, wrapping, receipts split by
// cuts, markers, status answers.
#include "printer_streams.h"
#include "renderer.h"
#include "source_text.h"
#include "status_answers.h"
#include "transcript.h"
#include "virtual_printer.h"
#include "warning_kinds.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

using namespace it433td::printer;
using namespace printer_test;

namespace {

struct Printed {
  std::vector<Receipt> receipts;
  std::vector<std::string> transcripts;
  std::string answers;
};

// The line an uncut receipt ends with when the stream ends.
const std::string kNotCut = "[WARNING no cut (ESC w) before the receipt ended: end of the input]\n";
const std::string kWrapped =
    "[WARNING text wider than the paper (48 columns, 64 condensed), wrapped onto the next line: ";

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
  EXPECT_EQ(normal.transcripts.at(0),
            std::string(48, 'a') + "\n" + kWrapped + "at byte 48]\naa\n" + kNotCut);
  EXPECT_EQ(normal.receipts.at(0).lengthDots, 2 * kLineHeightDots);

  const Printed condensed = print("\x0F" + std::string(65, 'c') + "\n\x12");
  EXPECT_EQ(condensed.transcripts.at(0),
            std::string(64, 'c') + "\n" + kWrapped + "at byte 65]\nc\n" + kNotCut);
  const auto &glyphs = condensed.receipts.at(0).items.at(0).glyphs;
  EXPECT_EQ(glyphs.back().x + glyphs.back().width, kPaperWidthDots);

  // A full line then a line feed prints one line, not an extra empty one,
  // and is not too wide.
  EXPECT_EQ(print(std::string(48, 'b') + "\n").transcripts.at(0),
            std::string(48, 'b') + "\n" + kNotCut);
  // Condensed and normal mixed on one line share the 576 dots.
  const Printed mixed = print("\x0F" + std::string(32, 'c') + "\x12" + std::string(25, 'n') + "\n");
  EXPECT_EQ(mixed.transcripts.at(0),
            std::string(32, 'c') + std::string(24, 'n') + "\n" + kWrapped + "at byte 58]\nn\n" + kNotCut);
}

TEST(Receipts, CutsSplitTheStreamIntoReceipts) {
  const Printed p = print("one\n\x1Bw\x1Bw" "two\n\x1Bwthree");
  ASSERT_EQ(p.receipts.size(), 3u);  // the cut with nothing on the paper makes no receipt
  EXPECT_EQ(p.transcripts[0], "one\n[CUT]\n");
  EXPECT_EQ(p.transcripts[1], "two\n[CUT]\n");
  EXPECT_EQ(p.transcripts[2], "three\n" + kNotCut);  // unfinished: the line buffer printed, no cut
  EXPECT_EQ(p.receipts[2].number, 3);
  EXPECT_FALSE(p.receipts[2].cut);
}

TEST(Receipts, MarkersForBarcodesFeedsUnknownBytesAndCutShortCommands) {
  const Printed p = print("a\rb\n" + code128("12\"34") + "\n\x1BJ\x28" +
                          code128(std::string("\xE9", 1)) + rasterHeader(1, 40, 1) +
                          std::string(40, 0) + "\x1B|30\x01");
  ASSERT_EQ(p.transcripts.size(), 1u);
  EXPECT_EQ(p.transcripts[0],
            "a[UNKNOWN 0x0D]b\n"
            "[WARNING unknown byte, not an IT433TD command: 0D at byte 1]\n"
            "[CODE128 \"12\\\"34\"]\n"
            "\n"
            "[FEED 40]\n"
            "[CODE128 \"\\xE9\" NOT PRINTED: Bad character in input: \\xE9]\n"
            "[WARNING CODE128 not printed: Bad character in input: \\xE9: \"\\xE9\" at byte 20]\n"
            "[IMAGE REJECTED 640x1: wider than the paper]\n"
            "[WARNING image not printed: wider than the paper (576 dots): 640x1 at byte 28]\n"
            "[TRUNCATED CODE128: 5 bytes]\n"
            "[WARNING command cut short by the end of the stream: CODE128, 5 bytes at byte 76]\n" +
                kNotCut);
  EXPECT_EQ(p.receipts[0].lengthDots, kLineHeightDots + kBarHeightDots + kLineHeightDots +
                                          kLineHeightDots + 40);
}

TEST(Receipts, EscapedDataKeepsUtf8AndEscapesEverythingElse) {
  EXPECT_EQ(escapeBytes(std::string("a\0\\\"\n\xC3\xA3\xC3\x7F\xFF", 10)),
            "a\\x00\\\\\\\"\\x0Aã\\xC3\\x7F\\xFF");
  EXPECT_EQ(escapeBytes("\xED\xA0\x80"), "\\xED\\xA0\\x80");  // a surrogate is not UTF-8
  EXPECT_EQ(escapeBytes("\xC2\x9B\xC2\xA0"), "\\xC2\\x9B\xC2\xA0");  // a C1 control is escaped
}

TEST(Receipts, ImagesPrintOneToOneAndScaled) {
  const std::string feed("\x1BJ\x00", 3);
  const Printed p = print(rasterHeader(0, 1, 1) + "\x81" + feed + rasterHeader(3, 1, 1) + "\x80\x1Bw");
  const auto &items = p.receipts.at(0).items;
  EXPECT_EQ(items.at(0).width, 8);
  EXPECT_EQ(items[0].pixels, (std::vector<std::uint8_t>{1, 0, 0, 0, 0, 0, 0, 1}));
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[2].width, 16);
  EXPECT_EQ(items[2].height, 2);
  EXPECT_EQ(items[2].y, 1);
  EXPECT_EQ(items[2].pixels[0] + items[2].pixels[1] + items[2].pixels[16] + items[2].pixels[17], 4);
  EXPECT_EQ(p.transcripts[0], "[IMAGE 8x1]\n[FEED 0]\n[IMAGE 16x2]\n[CUT]\n");
}

// A printer file may send one symbol as many raster bands: on paper they are
// one picture, and the transcript reads it as one.
TEST(Receipts, ImagesPrintedBackToBackAreOnePicture) {
  int width = 0;
  const std::string payload("00020126580014br.gov.bcb.pix");
  const std::string whole = qrRaster(payload, 3, 16, &width);
  const size_t rowBytes = static_cast<unsigned char>(whole[4]);
  const size_t rows =
      static_cast<unsigned char>(whole[6]) | size_t{static_cast<unsigned char>(whole[7])} << 8;
  std::string bands;
  for (size_t y = 0; y < rows; y += 2) {
    const int height = static_cast<int>(std::min<size_t>(2, rows - y));
    bands += rasterHeader(0, static_cast<int>(rowBytes), height) +
             whole.substr(8 + y * rowBytes, static_cast<size_t>(height) * rowBytes);
  }
  const Printed p = print(bands + "\n\x1Bw");
  ASSERT_EQ(p.receipts.at(0).items.size(), 2u);  // the picture and the empty line
  EXPECT_EQ(p.receipts[0].items[0].height, static_cast<int>(rows));
  EXPECT_EQ(p.transcripts[0], "[IMAGE " + std::to_string(width) + "x" + std::to_string(rows) +
                                  " QR \"" + payload + "\"]\n\n[CUT]\n");

  // Two codes in one picture: the first alone does not hold every dot, so
  // the whole picture is searched and both are read.
  const Printed two = print(whole + qrRaster("TILL-A#3", 3, 16) + "\x1Bw");
  ASSERT_EQ(two.transcripts.size(), 1u);
  EXPECT_NE(two.transcripts[0].find(" QR \"" + payload + "\""), std::string::npos)
      << two.transcripts[0];
  EXPECT_NE(two.transcripts[0].find(" QR \"TILL-A#3\""), std::string::npos) << two.transcripts[0];
}

// A code is read from the paper, not from one command: a QR code whose
// all-white module row is sent as a feed between two images (as the
// barcode library once sent TILL-A#3) is read across both.
TEST(Receipts, ACodeSplitByAFeedIsReadFromThePaper) {
  const std::string whole = qrRaster("TILL-A#3", 3, 16);
  const size_t rowBytes = static_cast<unsigned char>(whole[4]);
  const size_t rows = static_cast<unsigned char>(whole[6]);
  std::string stream;
  for (size_t y = 0; y < rows;) {
    const auto white = [&](size_t row) {
      return whole.find_first_not_of('\0', 8 + row * rowBytes) >= 8 + (row + 1) * rowBytes;
    };
    size_t end = y;
    while (end < rows && white(end) == white(y)) ++end;
    stream += white(y) ? "\x1BJ" + std::string(1, static_cast<char>(end - y))
                       : rasterHeader(0, static_cast<int>(rowBytes), static_cast<int>(end - y)) +
                             whole.substr(8 + y * rowBytes, (end - y) * rowBytes);
    y = end;
  }
  const std::string transcript = print(stream + "\x1Bw").transcripts.at(0);
  EXPECT_EQ(transcript.find("[IMAGE 104x21 QR \"TILL-A#3\"]\n[FEED 3]\n[IMAGE 104x39]\n"), 10u)
      << transcript;
}

// Bands of different widths: a narrower one goes under the picture as it is,
// a wider one widens the whole picture, every dot staying where it was.
TEST(Receipts, BackToBackImagesOfDifferentWidthsKeepEveryDot) {
  const Printed p = print(rasterHeader(0, 1, 1) + "\x80" + rasterHeader(0, 2, 1) + std::string("\x00\x01", 2) +
                          rasterHeader(0, 1, 1) + "\x01\x1Bw");
  ASSERT_EQ(p.receipts.at(0).items.size(), 1u);
  const PrintedItem &image = p.receipts[0].items[0];
  ASSERT_EQ(image.width, 16);
  ASSERT_EQ(image.height, 3);
  std::vector<std::uint8_t> expected(48, 0);
  expected[0] = expected[16 + 15] = expected[32 + 7] = 1;
  EXPECT_EQ(image.pixels, expected);
  EXPECT_EQ(p.transcripts[0], "[IMAGE 16x3]\n[CUT]\n");
}

TEST(Receipts, RunsOfOneUnknownByteAreOneMarker) {
  const Printed p = print("a" + std::string(5, '\x01') + "\x02\x01" "b\n" + std::string(3, '\x01') +
                          std::string("\x10\x04\x01", 3) + std::string(2, '\x01'));
  ASSERT_EQ(p.transcripts.size(), 1u);
  // A status request between two bytes does not break their run. One
  // warning counts every unknown byte of the receipt and shows where the
  // first runs began (the first four: here all of them).
  EXPECT_EQ(p.transcripts[0],
            "a[UNKNOWN 0x01 x5][UNKNOWN 0x02][UNKNOWN 0x01]b\n"
            "[WARNING unknown byte, not an IT433TD command (12 times): 01 x5 at byte 1, 02 at byte "
            "6, 01 at byte 7, 01 x5 at byte 10]\n"
            "[UNKNOWN 0x01 x5]\n" + kNotCut);
}

TEST(Receipts, APrintedQrCodeShowsItsContentBinarySafe) {
  int width = 0;
  const std::string payload("https://nfce.example/?p=1|2\x01", 28);
  const Printed p = print(qrRaster(payload, 3, 16, &width));
  ASSERT_EQ(p.transcripts.size(), 1u);
  const std::string size = std::to_string(width) + "x" + std::to_string(p.receipts[0].lengthDots);
  EXPECT_EQ(p.transcripts[0],
            "[IMAGE " + size + " QR \"https://nfce.example/?p=1|2\\x01\"]\n" + kNotCut);
}

TEST(Receipts, VeryLongPaperContinuesInTheNextReceipt) {
  std::string stream;
  for (int i = 0; i < 1400; ++i) stream += "line\n";  // 1400 * 24 = 33600 dots
  const Printed p = print(stream);
  ASSERT_EQ(p.receipts.size(), 2u);
  EXPECT_TRUE(p.receipts[0].continued);
  EXPECT_LE(p.receipts[0].lengthDots, kMaxReceiptDots);
  EXPECT_EQ(p.receipts[0].items.size() + p.receipts[1].items.size(), 1400u + 1);  // and kNotCut
}

// Junk input takes no paper; the transcript's budget bounds each receipt.
TEST(HeavyInput, JunkIsCollapsedAndEachReceiptsTranscriptIsBounded) {
  const Printed same = print(std::string(2'000'000, '\x01'));
  ASSERT_EQ(same.transcripts.size(), 1u);
  EXPECT_EQ(same.transcripts[0],
            "[UNKNOWN 0x01 x2000000]\n"
            "[WARNING unknown byte, not an IT433TD command (2000000 times): 01 x2000000 at byte 0]\n" +
                kNotCut);

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
  EXPECT_EQ(markers - (p.receipts.size() - 1) - 1, 150'000u);  // and the last one's kNotCut

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
  EXPECT_EQ(junk.transcripts[1],
            "clean\n[UNKNOWN 0x01]\n[WARNING unknown byte, not an IT433TD command: 01 at byte 6]\n"
            "[CUT]\n");
}

// 30 000 one-row bands (2.4 MB) are one picture, joined in place: copying
// the picture so far for every band took minutes (the case has a ctest
// TIMEOUT) and stalled the pty loop.
TEST(HeavyInput, ThirtyThousandOneRowImagesJoinWithoutRecopyingThePicture) {
  std::string band = rasterHeader(0, 72, 1) + std::string(72, '\0');
  std::string stream;
  stream.reserve(30'000 * band.size());
  for (int i = 0; i < 30'000; ++i) stream += band;
  const Printed p = print(stream + "\x1Bw");
  ASSERT_EQ(p.receipts.size(), 1u);
  ASSERT_EQ(p.receipts[0].items.size(), 1u);
  EXPECT_EQ(p.receipts[0].lengthDots, 30'000);
  EXPECT_EQ(p.transcripts[0], "[IMAGE 576x30000]\n[CUT]\n");
}

// --- warnings: each kind found on a job that has it, none on a clean one --

// Whether `text` is a line of the kind: "[MARKER says", where {} stands for
// a subject of at least one character, then "]", a count or the places.
// Unless `whole`, `text` may stop anywhere, as the docs' examples do.
bool fitsKind(const WarningKindInfo &info, std::string_view text, bool whole) {
  const std::string says(info.says);
  const std::size_t hole = says.find("{}");
  const std::string head = "[" + std::string(info.marker) + " " + says.substr(0, hole);
  const std::string tail = hole == std::string::npos ? "" : says.substr(hole + 2);
  if (!whole && text.size() <= head.size()) return head.rfind(text, 0) == 0;
  if (text.rfind(head, 0) != 0) return false;
  std::string_view rest = text.substr(head.size());
  if (hole != std::string::npos) {
    const std::size_t at = rest.empty() ? std::string::npos : rest.find(tail, 1);
    if (at == std::string::npos) return false;
    if (tail.empty()) return !whole || rest.back() == ']';  // the subject runs on
    rest.remove_prefix(at + tail.size());
  }
  if (!whole) return true;
  return rest == "]" ||
         ((rest.rfind(" (", 0) == 0 || rest.rfind(": ", 0) == 0) && rest.back() == ']');
}

// The kinds `text` fits; a line or an example must fit exactly one.
std::vector<WarningKind> kindsFitting(std::string_view text, bool whole) {
  std::vector<WarningKind> kinds;
  for (const WarningKindInfo &info : kWarningKinds)
    if (fitsKind(info, text, whole)) kinds.push_back(info.kind);
  return kinds;
}

struct WarningCase {
  const char *name;
  std::string stream;
  std::vector<std::string> expected;  // the last receipt's warning lines, each by its start
  const char *limit = nullptr;        // the job is ended by this limit of its port
  bool escpos = false;                // printed by the ESC/POS model
};

// GS ( k storing a QR code's data.
std::string qrStore(const std::string &data) {
  const std::size_t length = data.size() + 3;
  return std::string("\x1D(k", 3) + static_cast<char>(length & 0xFF) +
         static_cast<char>(length >> 8) + "1P0" + data;
}

std::vector<WarningCase> warningCases() {
  const std::string cut = "\x1Bw", escposCut = std::string("\x1DV\x00", 3);
  return {
      // A receipt as the module prints the demo: condensed code page 850
      // text of 64 columns, a CODE128, a QR printer file, a feed, a cut.
      {"clean",
       "\x0F"
       "PADARIA P\xC7O DOURADO - S\xC6o Paulo\n" +
           std::string(64, '-') +
           "\n"
           "Caf\x82 coado   A\x87\xA3"
           "car org\x83nico\n\x12" +
           code128("PEDIDO-0001234") + "\n" + qrRaster("00020126480014br.gov.bcb.pix", 3, 16) +
           "\x1BJ\x30" + cut,
       {}},
      {"escpos",
       "\x1B@\x1B"
       "a\x01\x1B"
       "E\x01\x1B!\x30\x1Bt\x02\x1D!\x11ok\x1B"
       "d\x03" +
           std::string("\x1Dk\x04"
                       "123\0\x1Dk\x49\x02{B",
                       13) +
           std::string("\x1D(k\x03\x00"
                       "1Q0",
                       8) +
           "\n\x1DVA\x03" + cut,
       {"[WARNING ESC @ (initialise, ESC/POS): not an IT433TD command: 1B 40 at byte 0]",
        "[WARNING ESC a (justification, ESC/POS)", "[WARNING ESC E (bold, ESC/POS)",
        "[WARNING ESC ! (print mode, ESC/POS)", "[WARNING ESC t (character code table, ESC/POS)",
        "[WARNING GS ! (character size, ESC/POS)", "[WARNING ESC d (print and feed lines, ESC/POS)",
        "[WARNING GS k (barcode, ESC/POS): not an IT433TD command (2 times): 1D 6B 04 31 32 33 00 "
        "at byte 22, 1D 6B 49 02 7B 42 at byte 29]",
        "[WARNING GS ( k (QR code and 2D symbols, ESC/POS)", "[WARNING GS V (cut, ESC/POS)"}},
      // What two common ESC/POS libraries send beside those: italic off, a
      // 2D symbol's type and the symbol, the Kanji styles, and 5.7 KB of
      // graphics through GS 8 L, each read whole (no junk note hides the rest).
      {"escpos_libraries",
       std::string("\x1B"
                   "5\x1DZ\x02\x1BZ\x00\x4C\x06\x03\x00"
                   "abc"
                   "\x1C(A\x02\x00\x30\x00"
                   "\x1CS\x00\x00\x1C-\x00\x1D"
                   "8L\x0A\x16\x00\x00"
                   "0p",
                   38) +
           std::string(5640, '\x01') + "ok\n" + cut,
       {"[WARNING ESC 5 (cancel italic, ESC/POS): not an IT433TD command: 1B 35 at byte 0]",
        "[WARNING GS Z (2D symbol type, ESC/POS)", "[WARNING ESC Z (print 2D symbol, ESC/POS)",
        "[WARNING FS ( A (extended command, ESC/POS)",
        "[WARNING FS S (Kanji character spacing, ESC/POS)",
        "[WARNING FS - (Kanji underline, ESC/POS)",
        "[WARNING GS 8 L (graphics, ESC/POS): not an IT433TD command: 1D 38 4C 0A 16 00 00 30 ... "
        "(5649 bytes) at byte 29]"}},
      // Offsets count from the byte after the last cut.
      {"unknown_byte",
       "one\n" + cut + "a\rb\n" + cut,
       {"[WARNING unknown byte, not an IT433TD command: 0D at byte 1]"}},
      {"utf8",
       "Ol\xC3\xA1 caf\xC3\xA9\n" + cut,
       {"[WARNING UTF-8 text, but the IT433TD prints code page 850 (2 times): \"á\" C3 A1 at byte 2, "
        "\"é\" C3 A9 at byte 8]"}},
      // A sequence split between two text events (4096 bytes each) still counts.
      {"utf8_across_text_events",
       std::string(4095, 'a') + "\xC3\xA9\n" + cut,
       {"[WARNING text wider than the paper",
        "[WARNING UTF-8 text, but the IT433TD prints code page 850: \"é\" C3 A9 at byte 4095]"}},
      {"no_cut", "total\n", {kNotCut.substr(0, kNotCut.size() - 1)}},
      {"text_too_wide", std::string(49, 'x') + "\n" + cut, {kWrapped + "at byte 48]"}},
      {"image_too_wide",
       rasterHeader(1, 37, 1) + std::string(37, '\xFF') + cut,
       {"[WARNING image not printed: wider than the paper (576 dots): 592x1 at byte 0]"}},
      {"code128_too_wide",
       code128(std::string(60, 'A')) + cut,
       {"[WARNING CODE128 not printed: wider than the paper (576 dots): \"AAAAAAAAAAAAAAAAAAAAAAAA...\" "
        "at byte 0]"}},
      {"cut_short",
       "ok\n\x1B|30",
       {"[WARNING command cut short by the end of the stream: CODE128, 4 bytes at byte 3]",
        kNotCut}},
      {"ended_by_a_limit",
       "half a receipt\n",
       {"[NOTE job ended: 16 MiB size limit]"},
       "16 MiB size limit"},
      // The ESC/POS model's own.
      {"escpos_unknown_and_malformed",
       "\x1B@a\x1B\x07" + std::string("\x1Dk\x50\x00", 4) + "\x1BtX\n" + escposCut,
       {"[WARNING command not understood: ESC 0x07: not an ESC/POS command: 1B 07 at byte 3]",
        "[WARNING command not understood: GS k (barcode, ESC/POS): barcode system 80 is not supported",
        "[WARNING command not understood: ESC t (character code table, ESC/POS): code table 88"},
       nullptr,
       true},
      {"escpos_utf8_and_unprintable",
       "\x1Bt\x03P\xC3\x83O \x1Bt\x10\x81\n" + escposCut,
       {"[WARNING UTF-8 text, but the printer's code table is PC860: \"Ã\" C3 83 at byte 4]",
        "[WARNING bytes the code table WPC1252 cannot print: 81 at byte 11]"},
       nullptr,
       true},
      {"escpos_text_too_wide",
       "\x1D!\x10" + std::string(25, 'x') + "\n" + escposCut,
       {"[WARNING text wider than the paper (576 dots: 48 columns of font A, 64 of font B), wrapped "
        "onto the next line: at byte 27]"},
       nullptr,
       true},
      {"escpos_codes",
       std::string("\x1DkC\x05"
                   "12AB5"
                   "\x1DkF\x02"
                   "12",
                   15) +
           std::string("\x1D(k\x03\x00"
                       "1E3",
                       8) +
           qrStore(std::string(3000, 'x')) +
           std::string("\x1D(k\x03\x00"
                       "1Q0",
                       8) +
           escposCut,
       {"[WARNING barcode not printed: EAN13: ", "[WARNING ITF printed, but it does not read back",
        "[WARNING 2D symbol not printed: QR: "},
       nullptr,
       true},
      {"escpos_image_and_no_cut",
       rasterHeader(0, 49, 1) + std::string(49, '\xFF') + "ok\n",
       {"[WARNING image not printed: wider than the paper (384 dots): 392x1 at byte 0]",
        "[WARNING no cut (GS V) before the receipt ended: end of the input]"},
       nullptr,
       true},
  };
}

std::vector<Receipt> printJob(const WarningCase &c, bool byteByByte) {
  std::vector<Receipt> receipts;
  // The image case's 58 mm paper is what makes its 392 dots too wide.
  const PrinterSetup setup{c.escpos ? Model::Escpos : Model::It433td,
                           c.escpos && std::string(c.name) == "escpos_image_and_no_cut" ? 58 : 80};
  VirtualPrinter printer([&](Receipt &&r) { receipts.push_back(std::move(r)); }, nullptr, setup);
  if (byteByByte)
    for (char byte : c.stream) printer.feed(std::string_view(&byte, 1));
  else
    printer.feed(c.stream);
  c.limit ? printer.endJobAtLimit(c.limit) : printer.finish();
  return receipts;
}

// Every kind of warning_kinds.h is written by some job here, each line as its
// kind says.
TEST(Warnings, EachKindIsFoundOnAJobThatHasItAndNoneOnACleanReceipt) {
  std::set<WarningKind> written;
  for (const WarningCase &c : warningCases()) {
    SCOPED_TRACE(c.name);
    const std::vector<Receipt> receipts = printJob(c, false);
    ASSERT_FALSE(receipts.empty());
    const Receipt &last = receipts.back();
    const std::vector<std::string> found = warningsOf(last);
    ASSERT_EQ(found.size(), c.expected.size()) << transcriptOf(last);
    for (size_t i = 0; i < found.size(); ++i) {
      EXPECT_EQ(found[i].rfind(c.expected[i].substr(0, c.expected[i].find('\n')), 0), 0u) << found[i];
      const std::vector<WarningKind> kinds = kindsFitting(found[i], true);
      EXPECT_EQ(kinds.size(), 1u) << found[i] << ": a line of no kind, or of several";
      written.insert(kinds.begin(), kinds.end());
    }
    // Bytes in any chunking give the same receipts, warnings and offsets.
    const std::vector<Receipt> pieces = printJob(c, true);
    ASSERT_EQ(pieces.size(), receipts.size());
    EXPECT_EQ(transcriptOf(pieces.back()), transcriptOf(last));
    // The picture: the paper alone when clean; a margin and a banner otherwise.
    const GreyImage picture = renderGrey(last);
    EXPECT_EQ(picture.width > last.widthDots, !found.empty());
    EXPECT_EQ(picture.height > std::max(1, last.lengthDots), !found.empty());
  }
  // ESC/POS parameters and data are skipped with their commands: only "ok" is printed.
  for (const std::size_t escposCase : {std::size_t{1}, std::size_t{2}}) {
    const Receipt escpos = printJob(warningCases()[escposCase], false).at(0);
    std::string printed;
    for (const PrintedItem &item : escpos.items)
      for (const Glyph &glyph : item.glyphs) printed += glyph.utf8;
    EXPECT_EQ(printed, "ok") << transcriptOf(escpos);
  }
  for (const WarningKindInfo &info : kWarningKinds)
    EXPECT_EQ(written.count(info.kind), 1u) << info.name << ": no job in warningCases() has it";
}

// docs/readme-printer.md's Warnings table: one row per kind, under its
// anchor, with its meaning and an example line of that kind; no other row.
TEST(Warnings, EveryKindHasItsRowInTheDocsAndEveryRowAKind) {
  const std::string path = "docs/readme-printer.md";
  const std::string section =
      it433td::test::between(it433td::test::readSource(path), "\n### Warnings\n", "\n### ", path);
  static const std::regex tableRow(R"(\n\|([^\n]*)\|(?=\n))");
  static const std::regex kindRow(R"re(^ <a id="([\w-]+)"></a>(.+?) \| `([^`]+)` $)re");
  struct Row {
    std::string meaning, example;
  };
  std::map<std::string, Row> rows;
  for (std::sregex_iterator m(section.begin(), section.end(), tableRow), end; m != end; ++m) {
    const std::string cells = (*m)[1];
    if (cells == " kind | the line starts with " || cells == "---|---") continue;
    std::smatch row;
    if (!std::regex_match(cells, row, kindRow)) {
      ADD_FAILURE() << path << ": a row without a kind's anchor:" << cells;
      continue;
    }
    EXPECT_TRUE(rows.insert({row[1], {row[2], row[3]}}).second) << row[1] << ": two rows";
  }
  std::set<std::string_view> anchors;
  for (const WarningKindInfo &info : kWarningKinds) {
    SCOPED_TRACE(info.name);
    EXPECT_TRUE(anchors.insert(info.anchor).second) << "an anchor of two kinds";
    const auto row = rows.find(std::string(info.anchor));
    if (row == rows.end()) {
      ADD_FAILURE() << path << " has no row <a id=\"" << info.anchor << "\">";
      continue;
    }
    EXPECT_EQ(row->second.meaning, info.meaning);
    EXPECT_EQ(kindsFitting(row->second.example, false), std::vector<WarningKind>{info.kind})
        << row->second.example << ": not (only) a line of this kind";
  }
  for (const auto &[anchor, row] : rows)
    EXPECT_EQ(anchors.count(anchor), 1u) << path << ": the row " << anchor << " is no kind";
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

// A stray header (an ESC/POS QR header claiming 65,535 bytes, a raster
// header of a size no paper has) swallows nothing: the next receipt prints
// and the status request after it is answered.
TEST(StatusAnswers, AStrayHeaderLeavesTheNextReceiptAndItsStatusRequest) {
  for (const std::string &stray :
       {std::string("\x1D(k\xFF\xFF", 5), rasterHeader(0, 0xFFFF, 0xFFFF)}) {
    const Printed p = print(stray + "\x0FTotal 4,50\n\x1Bw\x10\x04\x01");
    EXPECT_EQ(p.answers, "\x12");
    ASSERT_EQ(p.transcripts.size(), 1u);
    EXPECT_NE(p.transcripts[0].find("Total 4,50\n"), std::string::npos) << p.transcripts[0];
  }
}

TEST(StatusAnswers, StateNamesRoundTrip) {
  for (auto state : {PrinterState::Online, PrinterState::PaperNearEnd, PrinterState::PaperOut,
                     PrinterState::Offline})
    EXPECT_EQ(stateFromName(stateName(state)), state);
  EXPECT_FALSE(stateFromName("jammed"));
}

}  // namespace
