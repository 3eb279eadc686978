// The symbol under which the module exports a name of namespace Cli_Vossik
// (a qualified function, a library handle, an entry-point slot), as gcc,
// clang and mingw-w64 mangle it (the Itanium C++ ABI): what a host that
// looks such a name up with dlsym or GetProcAddress asks for. Shared by the
// it433td tool and the tests, so that the scheme is written once.
#pragma once

#include <string>
#include <string_view>

namespace it433td {

// "_ZN10Cli_Vossik13DLLMEGENCOM32E" for "DLLMEGENCOM32": a variable's whole
// symbol, and the start of a function's (its parameter types follow, as in
// "_ZN10Cli_Vossik11StopIT433TDEv").
inline std::string qualifiedSymbol(std::string_view name) {
  constexpr std::string_view kNamespace = "Cli_Vossik";
  return "_ZN" + std::to_string(kNamespace.size()) + std::string(kNamespace) +
         std::to_string(name.size()) + std::string(name) + "E";
}

}  // namespace it433td
