// The device library's system side on POSIX: termios, poll and flock.
//
// Map of this file: how system errors become statuses; opening a device (what
// kind of file the name leads to, how each kind is opened, the exclusive hold
// of a tty); waiting on a descriptor; the SIGPIPE guard for FIFOs; then the
// functions of port_io.h in its order. Line settings live in
// line_settings_posix.cpp. Every descriptor is nonblocking and close-on-exec,
// and every wait is a poll bounded by a Deadline.
#include "port_io.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <optional>

#include "MEGENCOM32.h"
#include "deadline.h"
#include "line_settings_posix.h"
#include "port_names.h"

namespace megencom32 {
namespace {

int fdOf(const Port &port) { return static_cast<int>(port.handle); }

int32_t openFailure(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:   // a FIFO nobody reads, or a device node with no device behind it
    case ENODEV:
      return MEGENCOM32_NO_SUCH_PORT;
    case EBUSY:   // another holder's TIOCEXCL, or a USB printer already open
      return MEGENCOM32_BUSY;
    default:
      return MEGENCOM32_IO_ERROR;
  }
}

int openRetrying(const char *path, int flags) {
  int fd;
  do {
    fd = ::open(path, flags | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Root is not stopped by TIOCEXCL, so the flock is what really keeps a second
// holder out: another open of the same tty, in this process or another (the
// raw copy of a QR printer file takes the same flock), answers busy.
int32_t takeExclusiveHold(int fd) {
  int rc;
  do {
    rc = flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return errno == EWOULDBLOCK ? MEGENCOM32_BUSY : MEGENCOM32_IO_ERROR;
  if (ioctl(fd, TIOCEXCL) != 0) return MEGENCOM32_IO_ERROR;
  return MEGENCOM32_OK;
}

// `held`: this descriptor took the exclusive hold, so it lets go of it.
void closeDevice(int fd, bool held) {
  if (held) ioctl(fd, TIOCNXCL);
  flock(fd, LOCK_UN);
  ::close(fd);  // not retried on EINTR: on Linux the descriptor is gone anyway
}

int32_t ioFailure(int err) {
  switch (err) {
    case EIO:    // a tty hung up, a pty whose master closed
    case EPIPE:  // a FIFO whose reader went away
      return MEGENCOM32_HANGUP;
    case ENODEV:
    case ENXIO:
      return MEGENCOM32_UNPLUGGED;
    default:
      return MEGENCOM32_IO_ERROR;
  }
}

// Waits until `events` are ready on the port or the deadline passes. Returns
// OK when the next read or write should be tried: that call, not the poll,
// says what went wrong, so a hang-up with data still to read is read first.
int32_t waitReady(const Port &port, short events, const Deadline &deadline) {
  for (;;) {
    pollfd p{fdOf(port), events, 0};
    int rc = poll(&p, 1, deadline.remainingMs());
    if (rc < 0) {
      if (errno == EINTR) continue;
      return MEGENCOM32_IO_ERROR;
    }
    if (rc == 0) return MEGENCOM32_TIMEOUT;
    if (p.revents & events) return MEGENCOM32_OK;
    if (p.revents & POLLNVAL) return MEGENCOM32_IO_ERROR;
    if (p.revents & POLLHUP) return MEGENCOM32_HANGUP;
    // POLLERR on a FIFO's write end: the reader is gone.
    if (p.revents & POLLERR)
      return port.kind == DeviceKind::Fifo ? MEGENCOM32_HANGUP : MEGENCOM32_IO_ERROR;
  }
}

// A write to a FIFO whose reader left raises SIGPIPE, which would end the
// host. Blocked around the write and taken back if it was raised, so the
// write answers EPIPE instead. The mask is per thread; other threads keep
// theirs.
class SigpipeGuard {
 public:
  explicit SigpipeGuard(bool active) : active_(active) {
    if (!active_) return;
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &saved_);
  }
  ~SigpipeGuard() {
    if (!active_) return;
    if (raised_ && !wasPending_) {
      timespec zero{};
      while (sigtimedwait(&pipe_, nullptr, &zero) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
  }
  void noteBrokenPipe() { raised_ = true; }

 private:
  bool active_;
  bool wasPending_ = false;
  bool raised_ = false;
  sigset_t pipe_{};
  sigset_t saved_{};
};

}  // namespace

int32_t openDevice(const std::string &name, const LineSettings &settings, Port &port) {
  std::optional<std::string> resolved = it433td::resolvePort(name);
  if (!resolved) return MEGENCOM32_NO_SUCH_PORT;
  const std::string &path = *resolved;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return openFailure(errno);

  // FIFOs and regular files are written only: a read end of our own would
  // swallow our output, and a status request must never land in a capture
  // file. A regular file must exist already (no stray file appears in /dev
  // for a mistyped device) and is appended to, never truncated, so a job's
  // earlier output survives a close and reopen.
  int flags = O_RDWR;
  DeviceKind kind = DeviceKind::CharDevice;
  if (S_ISFIFO(info.st_mode)) {
    kind = DeviceKind::Fifo;
    flags = O_WRONLY;
  } else if (S_ISREG(info.st_mode)) {
    kind = DeviceKind::RegularFile;
    flags = O_WRONLY | O_APPEND;
  } else if (S_ISDIR(info.st_mode)) {
    return MEGENCOM32_NO_SUCH_PORT;
  }

  int fd = openRetrying(path.c_str(), flags);
  if (fd < 0) return openFailure(errno);
  const bool terminal = isatty(fd) == 1;
  if (terminal) kind = DeviceKind::Terminal;

  int32_t status = MEGENCOM32_OK;
  bool held = false;  // exclusive mode belongs to the tty: only its holder may clear it
  if (terminal) {
    status = takeExclusiveHold(fd);
    held = status == MEGENCOM32_OK;
    if (held)
      status = settings.given() ? applyLineSettings(fd, settings, isPseudoTerminal(fd))
                                 : makeRawKeepingLine(fd);
  } else if (settings.given()) {
    // Nothing to configure on a file, FIFO or USB printer; the values must
    // still be ones a serial line could take.
    status = checkLineSettings(settings);
  }
  if (status != MEGENCOM32_OK) {
    closeDevice(fd, held);
    return status;
  }

  port.handle = fd;
  port.path = path;
  port.kind = kind;
  port.readable = (flags & O_ACCMODE) == O_RDWR;
  return MEGENCOM32_OK;
}

int32_t releaseDevice(Port &port) {
  if (!port.isOpen()) return MEGENCOM32_NOT_OPEN;
  const bool terminal = port.kind == DeviceKind::Terminal;
  // A FIFO's unread bytes stay with its reader after we close: only a tty
  // has output that closing could lose.
  int32_t status = terminal ? waitOutputDrained(port, port.writeTimeoutMs) : MEGENCOM32_OK;
  // Output still queued would hold close() in the kernel for the tty's
  // closing wait (30 s on a serial port by default): discard it.
  if (status != MEGENCOM32_OK && terminal) tcflush(fdOf(port), TCOFLUSH);
  if (status != MEGENCOM32_TIMEOUT) status = MEGENCOM32_OK;  // the line's fate shows on the next open
  closeDevice(fdOf(port), terminal);
  port.handle = kNoHandle;
  return status;
}

// A tty's timeouts are this library's own: every wait is a poll.
int32_t applyTimeouts(const Port &) { return MEGENCOM32_OK; }

int32_t writeBytes(const Port &port, const uint8_t *bytes, size_t count, size_t &written,
                   int timeoutMs) {
  written = 0;
  const Deadline deadline(timeoutMs);
  SigpipeGuard guard(port.kind == DeviceKind::Fifo);
  while (written < count) {
    ssize_t n = ::write(fdOf(port), bytes + written, count - written);
    if (n > 0) {
      written += static_cast<size_t>(n);
      continue;
    }
    if (n < 0) {
      int err = errno;
      if (err == EINTR) continue;
      if (err == EPIPE) guard.noteBrokenPipe();
      if (err != EAGAIN && err != EWOULDBLOCK) return ioFailure(err);
    }
    // The device's buffer is full: wait for room, at most until the deadline.
    int32_t ready = waitReady(port, POLLOUT, deadline);
    if (ready != MEGENCOM32_OK) return ready;
  }
  return MEGENCOM32_OK;
}

int32_t readBytes(const Port &port, uint8_t *buffer, size_t capacity, size_t &got,
                  int timeoutMs) {
  got = 0;
  const Deadline deadline(timeoutMs);
  for (;;) {
    ssize_t n = ::read(fdOf(port), buffer, capacity);
    if (n > 0) {
      got = static_cast<size_t>(n);
      return MEGENCOM32_OK;
    }
    // A nonblocking tty with no data answers EAGAIN; 0 is end of line.
    if (n == 0) return MEGENCOM32_HANGUP;
    int err = errno;
    if (err == EINTR) continue;
    if (err != EAGAIN && err != EWOULDBLOCK) return ioFailure(err);
    int32_t ready = waitReady(port, POLLIN, deadline);
    if (ready != MEGENCOM32_OK) return ready;
  }
}

void discardInput(const Port &port) {
  if (!port.readable) return;
  if (port.kind == DeviceKind::Terminal) tcflush(fdOf(port), TCIFLUSH);
  // Also read off what the flush cannot reach (other devices, a race with a
  // byte arriving just now), bounded so a chattering device cannot hold us.
  uint8_t scratch[256];
  for (int rounds = 0; rounds < 256; ++rounds) {
    ssize_t n = ::read(fdOf(port), scratch, sizeof scratch);
    if (n > 0) continue;
    if (n < 0 && errno == EINTR) continue;
    break;
  }
}

int32_t discardInputAndOutput(const Port &port) {
  if (port.kind != DeviceKind::Terminal) {
    discardInput(port);
    return MEGENCOM32_OK;
  }
  return tcflush(fdOf(port), TCIOFLUSH) == 0 ? MEGENCOM32_OK : ioFailure(errno);
}

int32_t waitOutputDrained(const Port &port, int timeoutMs) {
  unsigned long query;
  if (port.kind == DeviceKind::Terminal)
    query = TIOCOUTQ;
  else if (port.kind == DeviceKind::Fifo)
    query = FIONREAD;
  else
    return MEGENCOM32_OK;

  const Deadline deadline(timeoutMs);
  int pauseMs = 1;
  for (;;) {
    int pending = 0;
    if (ioctl(fdOf(port), query, &pending) != 0) return ioFailure(errno);
    if (pending <= 0) return MEGENCOM32_OK;
    int left = deadline.remainingMs();
    if (left == 0) return MEGENCOM32_TIMEOUT;
    int nap = std::min(pauseMs, left);
    timespec pause{nap / 1000, (nap % 1000) * 1000000L};
    nanosleep(&pause, nullptr);
    pauseMs = std::min(pauseMs * 2, 20);
  }
}

std::FILE *openLogFile(const char *path) {
  return std::fopen(path, "ae");  // append, close-on-exec
}

std::tm localTime(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  return local;
}

}  // namespace megencom32
