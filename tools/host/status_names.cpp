// status_names.cpp - statuses in words. Each library names its own, and
// this file only asks them: the module's names and meanings come from
// Cli_Vossik.h, the device library's from MEGENCOM32.h, the barcode
// library's names from P32GeCodeBar.h.
#include "host/status_names.h"

#include <cstring>

#include "Cli_Vossik.h"
#include "MEGENCOM32.h"
#include "P32GeCodeBar.h"

namespace it433td::tools {

namespace {

// The barcode library's name of a status, or null for a value it does not
// name (it answers "unknown" then).
const char *barcodeName(std::int32_t status) {
  const char *name = p32gecodebar_status_name(status);
  return std::strcmp(name, "unknown") == 0 ? nullptr : name;
}

}  // namespace

std::string statusName(std::int32_t status) {
  if (const char *name = it433td_status_name(status)) return name;
  if (const char *name = megencom32_status_name(status)) return name;
  if (const char *name = barcodeName(status)) return name;
  return "status " + std::to_string(status);
}

std::string describeStatus(std::int32_t status) {
  const std::string value = " (" + std::to_string(status) + ")";
  if (const char *meaning = it433td_status_meaning(status))
    return statusName(status) + value + ": " + meaning;
  if (const char *name = megencom32_status_name(status))
    return name + value + ": " + megencom32_status_meaning(status);
  if (const char *name = barcodeName(status))
    return name + value + ": a failure of the barcode library";
  return "status " + std::to_string(status) + ": unknown to this program";
}

}  // namespace it433td::tools
