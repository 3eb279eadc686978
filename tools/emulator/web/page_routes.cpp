// page_routes.cpp - the page, its files, and the one change it may ask for.
#include "emulator/web/routes.h"

#include "emulator/web/web_assets.h"

namespace it433td::tools {

namespace {

constexpr const char *kTokenHeader = "X-IT433TD-Token";

void replaceAll(std::string &text, const std::string &mark, const std::string &by) {
  for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + by.size()))
    text.replace(at, mark.size(), by);
}

std::string htmlEscaped(const std::string &text) {
  std::string escaped;
  for (char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

// In a time that does not depend on where they differ.
bool sameText(const std::string &a, const std::string &b) {
  if (a.size() != b.size()) return false;
  unsigned char differ = 0;
  for (std::size_t i = 0; i < a.size(); ++i) differ |= static_cast<unsigned char>(a[i] ^ b[i]);
  return differ == 0;
}

void serveFile(httplib::Server &server, const std::string &path, std::string_view content,
               const char *type) {
  server.Get(path, [content, type](const httplib::Request &, httplib::Response &response) {
    response.set_content(std::string(content), type);
  });
}

}  // namespace

void addPageRoutes(httplib::Server &server, const PageIdentity &identity) {
  server.Get("/", [&identity](const httplib::Request &, httplib::Response &response) {
    std::string page(webPageHtml());
    replaceAll(page, "@TOKEN@", identity.token);
    replaceAll(page, "@RUN@", identity.run);
    replaceAll(page, "@TITLE@", htmlEscaped(identity.title));
    response.set_content(page, "text/html; charset=utf-8");
  });
  serveFile(server, "/page.css", webPageCss(), "text/css; charset=utf-8");
  serveFile(server, "/page.js", webPageJs(), "text/javascript; charset=utf-8");
  serveFile(server, "/favicon.svg", webPageFavicon(), "image/svg+xml");
}

void addStateRoute(httplib::Server &server, const PageIdentity &identity,
                   std::function<void(printer::PrinterState)> setState) {
  server.Post("/state", [&identity, setState](const httplib::Request &request,
                                             httplib::Response &response) {
    const std::string origin = request.get_header_value("Origin");
    const bool sameOrigin = origin.empty() || origin == "http://" + request.get_header_value("Host");
    if (!sameOrigin || !sameText(request.get_header_value(kTokenHeader), identity.token)) {
      response.status = 403;
      response.set_content("refused: not sent by this printer's page\n", "text/plain");
      return;
    }
    const auto state = printer::stateFromName(request.body);
    if (!state) {
      response.status = 400;
      response.set_content("unknown state\n", "text/plain");
      return;
    }
    setState(*state);
    response.set_content(std::string(printer::stateName(*state)) + "\n", "text/plain");
  });
}

}  // namespace it433td::tools
