// scratch_folder.h - a fresh folder for a test's receipts, removed at the
// end, and a file read whole.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

namespace printer_test {

inline std::filesystem::path makeTempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "it433td-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) return {};
  return pattern;
}

struct TempFolder {
  std::filesystem::path path = makeTempFolder();
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

inline std::string readFile(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace printer_test
