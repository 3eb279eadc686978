/*
 * P32GeCodeBar.h - our barcode library: QR codes rendered for the IT433TD
 * receipt printer.
 *
 * It stands in for the closed vendor barcode library where that one does not
 * exist, and is a product in its own right. It renders a QR code into two
 * files: a 1-bit BMP bitmap that ordinary image tools open, and a printer
 * file, the exact bytes to send raw to the printer's port.
 *
 * The three calls the driver module makes (Inicia, QRCODE, Finaliza) have
 * exactly the vendor's shape; CODEBAR32_PGeBMPtoPRN has an argument list of
 * our own, documented below.
 *
 * Printer file. It uses two commands of the printer's byte stream:
 *   0x1D 0x76 0x30 m xL xH yL yH d1..dk  raster bit image, x bytes per row
 *                                       (MSB = leftmost dot, 1 = black),
 *                                       y rows, k = x * y; m = 0 normal,
 *                                       m = 2 double height (every row
 *                                       printed twice);
 *   0x1B 0x4A n                         feed the paper n dots (n <= 255).
 * Layout on the 576-dot paper: the image (for a QR code: the symbol with its
 * quiet zone of 4 modules) starts `indent` dots from the left edge. Every
 * all-white row becomes paper feed, never a raster row; a raster row ends at
 * the last byte that holds a black dot. Two equal rows one after the other
 * may go as one row of a double-height command: a QR module row of 3 dots is
 * one double-height row and one normal row; the split into commands is the
 * one with the fewest bytes. No raster command prints more than 4,096 dot
 * rows (the most the printer takes in one image): taller runs of black rows
 * are cut into pieces of 4,096 rows. The file ends with the image's own
 * bottom white plus CODEBAR32_CUTTER_CLEARANCE_DOTS of feed, so a cut made
 * right after the code leaves the symbol whole.
 *
 * Files are written whole or not at all: each goes to a temporary name in
 * its own folder and is renamed into place once both are written. On any
 * failure no temporary is left and neither file is created; a file that
 * already stood at the target path stays as it was.
 *
 * Threads: every entry point may be called from any thread. A rendering
 * session (Inicia ... Finaliza) belongs to the thread that opened it.
 * Renderings are serialised while their files are put in place, so a bitmap
 * and printer file pair always comes from the same call.
 *
 * Every status is one of the P32GECODEBAR_* constants; 0 is success.
 */
#ifndef P32GECODEBAR_H
#define P32GECODEBAR_H

#include <stdint.h>

#include "vendor_contract.h"

#if defined(_WIN32)
#define P32GECODEBAR_API __declspec(dllexport)
#else
#define P32GECODEBAR_API __attribute__((visibility("default")))
#endif

/* Printer geometry the printer file is laid out for. */
#define CODEBAR32_PAPER_DOTS 576              /* 80 mm paper at 8 dots per mm */
#define CODEBAR32_QUIET_ZONE_MODULES 4        /* white border around a QR symbol */
#define CODEBAR32_CUTTER_CLEARANCE_DOTS 120   /* 15 mm of feed after the image */
#define CODEBAR32_MAX_BITMAP_HEIGHT 65535     /* rows of a bitmap read by BMPtoPRN */
#define CODEBAR32_MAX_BITMAP_FILE (16 * 1024 * 1024) /* bytes of a bitmap file */

/* Statuses. Positive and from 100 upwards, so they never meet the device
 * library's statuses (1-14) or the driver module's own (negative). */
enum p32gecodebar_status {
  P32GECODEBAR_OK = 0,
  P32GECODEBAR_BAD_ARGUMENT = 100,     /* ECC level not 'L'/'M'/'Q'/'H', module size < 1,
                                          negative indent or length, null data with a
                                          positive length */
  P32GECODEBAR_NULL_PATH = 101,        /* a file path is null or empty */
  P32GECODEBAR_DATA_TOO_LONG = 102,    /* the data does not fit a QR code at that ECC level */
  P32GECODEBAR_TOO_WIDE = 103,         /* image wider than the paper minus the indent */
  P32GECODEBAR_WRITE_FAILED = 104,     /* a file cannot be created, written or put in place */
  P32GECODEBAR_READ_FAILED = 105,      /* the bitmap file cannot be opened or read */
  P32GECODEBAR_BAD_BITMAP = 106,       /* not a BMP, or a malformed or truncated one */
  P32GECODEBAR_UNSUPPORTED_BITMAP = 107, /* a BMP, but not 1 bit per pixel uncompressed */
  P32GECODEBAR_BITMAP_TOO_LARGE = 108, /* height or file size beyond the limits above */
  P32GECODEBAR_ENCODE_FAILED = 109,    /* the QR encoder failed for another reason */
  P32GECODEBAR_NO_SESSION = 110,       /* Finaliza without Inicia on this thread */
  P32GECODEBAR_OUT_OF_MEMORY = 111,    /* memory ran out */
  P32GECODEBAR_INTERNAL = 112          /* an unexpected failure inside the library */
};

/* The name of a status, e.g. "P32GECODEBAR_TOO_WIDE"; "unknown" for others. */
static inline const char *p32gecodebar_status_name(int32_t status) {
  switch (status) {
  case P32GECODEBAR_OK: return "P32GECODEBAR_OK";
  case P32GECODEBAR_BAD_ARGUMENT: return "P32GECODEBAR_BAD_ARGUMENT";
  case P32GECODEBAR_NULL_PATH: return "P32GECODEBAR_NULL_PATH";
  case P32GECODEBAR_DATA_TOO_LONG: return "P32GECODEBAR_DATA_TOO_LONG";
  case P32GECODEBAR_TOO_WIDE: return "P32GECODEBAR_TOO_WIDE";
  case P32GECODEBAR_WRITE_FAILED: return "P32GECODEBAR_WRITE_FAILED";
  case P32GECODEBAR_READ_FAILED: return "P32GECODEBAR_READ_FAILED";
  case P32GECODEBAR_BAD_BITMAP: return "P32GECODEBAR_BAD_BITMAP";
  case P32GECODEBAR_UNSUPPORTED_BITMAP: return "P32GECODEBAR_UNSUPPORTED_BITMAP";
  case P32GECODEBAR_BITMAP_TOO_LARGE: return "P32GECODEBAR_BITMAP_TOO_LARGE";
  case P32GECODEBAR_ENCODE_FAILED: return "P32GECODEBAR_ENCODE_FAILED";
  case P32GECODEBAR_NO_SESSION: return "P32GECODEBAR_NO_SESSION";
  case P32GECODEBAR_OUT_OF_MEMORY: return "P32GECODEBAR_OUT_OF_MEMORY";
  case P32GECODEBAR_INTERNAL: return "P32GECODEBAR_INTERNAL";
  default: return "unknown";
  }
}

#ifdef __cplusplus
extern "C" {
#endif

/* Opens a rendering session on the calling thread (a session already open
 * there starts afresh). The session counts the renderings made in it and
 * keeps the first failure among them for Finaliza. Sessions are optional:
 * CODEBAR32_PGeCodeBarQRCODE and CODEBAR32_PGeBMPtoPRN work without one.
 * @return P32GECODEBAR_OK. */
P32GECODEBAR_API int32_t IT433TD_CALL CODEBAR32_PGeCodeBarInicia(void);

/* Renders `data` as a QR code into a bitmap file and a printer file.
 * @param[in] eccLevel   'L', 'M', 'Q' or 'H' (error correction 7/15/25/30 %).
 * @param[in] indent     left margin in printer dots, 0 to 575.
 * @param[in] moduleSize dots per QR module, 1 or more.
 * @param[in] data       the payload bytes, 8-bit mode, binary-safe (0x00 allowed);
 *                       may be null when length is 0.
 * @param[in] length     number of payload bytes. 0 renders the empty QR code
 *                       (version 1, no data), which decoders read as empty.
 * @param[in] bmpPath    path of the 1-bit BMP to write (NUL-terminated).
 * @param[in] prnPath    path of the printer file to write (NUL-terminated).
 * @return P32GECODEBAR_OK, or BAD_ARGUMENT, NULL_PATH, DATA_TOO_LONG, TOO_WIDE,
 *         WRITE_FAILED, ENCODE_FAILED, OUT_OF_MEMORY, INTERNAL. */
P32GECODEBAR_API int32_t IT433TD_CALL CODEBAR32_PGeCodeBarQRCODE(int32_t eccLevel,
                                                                int32_t indent,
                                                                int32_t moduleSize,
                                                                const char *data,
                                                                int32_t length,
                                                                const char *bmpPath,
                                                                const char *prnPath);

/* Turns a 1-bit BMP into a printer file laid out like a QR code's: the image
 * starts `indent` dots from the left edge. The BMP must be uncompressed, 1 bit
 * per pixel, with a BITMAPINFOHEADER (or its V4/V5 successors), a palette of
 * two entries (index 0 and 1; an entry darker than mid-grey prints black),
 * bottom-up or top-down rows, at most CODEBAR32_MAX_BITMAP_HEIGHT rows and
 * CODEBAR32_MAX_BITMAP_FILE bytes. Every header field is checked against the
 * file's real size, so a malformed file gives a status, never a crash.
 * @param[in] bmpPath path of the BMP to read.
 * @param[in] prnPath path of the printer file to write.
 * @param[in] indent  left margin in printer dots, 0 to 575.
 * @return P32GECODEBAR_OK, or BAD_ARGUMENT, NULL_PATH, READ_FAILED, BAD_BITMAP,
 *         UNSUPPORTED_BITMAP, BITMAP_TOO_LARGE, TOO_WIDE, WRITE_FAILED,
 *         OUT_OF_MEMORY, INTERNAL. */
P32GECODEBAR_API int32_t IT433TD_CALL CODEBAR32_PGeBMPtoPRN(const char *bmpPath,
                                                           const char *prnPath,
                                                           int32_t indent);

/* Closes the calling thread's rendering session.
 * @return P32GECODEBAR_OK if every rendering in the session succeeded (or
 *         there was none), else the status of the first one that failed;
 *         P32GECODEBAR_NO_SESSION if no session is open on this thread. */
P32GECODEBAR_API int32_t IT433TD_CALL CODEBAR32_PGeCodeBarFinaliza(void);

#ifdef __cplusplus
}
#endif

#endif /* P32GECODEBAR_H */
