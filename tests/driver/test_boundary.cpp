// The exported boundary: bad input, unbound slots and the operation lock.
#include <set>
#include <thread>

#include "driver_test_support.h"

namespace {

TEST(BadInput, IsRefusedBeforeAnyVendorCall) {
  RecordingPlatform platform;
  ASSERT_TRUE(StartIT433TD());
  EXPECT_EQ(FormataTX_IT433TD("COM1", "abc", -1), IT433TD_BAD_ARGUMENT);
  EXPECT_EQ(FormataTX_IT433TD("COM1", nullptr, 3), IT433TD_BAD_ARGUMENT);
  EXPECT_EQ(ImprimeCODE128_IT433TD("COM1", "abc", -5), IT433TD_BAD_ARGUMENT);
  EXPECT_EQ(ImprimeCODE128_IT433TD("COM1", nullptr, 1), IT433TD_BAD_ARGUMENT);
  // The QR operation does not even close the port.
  EXPECT_EQ(ImprimeQRCode_IT433TD("COM1", "abc", -1), IT433TD_BAD_ARGUMENT);
  EXPECT_EQ(ImprimeQRCode_IT433TD("COM1", nullptr, 2), IT433TD_BAD_ARGUMENT);
  EXPECT_TRUE(fakeVendor()->snapshot().empty());
}

// Mended: an empty slot is answered, not called.
TEST(NotBound, BeforeStartEveryOperationAnswersWithoutCallingAnything) {
  RecordingPlatform platform;
  EXPECT_EQ(IniciaPorta_IT433TD("COM1"), IT433TD_NOT_BOUND);
  EXPECT_EQ(FechaPorta_IT433TD("COM1"), IT433TD_NOT_BOUND);
  EXPECT_EQ(FormataTX_IT433TD("COM1", "a", 1), IT433TD_NOT_BOUND);
  EXPECT_EQ(ImprimeCODE128_IT433TD("COM1", "a", 1), IT433TD_NOT_BOUND);
  EXPECT_EQ(AcionaGuilhotina_IT433TD("COM1"), IT433TD_NOT_BOUND);
  EXPECT_EQ(ImprimeQRCode_IT433TD("COM1", "a", 1), IT433TD_NOT_BOUND);
  EXPECT_TRUE(fakeVendor()->snapshot().empty());
}

TEST(NotBound, AfterStopTooAndStartBindsAgain) {
  RecordingPlatform platform;
  ASSERT_TRUE(StartIT433TD());
  Cli_Vossik::StopIT433TD();
  EXPECT_EQ(FormataTX_IT433TD("COM1", "a", 1), IT433TD_NOT_BOUND);
  ASSERT_TRUE(StartIT433TD());
  EXPECT_EQ(FormataTX_IT433TD("COM1", "a", 1), 0);
}

TEST(NotBound, WithoutTheBarcodeLibraryQrCodesAreRefusedButTextPrints) {
  RecordingPlatform platform;
  platform.barcodeLoads = false;
  ASSERT_FALSE(StartIT433TD());
  EXPECT_EQ(ImprimeQRCode_IT433TD("COM1", "a", 1), IT433TD_NOT_BOUND);
  EXPECT_TRUE(fakeVendor()->snapshot().empty());  // not even the close
  EXPECT_EQ(FormataTX_IT433TD("COM1", "a", 1), 0);
}

// Mended: operations from two threads run one after another.
TEST(OperationLock, WritesFromTwoThreadsNeverOverlap) {
  RecordingPlatform platform;
  ASSERT_TRUE(StartIT433TD());
  fakeVendor()->writeDelayMs = 30;
  auto print = [] {
    for (int i = 0; i < 3; ++i) {
      FormataTX_IT433TD("COM1", "abc", 3);
      ImprimeCODE128_IT433TD("COM1", "1", 1);
    }
  };
  std::thread first(print), second(print);
  first.join();
  second.join();
  EXPECT_EQ(fakeVendor()->mostConcurrentWrites, 1);
  // Each barcode's line feed follows its own barcode, never another thread's.
  const auto calls = writes();
  for (size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].bytes[0] == 0x1B) {
      EXPECT_EQ(calls.at(i + 1).bytes, "\n");
    }
  }
}

TEST(QualifiedNames, TakeLengthCountedViewsAndShareTheTable) {
  RecordingPlatform platform;
  ASSERT_TRUE(Cli_Vossik::StartIT433TD());
  const std::string text("a\0b", 3);
  EXPECT_EQ(Cli_Vossik::FormataTX_IT433TD("COM1", text), 0);
  EXPECT_EQ(writes()[0].bytes, "\x0F" + text + "\x12");
  EXPECT_EQ(Cli_Vossik::ImprimeCODE128_IT433TD("COM1", std::string(256, '1')), IT433TD_BAD_ARGUMENT);
  EXPECT_EQ(Cli_Vossik::IniciaPorta_IT433TD("COM1"), 0);
  EXPECT_EQ(Cli_Vossik::AcionaGuilhotina_IT433TD("COM1"), 0);
  EXPECT_EQ(Cli_Vossik::FechaPorta_IT433TD("COM1"), 0);
}

TEST(QualifiedNames, APortNameHoldingAZeroByteIsRefused) {
  RecordingPlatform platform;
  ASSERT_TRUE(Cli_Vossik::StartIT433TD());
  const std::string_view port("COM1\0x", 6);
  EXPECT_EQ(Cli_Vossik::IniciaPorta_IT433TD(port), IT433TD_BAD_ARGUMENT);
  EXPECT_EQ(Cli_Vossik::FormataTX_IT433TD(port, "a"), IT433TD_BAD_ARGUMENT);
  EXPECT_EQ(Cli_Vossik::ImprimeQRCode_IT433TD(port, "a"), IT433TD_BAD_ARGUMENT);
  EXPECT_TRUE(fakeVendor()->snapshot().empty());
}

TEST(StatusNames, NameEveryOwnStatusAndNoVendorStatus) {
  std::set<int32_t> seen;
  for (int32_t status : {IT433TD_OK, IT433TD_BAD_ARGUMENT, IT433TD_NOT_BOUND, IT433TD_STALLED,
                         IT433TD_NOT_RENDERED, IT433TD_INTERNAL_ERROR, IT433TD_QR_BUSY,
                         IT433TD_COPY_FAILED}) {
    EXPECT_NE(it433td_status_name(status), nullptr) << status;
    EXPECT_TRUE(status < 0 || status == IT433TD_OK) << status;
    EXPECT_TRUE(seen.insert(status).second) << status << " is not distinct";
  }
  EXPECT_EQ(it433td_status_name(7), nullptr);
}

}  // namespace
