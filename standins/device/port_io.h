// Reading and writing an open port without ever blocking past a timeout.
// The descriptor is nonblocking; every wait is a poll bounded by a Deadline.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "port.h"

namespace megencom32 {

// Writes up to `count` bytes within `timeout_ms`; `written` says how many
// went out, also on failure. EINTR is retried. Statuses: OK, TIMEOUT (the
// device took no more in time), HANGUP (pty master closed, carrier lost, FIFO
// reader gone), UNPLUGGED (ENODEV/ENXIO), IO_ERROR.
int32_t write_bytes(const Port &port, const uint8_t *bytes, size_t count, size_t &written,
                    int timeout_ms);

// Waits at most `timeout_ms` for input, then reads what is there, up to
// `capacity` bytes. TIMEOUT when nothing came; HANGUP on end of line.
int32_t read_bytes(const Port &port, uint8_t *buffer, size_t capacity, size_t &got,
                   int timeout_ms);

// Throws away input that arrived before now (stale answers, noise).
void discard_input(const Port &port);

// Throws away input not yet read and output not yet sent (ttys only).
int32_t discard_input_and_output(const Port &port);

// Waits at most `timeout_ms` until the output queue is empty: the tty's
// (TIOCOUTQ) or the FIFO's (FIONREAD, bytes its reader has not taken). Files
// and other devices have no queue to wait for. tcdrain is not used: on a
// stalled line it blocks without limit.
int32_t wait_output_drained(const Port &port, int timeout_ms);

}  // namespace megencom32
