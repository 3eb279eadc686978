// ports_folder.cpp - temporary and given IT433TD_PORTS folders.
#include "common/ports_folder.h"
#include "common/shown_text.h"

#include "port_names.h"
#include "common/tool_error.h"

#include <climits>
#include <cstdlib>
#include <optional>
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
    throw ToolError(kExitBadInput, "cannot use " + shownText(folder.string()) + " as the ports folder");
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
  if (port.empty() || port == "." || port == ".." || port.find('/') != std::string::npos ||
      port.size() > NAME_MAX)
    throw ToolError(kExitBadInput, shownPortName(port) +
                                       " cannot name a port in the ports folder (use a name like COM1)");
}

std::string shownPortName(const std::string &port) {
  constexpr std::size_t kShown = 40;
  if (port.size() <= kShown + 20) return "\"" + shownText(port) + "\"";
  return "\"" + shownText(port.substr(0, kShown)) + "...\" (" + std::to_string(port.size()) +
         " bytes)";
}

std::string explainPortName(const std::string &port) {
  // The same reading of the variable as the device library's.
  const char *variable = std::getenv(kPortsFolderVariable);
  const std::string name = kPortsFolderVariable;
  std::string folderRead;
  if (variable && !*variable) {
    folderRead = "no ports folder was read (" + name + " is empty)";
  } else {
    const std::string folder = variable ? variable : kDefaultPortsFolder;
    std::error_code ec;
    const bool there = fs::is_directory(folder, ec);
    folderRead = "ports folder read: " + shownText(folder) +
                 (variable ? " (" + name : " (the default: " + name + " is not set") +
                 (there ? ")" : "; it does not exist)");
    if (!there && variable) folderRead += ", so COMn and LPTn name no device either";
  }
  const std::optional<std::string> path = resolvePort(port);
  if (!path)
    return "port " + shownPortName(port) +
           " does not resolve: no entry of that name in the ports folder, not a path, "
           "not COMn or LPTn; " + folderRead;
  std::error_code ec;
  std::string where = shownPortName(*path);
  if (fs::is_symlink(fs::symlink_status(*path, ec)))
    where += ", a link to " + shownPortName(fs::read_symlink(*path, ec).string());
  if (!fs::exists(*path, ec)) where += " (" + (ec ? ec.message() : "nothing is there") + ")";
  return "port " + shownPortName(port) + " resolved to " + where + "; " + folderRead;
}

}  // namespace it433td::tools
