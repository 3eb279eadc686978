// routes.h - what the web page's server answers, by concern:
//   GET  /                      the page (with this run's token)
//   GET  /page.css, /page.js    its style and script
//   GET  /favicon.svg           its icon
//   GET  /events                server-sent events (page_feed.h)
//   GET  /receipts/N.png|.txt   a receipt written in this run, by number
//                               only (?download: as an attachment)
//   POST /state                 body "online", "paper-out", "offline";
//                               only with header X-IT433TD-Token: <token>
#pragma once

#include "emulator/web/page_feed.h"

#include <httplib.h>

#include <functional>
#include <string>

namespace it433td::tools {

// The event stream's path: its requests have workers of their own
// (guarded_http_server.h), as each lasts while its page is open.
inline constexpr char kEventsPath[] = "/events";

struct PageIdentity {
  std::string token;  // changes need it; a page of another origin cannot read it
  std::string run;    // a page that reconnects to another run reloads
  std::string title;  // e.g. "COM1 and 127.0.0.1:9100"
};

// The page and its files.
void addPageRoutes(httplib::Server &server, const PageIdentity &identity);
// The receipts' files and the event stream.
void addFeedRoutes(httplib::Server &server, PageFeed &feed,
                   std::function<printer::PrinterState()> state);
// The state buttons.
void addStateRoute(httplib::Server &server, const PageIdentity &identity,
                   std::function<void(printer::PrinterState)> setState);

}  // namespace it433td::tools
