// The built library as the driver module sees it: loaded by dlopen, all ten
// entry points found by their plain C names, nothing of the inside exported.
#include <dlfcn.h>

#include "device_fixture.h"
#include "vendor_contract.h"

TEST(DeviceExports, TenEntryPointsAndNothingElse) {
  void *library = dlopen(MEGENCOM32_BUILT_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  int found = 0;
#define LOOK_UP(name, type)                                                 \
  EXPECT_NE(dlsym(library, #name), nullptr) << #name " is not exported"; \
  ++found;
  IT433TD_DEVICE_ENTRIES(LOOK_UP)
#undef LOOK_UP
  EXPECT_EQ(found, 10);
  // An inside function (C++ name) stays hidden.
  EXPECT_EQ(dlsym(library, "_ZN10megencom3210hexPreviewB5cxx11EPKvm"), nullptr);
  EXPECT_EQ(dlsym(library, "_ZN10megencom3210hexPreviewEPKvm"), nullptr);

  // The loaded copy works: opening an unknown name answers "no such port".
  auto open = reinterpret_cast<MEGENCOM32_AbrirDispositivo_fn>(
      dlsym(library, "MEGENCOM32_AbrirDispositivo"));
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(open("NOT-A-PORT", 0, 0, 0, 0, 0), MEGENCOM32_NO_SUCH_PORT);
  dlclose(library);
}

extern "C" int megencom32HeaderIsC(void);

TEST(DeviceExports, HeaderCompilesAsC) { EXPECT_EQ(megencom32HeaderIsC(), 1); }
