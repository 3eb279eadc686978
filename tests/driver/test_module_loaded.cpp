// The built module, loaded as a host loads it: binding states through the
// exported slots, real pauses, and the operation lock.
#include <chrono>
#include <thread>
#include <unistd.h>

#include "loaded_module.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const char *const kDeviceEntries[] = {
#define NAME(name, type) #name,
    IT433TD_DEVICE_ENTRIES(NAME)};
const char *const kBarcodeEntries[] = {IT433TD_BARCODE_ENTRIES(NAME)
#undef NAME
};

template <size_t N>
int bound(LoadedModule &module, const char *const (&names)[N]) {
  int n = 0;
  for (const char *name : names) n += module.variable(name) != nullptr;
  return n;
}

long long elapsedMs(Clock::time_point since) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - since).count();
}

TEST(LoadedModule, LoadingAndUnloadingAloneLoadsNoLibraryAndWritesNoFile) {
  REQUIRE_FRESH_PROCESS();
  {
    LoadedModule module("full");
    EXPECT_FALSE(library_loaded(IT433TD_DEVICE_LIBRARY));
    EXPECT_EQ(module.variable("DLLMEGENCOM32"), nullptr);
    EXPECT_EQ(module.variable("rdmIT433TD"), nullptr);
  }
  EXPECT_FALSE(library_loaded(IT433TD_DEVICE_LIBRARY));
  EXPECT_FALSE(library_loaded(IT433TD_BARCODE_LIBRARY));
  EXPECT_NE(access("Dados", F_OK), 0);
}

TEST(LoadedModule, BindsEverySlotToItsLibrarysOwnEntryPoint) {
  REQUIRE_FRESH_PROCESS();
  LoadedModule module("full");
  ASSERT_TRUE(module.start());
  void *device = module.variable("DLLMEGENCOM32");
  void *barcode = module.variable("DLLP32GeCodeBar");
  for (const char *name : kDeviceEntries) EXPECT_EQ(module.variable(name), dlsym(device, name));
  for (const char *name : kBarcodeEntries) EXPECT_EQ(module.variable(name), dlsym(barcode, name));

  ASSERT_TRUE(module.start());
  EXPECT_EQ(module.variable("DLLMEGENCOM32"), device);
}

TEST(LoadedModule, StopEmptiesTheSlotsButKeepsTheLibraries) {
  REQUIRE_FRESH_PROCESS();
  LoadedModule module("full");
  ASSERT_TRUE(module.start());
  module.function<void (*)()>("_ZN10Cli_Vossik11StopIT433TDEv")();
  EXPECT_EQ(bound(module, kDeviceEntries) + bound(module, kBarcodeEntries), 0);
  EXPECT_NE(module.variable("DLLMEGENCOM32"), nullptr);
  EXPECT_NE(module.variable("DLLP32GeCodeBar"), nullptr);
  EXPECT_TRUE(library_loaded(IT433TD_DEVICE_LIBRARY));
  ASSERT_TRUE(module.start());
  EXPECT_EQ(bound(module, kDeviceEntries) + bound(module, kBarcodeEntries), 14);
}

TEST(LoadedModule, WithoutTheBarcodeLibraryTheDeviceSlotsStayBound) {
  REQUIRE_FRESH_PROCESS();
  LoadedModule module("device_only");
  EXPECT_FALSE(module.start());
  EXPECT_EQ(bound(module, kDeviceEntries), 10);
  EXPECT_EQ(bound(module, kBarcodeEntries), 0);
  EXPECT_EQ(module.variable("DLLP32GeCodeBar"), nullptr);
}

TEST(LoadedModule, ADeviceLibraryLackingOneEntryPointLeavesEverySlotEmpty) {
  REQUIRE_FRESH_PROCESS();
  LoadedModule module("no_ativarlog");
  EXPECT_FALSE(module.start());
  EXPECT_EQ(bound(module, kDeviceEntries) + bound(module, kBarcodeEntries), 0);
  EXPECT_NE(module.variable("DLLMEGENCOM32"), nullptr);
  EXPECT_FALSE(library_loaded(IT433TD_BARCODE_LIBRARY));
}

TEST(LoadedModule, ABarcodeLibraryLackingOneEntryPointLeavesEverySlotEmpty) {
  REQUIRE_FRESH_PROCESS();
  LoadedModule module("no_bmptoprn");
  EXPECT_FALSE(module.start());
  EXPECT_EQ(bound(module, kDeviceEntries) + bound(module, kBarcodeEntries), 0);
  EXPECT_NE(module.variable("DLLP32GeCodeBar"), nullptr);
}

TEST(LoadedModule, WithoutTheDeviceLibraryTheBarcodeLibraryIsNotTried) {
  REQUIRE_FRESH_PROCESS();
  LoadedModule module("none");
  EXPECT_FALSE(module.start());
  EXPECT_EQ(module.variable("DLLMEGENCOM32"), nullptr);
  EXPECT_FALSE(library_loaded(IT433TD_BARCODE_LIBRARY));
  auto print = module.function<int32_t (*)(const char *, const char *, int32_t)>("FormataTX_IT433TD");
  EXPECT_EQ(print("COM1", "a", 1), IT433TD_NOT_BOUND);
}

TEST(LoadedModule, TextWaitsHalfASecondAfterItsWrite) {
  REQUIRE_FRESH_PROCESS();
  LoadedModule module("full");
  ASSERT_TRUE(module.start());
  auto print = module.function<int32_t (*)(const char *, const char *, int32_t)>("FormataTX_IT433TD");
  const auto before = Clock::now();
  EXPECT_EQ(print("COM1", "Obrigado\n", 9), 0);
  EXPECT_GE(elapsedMs(before), 500);
  EXPECT_EQ(module.fakeIn("DLLMEGENCOM32")->callsOf("MEGENCOM32_EscrevernoDispositivo")[0].bytes,
            "\x0FObrigado\n\x12");
}

TEST(LoadedModule, TheBarcodesLineFeedFollowsAfterTwoHundredMilliseconds) {
  REQUIRE_FRESH_PROCESS();
  LoadedModule module("full");
  ASSERT_TRUE(module.start());
  auto code128 =
      module.function<int32_t (*)(const char *, const char *, int32_t)>("ImprimeCODE128_IT433TD");
  EXPECT_EQ(code128("COM1", "789", 3), 0);
  const auto calls = module.fakeIn("DLLMEGENCOM32")->callsOf("MEGENCOM32_EscrevernoDispositivo");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_GE(std::chrono::duration_cast<milliseconds>(calls[1].when - calls[0].when).count(), 200);
}

TEST(LoadedModule, OperationsFromTwoThreadsRunOneAfterAnother) {
  REQUIRE_FRESH_PROCESS();
  LoadedModule module("full");
  ASSERT_TRUE(module.start());
  auto print = module.function<int32_t (*)(const char *, const char *, int32_t)>("FormataTX_IT433TD");
  FakeVendor *device = module.fakeIn("DLLMEGENCOM32");
  device->writeDelayMs = 50;
  const auto before = Clock::now();
  std::thread first([&] { print("COM1", "um", 2); });
  std::thread second([&] { print("COM1", "dois", 4); });
  first.join();
  second.join();
  EXPECT_EQ(device->mostConcurrentWrites, 1);
  EXPECT_GE(elapsedMs(before), 1000);  // two texts, each with its pause
}

}  // namespace
