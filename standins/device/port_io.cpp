#include "port_io.h"

#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "MEGENCOM32.h"
#include "deadline.h"

namespace megencom32 {
namespace {

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
    pollfd p{port.fd, events, 0};
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

int32_t write_bytes(const Port &port, const uint8_t *bytes, size_t count, size_t &written,
                    int timeout_ms) {
  written = 0;
  const Deadline deadline(timeout_ms);
  SigpipeGuard guard(port.kind == DeviceKind::Fifo);
  while (written < count) {
    ssize_t n = ::write(port.fd, bytes + written, count - written);
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
  if (!port.readable) return MEGENCOM32_IO_ERROR;
  if (capacity == 0) return MEGENCOM32_OK;
  const Deadline deadline(timeout_ms);
  for (;;) {
    ssize_t n = ::read(port.fd, buffer, capacity);
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
  if (port.kind == DeviceKind::Terminal) tcflush(port.fd, TCIFLUSH);
  // Also read off what the flush cannot reach (other devices, a race with a
  // byte arriving just now), bounded so a chattering device cannot hold us.
  uint8_t scratch[256];
  for (int rounds = 0; rounds < 256; ++rounds) {
    ssize_t n = ::read(port.fd, scratch, sizeof scratch);
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
  return tcflush(port.fd, TCIOFLUSH) == 0 ? MEGENCOM32_OK : io_failure(errno);
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
    if (ioctl(port.fd, query, &pending) != 0) return io_failure(errno);
    if (pending <= 0) return MEGENCOM32_OK;
    int left = deadline.remaining_ms();
    if (left == 0) return MEGENCOM32_TIMEOUT;
    int nap = std::min(pause_ms, left);
    timespec pause{nap / 1000, (nap % 1000) * 1000000L};
    nanosleep(&pause, nullptr);
    pause_ms = std::min(pause_ms * 2, 20);
  }
}

}  // namespace megencom32
