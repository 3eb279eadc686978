// port_link.cpp - which entries of a ports folder a virtual printer may
// take over, and the link itself.
#include "emulator/doors/port_link.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <system_error>
#include <vector>

namespace it433td::tools {

namespace fs = std::filesystem;

namespace {

bool equalIgnoringCase(const std::string &a, const std::string &b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

std::string readLink(const fs::path &link) {
  std::error_code ec;
  const fs::path target = fs::read_symlink(link, ec);
  return ec ? std::string() : target.string();
}

// "/proc/4711/fd/500" -> 4711; 0 for any other target.
long processOfDescriptorLink(const std::string &target) {
  unsigned long pid = 0;
  int fd = 0;
  int consumed = 0;
  if (std::sscanf(target.c_str(), "/proc/%lu/fd/%d%n", &pid, &fd, &consumed) != 2 ||
      static_cast<size_t>(consumed) != target.size())
    return 0;
  return static_cast<long>(pid);
}

enum class EntryKind {
  Stale,    // a stopped virtual printer's link: replaced
  Live,     // a running virtual printer's link: refused
  Foreign,  // anything else (a real device, a file): refused
};

EntryKind kindOf(const fs::path &entry, std::string *why) {
  std::error_code ec;
  if (!fs::is_symlink(entry, ec)) return EntryKind::Foreign;
  const std::string target = readLink(entry);
  // Older virtual printers linked to the slave itself; such a link outlives
  // its printer, so it is never trusted.
  if (target.rfind("/dev/pts/", 0) == 0) return EntryKind::Stale;
  const long pid = processOfDescriptorLink(target);
  if (pid == 0) return EntryKind::Foreign;
  const std::string terminal = readLink(target);  // gone with the process
  if (terminal.rfind("/dev/pts/", 0) != 0) return EntryKind::Stale;
  std::string name;
  std::ifstream(fs::path("/proc") / std::to_string(pid) / "comm") >> name;
  *why = "a running virtual printer (process " + std::to_string(pid) +
         (name.empty() ? std::string() : " " + name) + ", " + terminal + ")";
  return EntryKind::Live;
}

// The entries of the port link's folder that name the same port: the port
// lookup ignores case, so "com1" is COM1 too.
std::vector<fs::path> entriesNamedLike(const fs::path &link) {
  std::vector<fs::path> found;
  std::error_code ec;
  const fs::path folder = link.has_parent_path() ? link.parent_path() : fs::path(".");
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (equalIgnoringCase(it->path().filename().string(), link.filename().string()))
      found.push_back(it->path());
  return found;
}

}  // namespace

void checkPortLinkFree(const fs::path &link) {
  for (const fs::path &entry : entriesNamedLike(link)) {
    std::string live;
    const EntryKind kind = kindOf(entry, &live);
    if (kind == EntryKind::Stale) continue;
    const std::string target = readLink(entry);
    const std::string port = link.filename().string();
    if (kind == EntryKind::Live)
      throw PortNameTaken("the port " + port + " is served by " + live + ": " + entry.string() +
                          "; stop it or choose another port name");
    throw PortNameTaken("the port " + port + " is already mapped: " + entry.string() +
                        (target.empty() ? std::string() : " -> " + target) +
                        "; remove that entry or choose another port name");
  }
}

void makePortLink(const fs::path &link, const std::string &target) {
  std::error_code ec;
  std::string ignored;
  for (const fs::path &entry : entriesNamedLike(link))
    if (kindOf(entry, &ignored) == EntryKind::Stale) fs::remove(entry, ec);
  fs::create_symlink(target, link, ec);
  if (ec) throw std::system_error(ec, "symlink " + link.string());
}

void removePortLink(const fs::path &link, const std::string &target) {
  std::error_code ec;
  if (readLink(link) == target) fs::remove(link, ec);
}

}  // namespace it433td::tools
