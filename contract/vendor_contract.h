/*
 * The contract with the two vendor libraries, as C declarations.
 *
 * The device library (MEGENCOM32) does all port I/O; the barcode library
 * (P32GeCodeBar) renders QR codes into a printer file. The module loads both
 * at run time by file name and binds fourteen entry points, in the order of
 * the lists below. It calls six of them; the other eight are bound and
 * exported for the host only.
 *
 * Statuses are signed 32-bit values: 0 is success, anything else a failure
 * code whose meaning belongs to the library.
 */
#ifndef IT433TD_VENDOR_CONTRACT_H
#define IT433TD_VENDOR_CONTRACT_H

#include <stdint.h>

/* Every vendor entry point, and every plain export of the module, uses the
 * Windows API convention on Windows (the callee pops its arguments on i686;
 * ignored on x86_64) and the platform's C convention elsewhere. */
#if defined(_WIN32)
#define IT433TD_CALL __stdcall
#else
#define IT433TD_CALL
#endif

/* Library file names, loaded through the platform's normal search. */
#if defined(_WIN32)
#define IT433TD_DEVICE_LIBRARY "MEGENCOM32.dll"
#define IT433TD_BARCODE_LIBRARY "P32GeCodeBar.dll"
#else
#define IT433TD_DEVICE_LIBRARY "libMEGENCOM32.so"
#define IT433TD_BARCODE_LIBRARY "libP32GeCodeBar.so"
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the device on `port` for the later calls that name the same port.
 * speed, parity (a character code: 'N', 'E', 'O', 'M', 'S'), dataBits,
 * stopBits and flow (0 none, 1 RTS/CTS, 2 XON/XOFF) configure a serial line;
 * five zeros mean "open the device as it is". */
typedef int32_t(IT433TD_CALL *MEGENCOM32_AbrirDispositivo_fn)(const char *port, int32_t speed,
                                                               int32_t parity, int32_t dataBits,
                                                               int32_t stopBits, int32_t flow);
/* Releases the port, so that another process may write to it. */
typedef int32_t(IT433TD_CALL *MEGENCOM32_FecharDispositivo_fn)(const char *port);
/* Writes `count` bytes and reports in *written how many went out. */
typedef int32_t(IT433TD_CALL *MEGENCOM32_EscrevernoDispositivo_fn)(const char *port,
                                                                    const void *bytes,
                                                                    int32_t count,
                                                                    int32_t *written);
/* Prepares the barcode library for the next rendering. */
typedef int32_t(IT433TD_CALL *CODEBAR32_PGeCodeBarInicia_fn)(void);
/* Renders `data` (length-counted; null when empty) as a QR code into a bitmap
 * file and a printer file. eccLevel is 'L', 'M', 'Q' or 'H', indent the left
 * margin in printer dots, moduleSize the dots per QR module. */
typedef int32_t(IT433TD_CALL *CODEBAR32_PGeCodeBarQRCODE_fn)(int32_t eccLevel, int32_t indent,
                                                              int32_t moduleSize,
                                                              const char *data, int32_t length,
                                                              const char *bmpPath,
                                                              const char *prnPath);
/* Ends the rendering begun by CODEBAR32_PGeCodeBarInicia. */
typedef int32_t(IT433TD_CALL *CODEBAR32_PGeCodeBarFinaliza_fn)(void);

/* The entry points that the module binds but never calls. */
typedef void(IT433TD_CALL *IT433TD_GenericEntry)(void);

#ifdef __cplusplus
}
#endif

/* The fourteen entry points, declared once, in binding order: X(name, type).
 * The exported slots, their declarations and the binding loop all come from
 * these lists. */
#define IT433TD_DEVICE_ENTRIES(X)                                       \
  X(MEGENCOM32_AbrirDispositivo, MEGENCOM32_AbrirDispositivo_fn)         \
  X(MEGENCOM32_FecharDispositivo, MEGENCOM32_FecharDispositivo_fn)       \
  X(MEGENCOM32_ConfigurarTimeoutsRXTX, IT433TD_GenericEntry)             \
  X(MEGENCOM32_EscrevernoDispositivo, MEGENCOM32_EscrevernoDispositivo_fn) \
  X(MEGENCOM32_LeroDispositivo, IT433TD_GenericEntry)                    \
  X(MEGENCOM32_PreparaImpressao, IT433TD_GenericEntry)                   \
  X(MEGENCOM32_AguardaImpressao, IT433TD_GenericEntry)                   \
  X(MEGENCOM32_AguardaImpressaoStr, IT433TD_GenericEntry)                \
  X(MEGENCOM32_StatusDoDispositivo, IT433TD_GenericEntry)                \
  X(MEGENCOM32_AtivarLOG, IT433TD_GenericEntry)

#define IT433TD_BARCODE_ENTRIES(X)                                \
  X(CODEBAR32_PGeCodeBarInicia, CODEBAR32_PGeCodeBarInicia_fn)     \
  X(CODEBAR32_PGeCodeBarQRCODE, CODEBAR32_PGeCodeBarQRCODE_fn)     \
  X(CODEBAR32_PGeBMPtoPRN, IT433TD_GenericEntry)                   \
  X(CODEBAR32_PGeCodeBarFinaliza, CODEBAR32_PGeCodeBarFinaliza_fn)

#endif /* IT433TD_VENDOR_CONTRACT_H */
