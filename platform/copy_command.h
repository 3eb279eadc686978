// The parameters handed to "cmd.exe" on Windows for the raw copy of the QR
// printer file to the port: /C COPY "<printer file>"/B <port>
// (no blank between the closing quote and /B). The port name goes into a
// command line, so only names made of safe characters may reach it.
#pragma once

#include <string>
#include <string_view>

namespace it433td {

inline std::string copyCommandParameters(std::string_view printerFile,
                                         std::string_view port) {
  std::string parameters = "/C COPY \"";
  parameters.append(printerFile);
  parameters += "\"/B ";
  parameters.append(port);
  return parameters;
}

// ASCII letters, digits and \ . : _ - $ only: enough for COM1, LPT1, \\.\COM10,
// \\server\share$ and the like, and nothing the command interpreter treats
// as an operator, a quote or a separator.
inline bool isSafeCopyPortName(std::string_view port) {
  for (char c : port) {
    const bool safe = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                      (c >= '0' && c <= '9') ||
                      std::string_view("\\.:_-$").find(c) != std::string_view::npos;
    if (!safe) return false;
  }
  return true;
}

}  // namespace it433td
