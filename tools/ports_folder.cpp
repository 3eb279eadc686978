// ports_folder.cpp - temporary and given IT433TD_PORTS folders.
#include "ports_folder.h"

#include "port_names.h"
#include "tool_error.h"

#include <cstdlib>
#include <unistd.h>

namespace it433td::tools {

namespace fs = std::filesystem;

PortsFolder PortsFolder::temporary() {
  std::string pattern = (fs::temp_directory_path() / "it433td-ports-XXXXXX").string();
  if (!::mkdtemp(pattern.data()))
    throw ToolError(kExitNoModule, "cannot create a temporary ports folder in " +
                                       fs::temp_directory_path().string());
  return PortsFolder(pattern, true);
}

PortsFolder PortsFolder::given(const fs::path &folder) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (!fs::is_directory(folder))
    throw ToolError(kExitBadInput, "cannot use " + folder.string() + " as the ports folder");
  return PortsFolder(fs::absolute(folder), false);
}

PortsFolder::PortsFolder(PortsFolder &&other) noexcept
    : path_(std::move(other.path_)), owned_(other.owned_) {
  other.owned_ = false;
}

PortsFolder::~PortsFolder() {
  if (!owned_) return;
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void PortsFolder::useInThisProcess() const {
  ::setenv(kPortsFolderVariable, path_.c_str(), 1);
}

void checkPortNameForFolder(const std::string &port) {
  if (port.empty() || port == "." || port == ".." || port.find('/') != std::string::npos)
    throw ToolError(kExitBadInput,
                    "\"" + port + "\" cannot name a port in the ports folder (use a name like COM1)");
}

}  // namespace it433td::tools
