// CODE128 barcodes and the cutter: exact printer commands.
#include "driver_test_support.h"

namespace {

using Code128 = BoundDriver;

TEST_F(Code128, EmptyDataSendsTheCommandThenPausesThenFeedsALine) {
  fakeVendor()->openStatus = 0;
  EXPECT_EQ(ImprimeCODE128_IT433TD("COM1", nullptr, 0), 0);
  EXPECT_EQ(entrySequence(), (std::vector<std::string>{"MEGENCOM32_EscrevernoDispositivo", "sleep",
                                                       "MEGENCOM32_EscrevernoDispositivo"}));
  const auto calls = writes();
  EXPECT_EQ(calls[0].bytes, bytes({0x1B, 0x7C, 0x33, 0x30, 0x01, 0x00, 0x00}));
  EXPECT_EQ(calls[0].numbers[0], 7);
  EXPECT_EQ(calls[1].bytes, "\n");
  EXPECT_EQ(fakeVendor()->callsOf("sleep")[0].numbers[0], 200);
}

TEST_F(Code128, TheDataFollowsItsLengthByteUnchangedZerosIncluded) {
  const std::string data("78\0" "90", 5);
  ImprimeCODE128_IT433TD("COM1", data.data(), 5);
  EXPECT_EQ(writes()[0].bytes, bytes({0x1B, '|', '3', '0', 0x01, 0x00, 5}) + data);
}

TEST_F(Code128, TheLongestDataTheLengthByteCanDescribeIsSent) {
  const std::string data(255, '7');
  ImprimeCODE128_IT433TD("COM1", data.data(), 255);
  EXPECT_EQ(writes()[0].bytes.size(), 262u);
  EXPECT_EQ(static_cast<unsigned char>(writes()[0].bytes[6]), 255);
}

// Mended: 300 bytes would wrap the length byte to 44 and spill 256 bytes
// into the printer as text and commands.
TEST_F(Code128, DataLongerThan255BytesIsRefusedWithoutWritingOrPausing) {
  const std::string data(300, '7');
  EXPECT_EQ(ImprimeCODE128_IT433TD("COM1", data.data(), 300), IT433TD_BAD_ARGUMENT);
  EXPECT_EQ(ImprimeCODE128_IT433TD("COM1", data.data(), 256), IT433TD_BAD_ARGUMENT);
  EXPECT_TRUE(fakeVendor()->snapshot().empty());
}

TEST_F(Code128, TheLineFeedStatusIsTheResultEvenAfterAFailedBarcodeWrite) {
  scriptWrites({answer(31, 0), answer(0, 1)});
  EXPECT_EQ(ImprimeCODE128_IT433TD("COM1", "1", 1), 0);
  scriptWrites({answer(0, 8), answer(17, 0)});
  EXPECT_EQ(ImprimeCODE128_IT433TD("COM1", "1", 1), 17);
}

using Cutter = BoundDriver;

TEST_F(Cutter, SendsEscWOnceWithNoPause) {
  fakeVendor()->writeScript.push_back(answer(3, 0));
  EXPECT_EQ(AcionaGuilhotina_IT433TD("LPT1"), 3);
  EXPECT_EQ(entrySequence(), std::vector<std::string>{"MEGENCOM32_EscrevernoDispositivo"});
  EXPECT_EQ(writes()[0].bytes, bytes({0x1B, 0x77}));
  EXPECT_EQ(writes()[0].port, "LPT1");
}

}  // namespace
