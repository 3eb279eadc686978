// Opening and releasing a device: what kind of file the name leads to, how
// each kind is opened, and the exclusive hold of a tty.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "MEGENCOM32.h"
#include "port.h"
#include "port_io.h"

namespace megencom32 {
namespace {

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

}  // namespace

int32_t open_device(const std::string &path, const LineSettings &settings, Port &port) {
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

  port.fd = fd;
  port.path = path;
  port.kind = kind;
  port.readable = (flags & O_ACCMODE) == O_RDWR;
  return MEGENCOM32_OK;
}

int32_t release_device(Port &port) {
  if (port.fd < 0) return MEGENCOM32_NOT_OPEN;
  const bool terminal = port.kind == DeviceKind::Terminal;
  // A FIFO's unread bytes stay with its reader after we close: only a tty
  // has output that closing could lose.
  int32_t status = terminal ? wait_output_drained(port, port.write_timeout_ms) : MEGENCOM32_OK;
  // Output still queued would hold close() in the kernel for the tty's
  // closing wait (30 s on a serial port by default): discard it.
  if (status != MEGENCOM32_OK && terminal) tcflush(port.fd, TCOFLUSH);
  if (status != MEGENCOM32_TIMEOUT) status = MEGENCOM32_OK;  // the line's fate shows on the next open
  close_device(port.fd, terminal);
  port.fd = -1;
  return status;
}

}  // namespace megencom32
