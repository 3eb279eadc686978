// What a Windows DLL of the cross-builds tells about itself, read with the
// target's objdump: its export names, the DLLs it imports and the name its
// export directory records. The DLL checks (dll_checks.cpp) and the export
// list check (tests/module) read the DLLs through it.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace it433td::test {

// One cross-build of the Wine test folder.
struct WindowsBuild {
  const char *name;     // folder under the Wine test folder: win64, win32
  const char *objdump;  // the target's objdump
};

inline const WindowsBuild kWindowsBuilds[] = {{"win64", "x86_64-w64-mingw32-objdump"},
                                              {"win32", "i686-w64-mingw32-objdump"}};

// How GoogleTest names a build in its messages.
inline void PrintTo(const WindowsBuild &build, std::ostream *out) { *out << build.name; }

// What `command` writes on its standard output.
inline std::string commandOutput(const std::string &command) {
  std::unique_ptr<FILE, int (*)(FILE *)> pipe(popen(command.c_str(), "r"), pclose);
  std::string out;
  if (!pipe) return out;
  char chunk[4096];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, pipe.get())) > 0) out.append(chunk, got);
  return out;
}

struct DllFacts {
  std::set<std::string> exports;
  std::vector<std::string> imports;  // DLL names
  std::string moduleName;
};

inline DllFacts readDll(const WindowsBuild &build, const std::filesystem::path &dll) {
  DllFacts facts;
  std::istringstream lines(
      commandOutput(std::string(build.objdump) + " -p '" + dll.string() + "'"));
  std::string line;
  bool inNames = false;
  while (std::getline(lines, line)) {
    if (line.rfind("[Ordinal/Name Pointer] Table", 0) == 0) {
      inNames = true;
      continue;
    }
    if (inNames) {
      size_t close = line.find("] ");
      if (line.empty() || close == std::string::npos) {
        inNames = false;
      } else {
        facts.exports.insert(line.substr(close + 2));
        continue;
      }
    }
    if (size_t at = line.find("DLL Name: "); at != std::string::npos)
      facts.imports.push_back(line.substr(at + 10));
    if (line.rfind("Name ", 0) == 0) facts.moduleName = line.substr(line.find_last_of(" \t") + 1);
  }
  return facts;
}

}  // namespace it433td::test
