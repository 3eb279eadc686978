// output_folder.cpp - create_directories, then access(2) for the right to
// make files there (also false on a read-only file system).
#include "common/output_folder.h"
#include "common/shown_text.h"

#include "common/tool_error.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace it433td::tools {

namespace fs = std::filesystem;

std::string prepareFolder(const fs::path &folder) {
  std::error_code ec;
  const fs::file_status status = fs::status(folder, ec);
  if (fs::exists(status) && !fs::is_directory(status)) return "is a file, not a folder";
  if (!fs::exists(status)) {
    fs::create_directories(folder, ec);
    if (ec) return "cannot be created (" + ec.message() + ")";
  }
  if (::access(folder.c_str(), W_OK | X_OK) != 0)
    return std::string("cannot be written (") + std::strerror(errno) + ")";
  return "";
}

void prepareOutputFolder(const fs::path &folder) {
  const std::string problem = prepareFolder(folder);
  if (!problem.empty())
    throw ToolError(kExitBadInput, "--out " + shownText(folder.string()) + ": " + problem);
}

}  // namespace it433td::tools
