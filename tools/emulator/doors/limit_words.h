// limit_words.h - a door's limits in words, for its start line and its log:
// "60 s", "1500 ms"; "16 MiB", "512 KiB", "1000 bytes".
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace it433td::tools {

std::string durationWords(std::chrono::milliseconds duration);
std::string sizeWords(std::uint64_t bytes);

}  // namespace it433td::tools
