#include "port_names.h"

#include <dirent.h>

#include <cctype>
#include <cstdlib>
#include <memory>

namespace it433td {
namespace {

bool equal_ignoring_case(std::string_view a, std::string_view b) {
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
std::optional<std::string> mapped_entry(std::string_view name, const char *folder, bool &readable) {
  std::unique_ptr<DIR, int (*)(DIR *)> dir(opendir(folder), closedir);
  readable = dir != nullptr;
  if (!dir || name.empty()) return std::nullopt;
  while (const dirent *entry = readdir(dir.get())) {
    std::string_view entry_name = entry->d_name;
    if (entry_name == "." || entry_name == "..") continue;
    if (equal_ignoring_case(entry_name, name)) return std::string(folder) + "/" + entry->d_name;
  }
  return std::nullopt;
}

// "COM3" with prefix "COM" gives 3; anything but a prefix and digits gives 0.
unsigned long device_number(std::string_view name, std::string_view prefix) {
  if (name.size() <= prefix.size() || name.size() > prefix.size() + 6) return 0;
  if (!equal_ignoring_case(name.substr(0, prefix.size()), prefix)) return 0;
  unsigned long n = 0;
  for (char c : name.substr(prefix.size())) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
    n = n * 10 + static_cast<unsigned long>(c - '0');
  }
  return n;
}

}  // namespace

std::optional<std::string> resolve_port_in(std::string_view name, const char *ports_folder,
                                           PortsFolderSource source) {
  bool fixed_names = true;
  if (ports_folder && *ports_folder) {
    bool readable = false;
    if (auto mapped = mapped_entry(name, ports_folder, readable)) return mapped;
    // A named folder that is not there (a typo, an unmounted disk) keeps the
    // fixed device names shut: only paths still resolve.
    fixed_names = readable || source == PortsFolderSource::default_folder;
  }
  if (name.find('/') != std::string_view::npos) return std::string(name);
  if (!fixed_names) return std::nullopt;
  if (unsigned long n = device_number(name, "COM")) return "/dev/ttyS" + std::to_string(n - 1);
  if (unsigned long n = device_number(name, "LPT")) return "/dev/lp" + std::to_string(n - 1);
  return std::nullopt;
}

std::optional<std::string> resolve_port(std::string_view name) {
  const char *folder = std::getenv(kPortsFolderVariable);
  if (!folder) return resolve_port_in(name, kDefaultPortsFolder);
  return resolve_port_in(name, folder, PortsFolderSource::named);
}

}  // namespace it433td
