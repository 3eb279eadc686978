// web_console.h - the virtual printer's live web page (cpp-httplib).
//
// One page: the receipts as they are cut, newest first, each as its picture
// with its transcript and the codes read from it; the printer's state with
// buttons that change it; downloads of each receipt's PNG and transcript.
// New receipts and state changes reach the page as server-sent events.
//
// What it serves and accepts: routes.h.
// A page from another origin can neither read the token nor send that
// header without a CORS preflight, which is never granted, so it cannot
// change the state. A request whose Host is not one of the page's own names
// (web_hosts.h) is refused, so a DNS rebinding page cannot read anything.
// No answer may be framed or loaded by another site. The connections are
// served by a GuardedHttpServer; a client (an address) keeps at most 4 event
// streams open, and all together at most 16.
#pragma once

#include "printer_model.h"
#include "receipt_writer.h"
#include "status_answers.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace it433td::tools {

struct WebConsoleOptions {
  std::string host = "127.0.0.1";
  std::string port = "8433";  // "0": any free port
  std::string title;           // e.g. "COM1 and 127.0.0.1:9100"
  std::vector<std::string> extraHosts;  // --web-host names (web_hosts.h)
  printer::PrinterSetup setup;          // named on the page
  std::function<printer::PrinterState()> state;
  std::function<void(printer::PrinterState)> setState;  // from the buttons
};

class WebConsole {
public:
  // Binds and starts serving on threads of its own; throws ToolError when
  // the address cannot be had.
  explicit WebConsole(WebConsoleOptions options);
  ~WebConsole();  // ends every event stream and the server
  WebConsole(const WebConsole &) = delete;
  WebConsole &operator=(const WebConsole &) = delete;

  const std::string &url() const;

  // Tell the page; safe from any thread.
  void receiptWritten(const printer::WrittenReceipt &receipt);
  void stateChanged(printer::PrinterState state);

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace it433td::tools
