#include "port_names.h"

#include <dirent.h>

#include <cctype>
#include <cstdlib>
#include <memory>

namespace it433td {
namespace {

bool equalIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// The folder's entry named `name`, ignoring case. `readable` says whether
// the folder could be listed at all.
std::optional<std::string> mappedEntry(std::string_view name, const char *folder, bool &readable) {
  std::unique_ptr<DIR, int (*)(DIR *)> dir(opendir(folder), closedir);
  readable = dir != nullptr;
  if (!dir || name.empty()) return std::nullopt;
  while (const dirent *entry = readdir(dir.get())) {
    std::string_view entryName = entry->d_name;
    if (entryName == "." || entryName == "..") continue;
    if (equalIgnoringCase(entryName, name)) return std::string(folder) + "/" + entry->d_name;
  }
  return std::nullopt;
}

// "COM3" with prefix "COM" gives 3; anything but a prefix and digits gives 0.
unsigned long deviceNumber(std::string_view name, std::string_view prefix) {
  if (name.size() <= prefix.size() || name.size() > prefix.size() + 6) return 0;
  if (!equalIgnoringCase(name.substr(0, prefix.size()), prefix)) return 0;
  unsigned long n = 0;
  for (char c : name.substr(prefix.size())) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
    n = n * 10 + static_cast<unsigned long>(c - '0');
  }
  return n;
}

}  // namespace

std::optional<std::string> resolvePortIn(std::string_view name, const char *portsFolder,
                                         PortsFolderSource source) {
  bool fixedNames = true;
  if (portsFolder && *portsFolder) {
    bool readable = false;
    if (auto mapped = mappedEntry(name, portsFolder, readable)) return mapped;
    // A named folder that is not there (a typo, an unmounted disk) keeps the
    // fixed device names shut: only paths still resolve.
    fixedNames = readable || source == PortsFolderSource::DefaultFolder;
  }
  if (name.find('/') != std::string_view::npos) return std::string(name);
  if (!fixedNames) return std::nullopt;
  if (unsigned long n = deviceNumber(name, "COM")) return "/dev/ttyS" + std::to_string(n - 1);
  if (unsigned long n = deviceNumber(name, "LPT")) return "/dev/lp" + std::to_string(n - 1);
  return std::nullopt;
}

std::optional<std::string> resolvePort(std::string_view name) {
  const char *folder = std::getenv(kPortsFolderVariable);
  if (!folder) return resolvePortIn(name, kDefaultPortsFolder);
  return resolvePortIn(name, folder, PortsFolderSource::Named);
}

}  // namespace it433td
