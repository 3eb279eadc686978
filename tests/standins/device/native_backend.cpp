// The Linux build of the device library, called in this process.
#include "device_backend.h"

namespace device_backend {

void start(const std::string &) {}
void stop() {}
std::string port_name(const std::string &path) { return path; }
bool native() { return true; }
std::optional<long long> last_call_ms() { return std::nullopt; }

}  // namespace device_backend
