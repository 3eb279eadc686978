// driver_module.cpp - loading the module by file name and binding its plain
// exports, the way a C, C# or Python host does.
#include "host/driver_module.h"

#include "executable_path_posix.h"
#include "qualified_symbol.h"
#include "common/tool_error.h"

#include <climits>
#include <dlfcn.h>
#include <unistd.h>

namespace it433td::tools {

namespace fs = std::filesystem;

namespace {

// Texts longer than the module's 32-bit length cannot be passed whole.
std::int32_t lengthOf(std::string_view bytes) {
  if (bytes.size() > static_cast<std::size_t>(INT32_MAX))
    throw ToolError(kExitBadInput, "text or data too long for the module (over 2 GiB)");
  return static_cast<std::int32_t>(bytes.size());
}

}  // namespace

fs::path executableFolder() {
  const std::string self = executablePath();
  return self.empty() ? fs::current_path() : fs::path(self).parent_path();
}

// The module under its soname (libPkg_Vossik.so.6), which the runtime
// package installs; the unversioned link is a development file.
fs::path defaultModulePath() {
  return (executableFolder() / IT433TD_MODULE_FROM_BINDIR).lexically_normal();
}

DriverModule::DriverModule(const fs::path &path) {
  handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char *why = ::dlerror();
    throw ToolError(kExitNoModule,
                    "cannot load the driver module: " + std::string(why ? why : path.string()));
  }
  try {
#define IT433TD_BIND_PLAIN(name, result, parameters, arguments) \
  plain_.name = reinterpret_cast<decltype(plain_.name)>(symbol(#name));
    IT433TD_PLAIN_OPERATIONS(IT433TD_BIND_PLAIN)
#undef IT433TD_BIND_PLAIN
  } catch (...) {
    ::dlclose(handle_);
    throw;
  }
}

DriverModule::~DriverModule() { ::dlclose(handle_); }

void *DriverModule::symbol(const char *name) const {
  void *address = ::dlsym(handle_, name);
  if (!address)
    throw ToolError(kExitNoModule, std::string("the driver module does not export ") + name);
  return address;
}

// A variable of namespace Cli_Vossik under its mangled name.
void *DriverModule::exportedVariable(std::string_view name) const {
  void *address = ::dlsym(handle_, qualifiedSymbol(name).c_str());
  return address ? *static_cast<void **>(address) : nullptr;
}

void DriverModule::start() {
  if (plain_.StartIT433TD()) return;
  // The handles tell which library was missing: the device library is tried
  // first, and the barcode library only once the device library loaded.
  std::string why;
  if (!exportedVariable("DLLMEGENCOM32"))
    why = "the device library libMEGENCOM32.so cannot be loaded";
  else if (!exportedVariable("DLLP32GeCodeBar"))
    why = "the barcode library libP32GeCodeBar.so cannot be loaded";
  else
    why = "a vendor library lacks one of its entry points";
  throw ToolError(kExitNoModule, "StartIT433TD failed: " + why +
                                     " (they are looked for beside the module)");
}

std::int32_t DriverModule::openPort(const std::string &port) {
  return plain_.IniciaPorta_IT433TD(port.c_str());
}

std::int32_t DriverModule::closePort(const std::string &port) {
  return plain_.FechaPorta_IT433TD(port.c_str());
}

std::int32_t DriverModule::cutPaper(const std::string &port) {
  return plain_.AcionaGuilhotina_IT433TD(port.c_str());
}

std::int32_t DriverModule::printCondensed(const std::string &port, std::string_view text) {
  return plain_.FormataTX_IT433TD(port.c_str(), text.data(), lengthOf(text));
}

std::int32_t DriverModule::printCode128(const std::string &port, std::string_view data) {
  return plain_.ImprimeCODE128_IT433TD(port.c_str(), data.data(), lengthOf(data));
}

std::int32_t DriverModule::printQrCode(const std::string &port, std::string_view data) {
  return plain_.ImprimeQRCode_IT433TD(port.c_str(), data.data(), lengthOf(data));
}

DriverModule::StatusRequest DriverModule::statusRequest() const {
  return reinterpret_cast<StatusRequest>(exportedVariable("MEGENCOM32_StatusDoDispositivo"));
}

}  // namespace it433td::tools
