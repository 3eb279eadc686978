// web_hosts.cpp - this machine's names and addresses, and the Host values
// made of them.
#include "emulator/web/web_hosts.h"

#include "common/host_port.h"
#include "common/shown_text.h"
#include "common/tool_error.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

namespace it433td::tools {

namespace {

bool isIpv4(const std::string &text) {
  in_addr address{};
  return ::inet_pton(AF_INET, text.c_str(), &address) == 1;
}

bool isIpv6(const std::string &text) {
  in6_addr address{};
  return ::inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

// Letters, digits, dots and hyphens: what a host name in a URL is made of.
bool isHostName(const std::string &text) {
  return !text.empty() && text.size() <= 253 && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-';
  });
}

// The host name and its fully qualified form, as the resolver gives them.
std::vector<std::string> machineNames() {
  char name[256] = "";
  if (::gethostname(name, sizeof name - 1) != 0 || !*name) return {};
  std::vector<std::string> names{name};
  addrinfo hints{};
  hints.ai_flags = AI_CANONNAME;
  addrinfo *found = nullptr;
  if (::getaddrinfo(name, nullptr, &hints, &found) == 0) {
    if (found && found->ai_canonname) names.emplace_back(found->ai_canonname);
    ::freeaddrinfo(found);
  }
  return names;
}

// The address of each network interface (IPv6 link-local ones included, but
// without a zone: browsers send none).
std::vector<std::string> machineAddresses() {
  std::vector<std::string> addresses;
  ifaddrs *interfaces = nullptr;
  if (::getifaddrs(&interfaces) != 0) return addresses;
  for (const ifaddrs *at = interfaces; at; at = at->ifa_next) {
    if (!at->ifa_addr) continue;
    char text[INET6_ADDRSTRLEN] = "";
    if (at->ifa_addr->sa_family == AF_INET)
      ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(at->ifa_addr)->sin_addr, text,
                  sizeof text);
    else if (at->ifa_addr->sa_family == AF_INET6)
      ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(at->ifa_addr)->sin6_addr,
                  text, sizeof text);
    if (*text) addresses.emplace_back(text);
  }
  ::freeifaddrs(interfaces);
  return addresses;
}

}  // namespace

std::string lowerCased(std::string text) {
  for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool isLoopbackHost(const std::string &host) {
  in_addr v4{};
  if (::inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  return host == "::1" || lowerCased(host) == "localhost";
}

std::vector<std::string> pageHosts(const std::string &boundHost, int port,
                                   const std::vector<std::string> &extraNames) {
  std::vector<std::string> names{boundHost, "localhost", "127.0.0.1", "::1"};
  if (!isLoopbackHost(boundHost)) {
    for (auto &name : machineNames()) names.push_back(std::move(name));
    for (auto &address : machineAddresses()) names.push_back(std::move(address));
  }
  names.insert(names.end(), extraNames.begin(), extraNames.end());
  std::vector<std::string> hosts;
  for (std::string name : names) {
    if (name.size() > 2 && name.front() == '[') name = name.substr(1, name.size() - 2);
    if (name.empty()) continue;
    hosts.push_back(lowerCased(joinHostPort(name, port)));
    if (port == 80) hosts.push_back(lowerCased(isIpv6(name) ? "[" + name + "]" : name));
  }
  std::sort(hosts.begin(), hosts.end());
  hosts.erase(std::unique(hosts.begin(), hosts.end()), hosts.end());
  return hosts;
}

std::string webHostName(const std::string &name) {
  std::string bare = name;
  if (bare.size() > 2 && bare.front() == '[' && bare.back() == ']')
    bare = bare.substr(1, bare.size() - 2);
  if (isIpv6(bare)) return "[" + lowerCased(bare) + "]";
  if (isIpv4(bare) || isHostName(bare)) return lowerCased(bare);
  throw ToolError(kExitBadInput, "--web-host " + shownText(name) +
                                     ": expected a host name or an address, without a port "
                                     "(the page's port is added)");
}

}  // namespace it433td::tools
