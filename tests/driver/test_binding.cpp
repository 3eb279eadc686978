// Binding the vendor libraries: the table each kind of failure leaves behind.
#include "driver_test_support.h"

namespace {

int bound_device_slots() {
  int n = 0;
#define COUNT_SLOT(name, type) n += Cli_Vossik::name != nullptr;
  IT433TD_DEVICE_ENTRIES(COUNT_SLOT)
  return n;
}

int bound_barcode_slots() {
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
  EXPECT_EQ(bound_device_slots() + bound_barcode_slots(), 0);
  EXPECT_NE(Cli_Vossik::DLLMEGENCOM32, nullptr);
  EXPECT_NE(Cli_Vossik::DLLP32GeCodeBar, nullptr);
  ASSERT_TRUE(StartIT433TD());
  EXPECT_EQ(bound_device_slots() + bound_barcode_slots(), 14);
  EXPECT_EQ(platform.loads.size(), 2u);
}

TEST(Binding, StopBeforeStartLeavesTheTableEmpty) {
  RecordingPlatform platform;
  Cli_Vossik::StopIT433TD();
  EXPECT_EQ(bound_device_slots() + bound_barcode_slots(), 0);
  EXPECT_EQ(Cli_Vossik::DLLMEGENCOM32, nullptr);
  EXPECT_TRUE(platform.loads.empty());
}

TEST(Binding, MissingDeviceLibraryChangesNothingAndTheBarcodeLibraryIsNotTried) {
  RecordingPlatform platform;
  platform.device_loads = false;
  EXPECT_FALSE(StartIT433TD());
  EXPECT_EQ(platform.loads, std::vector<std::string>{IT433TD_DEVICE_LIBRARY});
  EXPECT_EQ(bound_device_slots() + bound_barcode_slots(), 0);
}

TEST(Binding, MissingBarcodeLibraryLeavesTheDeviceSlotsBound) {
  RecordingPlatform platform;
  platform.barcode_loads = false;
  EXPECT_FALSE(StartIT433TD());
  EXPECT_EQ(bound_device_slots(), 10);
  EXPECT_EQ(bound_barcode_slots(), 0);
  EXPECT_EQ(Cli_Vossik::DLLP32GeCodeBar, nullptr);

  // Once the barcode library can be had, a retry loads only that one.
  platform.barcode_loads = true;
  EXPECT_TRUE(StartIT433TD());
  EXPECT_EQ(platform.loads, (std::vector<std::string>{IT433TD_DEVICE_LIBRARY, IT433TD_BARCODE_LIBRARY,
                                                      IT433TD_BARCODE_LIBRARY}));
}

TEST(Binding, AMissingDeviceEntryPointEmptiesEverySlotEvenOneNeverCalled) {
  RecordingPlatform platform;
  platform.missing_entries = {"MEGENCOM32_AtivarLOG"};
  EXPECT_FALSE(StartIT433TD());
  EXPECT_EQ(bound_device_slots() + bound_barcode_slots(), 0);
  EXPECT_NE(Cli_Vossik::DLLMEGENCOM32, nullptr);
  EXPECT_EQ(platform.loads, std::vector<std::string>{IT433TD_DEVICE_LIBRARY});
  // The cached library still lacks the name: a retry fails without reloading.
  EXPECT_FALSE(StartIT433TD());
  EXPECT_EQ(platform.loads.size(), 1u);
}

TEST(Binding, AMissingBarcodeEntryPointEmptiesAllFourteenSlots) {
  RecordingPlatform platform;
  platform.missing_entries = {"CODEBAR32_PGeBMPtoPRN"};
  EXPECT_FALSE(StartIT433TD());
  EXPECT_EQ(bound_device_slots() + bound_barcode_slots(), 0);
  EXPECT_NE(Cli_Vossik::DLLMEGENCOM32, nullptr);
  EXPECT_NE(Cli_Vossik::DLLP32GeCodeBar, nullptr);
}

}  // namespace
