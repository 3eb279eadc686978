// ports_folder.h - a folder of port names (IT433TD_PORTS): each entry is a
// symbolic link named after a port ("COM1") that leads to a device, here the
// virtual printer's pseudo-terminal. The module and the device library look
// port names up there before anything else.
#pragma once

#include <filesystem>
#include <string>

namespace it433td::tools {

class PortsFolder {
public:
  // A new folder of our own under the temporary folder, removed at the end.
  static PortsFolder temporary();
  // A folder the user named; created if missing, never removed.
  static PortsFolder given(const std::filesystem::path &folder);

  PortsFolder(PortsFolder &&other) noexcept;
  PortsFolder &operator=(PortsFolder &&) = delete;
  ~PortsFolder();

  const std::filesystem::path &path() const { return path_; }
  // Made for this run (and removed at its end), not named by the user.
  bool isTemporary() const { return owned_; }
  std::filesystem::path entryFor(const std::string &port) const { return path_ / port; }

  // Sets IT433TD_PORTS for this process. Must come before the module's
  // first use of a port name (the device library reads it at every open).
  void useInThisProcess() const;

private:
  PortsFolder(std::filesystem::path path, bool owned) : path_(std::move(path)), owned_(owned) {}
  std::filesystem::path path_;
  bool owned_ = false;
};

// A port name usable as a file name in the folder: not empty, no '/', not
// "." or "..", at most 255 bytes. Throws ToolError (kExitBadInput) otherwise.
void checkPortNameForFolder(const std::string &port);

// The port name for a message, quoted; a name too long to read is shortened
// and its length given.
std::string shownPortName(const std::string &port);

// How the device library resolves `port` in this process, for a "no such
// port" failure: the path it resolved to (or that it did not resolve), and
// which IT433TD_PORTS folder was read.
std::string explainPortName(const std::string &port);

}  // namespace it433td::tools
