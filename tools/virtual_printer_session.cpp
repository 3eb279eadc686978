// virtual_printer_session.cpp - ports folder first, server second, so the
// port's entry is gone before its folder is removed.
#include "virtual_printer_session.h"

#include "tool_error.h"


namespace it433td::tools {

namespace {

PortsFolder makePortsFolder(const SessionOptions &options) {
  checkPortNameForFolder(options.port);
  return options.portsFolder.empty() ? PortsFolder::temporary()
                                     : PortsFolder::given(options.portsFolder);
}

}  // namespace

VirtualPrinterSession::VirtualPrinterSession(const SessionOptions &options)
    : ports_(makePortsFolder(options)) {
  printer::PtyServerOptions serverOptions;
  serverOptions.outputFolder = options.outputFolder;
  serverOptions.portLink = ports_.entryFor(options.port);
  serverOptions.initialState = options.initialState;
  serverOptions.log = options.log;
  try {
    // The server makes the output folder, after checking the port's name.
    server_ = std::make_unique<printer::PtyServer>(serverOptions);
  } catch (const printer::PortNameTaken &error) {
    throw ToolError(kExitBadInput, error.what());
  } catch (const printer::OutputFolderUnusable &error) {
    throw ToolError(kExitBadInput, error.what());
  } catch (const std::exception &error) {
    throw ToolError(kExitNoModule, std::string("cannot start the virtual printer: ") + error.what());
  }
  server_->start();
}

VirtualPrinterSession::~VirtualPrinterSession() { server_.reset(); }

std::vector<std::filesystem::path> VirtualPrinterSession::stop() {
  server_->stop();
  return server_->transcriptsWritten();
}

std::filesystem::path pictureOf(const std::filesystem::path &transcript) {
  std::filesystem::path picture = transcript;
  return picture.replace_extension(".png");
}

}  // namespace it433td::tools
