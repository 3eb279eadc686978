// Which Windows build a Wine test runs: the x86_64 DLLs under wine64, or the
// i686 DLLs (the width of the closed vendor libraries, and of real tills)
// under Wine's 32-bit loader, in the same prefix. ctest runs every Wine case
// once per width and hands it the width's folder and loader in the
// environment (it433td_wine_environment in tests/CMakeLists.txt).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace it433td::wine_test {

struct WineWidth {
  std::string name;           // IT433TD_WINE_WIDTH: "x86_64" or "i686"
  std::filesystem::path bin;  // IT433TD_WINE_BIN: the cross-build's DLLs and test programs
  std::string loader;         // IT433TD_WINE_LOADER: the Wine loader of that width
};

inline WineWidth wineWidth() {
  const char *name = std::getenv("IT433TD_WINE_WIDTH");
  const char *bin = std::getenv("IT433TD_WINE_BIN");
  const char *loader = std::getenv("IT433TD_WINE_LOADER");
  if (name == nullptr || bin == nullptr || loader == nullptr) {
    std::fprintf(stderr, "IT433TD_WINE_WIDTH, IT433TD_WINE_BIN and IT433TD_WINE_LOADER are "
                         "unset: run this through ctest, which sets them per width\n");
    std::exit(2);
  }
  return {name, bin, loader};
}

}  // namespace it433td::wine_test
