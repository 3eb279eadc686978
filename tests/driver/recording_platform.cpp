#include "recording_platform.h"

#include <map>

#include "Cli_Vossik.h"
#include "copy_command.h"
#include "operations.h"

namespace {

RecordingPlatform *installed = nullptr;
int deviceToken, barcodeToken;  // addresses stand for the two handles

void *deviceHandle() { return &deviceToken; }
void *barcodeHandle() { return &barcodeToken; }

const std::map<std::string, void *> &deviceEntries() {
#define FAKE_ADDRESS(name, type) {#name, reinterpret_cast<void *>(&::name)},
  static const std::map<std::string, void *> entries = {IT433TD_DEVICE_ENTRIES(FAKE_ADDRESS)};
  return entries;
}

const std::map<std::string, void *> &barcodeEntries() {
  static const std::map<std::string, void *> entries = {IT433TD_BARCODE_ENTRIES(FAKE_ADDRESS)};
  return entries;
#undef FAKE_ADDRESS
}

it433td::LibraryHandle loadLibrary(const char *fileName) {
  const std::string name = fileName;
  installed->loads.push_back(name);
  if (name == IT433TD_DEVICE_LIBRARY && installed->deviceLoads) return deviceHandle();
  if (name == IT433TD_BARCODE_LIBRARY && installed->barcodeLoads) return barcodeHandle();
  return nullptr;
}

void *findEntry(it433td::LibraryHandle library, const char *name) {
  if (installed->missingEntries.count(name)) return nullptr;
  const auto &entries = library == deviceHandle() ? deviceEntries() : barcodeEntries();
  const auto found = entries.find(name);
  return found == entries.end() ? nullptr : found->second;
}

void recordEvent(const char *entry, std::vector<int64_t> numbers = {}) {
  FakeCall call;
  call.entry = entry;
  call.numbers = std::move(numbers);
  fakeVendor()->record(call);
}

void sleepMs(uint32_t milliseconds) {
  recordEvent("sleep", {milliseconds});
  installed->clockMs += milliseconds;
}

uint64_t monotonicMs() { return installed->clockMs; }

it433td::FileLock lockFile(const std::string &path, uint32_t waitMs, intptr_t *held) {
  recordEvent("lock", {waitMs});
  if (installed->lockAnswer) {
    *held = -1;
    return *installed->lockAnswer;
  }
  return it433td::nativePlatform().lockFile(path, waitMs, held);
}

void unlockFile(intptr_t held) {
  recordEvent("unlock");
  if (held != -1) it433td::nativePlatform().unlockFile(held);
}

std::string hostExecutablePath() { return installed->hostExecutable; }

std::string environmentValue(const char *name) {
  const auto found = installed->environment.find(name);
  return found == installed->environment.end() ? "" : found->second;
}

bool portNameSafeForCopy(std::string_view port) {
  return !installed->windowsPortRule || it433td::isSafeCopyPortName(port);
}

bool removeFile(const std::string &path) {
  return !installed->removalFails && it433td::nativePlatform().removeFile(path);
}

it433td::RawCopy startRawCopy(const std::string &printerPath, intptr_t, const std::string &port,
                              uint32_t reportWaitMs, intptr_t *copy) {
  FakeCall call;
  call.entry = "copy";
  call.port = port;
  call.printerPath = printerPath;
  call.numbers = {reportWaitMs};
  fakeVendor()->record(call);
  installed->clockMs += installed->copyReportMs;
  *copy = 0;
  return installed->copyAnswer;
}

it433td::CopyEnd finishRawCopy(intptr_t) {
  recordEvent("copy_end");
  return installed->copyEnd;
}

void resetFake() {
  FakeVendor &fake = *fakeVendor();
  std::lock_guard<std::mutex> hold(fake.lock);
  fake.calls.clear();
  fake.writeScript.clear();
  fake.acceptPerWrite = 0;
  fake.openStatus = fake.closeStatus = 0;
  fake.render = true;
  fake.writeDelayMs = 0;
  fake.mostConcurrentWrites = 0;
}

}  // namespace

RecordingPlatform::RecordingPlatform() {
  installed = this;
  it433td::Platform &system = it433td::platform();
  system.loadLibrary = loadLibrary;
  system.findEntry = findEntry;
  system.sleepMs = sleepMs;
  system.hostExecutablePath = hostExecutablePath;
  system.environmentValue = environmentValue;
  system.portNameSafeForCopy = portNameSafeForCopy;
  system.removeFile = removeFile;
  system.startRawCopy = startRawCopy;
  system.finishRawCopy = finishRawCopy;
  system.monotonicMs = monotonicMs;
  system.lockFile = lockFile;
  system.unlockFile = unlockFile;
  resetFake();
  it433td::driver::stop();
  Cli_Vossik::DLLMEGENCOM32 = nullptr;
  Cli_Vossik::DLLP32GeCodeBar = nullptr;
}

RecordingPlatform::~RecordingPlatform() {
  it433td::driver::stop();
  Cli_Vossik::DLLMEGENCOM32 = nullptr;
  Cli_Vossik::DLLP32GeCodeBar = nullptr;
  it433td::platform() = it433td::nativePlatform();
  installed = nullptr;
}

RecordingPlatform &recorder() { return *installed; }
