#include "fake_vendor.h"

FAKE_API FakeVendor *fake_vendor() {
  static FakeVendor state;
  return &state;
}
