// virtual_printer_session.cpp - everything checked before anything is made;
// on the way out the ports stop first, then the writer, then the ports
// folder, so the port's entry is gone before its folder is removed.
#include "virtual_printer_session.h"

#include "tool_error.h"
#include "web_console.h"

#include <csignal>

namespace it433td::tools {

namespace {

PortsFolder makePortsFolder(const SessionOptions &options) {
  checkPortNameForFolder(options.port);
  return options.portsFolder.empty() ? PortsFolder::temporary()
                                     : PortsFolder::given(options.portsFolder);
}

}  // namespace

VirtualPrinterSession::VirtualPrinterSession(const SessionOptions &options)
    : state_(options.initialState), log_(options.log) {
  try {
    if (!options.port.empty()) {
      ports_.emplace(makePortsFolder(options));
      // The port's name first: a refusal leaves no output folder behind.
      printer::PtyServer::checkPortLink(ports_->entryFor(options.port));
    }
    writer_ = std::make_unique<printer::ReceiptWriter>(options.outputFolder, options.log);
    if (options.listen) {
      printer::TcpListenerOptions listen;
      listen.host = options.listen->host;
      listen.port = options.listen->port;
      listen.jobTimeout = options.jobTimeout;
      listen.jobLimit = options.jobLimit;
      listen.log = options.log;
      try {
        listener_ = std::make_unique<printer::TcpListener>(listen, *writer_, state_);
      } catch (const std::exception &error) {
        throw ToolError(kExitBadInput, std::string("--listen: ") + error.what());
      }
    }
    if (options.web) {
      WebConsoleOptions web;
      web.host = options.web->host;
      web.port = options.web->port;
      web.title = options.port;
      web.extraHosts = options.webHosts;
      if (listener_) web.title += (web.title.empty() ? "" : " and ") + listener_->address();
      web.state = [this] { return state(); };
      web.setState = [this](printer::PrinterState next) { setState(next); };
      web_ = std::make_unique<WebConsole>(web);
      writer_->setListener(
          [this](const printer::WrittenReceipt &receipt) { web_->receiptWritten(receipt); });
    }
    if (!options.port.empty()) {
      printer::PtyServerOptions serverOptions;
      serverOptions.writer = writer_.get();
      serverOptions.portLink = ports_->entryFor(options.port);
      serverOptions.sharedState = &state_;
      serverOptions.log = options.log;
      serverOptions.bytesPerSecond = printer::lineBytesPerSecond(options.baud);
      server_ = std::make_unique<printer::PtyServer>(serverOptions);
    }
  } catch (const ToolError &) {
    throw;
  } catch (const printer::PortNameTaken &error) {
    throw ToolError(kExitBadInput, error.what());
  } catch (const printer::OutputFolderUnusable &error) {
    throw ToolError(kExitBadInput, error.what());
  } catch (const std::exception &error) {
    throw ToolError(kExitNoModule, std::string("cannot start the virtual printer: ") + error.what());
  }
  if (listener_) listener_->start();
  if (server_) server_->start();
}

VirtualPrinterSession::~VirtualPrinterSession() {
  stop();
  web_.reset();  // before the writer, whose listener it is
}

void VirtualPrinterSession::setState(printer::PrinterState state) {
  state_.store(state);
  if (web_) web_->stateChanged(state);
  if (log_) log_("printer " + std::string(printer::stateName(state)));
}

bool VirtualPrinterSession::takeStateSignal(int signal) {
  if (signal != SIGUSR1 && signal != SIGUSR2) return false;
  const auto other = signal == SIGUSR1 ? printer::PrinterState::PaperOut : printer::PrinterState::Offline;
  setState(state() == other ? printer::PrinterState::Online : other);
  return true;
}

std::vector<std::filesystem::path> VirtualPrinterSession::stop() {
  if (listener_) listener_->stop();
  if (server_) server_->stop();
  writer_->drain();
  return writer_->transcriptsWritten();
}

std::vector<printer::WrittenReceipt> VirtualPrinterSession::finish() {
  // A silent holder of the port waits as long as a silent network client.
  if (server_) server_->finishWhenClosed(printer::TcpListenerOptions{}.idleTimeout);
  if (listener_) listener_->finish();
  stop();
  return writer_->receiptsWritten();
}

void VirtualPrinterSession::interrupt() {
  if (server_) server_->requestStop();
  if (listener_) listener_->requestStop();
}

std::filesystem::path pictureOf(const std::filesystem::path &transcript) {
  std::filesystem::path picture = transcript;
  return picture.replace_extension(".png");
}

}  // namespace it433td::tools
