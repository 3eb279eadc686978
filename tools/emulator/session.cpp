// session.cpp - everything checked before anything is made; on the way out
// the doors stop first, then the page, then the writer, and a door's ports
// folder goes with the door, after its port's entry.
#include "emulator/session.h"

#include "common/tool_error.h"
#include "emulator/run/golden_names.h"
#include "emulator/web/web_console.h"

#include <csignal>

namespace it433td::tools {

std::vector<std::unique_ptr<DoorKind>> doorKinds() {
  std::vector<std::unique_ptr<DoorKind>> kinds;
#define IT433TD_ADD_DOOR_KIND(name) kinds.push_back(name());
  IT433TD_DOORS(IT433TD_ADD_DOOR_KIND)
#undef IT433TD_ADD_DOOR_KIND
  return kinds;
}

VirtualPrinterSession::VirtualPrinterSession(const SessionOptions &options)
    : state_(options.initialState), log_(options.log) {
  try {
    // Every door's options first: a refusal leaves no output folder behind.
    for (DoorKind *kind : options.doorKinds) kind->prepare();
    writer_ = std::make_unique<printer::ReceiptWriter>(options.outputFolder, options.log);
    const DoorContext context{*writer_, state_, options.log, &labels_, options.setup};
    for (DoorKind *kind : options.doorKinds)
      if (kind->wanted()) doors_.push_back(kind->open(context));
    if (options.web) {
      WebConsoleOptions web;
      web.host = options.web->host;
      web.port = options.web->port;
      for (const auto &door : doors_) web.title += (web.title.empty() ? "" : " and ") + door->title();
      web.extraHosts = options.webHosts;
      web.setup = options.setup;
      web.state = [this] { return state(); };
      web.setState = [this](printer::PrinterState next) { setState(next); };
      web_ = std::make_unique<WebConsole>(web);
      writer_->setListener(
          [this](const printer::WrittenReceipt &receipt) { web_->receiptWritten(receipt); });
    }
  } catch (const ToolError &) {
    throw;
  } catch (const printer::OutputFolderUnusable &error) {
    throw ToolError(kExitBadInput, error.what());
  } catch (const std::exception &error) {
    throw ToolError(kExitNoModule, std::string("cannot start the virtual printer: ") + error.what());
  }
  for (const auto &door : doors_) door->start();
}

VirtualPrinterSession::~VirtualPrinterSession() {
  stop();
  doors_.clear();
  web_.reset();  // before the writer, whose listener it is
}

std::vector<std::string> VirtualPrinterSession::environment() const {
  std::vector<std::string> entries;
  for (const auto &door : doors_)
    for (std::string &entry : door->environment()) entries.push_back(std::move(entry));
  return entries;
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
  for (const auto &door : doors_) door->stop();
  writer_->drain();
  return writer_->transcriptsWritten();
}

std::vector<printer::WrittenReceipt> VirtualPrinterSession::finish() {
  for (const auto &door : doors_) door->finish();
  stop();
  return writer_->receiptsWritten();
}

void VirtualPrinterSession::interrupt() {
  for (const auto &door : doors_) door->requestStop();
}

std::string VirtualPrinterSession::label(const std::string &name) {
  if (std::string problem = labelProblem(name); !problem.empty()) return problem;
  for (const auto &door : doors_) door->takeWhatArrived();
  labels_.set(name);
  if (log_)
    log_("label \"" + name + "\": the receipts that follow are " + labelStem(name) + ".txt, ...");
  return "";
}

std::vector<std::string> VirtualPrinterSession::holders() const {
  std::vector<std::string> busy;
  for (const auto &door : doors_)
    for (std::string &holder : door->holders()) busy.push_back(std::move(holder));
  return busy;
}

}  // namespace it433td::tools
