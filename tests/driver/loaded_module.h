// The real module, loaded with dlopen from a scenario folder that holds a
// copy of it beside the fake vendor libraries of that scenario. The module
// finds them through its RUNPATH ($ORIGIN), as it finds ours when installed.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "Cli_Vossik.h"
#include "fake_vendor/fake_vendor.h"
#include "qualified_symbol.h"

class LoadedModule {
 public:
  explicit LoadedModule(const std::string &scenario) {
    const std::string path = std::string(IT433TD_SCENARIOS) + "/" + scenario + "/libPkg_Vossik.so";
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) ADD_FAILURE() << dlerror();
  }
  ~LoadedModule() {
    if (handle_) dlclose(handle_);
  }
  LoadedModule(const LoadedModule &) = delete;
  LoadedModule &operator=(const LoadedModule &) = delete;

  template <typename Function>
  Function function(const char *plainName) {
    void *address = dlsym(handle_, plainName);
    EXPECT_NE(address, nullptr) << plainName;
    return reinterpret_cast<Function>(address);
  }

  // An exported variable of namespace Cli_Vossik, by its mangled name.
  void *&variable(const std::string &name) {
    const std::string mangled = it433td::qualifiedSymbol(name);
    void *address = dlsym(handle_, mangled.c_str());
    if (!address) {
      ADD_FAILURE() << "no export " << mangled;
      static void *none = nullptr;
      return none;
    }
    return *static_cast<void **>(address);
  }

  // The fake's state inside the library that the module loaded.
  FakeVendor *fakeIn(const char *handleVariable) {
    void *library = variable(handleVariable);
    if (!library) return nullptr;
    return reinterpret_cast<FakeVendor *(*)()>(dlsym(library, "fakeVendor"))();
  }

  bool start() { return function<bool (*)()>("StartIT433TD")(); }

 private:
  void *handle_ = nullptr;
};

inline bool library_loaded(const char *fileName) {
  void *handle = dlopen(fileName, RTLD_NOW | RTLD_NOLOAD);
  if (handle) dlclose(handle);
  return handle != nullptr;
}

// Each case needs a process of its own (ctest runs it so): libraries the
// module loaded stay loaded for the life of the process.
#define REQUIRE_FRESH_PROCESS()                                                   \
  if (library_loaded(IT433TD_DEVICE_LIBRARY) || library_loaded(IT433TD_BARCODE_LIBRARY)) \
  GTEST_SKIP() << "run each case in a process of its own (ctest does)"
