// status_names.cpp - statuses in words. Each library names its own: the
// device library's come from MEGENCOM32.h, the module's names from
// Cli_Vossik.h.
#include "status_names.h"

#include "Cli_Vossik.h"
#include "MEGENCOM32.h"

namespace it433td::tools {

namespace {

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

}  // namespace

std::string statusName(std::int32_t status) {
  if (const char *name = it433td_status_name(status)) return name;
  if (const char *name = megencom32_status_name(status)) return name;
  return "status " + std::to_string(status);
}

std::string describeStatus(std::int32_t status) {
  const std::string value = " (" + std::to_string(status) + ")";
  if (it433td_status_name(status) && status != 0)
    return statusName(status) + value + ": " + moduleMeaning(status);
  if (const char *name = megencom32_status_name(status))
    return name + value + ": " + megencom32_status_meaning(status);
  return "status " + std::to_string(status) + ": unknown to this program";
}

}  // namespace it433td::tools
