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

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the port. With line settings, configures the serial line: speed in
 * baud, parity as a character code ('N', 'E', 'O', 'M', 'S'), data bits 5-8,
 * stop bits 1-2, flow 0 none / 1 RTS-CTS / 2 XON-XOFF. Five zeros open the
 * device as it is (USB printer, FIFO, regular file). A tty is written raw
 * and held exclusively. */
MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_AbrirDispositivo(const char *port, int32_t speed,
                                                                int32_t parity, int32_t dataBits,
                                                                int32_t stopBits, int32_t flow);
/* Drains the output (within the write timeout) and releases the port. */
MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_FecharDispositivo(const char *port);
/* Sets the port's read and write timeouts in milliseconds (0 keeps the
 * current value; defaults: read 1000, write 5000). */
MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_ConfigurarTimeoutsRXTX(const char *port,
                                                                      int32_t readTimeoutMs,
                                                                      int32_t writeTimeoutMs);
/* Writes up to `count` bytes within the write timeout and reports in
 * *written how many went out (a partial write reports what went out). */
MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_EscrevernoDispositivo(const char *port,
                                                                     const void *bytes,
                                                                     int32_t count,
                                                                     int32_t *written);
/* Reads up to `capacity` bytes, waiting at most the read timeout for the
 * first; reports the count in *read. */
MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_LeroDispositivo(const char *port, void *buffer,
                                                               int32_t capacity, int32_t *read);
/* Prepares a print job: discards unread input and unsent output. */
MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_PreparaImpressao(const char *port);
/* Waits at most timeoutMs until all output has left the port. */
MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_AguardaImpressao(const char *port,
                                                                int32_t timeoutMs);
/* As AguardaImpressao, then asks the printer's state and writes it in words
 * ("online", "out of paper", ...) into message (NUL-terminated, at most
 * capacity bytes). */
MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_AguardaImpressaoStr(const char *port,
                                                                   int32_t timeoutMs,
                                                                   char *message,
                                                                   int32_t capacity);
/* Asks the printer for its state with the real-time status request
 * (0x10 0x04 n) and answers MEGENCOM32_OK (online), MEGENCOM32_PAPER_OUT,
 * MEGENCOM32_OFFLINE or MEGENCOM32_NO_ANSWER. *statusByte (may be null)
 * receives the printer's last answer byte, or -1. */
MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_StatusDoDispositivo(const char *port,
                                                                   int32_t *statusByte);
/* Switches the log of every call on (1) or off (0). path names the log file;
 * null or "" means "MEGENCOM32.log" in the current folder. */
MEGENCOM32_API int32_t IT433TD_CALL MEGENCOM32_AtivarLOG(int32_t on, const char *path);

#ifdef __cplusplus
}
#endif

#endif /* MEGENCOM32_H */
