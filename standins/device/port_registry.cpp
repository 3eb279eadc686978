#include "port_registry.h"

#include "MEGENCOM32.h"
#include "port_io.h"

namespace megencom32 {

PortRegistry &PortRegistry::instance() {
  // Never destroyed: a host thread may still call in during exit.
  static PortRegistry *registry = new PortRegistry;
  return *registry;
}

int32_t PortRegistry::open(const std::string &name, const LineSettings &settings) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (ports_.count(name) != 0) return MEGENCOM32_ALREADY_OPEN;
  auto port = std::make_shared<Port>();
  int32_t status = openDevice(name, settings, *port);
  if (status == MEGENCOM32_OK) ports_.emplace(name, std::move(port));
  return status;
}

std::shared_ptr<Port> PortRegistry::find(const std::string &name) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = ports_.find(name);
  return it == ports_.end() ? nullptr : it->second;
}

std::shared_ptr<Port> PortRegistry::take(const std::string &name) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = ports_.find(name);
  if (it == ports_.end()) return nullptr;
  std::shared_ptr<Port> port = std::move(it->second);
  ports_.erase(it);
  return port;
}

}  // namespace megencom32
