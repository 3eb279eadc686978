// The running executable's full path on POSIX systems, read from the link
// /proc/self/exe: the platform seam locates the host's Dados folder with it,
// and the it433td tool finds the module and its own folder. Header-only, so
// that the tool needs none of the seam.
#pragma once

#include <unistd.h>

#include <string>

namespace it433td {

// "" when the link cannot be read (or names a path longer than PATH_MAX).
inline std::string executablePath() {
  std::string path(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || static_cast<size_t>(length) >= path.size()) return {};
  path.resize(static_cast<size_t>(length));
  return path;
}

}  // namespace it433td
