// host_port.cpp - splitting and joining "[HOST:]PORT".
#include "common/host_port.h"
#include "common/shown_text.h"

#include "common/tool_error.h"

#include <cctype>

namespace it433td::tools {

namespace {

bool isPort(const std::string &text) {
  if (text.empty() || text.size() > 5) return false;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return std::stoi(text) <= 65535;
}

}  // namespace

HostPort parseHostPort(const std::string &text, const std::string &defaultHost,
                       const std::string &option) {
  HostPort parsed{defaultHost, text};
  if (!text.empty() && text.front() == '[') {  // [v6 address]:port
    const size_t close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
      throw ToolError(kExitBadInput,
                      option + " " + shownText(text) + ": write an IPv6 host as [::1]:PORT");
    parsed = {text.substr(1, close - 1), text.substr(close + 2)};
  } else if (const size_t colon = text.rfind(':'); colon != std::string::npos) {
    parsed = {text.substr(0, colon), text.substr(colon + 1)};
  }
  if (parsed.host.empty() || (parsed.host.find(':') != std::string::npos && text.front() != '[') ||
      !isPort(parsed.port))
    throw ToolError(kExitBadInput,
                    option + " " + shownText(text) +
                        ": expected [HOST:]PORT with a port from 0 to 65535");
  return parsed;
}

std::string joinHostPort(const std::string &host, int port) {
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

}  // namespace it433td::tools
