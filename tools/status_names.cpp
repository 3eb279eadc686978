// status_names.cpp - one table of the device library's statuses; the
// module's own are named by its public header.
#include "status_names.h"

#include "Cli_Vossik.h"
#include "MEGENCOM32.h"

namespace it433td::tools {

namespace {

struct NamedStatus {
  std::int32_t value;
  const char *name;
  const char *meaning;
};

constexpr NamedStatus kDeviceStatuses[] = {
    {MEGENCOM32_OK, "MEGENCOM32_OK", "success"},
    {MEGENCOM32_NO_SUCH_PORT, "MEGENCOM32_NO_SUCH_PORT",
     "the port name does not resolve, or no device is there"},
    {MEGENCOM32_BUSY, "MEGENCOM32_BUSY", "another program holds the port"},
    {MEGENCOM32_ALREADY_OPEN, "MEGENCOM32_ALREADY_OPEN", "the port is open already"},
    {MEGENCOM32_NOT_OPEN, "MEGENCOM32_NOT_OPEN", "the port is not open"},
    {MEGENCOM32_BAD_SETTINGS, "MEGENCOM32_BAD_SETTINGS",
     "the serial line does not take the printer's settings"},
    {MEGENCOM32_BAD_ARGUMENT, "MEGENCOM32_BAD_ARGUMENT", "the device library refused an argument"},
    {MEGENCOM32_IO_ERROR, "MEGENCOM32_IO_ERROR", "a system error on the port"},
    {MEGENCOM32_TIMEOUT, "MEGENCOM32_TIMEOUT", "the printer took nothing in time"},
    {MEGENCOM32_HANGUP, "MEGENCOM32_HANGUP", "the far end hung up"},
    {MEGENCOM32_UNPLUGGED, "MEGENCOM32_UNPLUGGED", "the device is gone (unplugged)"},
    {MEGENCOM32_PAPER_OUT, "MEGENCOM32_PAPER_OUT", "the printer is out of paper"},
    {MEGENCOM32_OFFLINE, "MEGENCOM32_OFFLINE", "the printer is offline (cover open or error)"},
    {MEGENCOM32_NO_ANSWER, "MEGENCOM32_NO_ANSWER", "the printer did not answer a status request"},
    {MEGENCOM32_LOG_FAILED, "MEGENCOM32_LOG_FAILED", "the log file cannot be opened"},
};

const char *moduleMeaning(std::int32_t status) {
  switch (status) {
    case IT433TD_BAD_ARGUMENT: return "the module refused an argument; nothing was sent";
    case IT433TD_NOT_BOUND: return "the vendor libraries are not bound";
    case IT433TD_STALLED: return "the printer stopped taking bytes; the text was not sent whole";
    case IT433TD_NOT_RENDERED: return "no QR printer file was rendered (is there a Dados folder?)";
    case IT433TD_INTERNAL_ERROR: return "an unexpected failure inside the module";
    case IT433TD_QR_BUSY:
      return "another QR code held the Dados folder for 10 s; nothing was printed, the port is as it was";
    case IT433TD_COPY_FAILED:
      return "the QR code could not be copied to the port (a port name leading nowhere?); nothing was printed";
    default: return "success";
  }
}

const NamedStatus *deviceStatus(std::int32_t status) {
  for (const auto &entry : kDeviceStatuses)
    if (entry.value == status) return &entry;
  return nullptr;
}

}  // namespace

std::string statusName(std::int32_t status) {
  if (const char *name = it433td_status_name(status)) return name;
  if (const NamedStatus *entry = deviceStatus(status)) return entry->name;
  return "status " + std::to_string(status);
}

std::string describeStatus(std::int32_t status) {
  const std::string value = " (" + std::to_string(status) + ")";
  if (it433td_status_name(status) && status != 0)
    return statusName(status) + value + ": " + moduleMeaning(status);
  if (const NamedStatus *entry = deviceStatus(status))
    return std::string(entry->name) + value + ": " + entry->meaning;
  return "status " + std::to_string(status) + ": unknown to this program";
}

}  // namespace it433td::tools
