// limit_words.cpp - limits in the units they were given in.
#include "emulator/doors/limit_words.h"

namespace it433td::tools {

std::string durationWords(std::chrono::milliseconds duration) {
  const auto ms = duration.count();
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

std::string sizeWords(std::uint64_t bytes) {
  constexpr std::uint64_t kKiB = 1024, kMiB = kKiB * 1024;
  if (bytes >= kMiB && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  if (bytes >= kKiB && bytes % kKiB == 0) return std::to_string(bytes / kKiB) + " KiB";
  return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

}  // namespace it433td::tools
