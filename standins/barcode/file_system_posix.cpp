// The staged files' file operations on POSIX systems.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "file_system.h"

namespace p32gecodebar {
namespace filesystem {
namespace {

bool writeAll(int fd, const uint8_t *bytes, size_t count) {
  while (count > 0) {
    const ssize_t done = ::write(fd, bytes, count);
    if (done < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += done;
    count -= static_cast<size_t>(done);
  }
  return true;
}

}  // namespace

unsigned long processId() { return static_cast<unsigned long>(::getpid()); }

const char kFolderSeparators[] = "/";

CreateResult createNewFile(const std::string &path, const std::vector<uint8_t> &bytes) {
  // O_EXCL: never write into a file someone else made. 0666 less the umask,
  // like any file the host would create itself.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) return errno == EEXIST ? CreateResult::NameTaken : CreateResult::NotCreated;
  // fdatasync: the bytes reach the disk before the file is renamed onto its
  // target. A failing close reports a late write error.
  const bool written = writeAll(fd, bytes.data(), bytes.size()) && ::fdatasync(fd) == 0;
  const bool closed = ::close(fd) == 0;
  return written && closed ? CreateResult::Written : CreateResult::WriteFailed;
}

MoveResult moveFile(const std::string &from, const std::string &to, bool /*replaceExisting*/) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return MoveResult::Moved;
  return errno == ENOENT ? MoveResult::SourceMissing : MoveResult::Failed;
}

LinkResult hardLink(const std::string &existing, const std::string &link) {
  if (::link(existing.c_str(), link.c_str()) == 0) return LinkResult::Linked;
  return errno == EEXIST ? LinkResult::NameTaken : LinkResult::Failed;
}

void removeFile(const std::string &path) { ::unlink(path.c_str()); }

bool nonFolderExists(const std::string &path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

RegularFile::~RegularFile() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

bool RegularFile::open(const std::string &path) {
  // Non-blocking, so opening a FIFO with no writer (or a device) returns at
  // once instead of waiting; O_NOCTTY, so a tty never becomes the calling
  // process's controlling terminal. Only a regular file is read, and that
  // one blocking as usual.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  handle_ = fd;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return false;
  size_ = static_cast<uint64_t>(info.st_size);
  return true;
}

long long RegularFile::read(uint8_t *buffer, size_t count) {
  for (;;) {
    const ssize_t got = ::read(static_cast<int>(handle_), buffer, count);
    if (got >= 0 || errno != EINTR) return got;
  }
}

}  // namespace filesystem
}  // namespace p32gecodebar
