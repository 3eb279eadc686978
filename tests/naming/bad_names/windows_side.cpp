// A Windows-only file, compiled by the cross-compiler alone.
#include <windows.h>

namespace {
DWORD Windows_Side = 0;
}  // namespace

DWORD windowsSide() { return Windows_Side; }
