// Port names on POSIX: how "COM1", "LPT2", a path or a mapped name becomes a
// device path. The module (for the raw copy of a QR printer file) and the
// device stand-in resolve names the same way, like Wine's dosdevices:
//
//   1. An entry of the folder named by IT433TD_PORTS (default
//      /etc/it433td/ports) whose name equals the port name, ignoring case:
//      the port is that entry (usually a symlink to a device).
//   2. A name containing '/': a path, used as it is.
//   3. COMn is /dev/ttyS(n-1), LPTn is /dev/lp(n-1), ignoring case (n >= 1);
//      not when IT433TD_PORTS names a folder that cannot be read: a mistyped
//      folder must never send a receipt to real hardware.
//   4. Anything else does not resolve.
//
// IT433TD_PORTS set but empty means: no folder at all, the fixed names apply.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace it433td {

inline constexpr const char *kPortsFolderVariable = "IT433TD_PORTS";
inline constexpr const char *kDefaultPortsFolder = "/etc/it433td/ports";

// How the ports folder was chosen: the default, which may well be missing,
// or named by IT433TD_PORTS, which must then be a folder that can be read.
enum class PortsFolderSource { DefaultFolder, Named };

// The device path for `name`, or nothing when the name does not resolve.
std::optional<std::string> resolvePort(std::string_view name);

// The same, with the mapping folder given (null or "" means: no folder).
std::optional<std::string> resolvePortIn(
    std::string_view name, const char *portsFolder,
    PortsFolderSource source = PortsFolderSource::DefaultFolder);

}  // namespace it433td
