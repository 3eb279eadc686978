// close_fd.h - a door's descriptor closed once, whoever gets to it first.
#pragma once

#include <unistd.h>

namespace it433td::tools {

inline void closeFd(int &fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace it433td::tools
