// The ports this library has open, by the name the caller gave ("COM7" and
// "com7" are two entries; the exclusive hold keeps them from sharing a tty).
#pragma once

#include <stdint.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "line_values.h"
#include "port.h"

namespace megencom32 {

class PortRegistry {
 public:
  static PortRegistry &instance();

  // Resolves `name`, opens the device and records it under `name`.
  // ALREADY_OPEN when that name is open already, else openDevice's status.
  int32_t open(const std::string &name, const LineSettings &settings);
  // The open port named `name`, or null.
  std::shared_ptr<Port> find(const std::string &name);
  // Removes `name` and hands its port back for release, or null.
  std::shared_ptr<Port> take(const std::string &name);

 private:
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<Port>> ports_;
};

}  // namespace megencom32
