// QR codes through a printer file: under the QR folder's lock, the port is
// released, the barcode library renders the code into Dados/qrCode.prn
// beside the host executable, a detached process copies the file raw to the
// port, and after the printer's 3000 ms the port is opened again with the
// usual rule.
#include <climits>
#include <string>

#include "Cli_Vossik.h"
#include "operation_rules.h"
#include "operations.h"
#include "platform.h"

namespace it433td::driver {
namespace {

// What the barcode library is asked for: ECC level M, a 16-dot indent and
// 3 dots per module.
constexpr int32_t kEccLevel = 77;  // 'M'
constexpr int32_t kIndentDots = 16;
constexpr int32_t kModuleDots = 3;

// The files in the QR folder (operation_rules.h).
constexpr char kPrinterFile[] = "qrCode.prn";
constexpr char kBitmapFile[] = "qrCode.bmp";
// Taken by every process that prints through the folder, one at a time.
constexpr char kLockFile[] = "qrCode.lock";
// How long a QR code waits for another one in the same folder: room for
// three others, each holding the folder for at most its 3000 ms.
constexpr uint32_t kLockWaitMs = 10000;

// What is left of the copy's window after `spent` ms by the clock. The clock
// counts whole milliseconds, so a reading may show up to one more than has
// truly passed: the window is owed in full until it shows one past it.
uint32_t restOfWindow(uint64_t spent) {
  if (spent == 0) return kQrCopyWindowMs;
  return spent > kQrCopyWindowMs ? 0 : static_cast<uint32_t>(kQrCopyWindowMs + 1 - spent);
}

bool qrEntriesBound() {
  using namespace Cli_Vossik;
  return MEGENCOM32_AbrirDispositivo && MEGENCOM32_FecharDispositivo &&
         CODEBAR32_PGeCodeBarInicia && CODEBAR32_PGeCodeBarQRCODE &&
         CODEBAR32_PGeCodeBarFinaliza;
}

}  // namespace

std::string dadosFolder(std::string_view exePath, char separator) {
  const size_t last = exePath.rfind(separator);
  std::string folder(exePath.substr(0, last == std::string_view::npos ? 0 : last));
  // The directory of a file at the root keeps its separator ("C:\", "/").
  if (folder.empty() || folder.back() == ':') folder += separator;
  folder += separator;
  folder += kDadosFolder;
  folder += separator;
  return folder;
}

namespace {

// The folder of the QR files (operation_rules.h), with a trailing separator.
std::string qrDataFolder(const Platform &system) {
  std::string folder =
      qrFolder<std::string>(system.environmentValue(kQrFolderVariable), [&system] {
        return dadosFolder(system.hostExecutablePath(), system.pathSeparator);
      });
  if (folder.back() != system.pathSeparator && folder.back() != '/') folder += system.pathSeparator;
  return folder;
}

// Holds the QR folder's lock and gives it back at the latest when the
// operation ends, however it ends.
class QrLock {
 public:
  QrLock(const Platform &system, const std::string &path)
      : system_(system), result_(system.lockFile(path, kLockWaitMs, &held_)),
        holding_(result_ == FileLock::Taken) {}
  ~QrLock() { release(); }
  QrLock(const QrLock &) = delete;
  QrLock &operator=(const QrLock &) = delete;

  FileLock result() const { return result_; }
  void release() {
    if (!holding_) return;
    holding_ = false;
    system_.unlockFile(held_);
  }

 private:
  const Platform &system_;
  intptr_t held_ = 0;
  const FileLock result_;
  bool holding_;
};

// The printer file the module opened after rendering, closed at the latest
// when the operation ends, however it ends.
class OpenedPrinterFile {
 public:
  explicit OpenedPrinterFile(const Platform &system) : system_(system) {}
  ~OpenedPrinterFile() { close(); }
  OpenedPrinterFile(const OpenedPrinterFile &) = delete;
  OpenedPrinterFile &operator=(const OpenedPrinterFile &) = delete;

  PrinterFile open(const std::string &path) {
    state_ = system_.openPrinterFile(path, &file_);
    return state_;
  }
  intptr_t file() const { return file_; }
  void close() {
    if (state_ != PrinterFile::Opened) return;
    state_ = PrinterFile::Missing;
    system_.closePrinterFile(file_);
  }

 private:
  const Platform &system_;
  intptr_t file_ = 0;
  PrinterFile state_ = PrinterFile::Missing;
};

}  // namespace

// The host sees whether the port could be opened again and, failing that
// status, whether the QR code got to the port: a printer file never rendered
// (IT433TD_NOT_RENDERED) and a copy that could not start, reach the port or
// write every byte within its window (IT433TD_COPY_FAILED) are reported,
// never passed off as success.
//
// Another user of a shared folder must not choose what the till prints: the
// module opens the printer file right after rendering and refuses anything
// but the file just rendered (a link to a file the till may read, a file of
// their own: IT433TD_COPY_FAILED); where the copy takes that open file
// (POSIX), nothing put at the name afterwards is printed either.
//
// Processes that share the QR folder take turns through its lock: it is
// taken before the port is closed and held until the copy has the port
// open (its report), or, where the copy cannot say (cmd.exe), until the
// copy's 3000 ms are over. A later rendering removes the file or replaces it
// by rename, so a copy that holds the file open keeps its own bytes.
int32_t printQrCode(std::string_view port, std::string_view data) {
  Platform &system = platform();
  if (data.size() > INT32_MAX || !system.portNameSafeForCopy(port))
    return IT433TD_BAD_ARGUMENT;
  if (!qrEntriesBound()) return IT433TD_NOT_BOUND;
  using namespace Cli_Vossik;

  const std::string folder = qrDataFolder(system);
  QrLock lock(system, folder + kLockFile);
  if (lock.result() == FileLock::Busy) return IT433TD_QR_BUSY;  // the port stays as it is

  const std::string name(port);
  MEGENCOM32_FecharDispositivo(name.c_str());  // release the port for the copy

  const std::string printerFile = folder + kPrinterFile;
  const std::string bitmapFile = folder + kBitmapFile;
  // Without the lock (no folder, or a lock file that cannot be made) another
  // process could render over this file, so nothing is rendered. An earlier
  // call's file must never be printed again: when it cannot be removed,
  // nothing is rendered or copied either.
  PrinterFile rendered = PrinterFile::Missing;
  OpenedPrinterFile file(system);
  if (lock.result() == FileLock::Taken && system.removeFile(printerFile)) {
    const std::string payload(data);  // followed by a 0x00 byte, as the library expects
    CODEBAR32_PGeCodeBarInicia();
    CODEBAR32_PGeCodeBarQRCODE(kEccLevel, kIndentDots, kModuleDots,
                               payload.empty() ? nullptr : payload.c_str(),
                               static_cast<int32_t>(payload.size()), bitmapFile.c_str(),
                               printerFile.c_str());
    CODEBAR32_PGeCodeBarFinaliza();
    rendered = file.open(printerFile);
  }
  bool copied = false;
  if (rendered == PrinterFile::Opened) {
    // The copy's 3000 ms count from its start, the wait for its report
    // included; a copy that could not start or open the port gets none. A
    // copy that started keeps its whole window, however its writing ends.
    const uint64_t started = system.monotonicMs();
    intptr_t running = 0;
    const RawCopy copy =
        system.startRawCopy(printerFile, file.file(), name, kQrCopyWindowMs, &running);
    file.close();  // the copy holds its own
    if (copy == RawCopy::Reported) lock.release();
    if (copy != RawCopy::Failed) {
      const uint32_t owed = restOfWindow(system.monotonicMs() - started);
      if (owed > 0) system.sleepMs(owed);
      copied = system.finishRawCopy(running) != CopyEnd::Failed;
    }
  }
  lock.release();
  const int32_t reopened = openPort(port);
  if (reopened != IT433TD_OK) return reopened;
  if (rendered == PrinterFile::Missing) return IT433TD_NOT_RENDERED;
  return copied ? IT433TD_OK : IT433TD_COPY_FAILED;
}

}  // namespace it433td::driver
