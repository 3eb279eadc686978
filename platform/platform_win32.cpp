// The platform seam on Windows.
//
// In this file, in order:
//   - library loading and lookup (LoadLibraryA / GetProcAddress)
//   - sleeping, the host executable's path, file checks
//   - the raw copy: "cmd.exe" started hidden through ShellExecuteA with
//     /C COPY "<printer file>"/B <port>, not waited for
//   - the table
#include <windows.h>
#include <shellapi.h>

#include "copy_command.h"
#include "platform.h"

namespace it433td {
namespace {

it433td_library_handle load_library(const char *file_name) { return LoadLibraryA(file_name); }

void *find_entry(it433td_library_handle library, const char *name) {
  return library ? reinterpret_cast<void *>(GetProcAddress(library, name)) : nullptr;
}

void sleep_ms(uint32_t milliseconds) { Sleep(milliseconds); }

std::string host_executable_path() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);  // truncated: try a larger buffer
  }
}

// GetEnvironmentVariableA reads the process's environment block, which
// SetEnvironmentVariableA changes; the C runtime's getenv copy may not see it.
std::string environment_value(const char *name) {
  std::string value(256, '\0');
  for (;;) {
    const DWORD length = GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) return {};
    if (length < value.size()) {
      value.resize(length);
      return value;
    }
    value.resize(length);  // too small: length is the size needed, with the NUL
  }
}

bool file_exists(const std::string &path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool remove_file(const std::string &path) {
  return DeleteFileA(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

// The port name goes into cmd.exe's command line.
bool port_name_safe_for_copy(std::string_view port) { return is_safe_copy_port_name(port); }

// ShellExecuteA answers a value above 32 when the program was started.
bool start_raw_copy(const std::string &printer_file, const std::string &port) {
  const std::string parameters = copy_command_parameters(printer_file, port);
  const HINSTANCE started =
      ShellExecuteA(nullptr, nullptr, "cmd.exe", parameters.c_str(), nullptr, SW_HIDE);
  return reinterpret_cast<INT_PTR>(started) > 32;
}

}  // namespace

const Platform &native_platform() {
  static const Platform table = {load_library,     find_entry,  sleep_ms,
                                 host_executable_path, environment_value, file_exists,
                                 remove_file, port_name_safe_for_copy, start_raw_copy, '\\'};
  return table;
}

}  // namespace it433td
