// How device_runner_win.exe and the device tests that drive it
// (tests/standins/device/wine_backend.cpp) spell bytes in a request or an
// answer line: "~" for a null pointer, "x" and the bytes in hex otherwise.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace device_requests {

inline constexpr const char *kNull = "~";

inline std::string hexToken(const void *bytes, size_t count) {
  static const char kDigits[] = "0123456789ABCDEF";
  const auto *p = static_cast<const unsigned char *>(bytes);
  std::string token = "x";
  for (size_t i = 0; i < count; ++i) {
    token += kDigits[p[i] >> 4];
    token += kDigits[p[i] & 0x0F];
  }
  return token;
}

// The bytes of a token; nothing for "~" (or a missing token).
inline std::optional<std::string> bytesOf(const std::string &token) {
  if (token.empty() || token == kNull) return std::nullopt;
  std::string bytes;
  for (size_t i = 1; i + 1 < token.size(); i += 2)
    bytes += static_cast<char>(std::stoi(token.substr(i, 2), nullptr, 16));
  return bytes;
}

}  // namespace device_requests
