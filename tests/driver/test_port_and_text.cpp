// Opening ports, and condensed text through the chunked write loop.
#include "driver_test_support.h"

namespace {

using PortRule = BoundDriver;

TEST_F(PortRule, NamesBeginningWithComOpenWithTheSerialSettings) {
  for (const char *port : {"COM1", "COM10", "COMX"}) {
    fakeVendor()->calls.clear();
    EXPECT_EQ(IniciaPorta_IT433TD(port), 0);
    const auto opens = fakeVendor()->callsOf("MEGENCOM32_AbrirDispositivo");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].port, port);
    EXPECT_EQ(opens[0].numbers, (std::vector<int64_t>{57600, 'S', 8, 1, 1})) << port;
  }
}

TEST_F(PortRule, EveryOtherNameOpensWithFiveZeros) {
  for (const char *port : {"com1", "CO", "LPT1", "USB", "", " COM1"}) {
    fakeVendor()->calls.clear();
    IniciaPorta_IT433TD(port);
    const auto opens = fakeVendor()->callsOf("MEGENCOM32_AbrirDispositivo");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].numbers, (std::vector<int64_t>{0, 0, 0, 0, 0})) << "'" << port << "'";
  }
}

TEST_F(PortRule, ANullPortReachesTheVendorAsAnEmptyString) {
  IniciaPorta_IT433TD(nullptr);
  FechaPorta_IT433TD(nullptr);
  AcionaGuilhotina_IT433TD(nullptr);
  for (const auto &call : fakeVendor()->snapshot()) EXPECT_EQ(call.port, "") << call.entry;
}

TEST_F(PortRule, VendorStatusesComeBackUnchanged) {
  fakeVendor()->openStatus = -7;
  fakeVendor()->closeStatus = 1234;
  EXPECT_EQ(IniciaPorta_IT433TD("COM1"), -7);
  EXPECT_EQ(FechaPorta_IT433TD("COM1"), 1234);
}

using CondensedText = BoundDriver;

TEST_F(CondensedText, TheTextIsFramedAndWrittenInOneCallFollowedByTheFullPause) {
  EXPECT_EQ(FormataTX_IT433TD("COM1", "Total\n", 6), 0);
  EXPECT_EQ(entrySequence(), (std::vector<std::string>{"MEGENCOM32_EscrevernoDispositivo", "sleep"}));
  EXPECT_EQ(writes()[0].bytes, "\x0FTotal\n\x12");
  EXPECT_EQ(fakeVendor()->callsOf("sleep")[0].numbers[0], 500);
}

TEST_F(CondensedText, AnEmptyTextStillSendsTheFrame) {
  EXPECT_EQ(FormataTX_IT433TD("COM1", nullptr, 0), 0);
  ASSERT_EQ(writes().size(), 1u);
  EXPECT_EQ(writes()[0].bytes, bytes({0x0F, 0x12}));
  EXPECT_EQ(fakeVendor()->callsOf("sleep").size(), 1u);
}

TEST_F(CondensedText, ZeroBytesAreSentWhole) {
  const std::string text("a\0b\0", 4);
  FormataTX_IT433TD("COM1", text.data(), 4);
  EXPECT_EQ(writes()[0].bytes, "\x0F" + text + "\x12");
}

TEST_F(CondensedText, APartialWriteIsContinuedWhereItStopped) {
  fakeVendor()->acceptPerWrite = 10;
  const std::string text(25, 'x');
  EXPECT_EQ(FormataTX_IT433TD("COM1", text.data(), 25), 0);
  const auto calls = writes();
  ASSERT_EQ(calls.size(), 3u);  // ceil(27 / 10)
  EXPECT_EQ(calls[0].numbers[0], 27);
  EXPECT_EQ(calls[1].numbers[0], 17);
  EXPECT_EQ(calls[2].numbers[0], 7);
  EXPECT_EQ(calls[2].bytes, std::string(6, 'x') + "\x12");
  EXPECT_EQ(fakeVendor()->callsOf("sleep").size(), 3u);
}

TEST_F(CondensedText, FiveFailuresInARowEndTheWriteWithTheLastStatus) {
  scriptWrites({answer(7, 0), answer(7, 0), answer(7, 0), answer(7, 0), answer(9, 0)});
  EXPECT_EQ(FormataTX_IT433TD("COM1", "abc", 3), 9);
  EXPECT_EQ(writes().size(), 5u);
  EXPECT_EQ(fakeVendor()->callsOf("sleep").size(), 5u);
}

TEST_F(CondensedText, ASuccessfulCallThatAdvancesStartsTheFailureCountAgain) {
  scriptWrites({answer(7, 0), answer(7, 0), answer(7, 0), answer(7, 0), answer(0, 2),
                answer(7, 0), answer(7, 0), answer(7, 0), answer(7, 0), answer(0, 3)});
  EXPECT_EQ(FormataTX_IT433TD("COM1", "abc", 3), 0);
  const auto calls = writes();
  ASSERT_EQ(calls.size(), 10u);
  EXPECT_EQ(calls[9].bytes, "bc\x12");
}

TEST_F(CondensedText, AFailedCallThatReportsBytesStillAdvances) {
  scriptWrites({answer(5, 2), answer(0, 3)});
  EXPECT_EQ(FormataTX_IT433TD("COM1", "abc", 3), 0);
  EXPECT_EQ(writes()[1].bytes, "bc\x12");
}

TEST_F(CondensedText, ACountPastTheEndOfTheFrameEndsIt) {
  scriptWrites({answer(0, 1000)});
  EXPECT_EQ(FormataTX_IT433TD("COM1", "abc", 3), 0);
  EXPECT_EQ(writes().size(), 1u);
}

// Mended: a count the device leaves untouched is not the previous call's.
TEST_F(CondensedText, ACountLeftUntouchedCountsAsNothingWritten) {
  FakeWriteAnswer untouched;
  untouched.leaveCount = true;
  scriptWrites({answer(0, 2), untouched, answer(0, 3)});
  EXPECT_EQ(FormataTX_IT433TD("COM1", "abc", 3), 0);
  const auto calls = writes();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[1].bytes, "bc\x12");
  EXPECT_EQ(calls[2].bytes, "bc\x12");  // nothing skipped
}

// Mended: a negative count never moves a write before the frame.
TEST_F(CondensedText, ANegativeCountCountsAsNothingWritten) {
  scriptWrites({answer(0, 2), answer(0, -100), answer(0, 3)});
  EXPECT_EQ(FormataTX_IT433TD("COM1", "abc", 3), 0);
  const auto calls = writes();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[2].bytes, "bc\x12");
}

// Mended: "success, 0 bytes" forever would hold the host forever.
TEST_F(CondensedText, ADeviceThatTakesNothingEndsAfterFiveCallsAsStalled) {
  scriptWrites({answer(0, 1), answer(0, 0), answer(0, 0), answer(0, 0), answer(0, 0),
                answer(0, 0), answer(0, 0)});
  EXPECT_EQ(FormataTX_IT433TD("COM1", "abc", 3), IT433TD_STALLED);
  EXPECT_EQ(writes().size(), 6u);
}

TEST_F(CondensedText, GivingUpAfterAFailureReportsTheFailureNotStalled) {
  scriptWrites({answer(0, 0), answer(0, 0), answer(0, 0), answer(0, 0), answer(42, 0)});
  EXPECT_EQ(FormataTX_IT433TD("COM1", "abc", 3), 42);
}

}  // namespace
