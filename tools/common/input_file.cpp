// input_file.cpp - bounded reads with open/read, so errors carry errno.
#include "common/input_file.h"
#include "common/shown_text.h"

#include "common/tool_error.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace it433td::tools {

namespace {

std::string because(const std::string &name, int error) {
  return name + ": cannot be read (" + std::strerror(error) + ")";
}

}  // namespace

std::string readInputFile(const std::string &file, std::size_t limit, const std::string &tooLarge) {
  const bool standardInput = file == "-";
  const std::string name = standardInput ? "standard input" : shownText(file);
  const int fd = standardInput ? STDIN_FILENO : ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw ToolError(kExitBadInput, because(name, errno));
  struct Closer {
    int fd;
    bool owned;
    ~Closer() {
      if (owned) ::close(fd);
    }
  } closer{fd, !standardInput};

  struct stat info {};
  if (::fstat(fd, &info) != 0) throw ToolError(kExitBadInput, because(name, errno));
  if (S_ISDIR(info.st_mode)) throw ToolError(kExitBadInput, name + ": is a folder, not a file");
  if (S_ISREG(info.st_mode) && static_cast<std::uintmax_t>(info.st_size) > limit)
    throw ToolError(kExitBadInput, name + ": " + tooLarge);

  std::string content;
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw ToolError(kExitBadInput, because(name, errno));
    if (got == 0) return content;
    // Checked before appending: memory never holds more than the limit.
    if (static_cast<std::size_t>(got) > limit - content.size())
      throw ToolError(kExitBadInput, name + ": " + tooLarge);
    content.append(buffer, static_cast<std::size_t>(got));
  }
}

}  // namespace it433td::tools
