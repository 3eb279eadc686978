// Port names on POSIX: how "COM1", "LPT2", a path or a mapped name becomes a
// device path. The module (for the raw copy of a QR printer file) and the
// device stand-in resolve names the same way, like Wine's dosdevices:
//
//   1. An entry of the folder named by IT433TD_PORTS (default
//      /etc/it433td/ports) whose name equals the port name, ignoring case:
//      the port is that entry (usually a symlink to a device).
//   2. A name containing '/': a path, used as it is.
//   3. COMn is /dev/ttyS(n-1), LPTn is /dev/lp(n-1), ignoring case (n >= 1).
//   4. Anything else does not resolve.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace it433td {

inline constexpr const char *kPortsFolderVariable = "IT433TD_PORTS";
inline constexpr const char *kDefaultPortsFolder = "/etc/it433td/ports";

// The device path for `name`, or nothing when the name does not resolve.
std::optional<std::string> resolve_port(std::string_view name);

// The same, with the mapping folder given (null or "" means: no folder).
std::optional<std::string> resolve_port_in(std::string_view name, const char *ports_folder);

}  // namespace it433td
