// The ESC/POS model: jobs from common ESC/POS libraries (escpos_jobs/),
// and its commands one by one, each fed whole and byte by byte.
#include "printer_model.h"
#include "source_text.h"
#include "transcript.h"
#include "virtual_printer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace it433td::printer;

struct EscposPrinted {
  std::vector<Receipt> receipts;
  std::string answers;
  std::string transcript;  // all receipts'
};

EscposPrinted printEscpos(const std::string &job, bool byteByByte,
                    PrinterState state = PrinterState::Online) {
  EscposPrinted printed;
  VirtualPrinter printer([&](Receipt &&r) { printed.receipts.push_back(std::move(r)); },
                         [&](std::uint8_t answer) { printed.answers += static_cast<char>(answer); },
                         PrinterSetup{Model::Escpos, 80});
  printer.setState(state);
  if (byteByByte)
    for (char byte : job) printer.feed(std::string_view(&byte, 1));
  else
    printer.feed(job);
  printer.finish("end of the job");
  for (const Receipt &receipt : printed.receipts) printed.transcript += transcriptOf(receipt);
  return printed;
}

// A literal's bytes, NULs and all.
template <std::size_t N>
std::string bytes(const char (&text)[N]) {
  return std::string(text, N - 1);
}

// Three libraries' receipt for one bakery: cp860 text, a CODE128, a QR code
// (native, or drawn as graphics), images in three commands, a cut.
TEST(EscposLibraryJobs, PrintTheirTextInTheirTableTheirCodesReadOneReceiptACutAndNoWarning) {
  const struct {
    const char *file;
    std::size_t receipts;
    std::vector<std::string> lines;
  } jobs[] = {
      {"encoder-bakery.bin",
       1,
       {"{B 2x2}PADARIA PÃO DOURADO{/}", "Pão francês x4                              2,40",
        "{B}TOTAL 12,40{/}", "[CODE128 \"PAD-000123\"]", "QR \"https://example.com/r/000123\"]",
        "[IMAGE 64x72]", "[IMAGE 64x64]"}},
      {"receiptline-bakery.bin",
       1,
       {"{B 2x2}PADARIA PÃO DOURADO{/}", "Café com leite                              3,50",
        "─────", "{UU}Pagamento: cartão de débito{/}", "[CODE128 \"PAD-000123\"]",
        "[IMAGE 176x174 QR \"https://example.com/r/000123\"]"}},
      {"thermal-bakery.bin",
       1,
       {"{centre}{B 2x2}PADARIA PÃO DOURADO{/}", "Bolo de laranja", "[CODE128 \"PAD-000123\"]",
        "QR \"https://example.com/r/000123\"]", "[FEED 90]"}},
      {"encoder-two-receipts.bin", 2, {"Recibo 1 de 2", "Recibo 2 de 2", "{B}TOTAL 3,50{/}"}},
  };
  for (const auto &job : jobs) {
    SCOPED_TRACE(job.file);
    const std::string stream =
        it433td::test::readSource(std::string("tests/printer/escpos_jobs/") + job.file);
    const EscposPrinted printed = printEscpos(stream, false);
    EXPECT_EQ(printed.receipts.size(), job.receipts) << printed.transcript;
    for (const Receipt &receipt : printed.receipts) EXPECT_TRUE(receipt.cut);
    for (const std::string &line : job.lines)
      EXPECT_NE(printed.transcript.find(line), std::string::npos) << line << "\n"
                                                                  << printed.transcript;
    EXPECT_EQ(printed.transcript.find("WARNING"), std::string::npos) << printed.transcript;
    EXPECT_EQ(printed.transcript.find("UNKNOWN"), std::string::npos) << printed.transcript;
    EXPECT_EQ(printEscpos(stream, true).transcript, printed.transcript);
  }
  // UTF-8 sent while code page 860 is chosen: warned where it came.
  const EscposPrinted mistake = printEscpos(
      it433td::test::readSource("tests/printer/escpos_jobs/encoder-utf8-mistake.bin"), false);
  EXPECT_NE(mistake.transcript.find(
                "[WARNING UTF-8 text, but the printer's code table is PC860: \"Ã\" C3 83"),
            std::string::npos)
      << mistake.transcript;
}

// Each command, whole and byte by byte: what its receipt's transcript shows.
TEST(EscposCommands, EachDrawsWhatItSaysInAnyChunking) {
  const std::string cut("\x1DV\x00", 3);
  const struct {
    const char *name;
    std::string job;
    std::string shows;
  } cases[] = {
      {"ESC t PC850", "\x1Bt\x02\x80\n", "Ç"},
      {"ESC t PC860", "\x1Bt\x03\x84\n", "ã"},
      {"ESC t PC863", "\x1Bt\x04\x84\n", "Â"},
      {"ESC t PC865", "\x1Bt\x05\x9B\n", "ø"},
      {"ESC t PC858", "\x1Bt\x13\xD5\n", "€"},
      {"ESC t WPC1252", "\x1Bt\x10\x80\n", "€"},
      {"ESC R Germany", "\x1BR\x02@[\n", "§Ä"},
      {"ESC E",
       bytes("\x1B"
             "E\x01"
             "b\x1B"
             "E\x00"
             "n\n"),
       "{B}b{/}n"},
      {"ESC G",
       "\x1BG\x01"
       "b\n",
       "{B}b{/}"},
      {"ESC -", "\x1B-\x02u\n", "{UU}u{/}"},
      {"ESC !",
       "\x1B!\x39"
       "x\n",
       "{b B 2x2}x{/}"},
      {"GS !",
       "\x1D!\x71"
       "x\n",
       "{8x2}x{/}"},
      {"GS B",
       "\x1D"
       "B\x01r\n",
       "{R}r{/}"},
      {"ESC M",
       "\x1BM\x01"
       "s\n",
       "{b}s{/}"},
      {"ESC {",
       "\x1B{\x01"
       "up\n",
       "{I}up{/}"},
      {"ESC a",
       "\x1B"
       "a\x01"
       "mid\n\x1B"
       "a\x02"
       "end\n",
       "{centre}mid\n{right}end"},
      {"LF and CR", "a\r\nb\n", "a\nb\n"},
      {"ESC d",
       "x\x1B"
       "d\x03",
       "x\n[FEED 60]"},
      {"ESC J", "\x1BJ\x28", "[FEED 40]"},
      {"ESC $", bytes("\x1B$\xF0\x00x\n"), std::string(20, ' ') + "x"},
      {"ESC \\",
       bytes("a\x1B\\\x18\x00"
             "b\n"),
       "a  b"},
      {"HT and ESC D",
       bytes("\x1B"
             "D\x04\x00"
             "a\tb\n"),
       "a   b"},
      {"GS k EAN13 form A",
       bytes("\x1Dk\x02"
             "590123412345\x00"),
       "[EAN13 \"5901234123457\"]"},
      {"GS k EAN8",
       "\x1Dk\x44\x07"
       "9638507",
       "[EAN8 \"96385074\"]"},
      {"GS k UPC-A",
       "\x1Dk\x41\x0B"
       "03600029145",
       "[UPC-A \"036000291452\"]"},
      {"GS k UPC-E",
       "\x1Dk\x42\x08"
       "01234565",
       "[UPC-E \"01234565\"]"},
      {"GS k CODE39",
       "\x1Dk\x45\x07"
       "ABC-123",
       "[CODE39 \"ABC-123\"]"},
      {"GS k ITF",
       "\x1Dk\x46\x06"
       "123456",
       "[ITF \"123456\"]"},
      {"GS k CODABAR",
       "\x1Dk\x47\x07"
       "A12345B",
       "[CODABAR \"12345\"]"},
      {"GS k CODE93", "\x1Dk\x48\x06" "ABC123", "[CODE93 \"ABC123\"]"},
      {"GS k CODE128 code sets", bytes("\x1Dk\x49\x08{BAB{C\x0C\x22"), "[CODE128 \"AB1234\"]"},
      {"GS ( k QR",
       bytes("\x1D(k\x03\x00"
             "1C\x04\x1D(k\x06\x00"
             "1P0abc\x1D(k\x03\x00"
             "1Q0"),
       "QR \"abc\"]"},
      {"GS ( k PDF417",
       bytes("\x1D(k\x08\x00"
             "0P0hello\x1D(k\x03\x00"
             "0Q0"),
       "PDF417 \"hello\"]"},
      {"GS v 0", bytes("\x1Dv0\x00\x02\x00\x08\x00") + std::string(16, '\xFF'), "[IMAGE 16x8]"},
      {"ESC * 24-dot", bytes("\x1B*\x21\x04\x00") + std::string(12, '\xFF') + "\n", "[IMAGE 8x24]"},
      {"GS ( L store and print",
       bytes("\x1D(L\x0C\x00"
             "0p0\x01\x01"
             "1\x08\x00\x02\x00\xFF\xFF\x1D(L\x02\x00"
             "02"),
       "[IMAGE 8x2]"},
      {"GS 8 L",
       bytes("\x1D"
             "8L\x0B\x00\x00\x00"
             "0p0\x01\x01"
             "1\x08\x00\x01\x00\xFF\x1D(L\x02\x00"
             "02"),
       "[IMAGE 8x1]"},
      {"GS ( L NV graphics by key", bytes("\x1D(L\x0C\x00" "0C0AB\x01\x08\x00\x01\x00" "1\xFF\x1D(L\x06\x00" "0EAB\x01\x01"), "[IMAGE 8x1]"},
      {"GS * and GS /", bytes("\x1D*\x01\x01") + std::string(8, '\xFF') + bytes("\x1D/\x00"),
       "[IMAGE 8x8]"},
      {"GS V 0", "x\n" + cut, "x\n[CUT]"},
      {"GS V 66 n", "x\n\x1DV\x42\x10", "[FEED 16]\n[CUT]"},
      {"ESC i", "x\n\x1Bi", "x\n[CUT]"},
      {"ESC m", "x\n\x1Bm", "x\n[CUT]"},
      {"ESC p", bytes("\x1Bp\x00\x32\x64"), "[DRAWER pin 2: pulse on 100 ms, off 200 ms]"},
      {"DLE DC4", "\x10\x14\x01\x01\x02", "[DRAWER pin 5: pulse 200 ms]"},
      {"ESC @ resets",
       "\x1B"
       "E\x01\x1B@x\n",
       "x"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const EscposPrinted whole = printEscpos(c.job + cut, false);
    EXPECT_NE(whole.transcript.find(c.shows), std::string::npos) << whole.transcript;
    EXPECT_EQ(whole.transcript.find("WARNING"), std::string::npos) << whole.transcript;
    EXPECT_EQ(printEscpos(c.job + cut, true).transcript, whole.transcript);
  }
}

// NV graphics defined key after key fill no more than the printer's memory.
TEST(EscposCommands, NvGraphicsAreBoundedAllKeysTogether) {
  std::string job;
  for (char key = 'A'; key <= 'T'; ++key) {  // 20 images of 2048 x 255 dots, 64 KiB each
    const std::string define = bytes("0C0K") + key + bytes("\x01\x00\x08\xFF\x00") + "1" +
                               std::string(256 * 255, '\x55');
    const std::size_t size = define.size();
    job += bytes("\x1D" "8L") + static_cast<char>(size & 0xFF) + static_cast<char>(size >> 8) +
           bytes("\x00\x00") + define;
  }
  const EscposPrinted printed = printEscpos(job, false);
  EXPECT_NE(printed.transcript.find("NV graphics memory full (1048576 bytes)"), std::string::npos)
      << printed.transcript.substr(0, 2000);
}

// Status queries are answered from the printer's state, wherever they come.
TEST(EscposCommands, StatusQueriesAnswerWithThePrintersState) {
  const std::string queries = bytes("\x10\x04\x04\x1Dr\x01\x1DI\x43");
  EXPECT_EQ(printEscpos(queries, false).answers, bytes("\x12\x00_ESC/POS 80MM\x00"));
  EXPECT_EQ(printEscpos(queries, true, PrinterState::PaperOut).answers,
            bytes("\x72\x0F_ESC/POS 80MM\x00"));
  // Automatic status back: at once, then again with a changed state.
  EXPECT_EQ(printEscpos("\x1D"
                        "a\xFF",
                        false, PrinterState::Offline)
                .answers,
            bytes("\x38\x00\x00\x0F"));
}

}  // namespace
