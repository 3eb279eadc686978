// port_holders.cpp - /proc/PID/fd/* read for links to the device.
#include "emulator/doors/port_holders.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace it433td::tools {

std::vector<std::string> processesHolding(const std::string &device) {
  namespace fs = std::filesystem;
  std::vector<std::string> holders;
  const std::string self = std::to_string(::getpid());
  std::error_code ec;
  for (fs::directory_iterator process("/proc", ec), end; !ec && process != end;
       process.increment(ec)) {
    const std::string pid = process->path().filename().string();
    if (pid == self || pid.empty() || !std::isdigit(static_cast<unsigned char>(pid[0]))) continue;
    std::error_code unreadable;
    for (fs::directory_iterator fd(process->path() / "fd", unreadable), last;
         !unreadable && fd != last; fd.increment(unreadable)) {
      std::error_code gone;
      if (fs::read_symlink(fd->path(), gone).string() != device) continue;
      std::string name;
      std::getline(std::ifstream(process->path() / "comm"), name);
      holders.push_back("process " + pid + (name.empty() ? "" : " (" + name + ")"));
      break;
    }
  }
  return holders;
}

}  // namespace it433td::tools
