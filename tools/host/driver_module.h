// driver_module.h - the driver module as any host loads it: dlopen of
// libPkg_Vossik.so and dlsym of the plain C names.
#pragma once

#include "Cli_Vossik.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace it433td::tools {

// The folder of the running executable (through /proc/self/exe): the module
// puts its Dados folder there.
std::filesystem::path executableFolder();

// Where an installed or built it433td finds the module: <bin>/../lib.
std::filesystem::path defaultModulePath();

class DriverModule {
public:
  using StatusRequest = std::int32_t (*)(const char *port, std::int32_t *statusByte);

  // Loads the module; throws ToolError (kExitNoModule) with the loader's
  // message when it cannot be loaded or lacks a plain entry point.
  explicit DriverModule(const std::filesystem::path &path);
  ~DriverModule();
  DriverModule(const DriverModule &) = delete;
  DriverModule &operator=(const DriverModule &) = delete;

  // StartIT433TD; throws ToolError (kExitNoModule) naming the vendor library
  // that is missing when it answers false.
  void start();

  std::int32_t openPort(const std::string &port);
  std::int32_t closePort(const std::string &port);
  std::int32_t printCondensed(const std::string &port, std::string_view text);
  std::int32_t printCode128(const std::string &port, std::string_view data);
  std::int32_t printQrCode(const std::string &port, std::string_view data);
  std::int32_t cutPaper(const std::string &port);

  // The device library's status request, as bound by StartIT433TD into the
  // module's exported slot Cli_Vossik::MEGENCOM32_StatusDoDispositivo; null
  // when not bound.
  StatusRequest statusRequest() const;

private:
  void *symbol(const char *name) const;
  void *exportedVariable(std::string_view name) const;

  void *handle_ = nullptr;
  // One pointer for each plain operation of the module's list
  // (IT433TD_PLAIN_OPERATIONS), each bound by its name.
  struct PlainOperations {
#define IT433TD_PLAIN_POINTER(name, result, parameters, arguments) \
  result(IT433TD_CALL *name) parameters = nullptr;
    IT433TD_PLAIN_OPERATIONS(IT433TD_PLAIN_POINTER)
#undef IT433TD_PLAIN_POINTER
  } plain_;
};

}  // namespace it433td::tools
