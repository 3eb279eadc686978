// web_console.cpp - routes, the event streams and the checks that keep
// other origins out.
#include "web_console.h"

#include "guarded_http_server.h"
#include "host_port.h"
#include "tool_error.h"
#include "web_assets.h"
#include "web_hosts.h"

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <thread>

namespace it433td::tools {

namespace {

using printer::PrinterState;

constexpr int kMaxEventStreams = 16;      // each holds a worker while the page is open
constexpr int kMaxEventStreamsPerClient = 4;  // of one address: a browser opens at most 6 connections
constexpr std::size_t kQuickWorkers = 8;  // for everything else, answered at once
constexpr std::size_t kPayloadLimit = 1024;  // POST /state says one word
constexpr std::size_t kReceiptsOnPage = 50;  // replayed to a page that opens
constexpr std::size_t kEventsKept = 256;
constexpr auto kKeepAlive = std::chrono::seconds(15);
constexpr const char *kTokenHeader = "X-IT433TD-Token";

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

bool sameText(const std::string &a, const std::string &b) {  // in time independent of where they differ
  if (a.size() != b.size()) return false;
  unsigned char differ = 0;
  for (std::size_t i = 0; i < a.size(); ++i) differ |= static_cast<unsigned char>(a[i] ^ b[i]);
  return differ == 0;
}

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

std::string event(const char *name, const std::string &json) {
  return std::string("event: ") + name + "\ndata: " + json + "\n\n";
}

std::string stateEvent(PrinterState state) {
  return event("state", "{\"state\":\"" + std::string(printer::stateName(state)) + "\"}");
}

// A JSON string of text that is UTF-8 (the transcript's warning lines).
std::string jsonString(const std::string &text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      quoted += escaped;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::string receiptEvent(const printer::WrittenReceipt &receipt) {
  std::string warnings;
  for (const std::string &line : receipt.warnings)
    warnings += (warnings.empty() ? "" : ",") + jsonString(line);
  return event("receipt", "{\"number\":" + std::to_string(receipt.number) + ",\"warnings\":[" +
                              warnings + "]}");
}

bool readWhole(const std::filesystem::path &path, std::string *content) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  *content = bytes.str();
  return static_cast<bool>(in);
}

}  // namespace

struct WebConsole::Impl {
  WebConsoleOptions options;
  std::string token = newToken();
  std::string run = newToken();  // a page that reconnects to another run reloads
  std::string url;
  std::set<std::string> hosts;  // the Host values answered to
  GuardedHttpServer server{kMaxEventStreams + kQuickWorkers};
  std::thread thread;

  std::mutex mutex;
  std::condition_variable changed;
  bool closing = false;
  int streams = 0;
  std::map<std::string, int> streamsOf;  // by the client's address
  std::map<std::int64_t, printer::WrittenReceipt> receipts;  // this run's, by number
  std::deque<std::pair<std::uint64_t, std::string>> events;  // sequence, text
  std::uint64_t nextSequence = 1;

  void publish(std::string text) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      events.emplace_back(nextSequence++, std::move(text));
      if (events.size() > kEventsKept) events.pop_front();
    }
    changed.notify_all();
  }

  // What a page that opens is told first: the state and the latest
  // receipts, oldest first (the page puts each new one on top).
  std::string greeting(std::uint64_t *next) {
    std::lock_guard<std::mutex> lock(mutex);
    std::string text = "retry: 1000\n\n" + event("run", "{\"run\":\"" + run + "\"}") +
                       stateEvent(options.state());
    auto from = receipts.size() > kReceiptsOnPage
                    ? std::prev(receipts.end(), static_cast<long>(kReceiptsOnPage))
                    : receipts.begin();
    for (auto it = from; it != receipts.end(); ++it) text += receiptEvent(it->second);
    *next = nextSequence;
    return text;
  }

  // The events after `*next`, once there are some; a comment to keep the
  // connection alive after a quiet while; empty when the server closes.
  std::string waitForEvents(std::uint64_t *next) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, kKeepAlive, [&] { return closing || nextSequence > *next; });
    if (closing) return {};
    if (nextSequence == *next) return ": still here\n\n";
    std::string text;
    for (const auto &[sequence, body] : events)
      if (sequence >= *next) text += body;  // a page too slow to follow misses some
    *next = nextSequence;
    return text;
  }

  void routes() {
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
    server.set_pre_routing_handler([this](const httplib::Request &request, httplib::Response &response) {
      if (!hosts.count(lowerCased(request.get_header_value("Host")))) {
        response.status = 403;
        response.set_content("this page answers only to the names of its own address\n",
                             "text/plain");
        return httplib::Server::HandlerResponse::Handled;
      }
      return httplib::Server::HandlerResponse::Unhandled;
    });
    server.Get("/", [this](const httplib::Request &, httplib::Response &response) {
      std::string page(webPageHtml());
      replaceAll(page, "@TOKEN@", token);
      replaceAll(page, "@RUN@", run);
      replaceAll(page, "@TITLE@", htmlEscaped(options.title));
      response.set_content(page, "text/html; charset=utf-8");
    });
    server.Get("/page.css", [](const httplib::Request &, httplib::Response &response) {
      response.set_content(std::string(webPageCss()), "text/css; charset=utf-8");
    });
    server.Get("/page.js", [](const httplib::Request &, httplib::Response &response) {
      response.set_content(std::string(webPageJs()), "text/javascript; charset=utf-8");
    });
    server.Get("/favicon.svg", [](const httplib::Request &, httplib::Response &response) {
      response.set_content(std::string(webPageFavicon()), "image/svg+xml");
    });
    server.Get(R"(/receipts/(\d{1,18})\.(png|txt))",
               [this](const httplib::Request &request, httplib::Response &response) {
                 serveReceipt(request, response);
               });
    server.Get("/events", [this](const httplib::Request &request, httplib::Response &response) {
      const std::string client = request.remote_addr;
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (streams >= kMaxEventStreams || streamsOf[client] >= kMaxEventStreamsPerClient) {
          response.status = 503;
          response.set_content("too many pages open\n", "text/plain");
          return;
        }
        ++streams;
        ++streamsOf[client];
      }
      auto next = std::make_shared<std::uint64_t>(0);
      auto greeted = std::make_shared<bool>(false);
      response.set_chunked_content_provider(
          "text/event-stream",
          [this, next, greeted](std::size_t, httplib::DataSink &sink) {
            const std::string text = *greeted ? waitForEvents(next.get()) : greeting(next.get());
            *greeted = true;
            return !text.empty() && sink.write(text.data(), text.size());
          },
          [this, client](bool) {
            std::lock_guard<std::mutex> lock(mutex);
            --streams;
            if (--streamsOf[client] == 0) streamsOf.erase(client);
          });
    });
    server.Post("/state", [this](const httplib::Request &request, httplib::Response &response) {
      changeState(request, response);
    });
  }

  void serveReceipt(const httplib::Request &request, httplib::Response &response) {
    const std::int64_t number = std::stoll(request.matches[1].str());
    const bool picture = request.matches[2].str() == "png";
    std::filesystem::path path;
    {
      std::lock_guard<std::mutex> lock(mutex);
      const auto found = receipts.find(number);
      if (found != receipts.end()) path = picture ? found->second.picture : found->second.transcript;
    }
    std::string content;
    if (path.empty() || !readWhole(path, &content)) {
      response.status = 404;
      response.set_content("no such receipt in this run\n", "text/plain");
      return;
    }
    if (request.has_param("download"))
      response.set_header("Content-Disposition",
                          "attachment; filename=\"" + path.filename().string() + "\"");
    response.set_content(std::move(content), picture ? "image/png" : "text/plain; charset=utf-8");
  }

  void changeState(const httplib::Request &request, httplib::Response &response) {
    const std::string origin = request.get_header_value("Origin");
    const bool sameOrigin = origin.empty() || origin == "http://" + request.get_header_value("Host");
    if (!sameOrigin || !sameText(request.get_header_value(kTokenHeader), token)) {
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
    options.setState(*state);
    response.set_content(std::string(printer::stateName(*state)) + "\n", "text/plain");
  }
};

WebConsole::WebConsole(WebConsoleOptions options) : impl_(std::make_unique<Impl>()) {
  impl_->options = std::move(options);
  Impl &impl = *impl_;
  impl.routes();
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
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->closing = true;
  }
  impl_->changed.notify_all();
  impl_->server.stop();
  if (impl_->thread.joinable()) impl_->thread.join();
  impl_->server.shutdown();
}

const std::string &WebConsole::url() const { return impl_->url; }

void WebConsole::receiptWritten(const printer::WrittenReceipt &receipt) {
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->receipts[receipt.number] = receipt;
  }
  impl_->publish(receiptEvent(receipt));
}

void WebConsole::stateChanged(PrinterState state) { impl_->publish(stateEvent(state)); }

}  // namespace it433td::tools
