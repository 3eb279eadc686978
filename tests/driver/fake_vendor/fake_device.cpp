// The fake device library: logs every call, answers as scripted.
#include <algorithm>
#include <thread>

#include "fake_vendor.h"

namespace {

FakeCall call_named(const char *entry, const char *port) {
  FakeCall call;
  call.entry = entry;
  call.port = port ? port : "<null>";
  return call;
}

void record_unused(const char *entry) { fake_vendor()->record(call_named(entry, "")); }

}  // namespace

FAKE_API int32_t IT433TD_CALL MEGENCOM32_AbrirDispositivo(const char *port, int32_t speed,
                                                          int32_t parity, int32_t dataBits,
                                                          int32_t stopBits, int32_t flow) {
  FakeCall call = call_named("MEGENCOM32_AbrirDispositivo", port);
  call.numbers = {speed, parity, dataBits, stopBits, flow};
  fake_vendor()->record(call);
  return fake_vendor()->open_status;
}

FAKE_API int32_t IT433TD_CALL MEGENCOM32_FecharDispositivo(const char *port) {
  fake_vendor()->record(call_named("MEGENCOM32_FecharDispositivo", port));
  return fake_vendor()->close_status;
}

FAKE_API int32_t IT433TD_CALL MEGENCOM32_EscrevernoDispositivo(const char *port,
                                                               const void *bytes, int32_t count,
                                                               int32_t *written) {
  FakeVendor &fake = *fake_vendor();
  FakeWriteAnswer answer;
  answer.accept_all = true;
  {
    std::lock_guard<std::mutex> hold(fake.lock);
    if (!fake.write_script.empty()) {
      answer = fake.write_script.front();
      fake.write_script.pop_front();
    }
    fake.most_concurrent_writes = std::max(fake.most_concurrent_writes, ++fake.writes_in_progress);
  }
  FakeCall call = call_named("MEGENCOM32_EscrevernoDispositivo", port);
  call.numbers = {count};
  if (bytes && count > 0) call.bytes.assign(static_cast<const char *>(bytes), size_t(count));
  if (fake.write_delay_ms)
    std::this_thread::sleep_for(std::chrono::milliseconds(fake.write_delay_ms));
  fake.record(call);

  int32_t accepted = answer.accept_all ? count : answer.reported;
  if (answer.accept_all && fake.accept_per_write > 0)
    accepted = std::min(count, fake.accept_per_write);
  if (written && !answer.leave_count) *written = accepted;
  {
    std::lock_guard<std::mutex> hold(fake.lock);
    --fake.writes_in_progress;
  }
  return answer.status;
}

FAKE_API void IT433TD_CALL MEGENCOM32_ConfigurarTimeoutsRXTX(void) {
  record_unused("MEGENCOM32_ConfigurarTimeoutsRXTX");
}
FAKE_API void IT433TD_CALL MEGENCOM32_LeroDispositivo(void) {
  record_unused("MEGENCOM32_LeroDispositivo");
}
FAKE_API void IT433TD_CALL MEGENCOM32_PreparaImpressao(void) {
  record_unused("MEGENCOM32_PreparaImpressao");
}
FAKE_API void IT433TD_CALL MEGENCOM32_AguardaImpressao(void) {
  record_unused("MEGENCOM32_AguardaImpressao");
}
FAKE_API void IT433TD_CALL MEGENCOM32_AguardaImpressaoStr(void) {
  record_unused("MEGENCOM32_AguardaImpressaoStr");
}
FAKE_API void IT433TD_CALL MEGENCOM32_StatusDoDispositivo(void) {
  record_unused("MEGENCOM32_StatusDoDispositivo");
}
// A library variant lacks this one entry point, to test binding failures.
#ifndef FAKE_OMIT_ATIVARLOG
FAKE_API void IT433TD_CALL MEGENCOM32_AtivarLOG(void) { record_unused("MEGENCOM32_AtivarLOG"); }
#endif
