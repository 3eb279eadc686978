/*
 * MEGENCOM32.h - our device library: port I/O for the IT433TD printer.
 *
 * It stands in for the closed vendor device library where that one does not
 * exist, and is a product in its own right: a point-of-sale machine with a
 * serial or USB printer prints through it. Every port is addressed by its
 * name in every call; several ports may be open at once.
 *
 * The three calls the driver module makes (AbrirDispositivo,
 * FecharDispositivo, EscrevernoDispositivo) have exactly the vendor's shape;
 * the other seven have argument lists of our own, documented below.
 *
 * Every status is one of the MEGENCOM32_* constants; 0 is success.
 * megencom32_status_name() and megencom32_status_meaning() put them in words.
 *
 * Threads: every call may come from any thread. Calls on different ports run
 * side by side; calls on one port run one at a time, so one write's bytes are
 * never interleaved with another's. No call blocks longer than its timeout.
 *
 * Port names. On Linux they resolve as contract/port_names.h says: an entry
 * of the folder named by IT433TD_PORTS (default /etc/it433td/ports), a path,
 * COMn (/dev/ttyS(n-1)) or LPTn (/dev/lp(n-1)). On Windows they resolve as
 * Windows does: COMn through \\.\COMn (so COM10 and above work too), any
 * other name as CreateFile takes it (LPT1, a printer share, a pipe, a file).
 * A port is recorded under the name as given: "COM7" and "com7" are two
 * names, and the exclusive hold answers BUSY to the second.
 *
 * What a name may lead to:
 *   serial line (tty: serial port, USB-serial, pty slave; Windows: COMn):
 *     read and written, held exclusively (Linux: TIOCEXCL and
 *     flock(LOCK_EX), so root is kept out too, and the module's raw copy of
 *     a QR printer file takes the same flock; Windows: opened unshared), raw;
 *   other device (USB printer /dev/usb/lp0, LPT port, printer share, pipe):
 *     read and written (Windows: unshared);
 *   FIFO (Linux): written only; no reader yet answers NO_SUCH_PORT;
 *   regular file: written only, appended to; it must exist (never created).
 *
 * The status conversation (StatusDoDispositivo, AguardaImpressaoStr), in the
 * common receipt-printer convention; each request is answered by one byte:
 *   discard unread input, send 10 04 01, read one byte A (read timeout);
 *     no byte: NO_ANSWER.
 *   A bit 3 set (offline): discard input, send 10 04 02, read one byte B;
 *     B bit 5 (stopped at paper end): PAPER_OUT, else OFFLINE
 *     (B bit 2 cover open, bit 6 error; no answer to 10 04 02: OFFLINE).
 *   A bit 3 clear: discard input, send 10 04 04, read one byte C;
 *     C bit 5 or 6 (paper end): PAPER_OUT, else OK (C bits 2/3: near end);
 *     no answer to 10 04 04: NO_ANSWER.
 *   Bits 0, 1, 4, 7 (the convention's fixed bits) are not looked at. Ports
 *   written only (FIFO, file) are never sent a request: NO_ANSWER.
 */
#ifndef MEGENCOM32_H
#define MEGENCOM32_H

#include <stdint.h>

#include "vendor_contract.h"

#if defined(_WIN32)
#define MEGENCOM32_API __declspec(dllexport)
#else
#define MEGENCOM32_API __attribute__((visibility("default")))
#endif

/* Statuses. Positive, so they never meet the driver module's own (negative)
 * statuses. */
enum megencom32_status {
  MEGENCOM32_OK = 0,
  MEGENCOM32_NO_SUCH_PORT = 1,    /* the name does not resolve, or no device there */
  MEGENCOM32_BUSY = 2,            /* another holder has the port (exclusive hold) */
  MEGENCOM32_ALREADY_OPEN = 3,    /* this library has the port open already */
  MEGENCOM32_NOT_OPEN = 4,        /* the port was not opened through this library */
  MEGENCOM32_BAD_SETTINGS = 5,    /* speed, parity, data/stop bits or flow not supported */
  MEGENCOM32_BAD_ARGUMENT = 6,    /* null pointer, negative count, ... */
  MEGENCOM32_IO_ERROR = 7,        /* any other system error */
  MEGENCOM32_TIMEOUT = 8,         /* the device took nothing (or gave nothing) in time */
  MEGENCOM32_HANGUP = 9,          /* the far end hung up (carrier lost, pty closed) */
  MEGENCOM32_UNPLUGGED = 10,      /* the device is gone (USB unplugged) */
  MEGENCOM32_PAPER_OUT = 11,      /* the printer reports no paper */
  MEGENCOM32_OFFLINE = 12,        /* the printer reports it is offline (cover open, error) */
  MEGENCOM32_NO_ANSWER = 13,      /* the printer did not answer a status request */
  MEGENCOM32_LOG_FAILED = 14      /* the log file cannot be opened */
};

/* The name of a status, e.g. "MEGENCOM32_PAPER_OUT"; null for any other
 * value. */
static inline const char *megencom32_status_name(int32_t status) {
  switch (status) {
    case MEGENCOM32_OK: return "MEGENCOM32_OK";
    case MEGENCOM32_NO_SUCH_PORT: return "MEGENCOM32_NO_SUCH_PORT";
    case MEGENCOM32_BUSY: return "MEGENCOM32_BUSY";
    case MEGENCOM32_ALREADY_OPEN: return "MEGENCOM32_ALREADY_OPEN";
    case MEGENCOM32_NOT_OPEN: return "MEGENCOM32_NOT_OPEN";
    case MEGENCOM32_BAD_SETTINGS: return "MEGENCOM32_BAD_SETTINGS";
    case MEGENCOM32_BAD_ARGUMENT: return "MEGENCOM32_BAD_ARGUMENT";
    case MEGENCOM32_IO_ERROR: return "MEGENCOM32_IO_ERROR";
    case MEGENCOM32_TIMEOUT: return "MEGENCOM32_TIMEOUT";
    case MEGENCOM32_HANGUP: return "MEGENCOM32_HANGUP";
    case MEGENCOM32_UNPLUGGED: return "MEGENCOM32_UNPLUGGED";
    case MEGENCOM32_PAPER_OUT: return "MEGENCOM32_PAPER_OUT";
    case MEGENCOM32_OFFLINE: return "MEGENCOM32_OFFLINE";
    case MEGENCOM32_NO_ANSWER: return "MEGENCOM32_NO_ANSWER";
    case MEGENCOM32_LOG_FAILED: return "MEGENCOM32_LOG_FAILED";
    default: return 0;
  }
}

/* What a status means, in words a host can show a person, e.g. "the
 * printer is out of paper"; null for any other value. */
static inline const char *megencom32_status_meaning(int32_t status) {
  switch (status) {
    case MEGENCOM32_OK: return "success";
    case MEGENCOM32_NO_SUCH_PORT: return "the port name does not resolve, or no device is there";
    case MEGENCOM32_BUSY: return "another program holds the port";
    case MEGENCOM32_ALREADY_OPEN: return "the port is open already";
    case MEGENCOM32_NOT_OPEN: return "the port is not open";
    case MEGENCOM32_BAD_SETTINGS: return "the serial line does not take the printer's settings";
    case MEGENCOM32_BAD_ARGUMENT: return "the device library refused an argument";
    case MEGENCOM32_IO_ERROR: return "a system error on the port";
    case MEGENCOM32_TIMEOUT: return "the printer took nothing in time";
    case MEGENCOM32_HANGUP: return "the far end hung up";
    case MEGENCOM32_UNPLUGGED: return "the device is gone (unplugged)";
    case MEGENCOM32_PAPER_OUT: return "the printer is out of paper";
    case MEGENCOM32_OFFLINE: return "the printer is offline (cover open or error)";
    case MEGENCOM32_NO_ANSWER: return "the printer did not answer a status request";
    case MEGENCOM32_LOG_FAILED: return "the log file cannot be opened";
    default: return 0;
  }
}

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the port. With line settings, configures the serial line: speed in
 * baud (a standard rate, 50 to 2000000), parity as a character code ('N',
 * 'E', 'O', 'M' mark, 'S' space), data bits 5-8, stop bits 1-2, flow 0 none
 * / 1 RTS-CTS / 2 XON-XOFF; anything else, or a line that does not keep what
 * was set, answers BAD_SETTINGS. On a device that is not a tty the values
 * are checked and there is nothing to set. Five zeros open the device as it
 * is: a tty keeps its speed, size, parity and flow. A tty is always raw (no
 * output processing, no echo, no line editing).
 * @return OK, BAD_ARGUMENT (null port), NO_SUCH_PORT, ALREADY_OPEN, BUSY,
 *         BAD_SETTINGS, IO_ERROR. */
MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_AbrirDispositivo(const char *port, int32_t speed,
                                                                int32_t parity, int32_t dataBits,
                                                                int32_t stopBits, int32_t flow);
/* Waits at most the write timeout for a tty's output to leave, then
 * releases the port (hold, lock, descriptor) whatever happens.
 * @return OK, NOT_OPEN, BAD_ARGUMENT, or TIMEOUT when output still queued
 *         after the write timeout had to be discarded (the port is closed). */
MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_FecharDispositivo(const char *port);
/* Sets the port's read and write timeouts in milliseconds (0 keeps the
 * current value; defaults: read 1000, write 5000). Negative: BAD_ARGUMENT. */
MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_ConfigurarTimeoutsRXTX(const char *port,
                                                                      int32_t readTimeoutMs,
                                                                      int32_t writeTimeoutMs);
/* Writes up to `count` bytes within the write timeout and reports in
 * *written how many went out (a partial write reports what went out).
 * *written is always set, 0 when the call fails before anything went out.
 * count 0 is OK with 0 written.
 * @return OK, BAD_ARGUMENT (null port or written, negative count, null bytes
 *         with count > 0), NOT_OPEN, TIMEOUT (the device took no more in
 *         time), HANGUP (pty master closed, carrier lost, FIFO reader gone),
 *         UNPLUGGED (ENODEV/ENXIO), IO_ERROR. */
MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_EscrevernoDispositivo(const char *port,
                                                                     const void *bytes,
                                                                     int32_t count,
                                                                     int32_t *written);
/* Reads up to `capacity` bytes, waiting at most the read timeout for the
 * first; reports the count in *read (always set). TIMEOUT when nothing came;
 * IO_ERROR on a port written only. */
MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_LeroDispositivo(const char *port, void *buffer,
                                                               int32_t capacity, int32_t *read);
/* Prepares a print job: discards unread input and unsent output (a tty's;
 * other devices: unread input only). */
MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_PreparaImpressao(const char *port);
/* Waits at most timeoutMs until all output has left the port: a serial
 * line's output queue, or the bytes a FIFO's reader has not taken yet. Files
 * and other devices have no queue: OK at once. TIMEOUT when output remains. */
MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_AguardaImpressao(const char *port,
                                                                int32_t timeoutMs);
/* As AguardaImpressao, then asks the printer's state and writes it in words
 * into message (NUL-terminated, cut to at most capacity bytes): "online",
 * "online, paper near end", "out of paper", "offline: cover open",
 * "offline: error", "offline", "no answer", "hung up", "unplugged", or
 * "still printing" when the wait timed out (then TIMEOUT, nothing asked).
 * @return the status StatusDoDispositivo would answer; BAD_ARGUMENT for a
 *         null message, capacity <= 0 or a negative timeout. */
MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_AguardaImpressaoStr(const char *port,
                                                                   int32_t timeoutMs,
                                                                   char *message,
                                                                   int32_t capacity);
/* Asks the printer for its state with the real-time status request
 * (0x10 0x04 n, the conversation at the top of this header) and answers
 * MEGENCOM32_OK (online), MEGENCOM32_PAPER_OUT, MEGENCOM32_OFFLINE or
 * MEGENCOM32_NO_ANSWER; HANGUP or UNPLUGGED when the line is gone, NOT_OPEN,
 * BAD_ARGUMENT. *statusByte (may be null) receives the printer's last answer
 * byte, or -1. */
MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_StatusDoDispositivo(const char *port,
                                                                   int32_t *statusByte);
/* Switches the log of every call on (1) or off (0). path names the log file;
 * null or "" means "MEGENCOM32.log" in the current folder. The file is
 * appended to, one line per call, flushed at once:
 *   2025-06-01 14:03:07.412 MEGENCOM32_EscrevernoDispositivo port="COM7" count=2 bytes=1B 77 written=2 -> 0 OK
 * Written bytes appear as hex, the first 64 then "... (+N)".
 * @return OK, LOG_FAILED (the file cannot be opened), BAD_ARGUMENT. */
MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_AtivarLOG(int32_t on, const char *path);

#ifdef __cplusplus
}
#endif

#endif /* MEGENCOM32_H */
