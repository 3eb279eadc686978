// host_port.h - "[HOST:]PORT" as given to --listen and --web.
#pragma once

#include <string>

namespace it433td::tools {

struct HostPort {
  std::string host;
  std::string port;  // digits, 0 to 65535 (0: any free port)
};

// "9100" -> {defaultHost, "9100"}; "0.0.0.0:9100"; "localhost:8080";
// "[::1]:9100". Throws ToolError (bad input) naming `option` otherwise.
HostPort parseHostPort(const std::string &text, const std::string &defaultHost,
                       const std::string &option);

// "127.0.0.1:9100", "[::1]:9100": how to write the pair back.
std::string joinHostPort(const std::string &host, int port);

}  // namespace it433td::tools
