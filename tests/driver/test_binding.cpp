// Binding the vendor libraries: the table each kind of failure leaves behind.
#include "driver_test_support.h"

namespace {

int boundDeviceSlots() {
  int n = 0;
#define COUNT_SLOT(name, type) n += Cli_Vossik::name != nullptr;
  IT433TD_DEVICE_ENTRIES(COUNT_SLOT)
  return n;
}

int boundBarcodeSlots() {
  int n = 0;
  IT433TD_BARCODE_ENTRIES(COUNT_SLOT)
#undef COUNT_SLOT
  return n;
}

TEST(Binding, StartLoadsBothLibrariesAndBindsEveryEntryPointToItsOwnName) {
  RecordingPlatform platform;
  ASSERT_TRUE(StartIT433TD());
  EXPECT_EQ(platform.loads, (std::vector<std::string>{IT433TD_DEVICE_LIBRARY, IT433TD_BARCODE_LIBRARY}));
#define SAME_ADDRESS(name, type) \
  EXPECT_EQ(reinterpret_cast<void *>(Cli_Vossik::name), reinterpret_cast<void *>(&::name)) << #name;
  IT433TD_DEVICE_ENTRIES(SAME_ADDRESS)
  IT433TD_BARCODE_ENTRIES(SAME_ADDRESS)
#undef SAME_ADDRESS
  EXPECT_EQ(Cli_Vossik::rdmIT433TD, nullptr);
}

TEST(Binding, RepeatedStartLoadsNothingAgain) {
  RecordingPlatform platform;
  ASSERT_TRUE(StartIT433TD());
  ASSERT_TRUE(StartIT433TD());
  EXPECT_EQ(platform.loads.size(), 2u);
}

TEST(Binding, StopEmptiesTheSlotsKeepsTheHandlesAndStartRebindsFromThem) {
  RecordingPlatform platform;
  ASSERT_TRUE(StartIT433TD());
  Cli_Vossik::StopIT433TD();
  EXPECT_EQ(boundDeviceSlots() + boundBarcodeSlots(), 0);
  EXPECT_NE(Cli_Vossik::DLLMEGENCOM32, nullptr);
  EXPECT_NE(Cli_Vossik::DLLP32GeCodeBar, nullptr);
  ASSERT_TRUE(StartIT433TD());
  EXPECT_EQ(boundDeviceSlots() + boundBarcodeSlots(), 14);
  EXPECT_EQ(platform.loads.size(), 2u);
}

TEST(Binding, StopBeforeStartLeavesTheTableEmpty) {
  RecordingPlatform platform;
  Cli_Vossik::StopIT433TD();
  EXPECT_EQ(boundDeviceSlots() + boundBarcodeSlots(), 0);
  EXPECT_EQ(Cli_Vossik::DLLMEGENCOM32, nullptr);
  EXPECT_TRUE(platform.loads.empty());
}

TEST(Binding, MissingDeviceLibraryChangesNothingAndTheBarcodeLibraryIsNotTried) {
  RecordingPlatform platform;
  platform.deviceLoads = false;
  EXPECT_FALSE(StartIT433TD());
  EXPECT_EQ(platform.loads, std::vector<std::string>{IT433TD_DEVICE_LIBRARY});
  EXPECT_EQ(boundDeviceSlots() + boundBarcodeSlots(), 0);
}

TEST(Binding, MissingBarcodeLibraryLeavesTheDeviceSlotsBound) {
  RecordingPlatform platform;
  platform.barcodeLoads = false;
  EXPECT_FALSE(StartIT433TD());
  EXPECT_EQ(boundDeviceSlots(), 10);
  EXPECT_EQ(boundBarcodeSlots(), 0);
  EXPECT_EQ(Cli_Vossik::DLLP32GeCodeBar, nullptr);

  // Once the barcode library can be had, a retry loads only that one.
  platform.barcodeLoads = true;
  EXPECT_TRUE(StartIT433TD());
  EXPECT_EQ(platform.loads, (std::vector<std::string>{IT433TD_DEVICE_LIBRARY, IT433TD_BARCODE_LIBRARY,
                                                      IT433TD_BARCODE_LIBRARY}));
}

TEST(Binding, AMissingDeviceEntryPointEmptiesEverySlotEvenOneNeverCalled) {
  RecordingPlatform platform;
  platform.missingEntries = {"MEGENCOM32_AtivarLOG"};
  EXPECT_FALSE(StartIT433TD());
  EXPECT_EQ(boundDeviceSlots() + boundBarcodeSlots(), 0);
  EXPECT_NE(Cli_Vossik::DLLMEGENCOM32, nullptr);
  EXPECT_EQ(platform.loads, std::vector<std::string>{IT433TD_DEVICE_LIBRARY});
  // The cached library still lacks the name: a retry fails without reloading.
  EXPECT_FALSE(StartIT433TD());
  EXPECT_EQ(platform.loads.size(), 1u);
}

TEST(Binding, AMissingBarcodeEntryPointEmptiesAllFourteenSlots) {
  RecordingPlatform platform;
  platform.missingEntries = {"CODEBAR32_PGeBMPtoPRN"};
  EXPECT_FALSE(StartIT433TD());
  EXPECT_EQ(boundDeviceSlots() + boundBarcodeSlots(), 0);
  EXPECT_NE(Cli_Vossik::DLLMEGENCOM32, nullptr);
  EXPECT_NE(Cli_Vossik::DLLP32GeCodeBar, nullptr);
}

}  // namespace
