#include "recording_platform.h"

#include <map>

#include "Cli_Vossik.h"
#include "copy_command.h"
#include "operations.h"

namespace {

RecordingPlatform *installed = nullptr;
int device_token, barcode_token;  // addresses stand for the two handles

void *device_handle() { return &device_token; }
void *barcode_handle() { return &barcode_token; }

const std::map<std::string, void *> &device_entries() {
#define FAKE_ADDRESS(name, type) {#name, reinterpret_cast<void *>(&::name)},
  static const std::map<std::string, void *> entries = {IT433TD_DEVICE_ENTRIES(FAKE_ADDRESS)};
  return entries;
}

const std::map<std::string, void *> &barcode_entries() {
  static const std::map<std::string, void *> entries = {IT433TD_BARCODE_ENTRIES(FAKE_ADDRESS)};
  return entries;
#undef FAKE_ADDRESS
}

it433td::LibraryHandle load_library(const char *file_name) {
  const std::string name = file_name;
  installed->loads.push_back(name);
  if (name == IT433TD_DEVICE_LIBRARY && installed->device_loads) return device_handle();
  if (name == IT433TD_BARCODE_LIBRARY && installed->barcode_loads) return barcode_handle();
  return nullptr;
}

void *find_entry(it433td::LibraryHandle library, const char *name) {
  if (installed->missing_entries.count(name)) return nullptr;
  const auto &entries = library == device_handle() ? device_entries() : barcode_entries();
  const auto found = entries.find(name);
  return found == entries.end() ? nullptr : found->second;
}

void record_event(const char *entry, std::vector<int64_t> numbers = {}) {
  FakeCall call;
  call.entry = entry;
  call.numbers = std::move(numbers);
  fake_vendor()->record(call);
}

void sleep_ms(uint32_t milliseconds) {
  record_event("sleep", {milliseconds});
  installed->clock_ms += milliseconds;
}

uint64_t monotonic_ms() { return installed->clock_ms; }

it433td::FileLock lock_file(const std::string &path, uint32_t wait_ms, intptr_t *held) {
  record_event("lock", {wait_ms});
  if (installed->lock_answer) {
    *held = -1;
    return *installed->lock_answer;
  }
  return it433td::native_platform().lock_file(path, wait_ms, held);
}

void unlock_file(intptr_t held) {
  record_event("unlock");
  if (held != -1) it433td::native_platform().unlock_file(held);
}

std::string host_executable_path() { return installed->host_executable; }

std::string environment_value(const char *name) {
  const auto found = installed->environment.find(name);
  return found == installed->environment.end() ? "" : found->second;
}

bool port_name_safe_for_copy(std::string_view port) {
  return !installed->windows_port_rule || it433td::is_safe_copy_port_name(port);
}

bool remove_file(const std::string &path) {
  return !installed->removal_fails && it433td::native_platform().remove_file(path);
}

it433td::RawCopy start_raw_copy(const std::string &printer_path, intptr_t, const std::string &port,
                                uint32_t report_wait_ms, intptr_t *copy) {
  FakeCall call;
  call.entry = "copy";
  call.port = port;
  call.printer_path = printer_path;
  call.numbers = {report_wait_ms};
  fake_vendor()->record(call);
  installed->clock_ms += installed->copy_report_ms;
  *copy = 0;
  return installed->copy_answer;
}

it433td::CopyEnd finish_raw_copy(intptr_t) {
  record_event("copy_end");
  return installed->copy_end;
}

void reset_fake() {
  FakeVendor &fake = *fake_vendor();
  std::lock_guard<std::mutex> hold(fake.lock);
  fake.calls.clear();
  fake.write_script.clear();
  fake.accept_per_write = 0;
  fake.open_status = fake.close_status = 0;
  fake.render = true;
  fake.write_delay_ms = 0;
  fake.most_concurrent_writes = 0;
}

}  // namespace

RecordingPlatform::RecordingPlatform() {
  installed = this;
  it433td::Platform &system = it433td::platform();
  system.load_library = load_library;
  system.find_entry = find_entry;
  system.sleep_ms = sleep_ms;
  system.host_executable_path = host_executable_path;
  system.environment_value = environment_value;
  system.port_name_safe_for_copy = port_name_safe_for_copy;
  system.remove_file = remove_file;
  system.start_raw_copy = start_raw_copy;
  system.finish_raw_copy = finish_raw_copy;
  system.monotonic_ms = monotonic_ms;
  system.lock_file = lock_file;
  system.unlock_file = unlock_file;
  reset_fake();
  it433td::driver::stop();
  Cli_Vossik::DLLMEGENCOM32 = nullptr;
  Cli_Vossik::DLLP32GeCodeBar = nullptr;
}

RecordingPlatform::~RecordingPlatform() {
  it433td::driver::stop();
  Cli_Vossik::DLLMEGENCOM32 = nullptr;
  Cli_Vossik::DLLP32GeCodeBar = nullptr;
  it433td::platform() = it433td::native_platform();
  installed = nullptr;
}

RecordingPlatform &recorder() { return *installed; }
