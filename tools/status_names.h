// status_names.h - statuses in words: the module's own (negative) and the
// device library's (1-14), as a host shows them to a person.
#pragma once

#include <cstdint>
#include <string>

namespace it433td::tools {

// "MEGENCOM32_NO_SUCH_PORT (1): the port name does not resolve, or no device
// is there"; the module's own names come from it433td_status_name().
std::string describeStatus(std::int32_t status);

// Only the name, e.g. "MEGENCOM32_PAPER_OUT", "IT433TD_NOT_RENDERED",
// or "status 42" for a value nobody names.
std::string statusName(std::int32_t status);

}  // namespace it433td::tools
