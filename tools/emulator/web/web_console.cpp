// web_console.cpp - the page's server: its headers, the Host check that
// keeps other sites out, and its routes (routes.h).
#include "emulator/web/web_console.h"

#include "common/host_port.h"
#include "common/tool_error.h"
#include "emulator/web/guarded_http_server.h"
#include "emulator/web/page_feed.h"
#include "emulator/web/routes.h"
#include "emulator/web/web_hosts.h"

#include <cstdio>
#include <random>
#include <set>
#include <thread>

namespace it433td::tools {

namespace {

constexpr std::size_t kQuickWorkers = 8;     // for everything but event streams, answered at once
constexpr std::size_t kPayloadLimit = 1024;  // POST /state says one word

std::string newToken() {
  std::random_device random;
  std::string token;
  for (int i = 0; i < 4; ++i) {
    char part[9];
    std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(random()));
    token += part;
  }
  return token;
}

}  // namespace

struct WebConsole::Impl {
  explicit Impl(WebConsoleOptions given) : options(std::move(given)) {}

  WebConsoleOptions options;
  PageIdentity identity{newToken(), newToken(), options.title};
  PageFeed feed{identity.run, options.setup};
  std::string url;
  std::set<std::string> hosts;  // the Host values answered to
  GuardedHttpServer server{kQuickWorkers, PageFeed::kMaxStreams, kEventsPath};
  std::thread thread;

  void guard() {
    server.set_default_headers({
        {"Cache-Control", "no-store"},
        {"X-Content-Type-Options", "nosniff"},
        {"Content-Security-Policy",
         "default-src 'self'; img-src 'self'; frame-ancestors 'none'; form-action 'none'; "
         "base-uri 'none'"},
        {"X-Frame-Options", "DENY"},
        {"Referrer-Policy", "no-referrer"},
        // No other site may load a receipt's picture or transcript (an <img>
        // of another origin could count and measure them).
        {"Cross-Origin-Resource-Policy", "same-origin"},
    });
    server.set_payload_max_length(kPayloadLimit);
    server.set_pre_routing_handler([this](const httplib::Request &request,
                                          httplib::Response &response) {
      if (!hosts.count(lowerCased(request.get_header_value("Host")))) {
        response.status = 403;
        response.set_content("this page answers only to the names of its own address\n",
                             "text/plain");
        return httplib::Server::HandlerResponse::Handled;
      }
      return httplib::Server::HandlerResponse::Unhandled;
    });
  }
};

WebConsole::WebConsole(WebConsoleOptions options)
    : impl_(std::make_unique<Impl>(std::move(options))) {
  Impl &impl = *impl_;
  impl.guard();
  addPageRoutes(impl.server, impl.identity);
  addFeedRoutes(impl.server, impl.feed, impl.options.state);
  addStateRoute(impl.server, impl.identity, impl.options.setState);
  const int port = impl.server.bind(impl.options.host, std::stoi(impl.options.port));
  if (port <= 0)
    throw ToolError(kExitBadInput, "--web: cannot listen on " +
                                       joinHostPort(impl.options.host, std::stoi(impl.options.port)));
  impl.url = "http://" + joinHostPort(impl.options.host, port) + "/";
  for (auto &host : pageHosts(impl.options.host, port, impl.options.extraHosts))
    impl.hosts.insert(std::move(host));
  impl.thread = std::thread([&impl] { impl.server.listen_after_bind(); });
  // A stop() before the server runs would be lost and leave the thread in accept.
  for (int i = 0; i < 5000 && !impl.server.is_running(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

WebConsole::~WebConsole() {
  impl_->feed.close();
  impl_->server.stop();
  if (impl_->thread.joinable()) impl_->thread.join();
  impl_->server.shutdown();
}

const std::string &WebConsole::url() const { return impl_->url; }

void WebConsole::receiptWritten(const printer::WrittenReceipt &receipt) {
  impl_->feed.receiptWritten(receipt);
}

void WebConsole::stateChanged(printer::PrinterState state) { impl_->feed.stateChanged(state); }

}  // namespace it433td::tools
