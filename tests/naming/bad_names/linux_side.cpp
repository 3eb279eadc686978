// A Linux-only file: its name is found although kShared clashes with
// linux_clash.cpp in their common unit.
#include "bad_names.h"

namespace {
constexpr int kShared = 2;
int Linux_Side = kShared;
}  // namespace

int linuxSide() { return Linux_Side + Header_Side; }
