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

int fd_of(const Port &port) { return static_cast<int>(port.handle); }

int32_t open_failure(int err) {
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

int open_retrying(const char *path, int flags) {
  int fd;
  do {
    fd = ::open(path, flags | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Root is not stopped by TIOCEXCL, so the flock is what really keeps a second
// holder out: another open of the same tty, in this process or another (the
// raw copy of a QR printer file takes the same flock), answers busy.
int32_t take_exclusive_hold(int fd) {
  int rc;
  do {
    rc = flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return errno == EWOULDBLOCK ? MEGENCOM32_BUSY : MEGENCOM32_IO_ERROR;
  if (ioctl(fd, TIOCEXCL) != 0) return MEGENCOM32_IO_ERROR;
  return MEGENCOM32_OK;
}

// `held`: this descriptor took the exclusive hold, so it lets go of it.
void close_device(int fd, bool held) {
  if (held) ioctl(fd, TIOCNXCL);
  flock(fd, LOCK_UN);
  ::close(fd);  // not retried on EINTR: on Linux the descriptor is gone anyway
}

int32_t io_failure(int err) {
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
int32_t wait_ready(const Port &port, short events, const Deadline &deadline) {
  for (;;) {
    pollfd p{fd_of(port), events, 0};
    int rc = poll(&p, 1, deadline.remaining_ms());
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
    was_pending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &saved_);
  }
  ~SigpipeGuard() {
    if (!active_) return;
    if (raised_ && !was_pending_) {
      timespec zero{};
      while (sigtimedwait(&pipe_, nullptr, &zero) < 0 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
  }
  void note_broken_pipe() { raised_ = true; }

 private:
  bool active_;
  bool was_pending_ = false;
  bool raised_ = false;
  sigset_t pipe_{};
  sigset_t saved_{};
};

}  // namespace

int32_t open_device(const std::string &name, const LineSettings &settings, Port &port) {
  std::optional<std::string> resolved = it433td::resolve_port(name);
  if (!resolved) return MEGENCOM32_NO_SUCH_PORT;
  const std::string &path = *resolved;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return open_failure(errno);

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

  int fd = open_retrying(path.c_str(), flags);
  if (fd < 0) return open_failure(errno);
  const bool terminal = isatty(fd) == 1;
  if (terminal) kind = DeviceKind::Terminal;

  int32_t status = MEGENCOM32_OK;
  bool held = false;  // exclusive mode belongs to the tty: only its holder may clear it
  if (terminal) {
    status = take_exclusive_hold(fd);
    held = status == MEGENCOM32_OK;
    if (held)
      status = settings.given() ? apply_line_settings(fd, settings, is_pseudo_terminal(fd))
                                 : make_raw_keeping_line(fd);
  } else if (settings.given()) {
    // Nothing to configure on a file, FIFO or USB printer; the values must
    // still be ones a serial line could take.
    status = check_line_settings(settings);
  }
  if (status != MEGENCOM32_OK) {
    close_device(fd, held);
    return status;
  }

  port.handle = fd;
  port.path = path;
  port.kind = kind;
  port.readable = (flags & O_ACCMODE) == O_RDWR;
  return MEGENCOM32_OK;
}

int32_t release_device(Port &port) {
  if (!port.is_open()) return MEGENCOM32_NOT_OPEN;
  const bool terminal = port.kind == DeviceKind::Terminal;
  // A FIFO's unread bytes stay with its reader after we close: only a tty
  // has output that closing could lose.
  int32_t status = terminal ? wait_output_drained(port, port.write_timeout_ms) : MEGENCOM32_OK;
  // Output still queued would hold close() in the kernel for the tty's
  // closing wait (30 s on a serial port by default): discard it.
  if (status != MEGENCOM32_OK && terminal) tcflush(fd_of(port), TCOFLUSH);
  if (status != MEGENCOM32_TIMEOUT) status = MEGENCOM32_OK;  // the line's fate shows on the next open
  close_device(fd_of(port), terminal);
  port.handle = kNoHandle;
  return status;
}

// A tty's timeouts are this library's own: every wait is a poll.
int32_t apply_timeouts(const Port &) { return MEGENCOM32_OK; }

int32_t write_bytes(const Port &port, const uint8_t *bytes, size_t count, size_t &written,
                    int timeout_ms) {
  written = 0;
  const Deadline deadline(timeout_ms);
  SigpipeGuard guard(port.kind == DeviceKind::Fifo);
  while (written < count) {
    ssize_t n = ::write(fd_of(port), bytes + written, count - written);
    if (n > 0) {
      written += static_cast<size_t>(n);
      continue;
    }
    if (n < 0) {
      int err = errno;
      if (err == EINTR) continue;
      if (err == EPIPE) guard.note_broken_pipe();
      if (err != EAGAIN && err != EWOULDBLOCK) return io_failure(err);
    }
    // The device's buffer is full: wait for room, at most until the deadline.
    int32_t ready = wait_ready(port, POLLOUT, deadline);
    if (ready != MEGENCOM32_OK) return ready;
  }
  return MEGENCOM32_OK;
}

int32_t read_bytes(const Port &port, uint8_t *buffer, size_t capacity, size_t &got,
                   int timeout_ms) {
  got = 0;
  const Deadline deadline(timeout_ms);
  for (;;) {
    ssize_t n = ::read(fd_of(port), buffer, capacity);
    if (n > 0) {
      got = static_cast<size_t>(n);
      return MEGENCOM32_OK;
    }
    // A nonblocking tty with no data answers EAGAIN; 0 is end of line.
    if (n == 0) return MEGENCOM32_HANGUP;
    int err = errno;
    if (err == EINTR) continue;
    if (err != EAGAIN && err != EWOULDBLOCK) return io_failure(err);
    int32_t ready = wait_ready(port, POLLIN, deadline);
    if (ready != MEGENCOM32_OK) return ready;
  }
}

void discard_input(const Port &port) {
  if (!port.readable) return;
  if (port.kind == DeviceKind::Terminal) tcflush(fd_of(port), TCIFLUSH);
  // Also read off what the flush cannot reach (other devices, a race with a
  // byte arriving just now), bounded so a chattering device cannot hold us.
  uint8_t scratch[256];
  for (int rounds = 0; rounds < 256; ++rounds) {
    ssize_t n = ::read(fd_of(port), scratch, sizeof scratch);
    if (n > 0) continue;
    if (n < 0 && errno == EINTR) continue;
    break;
  }
}

int32_t discard_input_and_output(const Port &port) {
  if (port.kind != DeviceKind::Terminal) {
    discard_input(port);
    return MEGENCOM32_OK;
  }
  return tcflush(fd_of(port), TCIOFLUSH) == 0 ? MEGENCOM32_OK : io_failure(errno);
}

int32_t wait_output_drained(const Port &port, int timeout_ms) {
  unsigned long query;
  if (port.kind == DeviceKind::Terminal)
    query = TIOCOUTQ;
  else if (port.kind == DeviceKind::Fifo)
    query = FIONREAD;
  else
    return MEGENCOM32_OK;

  const Deadline deadline(timeout_ms);
  int pause_ms = 1;
  for (;;) {
    int pending = 0;
    if (ioctl(fd_of(port), query, &pending) != 0) return io_failure(errno);
    if (pending <= 0) return MEGENCOM32_OK;
    int left = deadline.remaining_ms();
    if (left == 0) return MEGENCOM32_TIMEOUT;
    int nap = std::min(pause_ms, left);
    timespec pause{nap / 1000, (nap % 1000) * 1000000L};
    nanosleep(&pause, nullptr);
    pause_ms = std::min(pause_ms * 2, 20);
  }
}

std::FILE *open_log_file(const char *path) {
  return std::fopen(path, "ae");  // append, close-on-exec
}

std::tm local_time(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  return local;
}

}  // namespace megencom32
