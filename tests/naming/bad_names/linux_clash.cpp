// Read in one unit with linux_side.cpp, whose kShared clashes with this one.
#include "bad_names.h"

namespace {
constexpr int kShared = 1;
int Clash_Side = kShared;
}  // namespace

int clashSide() { return Clash_Side + Header_Side; }
