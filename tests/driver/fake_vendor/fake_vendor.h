// A recording, scriptable fake of the two vendor libraries.
//
// Every call of an entry point is logged with its arguments, bytes and time;
// each test scripts what the device answers. The same sources build the
// fake libMEGENCOM32.so / libP32GeCodeBar.so that the module loads through
// its real dlopen path, and link into the unit tests directly.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "vendor_contract.h"

#define FAKE_API extern "C" __attribute__((visibility("default")))

struct FakeCall {
  std::string entry;             // entry point, or a platform event ("sleep", "copy")
  std::string port;              // port name (or first path)
  std::vector<int64_t> numbers;  // integer arguments
  std::string bytes;             // bytes written, data rendered
  bool nullData = false;        // the data pointer was null
  std::string bitmapPath, printerPath;
  std::chrono::steady_clock::time_point when = std::chrono::steady_clock::now();
};

// What one write call answers. `reported` is stored in *written unless
// leaveCount is set; `reported < 0` with acceptAll stores the whole count.
struct FakeWriteAnswer {
  int32_t status = 0;
  int32_t reported = 0;
  bool leaveCount = false;
  bool acceptAll = false;
};

struct FakeVendor {
  std::mutex lock;
  std::vector<FakeCall> calls;
  std::deque<FakeWriteAnswer> writeScript;  // empty: success, all written
  int32_t acceptPerWrite = 0;              // > 0: accept at most this many bytes per write
  int32_t openStatus = 0;
  int32_t closeStatus = 0;
  bool render = true;          // QRCODE writes the printer file
  int writeDelayMs = 0;      // a slow device, to widen race windows
  int writesInProgress = 0;  // concurrent writes seen right now
  int mostConcurrentWrites = 0;

  void record(FakeCall call) {
    std::lock_guard<std::mutex> hold(lock);
    calls.push_back(std::move(call));
  }
  std::vector<FakeCall> snapshot() {
    std::lock_guard<std::mutex> hold(lock);
    return calls;
  }
  std::vector<FakeCall> callsOf(const std::string &entry) {
    std::vector<FakeCall> found;
    for (auto &call : snapshot())
      if (call.entry == entry) found.push_back(call);
    return found;
  }
};

// The fake's state in this library (or, linked in, in this program).
FAKE_API FakeVendor *fakeVendor();

// What the fake barcode library writes as the printer file for `data`.
inline std::string fakePrinterFile(const std::string &data) { return "FAKE-PRN:" + data; }

// The fourteen entry points. The eight the module never calls take no
// arguments here.
extern "C" {
int32_t IT433TD_CALL MEGENCOM32_AbrirDispositivo(const char *port, int32_t speed, int32_t parity,
                                                 int32_t dataBits, int32_t stopBits, int32_t flow);
int32_t IT433TD_CALL MEGENCOM32_FecharDispositivo(const char *port);
int32_t IT433TD_CALL MEGENCOM32_EscrevernoDispositivo(const char *port, const void *bytes,
                                                      int32_t count, int32_t *written);
void IT433TD_CALL MEGENCOM32_ConfigurarTimeoutsRXTX(void);
void IT433TD_CALL MEGENCOM32_LeroDispositivo(void);
void IT433TD_CALL MEGENCOM32_PreparaImpressao(void);
void IT433TD_CALL MEGENCOM32_AguardaImpressao(void);
void IT433TD_CALL MEGENCOM32_AguardaImpressaoStr(void);
void IT433TD_CALL MEGENCOM32_StatusDoDispositivo(void);
void IT433TD_CALL MEGENCOM32_AtivarLOG(void);
int32_t IT433TD_CALL CODEBAR32_PGeCodeBarInicia(void);
int32_t IT433TD_CALL CODEBAR32_PGeCodeBarQRCODE(int32_t eccLevel, int32_t indent,
                                                int32_t moduleSize, const char *data,
                                                int32_t length, const char *bmpPath,
                                                const char *prnPath);
void IT433TD_CALL CODEBAR32_PGeBMPtoPRN(void);
int32_t IT433TD_CALL CODEBAR32_PGeCodeBarFinaliza(void);
}
