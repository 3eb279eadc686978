// The receipt file format and its conversion to the printer's code page,
// and statuses in words.
#include "host/cp850_text.h"
#include "host/receipt_file.h"
#include "host/status_names.h"

#include "Cli_Vossik.h"
#include "MEGENCOM32.h"
#include "P32GeCodeBar.h"

#include <gtest/gtest.h>

using namespace it433td::tools;
using Kind = ReceiptStep::Kind;

TEST(ReceiptFile, KeywordsCommentsAndEscapesBecomeTheirOperations) {
  const ParsedReceipt parsed = parseReceipt(
      "# a comment\n"
      "Café\n"
      "\\cut\n"
      "# between text lines\n"
      "\\# not a comment\n"
      "code128 ABC-123\n"
      "qr  two blanks kept \n"
      "cut  \n"
      "cutting\n"
      "qrcode\n"
      "\n");
  ASSERT_EQ(parsed.error, "");
  ASSERT_EQ(parsed.steps.size(), 5u);
  EXPECT_EQ(parsed.steps[0].kind, Kind::Text);
  // Runs of text lines are one write; é is 0x82 in code page 850.
  EXPECT_EQ(parsed.steps[0].bytes, "Caf\x82\ncut\n# not a comment\n");
  EXPECT_EQ(parsed.steps[0].line, 2);
  EXPECT_EQ(parsed.steps[0].lastLine, 5);
  EXPECT_EQ(parsed.steps[1].kind, Kind::Code128);
  EXPECT_EQ(parsed.steps[1].bytes, "ABC-123");
  EXPECT_EQ(parsed.steps[2].kind, Kind::QrCode);
  EXPECT_EQ(parsed.steps[2].bytes, " two blanks kept ");
  EXPECT_EQ(parsed.steps[3].kind, Kind::Cut);
  EXPECT_EQ(parsed.steps[4].kind, Kind::Text);
  EXPECT_EQ(parsed.steps[4].bytes, "cutting\nqrcode\n\n");  // not keywords
}

TEST(ReceiptFile, CrLfLinesByteOrderMarksAndAFileWithoutFinalNewline) {
  // A UTF-8 byte-order mark before the first line is no part of it.
  const ParsedReceipt parsed = parseReceipt("\xEF\xBB\xBF" "code128 12\r\nP\xC3\xA3o\r\ncut");
  ASSERT_EQ(parsed.error, "");
  ASSERT_EQ(parsed.steps.size(), 3u);
  EXPECT_EQ(parsed.steps[0].kind, Kind::Code128);
  EXPECT_EQ(parsed.steps[0].bytes, "12");
  EXPECT_EQ(parsed.steps[1].bytes, "P\xC6o\n");  // ã
  EXPECT_EQ(parsed.steps[2].kind, Kind::Cut);
  // Anywhere else it is named, not shown as an invisible character.
  const ParsedReceipt joined = parseReceipt("a\n\xEF\xBB\xBF" "b\n");
  EXPECT_EQ(joined.error.rfind("line 2: ", 0), 0u) << joined.error;
  EXPECT_NE(joined.error.find("byte-order mark"), std::string::npos) << joined.error;
}

TEST(ReceiptFile, AQrPayloadTooLargeForTheModulesSymbolIsRefusedWithItsLine) {
  // Level M holds 2,331 bytes in the largest symbol (version 40).
  EXPECT_EQ(parseReceipt("qr " + std::string(2331, '\xFF')).error, "");
  for (const std::size_t size : {std::size_t{2332}, std::size_t{2954}, std::size_t{100000}}) {
    const ParsedReceipt parsed = parseReceipt("ok\nqr " + std::string(size, 'a') + "\ncut\n");
    EXPECT_EQ(parsed.error.rfind("line 2: ", 0), 0u) << size << ": " << parsed.error;
    EXPECT_TRUE(parsed.steps.empty());
  }
}

TEST(ReceiptFile, BadLinesAreRefusedWithTheirPlaceAndNothingIsKept) {
  struct Case {
    std::string content;
    std::string error;
  };
  const Case cases[] = {
      {"ok\ncode128\n", "line 2: code128 needs data"},
      {"qr\n", "line 1: qr needs data"},
      {"code128 " + std::string(256, '7') + "\n", "line 1: CODE128 data is 256 bytes; the printer takes at most 255"},
      {"code128 P\xC3\xA3o\n", "line 1: CODE128 data must be printable ASCII"},
      {"a\nPre\xC3\xA7o \xE2\x82\xAC 5\n", "line 2: column 7: \"\xE2\x82\xAC\" is not in code page 850"},
      {"ab\xFF\n", "line 1: column 3: not well-formed UTF-8"},
      {"ab\xC3\n", "line 1: column 3: not well-formed UTF-8"},
      {"\xE0\x80\xAF\n", "line 1: column 1: not well-formed UTF-8"},  // overlong '/'
      {"tab\there\n", "line 1: column 4: control character 0x09 (only printable characters are printed)"},
      {"esc \x1Bw\n", "line 1: column 5: control character 0x1B (only printable characters are printed)"},
  };
  for (const Case &c : cases) {
    const ParsedReceipt parsed = parseReceipt(c.content);
    EXPECT_EQ(parsed.error, c.error) << c.content;
    EXPECT_TRUE(parsed.steps.empty()) << c.content;
  }
  EXPECT_EQ(parseReceipt("code128 " + std::string(255, '7')).error, "");
}

TEST(Cp850Text, PortugueseLettersMapToTheirCodePageBytes) {
  const Cp850Result result = utf8ToCp850("ÁÂÃÀÇÉÊÍÓÔÕÚÜáâãàçéêíóôõúü");
  ASSERT_EQ(result.error, "");
  EXPECT_EQ(result.bytes,
            "\xB5\xB6\xC7\xB7\x80\x90\xD2\xD6\xE0\xE2\xE5\xE9\x9A"
            "\xA0\x83\xC6\x85\x87\x82\x88\xA1\xA2\x93\xE4\xA3\x81");
}

TEST(StatusNames, ModuleAndVendorStatusesAreNamedInWords) {
  EXPECT_EQ(statusName(IT433TD_NOT_RENDERED), "IT433TD_NOT_RENDERED");
  EXPECT_EQ(statusName(MEGENCOM32_PAPER_OUT), "MEGENCOM32_PAPER_OUT");
  EXPECT_EQ(statusName(MEGENCOM32_LOG_FAILED), "MEGENCOM32_LOG_FAILED");
  EXPECT_EQ(statusName(P32GECODEBAR_TOO_WIDE), "P32GECODEBAR_TOO_WIDE");
  EXPECT_EQ(statusName(42), "status 42");
  EXPECT_EQ(describeStatus(MEGENCOM32_NO_SUCH_PORT),
            "MEGENCOM32_NO_SUCH_PORT (1): the port name does not resolve, or no device is there");
  EXPECT_NE(describeStatus(IT433TD_BAD_ARGUMENT).find("IT433TD_BAD_ARGUMENT (-1001): "),
            std::string::npos);
  for (int status = 1; status <= 14; ++status)
    EXPECT_EQ(statusName(status).rfind("MEGENCOM32_", 0), 0u) << status;
  // Every failure of the module's own has words of its own, never "success".
  for (int32_t status : {IT433TD_BAD_ARGUMENT, IT433TD_NOT_BOUND, IT433TD_STALLED,
                         IT433TD_NOT_RENDERED, IT433TD_INTERNAL_ERROR, IT433TD_QR_BUSY,
                         IT433TD_COPY_FAILED})
    EXPECT_EQ(describeStatus(status).find("success"), std::string::npos) << status;
}
