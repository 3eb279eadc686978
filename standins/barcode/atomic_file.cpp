#include "atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>

#include "P32GeCodeBar.h"

namespace p32gecodebar {
namespace {

// A name no other writer picks: the process, a counter and the clock.
std::string temporaryName(const std::string &target) {
  static std::atomic<unsigned> counter{0};
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  char suffix[80];
  std::snprintf(suffix, sizeof suffix, ".tmp-%ld-%u-%llx", static_cast<long>(getpid()),
                counter.fetch_add(1), static_cast<unsigned long long>(ticks));
  return target + suffix;
}

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

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { close(); }
  FileDescriptor(const FileDescriptor &) = delete;
  FileDescriptor &operator=(const FileDescriptor &) = delete;
  int get() const { return fd_; }
  // Returns false if closing reported a failure (a late write error).
  bool close() {
    if (fd_ < 0) return true;
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0;
  }

 private:
  int fd_;
};

}  // namespace

int32_t StagedFile::write(const std::vector<uint8_t> &bytes) {
  discard();
  int fd = -1;
  // O_EXCL: never write into a file someone else made; retry on the rare clash.
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    temporary_ = temporaryName(target_);
    // 0666 less the umask, like any file the host would create itself.
    fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    temporary_.clear();
    return P32GECODEBAR_WRITE_FAILED;
  }
  FileDescriptor file(fd);
  // Flushed before the rename, so the target never names a file whose
  // bytes are still only in memory.
  const bool written = writeAll(file.get(), bytes.data(), bytes.size()) &&
                       ::fdatasync(file.get()) == 0 && file.close();
  if (!written) {
    discard();
    return P32GECODEBAR_WRITE_FAILED;
  }
  return P32GECODEBAR_OK;
}

int32_t StagedFile::keepPrevious() {
  struct stat info {};
  // Nothing there, or a folder (the rename onto it fails): nothing to keep.
  if (::lstat(target_.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return P32GECODEBAR_OK;
  for (int attempt = 0; attempt < 16; ++attempt) {
    previous_ = temporaryName(target_);
    // A second name for the same file: the target stays in place throughout.
    if (::link(target_.c_str(), previous_.c_str()) == 0) return P32GECODEBAR_OK;
    if (errno != EEXIST) break;
  }
  // No hard links here (or not allowed for this file): move it aside instead.
  previous_ = temporaryName(target_);
  if (std::rename(target_.c_str(), previous_.c_str()) == 0) {
    previousMoved_ = true;
    return P32GECODEBAR_OK;
  }
  const bool vanished = errno == ENOENT;  // gone meanwhile: nothing to keep
  previous_.clear();
  return vanished ? P32GECODEBAR_OK : P32GECODEBAR_WRITE_FAILED;
}

int32_t StagedFile::commit(bool keepPrevious) {
  if (temporary_.empty()) return P32GECODEBAR_WRITE_FAILED;
  if (keepPrevious && this->keepPrevious() != P32GECODEBAR_OK) {
    discard();
    return P32GECODEBAR_WRITE_FAILED;
  }
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
    discard();
    if (previousMoved_)
      restorePrevious();
    else
      forgetPrevious();  // the target still is the earlier file
    return P32GECODEBAR_WRITE_FAILED;
  }
  temporary_.clear();
  committed_ = true;
  return P32GECODEBAR_OK;
}

void StagedFile::rollback() {
  if (!committed_) return;
  committed_ = false;
  if (previous_.empty())
    ::unlink(target_.c_str());
  else
    restorePrevious();
}

void StagedFile::restorePrevious() {
  // Should the rename back fail, the earlier file stays under its kept name
  // rather than being removed with it.
  std::rename(previous_.c_str(), target_.c_str());
  previous_.clear();
  previousMoved_ = false;
}

void StagedFile::forgetPrevious() {
  if (previous_.empty()) return;
  ::unlink(previous_.c_str());
  previous_.clear();
  previousMoved_ = false;
}

void StagedFile::discard() {
  if (temporary_.empty()) return;
  ::unlink(temporary_.c_str());
  temporary_.clear();
}

int32_t readWholeFile(const std::string &path, size_t maxBytes, std::vector<uint8_t> &out) {
  // Non-blocking, so opening a FIFO with no writer (or a device) returns at
  // once instead of waiting; O_NOCTTY, so a tty never becomes the calling
  // process's controlling terminal. Only a regular file is read, and that
  // one blocking as usual.
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (file.get() < 0) return P32GECODEBAR_READ_FAILED;
  struct stat info {};
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return P32GECODEBAR_READ_FAILED;
  const int flags = ::fcntl(file.get(), F_GETFL);
  if (flags < 0 || ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
    return P32GECODEBAR_READ_FAILED;
  if (static_cast<uint64_t>(info.st_size) > maxBytes) return P32GECODEBAR_BITMAP_TOO_LARGE;

  // Read to the end rather than trusting the size: the file may change.
  out.clear();
  uint8_t chunk[65536];
  for (;;) {
    const ssize_t got = ::read(file.get(), chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      return P32GECODEBAR_READ_FAILED;
    }
    if (got == 0) break;
    if (out.size() + static_cast<size_t>(got) > maxBytes) return P32GECODEBAR_BITMAP_TOO_LARGE;
    out.insert(out.end(), chunk, chunk + got);
  }
  return P32GECODEBAR_OK;
}

}  // namespace p32gecodebar
