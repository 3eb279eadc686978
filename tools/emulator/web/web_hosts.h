// web_hosts.h - the names the web page answers to (its Host check).
//
// A page of another site can reach a server on this machine under a name of
// its own (DNS rebinding: evil.example made to resolve to 127.0.0.1); the
// browser then treats the answers as that site's, so the page could read the
// token and the receipts. Only the Host header tells, so the page answers
// only to the names it is really reached by, each with the page's port:
//   - bound to a loopback address: that address, localhost, 127.0.0.1, [::1];
//   - bound to any other address (0.0.0.0, ::, an address of this machine):
//     those four (a browser reaches 0.0.0.0 on this machine, and no other
//     site can own that name), this machine's host name (and its fully
//     qualified name) and the address of each of its network interfaces;
//   - in both cases, the names given with --web-host.
// Names are compared without regard to case; nothing else is loosened.
#pragma once

#include <string>
#include <vector>

namespace it433td::tools {

// A Host header value as pageHosts spells it: ASCII letters lower-cased.
std::string lowerCased(std::string text);

// 127.0.0.0/8, ::1 and localhost.
bool isLoopbackHost(const std::string &host);

// Every Host header value the page answers to, lower-cased: "localhost:8433",
// "[::1]:8433", ... (and the bare names too on port 80, where browsers leave
// the port out).
std::vector<std::string> pageHosts(const std::string &boundHost, int port,
                                   const std::vector<std::string> &extraNames);

// A --web-host NAME as it appears in a Host header: a host name, an IPv4
// address, or an IPv6 address (put in brackets), lower-cased. Throws
// ToolError (bad input) for anything else, a port included.
std::string webHostName(const std::string &name);

}  // namespace it433td::tools
