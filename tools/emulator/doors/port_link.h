// port_link.h - the entry of an IT433TD_PORTS folder that leads a port name
// to the virtual printer's pseudo-terminal.
//
// The link leads to the door's own descriptor of the terminal,
// /proc/PID/fd/N, not to /dev/pts/N: it stops leading anywhere the moment
// the door's process ends, however it ends (SIGKILL included), so a link
// left behind can never reach a terminal that another program gets under
// the same number later.
#pragma once

#include <filesystem>
#include <stdexcept>
#include <string>

namespace it433td::tools {

// The port link's name is already mapped to something that is not a
// stopped virtual printer's link (e.g. COM1 -> /dev/ttyUSB0, or a virtual
// printer that is still running).
class PortNameTaken : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The lowest descriptor number a port link leads to. A high number makes
// it unlikely that a later process given the same process ID has a
// terminal open under it.
constexpr int kLinkedDescriptorFloor = 500;

// Throws PortNameTaken if an entry of the link's folder names the same
// port, ignoring case as the port lookup does, and is anything but a
// stopped virtual printer's link (into /dev/pts, or to the descriptor of a
// process that is gone).
void checkPortLinkFree(const std::filesystem::path &link);

// Removes the stopped virtual printers' links of that name, whatever their
// case (so the lookup cannot find one of them first), and links `link` to
// `target`. Throws std::system_error when the link cannot be made.
void makePortLink(const std::filesystem::path &link, const std::string &target);

// Removes the link if it still leads to `target`: another virtual printer
// may have taken the name since.
void removePortLink(const std::filesystem::path &link, const std::string &target);

}  // namespace it433td::tools
