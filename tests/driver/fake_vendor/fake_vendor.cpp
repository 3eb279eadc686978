#include "fake_vendor.h"

FAKE_API FakeVendor *fakeVendor() {
  static FakeVendor state;
  return &state;
}
