// QR codes through a printer file: the barcode library renders the code into
// Dados/qrCode.prn beside the host executable, the port is released, a
// detached process copies the file raw to the port, and after the printer's
// 3000 ms the port is opened again with the usual rule.
#include <climits>
#include <string>

#include "Cli_Vossik.h"
#include "operations.h"
#include "platform.h"

namespace it433td::driver {
namespace {

// What the barcode library is asked for: ECC level M, a 16-dot indent and
// 3 dots per module.
constexpr int32_t kEccLevel = 77;  // 'M'
constexpr int32_t kIndentDots = 16;
constexpr int32_t kModuleDots = 3;
// All the time the copy gets before the port is reclaimed.
constexpr uint32_t kCopyWindowMs = 3000;

// Names another folder for the QR files, for hosts whose executable is an
// interpreter or a shared runtime.
constexpr char kDadosFolderVariable[] = "IT433TD_DADOS_DIR";
constexpr char kPrinterFile[] = "qrCode.prn";
constexpr char kBitmapFile[] = "qrCode.bmp";

bool qr_entries_bound() {
  using namespace Cli_Vossik;
  return MEGENCOM32_AbrirDispositivo && MEGENCOM32_FecharDispositivo &&
         CODEBAR32_PGeCodeBarInicia && CODEBAR32_PGeCodeBarQRCODE &&
         CODEBAR32_PGeCodeBarFinaliza;
}

}  // namespace

std::string dados_folder(std::string_view exe_path, char separator) {
  const size_t last = exe_path.rfind(separator);
  std::string folder(exe_path.substr(0, last == std::string_view::npos ? 0 : last));
  // The directory of a file at the root keeps its separator ("C:\", "/").
  if (folder.empty() || folder.back() == ':') folder += separator;
  folder += separator;
  folder += "Dados";
  folder += separator;
  return folder;
}

namespace {

// The folder of the QR files, with a trailing separator: the one named by
// IT433TD_DADOS_DIR when that is set and not empty (read afresh at each
// call), otherwise Dados beside the host executable.
std::string qr_data_folder(const Platform &system) {
  std::string folder = system.environment_value(kDadosFolderVariable);
  if (folder.empty()) return dados_folder(system.host_executable_path(), system.path_separator);
  if (folder.back() != system.path_separator && folder.back() != '/') folder += system.path_separator;
  return folder;
}

}  // namespace

// The host sees only whether the port could be opened again, except that a
// printer file that was never rendered is reported (IT433TD_NOT_RENDERED)
// rather than letting the copy reprint an earlier call's file.
int32_t print_qr_code(std::string_view port, std::string_view data) {
  Platform &system = platform();
  if (data.size() > INT32_MAX || !system.port_name_safe_for_copy(port))
    return IT433TD_BAD_ARGUMENT;
  if (!qr_entries_bound()) return IT433TD_NOT_BOUND;
  using namespace Cli_Vossik;

  const std::string name(port);
  MEGENCOM32_FecharDispositivo(name.c_str());  // release the port for the copy

  const std::string folder = qr_data_folder(system);
  const std::string printer_file = folder + kPrinterFile;
  const std::string bitmap_file = folder + kBitmapFile;
  // An earlier call's file must never be printed again: when it cannot be
  // removed, nothing is rendered or copied.
  bool rendered = false;
  if (system.remove_file(printer_file)) {
    const std::string payload(data);  // followed by a 0x00 byte, as the library expects
    CODEBAR32_PGeCodeBarInicia();
    CODEBAR32_PGeCodeBarQRCODE(kEccLevel, kIndentDots, kModuleDots,
                               payload.empty() ? nullptr : payload.c_str(),
                               static_cast<int32_t>(payload.size()), bitmap_file.c_str(),
                               printer_file.c_str());
    CODEBAR32_PGeCodeBarFinaliza();
    rendered = system.file_exists(printer_file);
  }
  if (rendered) {
    system.start_raw_copy(printer_file, name);
    system.sleep_ms(kCopyWindowMs);
  }
  const int32_t reopened = open_port(port);
  if (!rendered && reopened == IT433TD_OK) return IT433TD_NOT_RENDERED;
  return reopened;
}

}  // namespace it433td::driver
