// request_framing.cpp - the head's end, Content-Length and Transfer-Encoding,
// and the request line's path.
#include "emulator/web/request_framing.h"

#include "emulator/web/web_hosts.h"  // lowerCased

#include <algorithm>
#include <cstdint>

namespace it433td::tools {

namespace {

constexpr std::size_t kNone = std::string::npos;

// Past the blank line that ends the head, or kNone.
std::size_t headEnd(const std::string &bytes) {
  const std::size_t bare = bytes.find("\n\n"), crlf = bytes.find("\n\r\n");
  return std::min(bare == kNone ? kNone : bare + 2, crlf == kNone ? kNone : crlf + 3);
}

std::string_view trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool allDigits(std::string_view text) {
  return !text.empty() && text.size() <= 18 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

RequestFraming requestFraming(const std::string &bytes, std::size_t bodyLimit) {
  const std::size_t end = headEnd(bytes);
  if (end == kNone) return {};
  const std::string_view head(bytes.data(), end);
  std::uint64_t bodyLength = 0;
  bool lengthGiven = false;
  for (std::size_t at = head.find('\n') + 1; at < head.size();) {  // past the request line
    const std::size_t next = std::min(head.find('\n', at), head.size());
    const std::string_view line = head.substr(at, next - at);
    at = next + 1;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;  // cpp-httplib's to judge
    const std::string name = lowerCased(std::string(trimmed(line.substr(0, colon))));
    const std::string_view value = trimmed(line.substr(colon + 1));
    if (name == "transfer-encoding") return {0, "411 Length Required"};
    if (name != "content-length") continue;
    if (lengthGiven || !allDigits(value)) return {0, "400 Bad Request"};
    lengthGiven = true;
    bodyLength = std::stoull(std::string(value));
  }
  if (bodyLength > bodyLimit) return {0, "413 Payload Too Large"};
  return {end + static_cast<std::size_t>(bodyLength), nullptr};
}

std::string_view requestPath(const std::string &bytes) {
  const std::string_view line(bytes.data(), std::min(bytes.find('\n'), bytes.size()));
  const std::size_t start = line.find(' ');
  if (start == std::string_view::npos) return {};
  const std::string_view target = line.substr(start + 1, line.find(' ', start + 1) - start - 1);
  return target.substr(0, target.find('?'));
}

}  // namespace it433td::tools
