// port_holders.h - which processes hold a terminal open, to say what kept
// a port busy: "process 4711 (python3)".
#pragma once

#include <string>
#include <vector>

namespace it433td::tools {

// Every process (but this one) with a descriptor open on `device`, e.g.
// /dev/pts/7, as "process 4711 (python3)". Only the processes whose
// descriptors we may read are seen: our own user's, or all for root.
std::vector<std::string> processesHolding(const std::string &device);

}  // namespace it433td::tools
