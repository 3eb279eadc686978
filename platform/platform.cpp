#include "platform.h"

namespace it433td {

// The table in force starts as the native one; tests may swap entries.
Platform &platform() {
  static Platform current = nativePlatform();
  return current;
}

}  // namespace it433td
