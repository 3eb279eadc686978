// control_bytes.h - the ASCII control bytes that both printer models'
// commands and text controls are made of, by their ASCII names.
#pragma once

#include <cstdint>

namespace it433td::printer {

inline constexpr std::uint8_t kEOT = 0x04, kENQ = 0x05, kHT = 0x09, kLF = 0x0A, kFF = 0x0C,
                              kCR = 0x0D, kSI = 0x0F, kDLE = 0x10, kDC2 = 0x12, kDC4 = 0x14,
                              kCAN = 0x18, kESC = 0x1B, kFS = 0x1C, kGS = 0x1D;

}  // namespace it433td::printer
