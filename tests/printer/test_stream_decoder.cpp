// The stream decoder: every command, in any chunking; unknown bytes; cut-short
// commands; image size limits.
#include "printer_streams.h"

#include <gtest/gtest.h>

using namespace it433td::printer;
using namespace printer_test;

namespace {

using Events = std::vector<std::string>;

struct Case {
  const char *name;
  std::string stream;
  Events expected;
};

std::vector<Case> commandCases() {
  return {
      {"text", "Caf\x82 ok", {"TEXT bytes=43616682206F6B"}},
      {"line_feed", "\n", {"LF"}},
      {"condensed_frame", "\x0F" "ab\x12", {"CONDENSED ON", "TEXT bytes=6162", "CONDENSED OFF"}},
      {"code128", code128("123456") + "\n", {"CODE128 bytes=313233343536", "LF"}},
      {"code128_empty", code128(""), {"CODE128"}},
      {"code128_with_nul_and_esc", code128(std::string("a\0\x1Bw", 4)),
       {"CODE128 bytes=61001B77"}},
      {"cut", "\x1Bw", {"CUT"}},
      {"feed", "\x1BJ\x28", {"FEED value=40"}},
      {"feed_zero", std::string("\x1BJ\0", 3), {"FEED"}},
      {"raster", rasterHeader(0, 1, 2) + "\xF0\x0F",
       {"IMAGE 8x2 raster=2/A111A520"}},
      {"raster_ascii_mode", rasterHeader('3', 1, 1) + "\x81", {"IMAGE value=3 8x1 raster=1/840B920C"}},
      {"status", "\x10\x04\x01", {"STATUS value=1"}},
      {"status_unknown_n", "\x10\x04\x09", {"STATUS value=9"}},
      // ESC/POS commands are skipped whole, their parameters never text.
      {"escpos_fixed", "\x1B@\x1B" "a\x01", {"FOREIGN bytes=1B40 value=2 (ESC @ (initialise, ESC/POS))",
        "FOREIGN bytes=1B6101 value=3 (ESC a (justification, ESC/POS))"}},
      {"escpos_barcode_up_to_nul", std::string("\x1Dk\x04" "AB\0x", 7),
       {"FOREIGN bytes=1D6B04414200 value=6 (GS k (barcode, ESC/POS))", "TEXT bytes=78"}},
      {"escpos_2d_symbol", std::string("\x1D(k\x03\x00" "1Q0" "x", 9),
       {"FOREIGN bytes=1D286B0300315130 value=8 (GS ( k (QR code and 2D symbols, ESC/POS))",
        "TEXT bytes=78"}},
  };
}

TEST(StreamDecoder, EveryCommandDecodesTheSameWholeSplitAndByteByByte) {
  for (const Case &c : commandCases()) {
    SCOPED_TRACE(c.name);
    const Events whole = decodeAll(c.stream, c.stream.size());
    EXPECT_EQ(whole, c.expected);
    for (size_t split = 0; split <= c.stream.size(); ++split)
      EXPECT_EQ(decodeAll(c.stream, split), whole) << "split at " << split;
    EXPECT_EQ(decodeAll(c.stream, 0, true), whole);
  }
}

TEST(StreamDecoder, AWholeReceiptDecodesTheSameAtEverySplit) {
  std::string stream = "\x0F" "Total: R$ 12,50\n\x12" + code128("789") + "\n" +
                       rasterHeader(0, 2, 3) + "abcdef" + "\x1BJ\x10" + "\x10\x04\x04" + "\x1Bw";
  const Events whole = decodeAll(stream, stream.size());
  ASSERT_EQ(whole.size(), 10u);
  for (size_t split = 0; split <= stream.size(); ++split)
    ASSERT_EQ(decodeAll(stream, split), whole) << "split at " << split;
}

TEST(StreamDecoder, UnknownBytesAreReportedAndDecodingGoesOn) {
  EXPECT_EQ(decodeAll(std::string("a\r\0b\x7F", 5), 2),
            (Events{"TEXT bytes=61", "UNKNOWN bytes=0D", "UNKNOWN bytes=00", "TEXT bytes=627F"}));
  // A command's lead byte with the wrong follower: the lead is unknown and
  // the rest is decoded afresh.
  EXPECT_EQ(decodeAll("\x1Bxy\n", 1), (Events{"UNKNOWN bytes=1B", "TEXT bytes=7879", "LF"}));
  EXPECT_EQ(decodeAll("\x1B\x1Bw", 1), (Events{"UNKNOWN bytes=1B", "CUT"}));
  EXPECT_EQ(decodeAll("\x1B|31", 2), (Events{"UNKNOWN bytes=1B", "TEXT bytes=7C3331"}));
  EXPECT_EQ(decodeAll("\x1Dv1\n", 3), (Events{"UNKNOWN bytes=1D", "TEXT bytes=7631", "LF"}));
  EXPECT_EQ(decodeAll(std::string("\x1Dv0\x07", 4), 2),
            (Events{"UNKNOWN bytes=1D", "TEXT bytes=7630", "UNKNOWN bytes=07"}));
  EXPECT_EQ(decodeAll("\x10\x05", 1), (Events{"UNKNOWN bytes=10", "UNKNOWN bytes=05"}));
}

TEST(StreamDecoder, ACommandCutShortIsReportedNotGuessed) {
  EXPECT_EQ(decodeAll("ab\x1B", 3), (Events{"TEXT bytes=6162", "TRUNCATED (ESC) 1/0"}));
  EXPECT_EQ(decodeAll("\x1BJ", 2), (Events{"TRUNCATED (FEED) 2/0"}));
  EXPECT_EQ(decodeAll("\x1B|30", 2), (Events{"TRUNCATED (CODE128) 4/0"}));
  EXPECT_EQ(decodeAll(code128("12345").substr(0, 9), 4), (Events{"TRUNCATED (CODE128) 9/12"}));
  EXPECT_EQ(decodeAll(rasterHeader(0, 2, 2) + "ab", 9), (Events{"TRUNCATED (IMAGE) 10/12"}));
  EXPECT_EQ(decodeAll("\x1D", 1), (Events{"TRUNCATED (GS) 1/0"}));
  EXPECT_EQ(decodeAll("\x10\x04", 1), (Events{"TRUNCATED (STATUS REQUEST) 2/0"}));
}

TEST(StreamDecoder, IsReadyForANewStreamAfterFinish) {
  Events events;
  StreamDecoder decoder([&](const PrinterEvent &e) { events.push_back(describe(e)); });
  decoder.feed("\x1B|30");
  decoder.finish();
  EXPECT_FALSE(decoder.midCommand());
  decoder.feed("\x1Bw");
  EXPECT_EQ(events.back(), "CUT");
}

TEST(StreamDecoder, ImagesBeyondThePaperAreRejected) {
  // Double width makes 37 bytes too wide: an image the printer takes but
  // cannot print, its data skipped; 36 bytes fit exactly.
  EXPECT_EQ(decodeAll(rasterHeader(1, 37, 1) + std::string(37, 'A'), 3),
            (Events{"IMAGE REJECTED value=1 592x1 (wider than the paper)"}));
  EXPECT_EQ(decodeAll(rasterHeader(1, 36, 1) + std::string(36, 0), 3).at(0).rfind("IMAGE value=1 288x1", 0),
            0u);
  EXPECT_EQ(decodeAll(rasterHeader(2, 1, 2049) + std::string(2049, 0), 3),
            (Events{"IMAGE REJECTED value=2 8x4098 (taller than 4096 dots)"}));
  EXPECT_EQ(decodeAll(rasterHeader(0, 0, 5) + "x", 3),
            (Events{"IMAGE REJECTED 0x5 (empty)", "TEXT bytes=78"}));
}

// A header of a size no command of its kind has is reported, and what
// follows it is read as it came, never swallowed as its data.
TEST(StreamDecoder, AStrayHeaderSwallowsNothing) {
  EXPECT_EQ(decodeAll(rasterHeader(0, 73, 1) + "ok", 5),
            (Events{"IMAGE REJECTED 584x1 (more than 72 bytes a row)", "TEXT bytes=6F6B"}));
  EXPECT_EQ(decodeAll(rasterHeader(0, 0xFFFF, 0xFFFF) + "ok", 4),
            (Events{"IMAGE REJECTED 524280x65535 (more than 72 bytes a row)", "TEXT bytes=6F6B"}));
  EXPECT_EQ(decodeAll(rasterHeader(0, 1, 4097) + "ok", 4),
            (Events{"IMAGE REJECTED 8x4097 (more than 4096 rows)", "TEXT bytes=6F6B"}));
  EXPECT_EQ(
      decodeAll("\x1D(k\xFF\xFFok", 4),
      (Events{"FOREIGN bytes=1D286BFFFF value=5 (GS ( k (QR code and 2D symbols, ESC/POS)) 0/65535",
              "TEXT bytes=6F6B"}));
  EXPECT_EQ(decodeAll(std::string("\x1B*\x21\x00\x04ok", 7), 4),
            (Events{"FOREIGN bytes=1B2A210004 value=5 (ESC * (bit image, ESC/POS)) 0/3072",
                    "TEXT bytes=6F6B"}));
  // The largest real ones still take their data.
  EXPECT_EQ(decodeAll("\x1D(k\xB4\x1B" + std::string(7092, 'x'), 9).size(), 1u);
}

// A status request is answered where it arrives, even inside another
// command's data, which keeps its bytes.
TEST(StreamDecoder, StatusRequestsInsideCommandsAreHandedOutWhereTheyArrive) {
  const std::vector<std::pair<std::string, std::string>> commands = {
      {rasterHeader(0, 1, 3) + "\x10\x04\x02", "IMAGE 8x3 raster=3/A31245E9"},
      {code128("\x10\x04\x02"), "CODE128 bytes=100402"},
      {std::string("\x1D(k\x03\x00\x10\x04\x02", 8),
       "FOREIGN bytes=1D286B0300100402 value=8 (GS ( k (QR code and 2D symbols, ESC/POS))"}};
  for (const auto &[command, event] : commands) {
    const Events events = decodeAll(command, 4);
    EXPECT_EQ(events, (Events{event, "STATUS value=2"}));
    for (size_t split = 0; split <= command.size(); ++split)
      EXPECT_EQ(decodeAll(command, split), events) << "split at " << split;
  }
}

}  // namespace
