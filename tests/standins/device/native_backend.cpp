// The Linux build of the device library, called in this process.
#include "device_backend.h"

namespace device_backend {

void start(const std::string &) {}
void stop() {}
std::string portName(const std::string &path) { return path; }
bool native() { return true; }
std::optional<long long> lastCallMs() { return std::nullopt; }

}  // namespace device_backend
