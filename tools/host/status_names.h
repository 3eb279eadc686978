// status_names.h - statuses in words: the module's own (negative), the
// device library's (1-14) and the barcode library's (100 and up), as a host
// shows them to a person.
#pragma once

#include <cstdint>
#include <string>

namespace it433td::tools {

// "MEGENCOM32_NO_SUCH_PORT (1): the port name does not resolve, or no device
// is there"; the names and words come from each library's own header.
std::string describeStatus(std::int32_t status);

// Only the name, e.g. "MEGENCOM32_PAPER_OUT", "IT433TD_NOT_RENDERED",
// or "status 42" for a value nobody names.
std::string statusName(std::int32_t status);

}  // namespace it433td::tools
