/*
 * Cli_Vossik.h - the IT433TD receipt printer driver module (Pkg_Vossik).
 *
 * A host loads the module (libPkg_Vossik.so on Linux, Pkg_Vossik.dll on
 * Windows) and calls, in this order:
 *
 *   StartIT433TD()            bind the device and barcode vendor libraries
 *   IniciaPorta_IT433TD(port) open the printer's port
 *   ... any number of FormataTX_IT433TD, ImprimeCODE128_IT433TD,
 *       ImprimeQRCode_IT433TD, AcionaGuilhotina_IT433TD ...
 *   FechaPorta_IT433TD(port)  close the port
 *
 * Naming: every operation takes the port's name first ("COM1", "LPT1", a path
 * or a name mapped in the IT433TD_PORTS folder on Linux). Texts and barcode
 * data are length-counted byte strings and may hold 0x00 bytes.
 *
 * Results: StartIT433TD answers true or false. Every other operation answers
 * the status of the vendor call that ends it (0 is success, other values
 * belong to the device library), or one of the module's own statuses below,
 * which are negative and never 0: it433td_status_name() and
 * it433td_status_meaning() put them in words.
 *
 * Threads: every exported operation takes one process-wide lock, so calls
 * from several threads run one after another. Operations block the caller
 * for the printer's fixed pauses: 500 ms after each text write, 200 ms inside
 * a CODE128 barcode, 3000 ms inside a QR code (which may also wait up to
 * 10 s for a QR code of another process that shares its folder).
 *
 * The plain names below are C functions (WINAPI on Windows) for hosts that
 * look functions up by name. C++ hosts may also use the qualified names in
 * namespace Cli_Vossik, which also hold the vendor library handles and the
 * fourteen bound entry points.
 *
 * Linking: pkg-config --cflags --libs it433td, or find_package(IT433TD) and
 * the target IT433TD::Pkg_Vossik; the soname is libPkg_Vossik.so.6.
 *
 * The printer's status: the operations answer the status of their writes,
 * and a printer with a buffer takes bytes without paper, so a host asks.
 * The device library's own entry point MEGENCOM32_StatusDoDispositivo does
 * it (our device library: int32_t (const char *port, int32_t *statusByte),
 * answering 0 online, 11 paper out, 12 offline, 13 no answer). Call it after
 * StartIT433TD and IniciaPorta_IT433TD, in the copy of the device library
 * the module loaded, which knows the port. From C:
 *
 *   void *device = dlopen(IT433TD_DEVICE_LIBRARY, RTLD_NOW | RTLD_NOLOAD);
 *   int32_t (*request)(const char *, int32_t *) =
 *       (int32_t (*)(const char *, int32_t *))dlsym(device, "MEGENCOM32_StatusDoDispositivo");
 *   int32_t answer, status = request(port, &answer);
 *
 * (on Windows GetModuleHandleA(IT433TD_DEVICE_LIBRARY) and GetProcAddress).
 * C++ hosts may call the exported slot Cli_Vossik::MEGENCOM32_StatusDoDispositivo,
 * which holds the same entry point once StartIT433TD has bound it.
 */
#ifndef IT433TD_CLI_VOSSIK_H
#define IT433TD_CLI_VOSSIK_H

#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#include "vendor_contract.h"

#if defined(_WIN32)
#include <windows.h>
typedef HMODULE it433td_library_handle;
#else
typedef void *it433td_library_handle;
#endif

/* IT433TD_API marks what the module exports. On Windows the plain names are
 * exported through the module's .def file (undecorated on i686), so only the
 * qualified names carry the attribute there. */
#if defined(_WIN32)
#if defined(IT433TD_BUILDING_MODULE)
#define IT433TD_API __declspec(dllexport)
#else
#define IT433TD_API __declspec(dllimport)
#endif
#define IT433TD_PLAIN_API
#else
#define IT433TD_API __attribute__((visibility("default")))
#define IT433TD_PLAIN_API IT433TD_API
#endif

/* The module's own statuses: the module answers without a vendor call. */
enum it433td_status {
  /** Success, as every vendor library reports it. */
  IT433TD_OK = 0,
  /** Negative length, null data with a positive length, CODE128 data longer
   * than 255 bytes, or (Windows) a port name unsafe for the copy command.
   * Nothing was sent and no vendor entry point was called. */
  IT433TD_BAD_ARGUMENT = -1001,
  /** A vendor entry point the operation needs is not bound: StartIT433TD has
   * not succeeded, StopIT433TD was called, or the barcode library is missing.
   * Nothing was called. */
  IT433TD_NOT_BOUND = -1002,
  /** The device kept accepting no bytes: the text write gave up after five
   * calls in a row that advanced nothing, with bytes still unsent, although
   * the last call reported success. */
  IT433TD_STALLED = -1003,
  /** The barcode library left no printer file for the QR code (missing
   * Dados folder, renderer failure); nothing was copied to the port, which
   * was reopened all the same. */
  IT433TD_NOT_RENDERED = -1004,
  /** An unexpected failure inside the module (for example memory exhausted);
   * it is caught at the boundary and never unwinds into the host. */
  IT433TD_INTERNAL_ERROR = -1005,
  /** Another QR code (of this or another process sharing the QR files'
   * folder) held the folder's lock for the whole bounded wait (10 s):
   * nothing was closed, rendered or copied; the port is as it was. */
  IT433TD_QR_BUSY = -1006,
  /** The raw copy of the QR printer file did not get the QR code to the
   * port. Either it could not start or open the port (for example a port name
   * that leads to a missing path), or something other than the file just
   * rendered lay at the printer file's name (a link, another user's file):
   * nothing reached the printer and there was no 3000 ms wait. Or it reported,
   * within its 3000 ms, that it could not write every byte (a full disk, a
   * line that failed; on Windows COPY's non-zero exit code): part of the code
   * may have reached the printer. Either way the port was reopened. */
  IT433TD_COPY_FAILED = -1007
};

/* The name of one of the module's own statuses, e.g. "IT433TD_STALLED", or
 * null for any other value (a vendor status). */
static inline const char *it433td_status_name(int32_t status) {
  switch (status) {
    case IT433TD_OK: return "IT433TD_OK";
    case IT433TD_BAD_ARGUMENT: return "IT433TD_BAD_ARGUMENT";
    case IT433TD_NOT_BOUND: return "IT433TD_NOT_BOUND";
    case IT433TD_STALLED: return "IT433TD_STALLED";
    case IT433TD_NOT_RENDERED: return "IT433TD_NOT_RENDERED";
    case IT433TD_INTERNAL_ERROR: return "IT433TD_INTERNAL_ERROR";
    case IT433TD_QR_BUSY: return "IT433TD_QR_BUSY";
    case IT433TD_COPY_FAILED: return "IT433TD_COPY_FAILED";
    default: return 0;
  }
}

/* What one of the module's own statuses means, in words a host can show a
 * person, e.g. "the printer stopped taking bytes; the text was not sent
 * whole"; null for any other value (a vendor status). */
static inline const char *it433td_status_meaning(int32_t status) {
  switch (status) {
    case IT433TD_OK: return "success";
    case IT433TD_BAD_ARGUMENT: return "the module refused an argument; nothing was sent";
    case IT433TD_NOT_BOUND: return "the vendor libraries are not bound";
    case IT433TD_STALLED: return "the printer stopped taking bytes; the text was not sent whole";
    case IT433TD_NOT_RENDERED: return "no QR printer file was rendered (is there a Dados folder?)";
    case IT433TD_INTERNAL_ERROR: return "an unexpected failure inside the module";
    case IT433TD_QR_BUSY:
      return "another QR code held the QR folder for 10 s; nothing was printed, the port is as it was";
    case IT433TD_COPY_FAILED:
      return "the QR code could not be copied to the port whole (a port name leading nowhere? "
             "a port that takes no bytes?); do not count on it being printed";
    default: return 0;
  }
}

#ifdef __cplusplus
extern "C" {
#endif

/**
 * Loads the device library, then the barcode library, and binds their
 * fourteen entry points. A library already loaded is not loaded again; the
 * entry points are always looked up afresh.
 * @return true when both libraries are loaded and all entry points bound.
 *   A device library that will not load leaves every slot as it was; a barcode
 *   library that will not load leaves the ten device slots bound; a missing
 *   entry point empties all fourteen slots.
 */
IT433TD_PLAIN_API bool IT433TD_CALL StartIT433TD(void);

/**
 * Opens the printer's port. A name whose first three bytes are exactly "COM"
 * opens as a serial line at 57600 baud, parity 'S', 8 data bits, 1 stop bit,
 * flow 1; any other name opens with five zeros (the device as it is).
 * @param[in] port NUL-terminated port name; null is taken as "".
 * @return the device library's status of the open.
 */
IT433TD_PLAIN_API int32_t IT433TD_CALL IniciaPorta_IT433TD(const char *port);

/**
 * Closes the printer's port.
 * @return the device library's status of the close.
 */
IT433TD_PLAIN_API int32_t IT433TD_CALL FechaPorta_IT433TD(const char *port);

/**
 * Prints `text` in condensed mode: writes 0x0F, the text unchanged, 0x12.
 * A partial write is continued from where it stopped; the module pauses
 * 500 ms after every write and gives up after five calls in a row that
 * failed or advanced nothing. Each call costs at least that 500 ms, so send
 * a receipt's lines in one call, joined by line feeds.
 *
 * The text is code page 850, the printer's character table: the module
 * sends the host's bytes as they are, so a host holding UTF-8, Windows-1252
 * or UTF-16 converts first (UTF-8 "ação" would print as "a├º├úo"; in code
 * page 850 'ã' is 0xC6, 'ç' 0x87). Of the control bytes only the line feed
 * 0x0A belongs in a text; others reach the printer as commands.
 * @param[in] text   code page 850 bytes (line feeds included by the host).
 * @param[in] length number of bytes; 0 prints nothing but the frame.
 * @return the status of the last write; IT433TD_STALLED when bytes stayed
 *   unsent although the last write reported success; IT433TD_BAD_ARGUMENT.
 */
IT433TD_PLAIN_API int32_t IT433TD_CALL FormataTX_IT433TD(const char *port, const char *text,
                                                          int32_t length);

/**
 * Prints a CODE128 barcode of `data` (at most 255 bytes), then, after a
 * 200 ms pause, a line feed.
 * @return the status of the line feed write (the barcode write's status is
 *   not reported on its own); IT433TD_BAD_ARGUMENT for data over 255 bytes.
 */
IT433TD_PLAIN_API int32_t IT433TD_CALL ImprimeCODE128_IT433TD(const char *port, const char *data,
                                                               int32_t length);

/**
 * Fires the paper cutter (ESC 'w').
 * @return the status of the write.
 */
IT433TD_PLAIN_API int32_t IT433TD_CALL AcionaGuilhotina_IT433TD(const char *port);

/**
 * Prints a QR code: takes the QR folder's lock, closes the port, has the
 * barcode library render qrCode.prn (and qrCode.bmp) in a folder of the
 * call's own inside Dados beside the host executable, which only the host's
 * user may enter or change (so another user of a shared Dados can neither
 * swap a file in nor put an earlier one back), copies the printer file raw
 * to the port in a detached process, waits 3000 ms from the copy's start and
 * opens the port again with the same rule as IniciaPorta_IT433TD; the two
 * files are then moved to Dados itself. When the environment variable
 * IT433TD_DADOS_DIR is set and not empty (read at each call), the files go to
 * the folder it names instead of Dados; that folder must exist, as Dados
 * must.
 *
 * Processes sharing the folder take turns through an OS lock on its file
 * qrCode.lock (flock on Linux, LockFileEx on Windows), waited for at most
 * 10 s; the system drops it when its holder dies. On Linux it is held until
 * the copy reports that it has the port open, on Windows until the copy's
 * 3000 ms are over. On Linux the module opens the rendered printer file
 * itself (only a regular file of its own user, through no link) and the
 * copy sends that open file; the copy never creates a file and appends to a
 * regular file.
 * @return the status of reopening the port when that is not 0; otherwise
 *   IT433TD_NOT_RENDERED when no printer file was rendered,
 *   IT433TD_COPY_FAILED when the copy could not start, could not open the
 *   port or found no file of its own to send (no 3000 ms wait then), or
 *   reported within its 3000 ms that not every byte was written; 0 when the
 *   copy wrote everything or is still writing when its window ends.
 *   IT433TD_QR_BUSY when the folder's lock stayed taken for the whole wait
 *   and IT433TD_BAD_ARGUMENT leave the port as it was (not even closed).
 */
IT433TD_PLAIN_API int32_t IT433TD_CALL ImprimeQRCode_IT433TD(const char *port, const char *data,
                                                              int32_t length);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* The plain operations above, each once, in the same order:
 * X(name, result, (parameters), (arguments)). The module defines and exports
 * them from this list (its POSIX version script and its Windows .def files
 * are made from it), and the it433td tool binds them from it. An entry must
 * match its declaration above, or the module does not compile. */
#define IT433TD_PLAIN_OPERATIONS(X)                                             \
  X(StartIT433TD, bool, (void), ())                                             \
  X(IniciaPorta_IT433TD, int32_t, (const char *port), (port))                   \
  X(FechaPorta_IT433TD, int32_t, (const char *port), (port))                    \
  X(FormataTX_IT433TD, int32_t,                                                 \
    (const char *port, const char *text, int32_t length), (port, text, length)) \
  X(ImprimeCODE128_IT433TD, int32_t,                                            \
    (const char *port, const char *data, int32_t length), (port, data, length)) \
  X(AcionaGuilhotina_IT433TD, int32_t, (const char *port), (port))              \
  X(ImprimeQRCode_IT433TD, int32_t,                                             \
    (const char *port, const char *data, int32_t length), (port, data, length))

#ifdef __cplusplus

#include <string_view>

/* The qualified names, for C++ hosts of the same compiler. */
namespace Cli_Vossik {

IT433TD_API bool StartIT433TD();
/** Empties the fourteen entry-point slots; the libraries stay loaded. */
IT433TD_API void StopIT433TD();
IT433TD_API int32_t IniciaPorta_IT433TD(std::string_view port);
IT433TD_API int32_t FechaPorta_IT433TD(std::string_view port);
IT433TD_API int32_t FormataTX_IT433TD(std::string_view port, std::string_view text);
IT433TD_API int32_t ImprimeCODE128_IT433TD(std::string_view port, std::string_view data);
IT433TD_API int32_t AcionaGuilhotina_IT433TD(std::string_view port);
IT433TD_API int32_t ImprimeQRCode_IT433TD(std::string_view port, std::string_view data);

/* The vendor library handles: set once loaded, never released. */
extern IT433TD_API it433td_library_handle DLLMEGENCOM32;
extern IT433TD_API it433td_library_handle DLLP32GeCodeBar;

/* The fourteen entry-point slots, each named after its entry point; null
 * until bound. A host may call the ones the module never calls itself, such
 * as MEGENCOM32_StatusDoDispositivo. */
#define IT433TD_DECLARE_SLOT(name, type) extern IT433TD_API type name;
IT433TD_DEVICE_ENTRIES(IT433TD_DECLARE_SLOT)
IT433TD_BARCODE_ENTRIES(IT433TD_DECLARE_SLOT)
#undef IT433TD_DECLARE_SLOT

/* The instance slot of the driver's data module; the module never sets it. */
extern IT433TD_API void *rdmIT433TD;

}  // namespace Cli_Vossik
#endif /* __cplusplus */

#endif /* IT433TD_CLI_VOSSIK_H */
