// request_framing.h - what the web server's waiting room reads of a request
// before a worker sees it: where its head ends, how long its body is, and
// the path it asks for.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace it433td::tools {

struct RequestFraming {
  // The head's and the body's bytes together; 0 while the head has not ended.
  std::size_t length = 0;
  // The status line the waiting room answers with instead, closing the
  // connection ("411 Length Required"); null for a request it can take.
  const char *refusal = nullptr;
};

// The request at the start of `bytes`. Its head ends at a blank line, its
// lines in CRLF or in a bare LF (which cpp-httplib refuses at once, 400);
// its body is the Content-Length given, at most `bodyLimit` (413 past it).
// A chunked body is refused (411: the page always sends a length), and so
// is a length that does not parse or is given twice (400).
RequestFraming requestFraming(const std::string &bytes, std::size_t bodyLimit);

// The path its request line asks for, without the query: "/events".
std::string_view requestPath(const std::string &bytes);

}  // namespace it433td::tools
