// The fake device library: logs every call, answers as scripted.
#include <algorithm>
#include <thread>

#include "fake_vendor.h"

namespace {

FakeCall callNamed(const char *entry, const char *port) {
  FakeCall call;
  call.entry = entry;
  call.port = port ? port : "<null>";
  return call;
}

void recordUnused(const char *entry) { fakeVendor()->record(callNamed(entry, "")); }

}  // namespace

FAKE_API int32_t IT433TD_CALL MEGENCOM32_AbrirDispositivo(const char *port, int32_t speed,
                                                          int32_t parity, int32_t dataBits,
                                                          int32_t stopBits, int32_t flow) {
  FakeCall call = callNamed("MEGENCOM32_AbrirDispositivo", port);
  call.numbers = {speed, parity, dataBits, stopBits, flow};
  fakeVendor()->record(call);
  return fakeVendor()->openStatus;
}

FAKE_API int32_t IT433TD_CALL MEGENCOM32_FecharDispositivo(const char *port) {
  fakeVendor()->record(callNamed("MEGENCOM32_FecharDispositivo", port));
  return fakeVendor()->closeStatus;
}

FAKE_API int32_t IT433TD_CALL MEGENCOM32_EscrevernoDispositivo(const char *port,
                                                               const void *bytes, int32_t count,
                                                               int32_t *written) {
  FakeVendor &fake = *fakeVendor();
  FakeWriteAnswer answer;
  answer.acceptAll = true;
  {
    std::lock_guard<std::mutex> hold(fake.lock);
    if (!fake.writeScript.empty()) {
      answer = fake.writeScript.front();
      fake.writeScript.pop_front();
    }
    fake.mostConcurrentWrites = std::max(fake.mostConcurrentWrites, ++fake.writesInProgress);
  }
  FakeCall call = callNamed("MEGENCOM32_EscrevernoDispositivo", port);
  call.numbers = {count};
  if (bytes && count > 0) call.bytes.assign(static_cast<const char *>(bytes), size_t(count));
  if (fake.writeDelayMs)
    std::this_thread::sleep_for(std::chrono::milliseconds(fake.writeDelayMs));
  fake.record(call);

  int32_t accepted = answer.acceptAll ? count : answer.reported;
  if (answer.acceptAll && fake.acceptPerWrite > 0)
    accepted = std::min(count, fake.acceptPerWrite);
  if (written && !answer.leaveCount) *written = accepted;
  {
    std::lock_guard<std::mutex> hold(fake.lock);
    --fake.writesInProgress;
  }
  return answer.status;
}

FAKE_API void IT433TD_CALL MEGENCOM32_ConfigurarTimeoutsRXTX(void) {
  recordUnused("MEGENCOM32_ConfigurarTimeoutsRXTX");
}
FAKE_API void IT433TD_CALL MEGENCOM32_LeroDispositivo(void) {
  recordUnused("MEGENCOM32_LeroDispositivo");
}
FAKE_API void IT433TD_CALL MEGENCOM32_PreparaImpressao(void) {
  recordUnused("MEGENCOM32_PreparaImpressao");
}
FAKE_API void IT433TD_CALL MEGENCOM32_AguardaImpressao(void) {
  recordUnused("MEGENCOM32_AguardaImpressao");
}
FAKE_API void IT433TD_CALL MEGENCOM32_AguardaImpressaoStr(void) {
  recordUnused("MEGENCOM32_AguardaImpressaoStr");
}
FAKE_API void IT433TD_CALL MEGENCOM32_StatusDoDispositivo(void) {
  recordUnused("MEGENCOM32_StatusDoDispositivo");
}
// A library variant lacks this one entry point, to test binding failures.
#ifndef FAKE_OMIT_ATIVARLOG
FAKE_API void IT433TD_CALL MEGENCOM32_AtivarLOG(void) { recordUnused("MEGENCOM32_AtivarLOG"); }
#endif
