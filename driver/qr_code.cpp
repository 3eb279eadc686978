// QR codes through a printer file: under the QR folder's lock, the port is
// released, the barcode library renders the code into qrCode.prn in a folder
// of the call's own inside Dados beside the host executable, a detached
// process copies the file raw to the port, and after the printer's 3000 ms
// the port is opened again with the usual rule; the files then join Dados.
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
// The start of the name of each call's own folder in the QR folder.
constexpr char kRenderFolderPrefix[] = ".qrCode-";
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

// The folder of the call's own that the barcode library renders into
// (platform.h). When the operation ends, however it ends, its files join the
// QR folder under their usual names (where hosts find them) and it is
// removed.
class RenderFolder {
 public:
  explicit RenderFolder(const Platform &system) : system_(system) {}
  ~RenderFolder() { leave(); }
  RenderFolder(const RenderFolder &) = delete;
  RenderFolder &operator=(const RenderFolder &) = delete;

  bool make(const std::string &qrFolder) {
    qrFolder_ = qrFolder;
    made_ = system_.makePrivateFolder(qrFolder, kRenderFolderPrefix, &path_, &folder_);
    return made_;
  }
  intptr_t folder() const { return folder_; }
  std::string file(const char *name) const { return path_ + name; }
  void leave() {
    if (!made_) return;
    made_ = false;
    for (const char *name : {kPrinterFile, kBitmapFile})
      system_.moveOutOfPrivateFolder(folder_, name, qrFolder_ + name);
    system_.removePrivateFolder(folder_);
  }

 private:
  const Platform &system_;
  std::string qrFolder_, path_;
  intptr_t folder_ = 0;
  bool made_ = false;
};

// The printer file the module opened after rendering, closed at the latest
// when the operation ends, however it ends.
class OpenedPrinterFile {
 public:
  explicit OpenedPrinterFile(const Platform &system) : system_(system) {}
  ~OpenedPrinterFile() { close(); }
  OpenedPrinterFile(const OpenedPrinterFile &) = delete;
  OpenedPrinterFile &operator=(const OpenedPrinterFile &) = delete;

  PrinterFile open(const RenderFolder &folder) {
    state_ = system_.openPrinterFile(folder.folder(), kPrinterFile, &file_);
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
// Another user of a shared folder must not choose what the till prints:
// the library renders into a folder of the call's own that only the till's
// user may enter or change, so nothing can be put there, swapped in or put
// back (an earlier printer file of the till's own, renamed aside and back in
// a folder others may write to). The module opens the printer file right
// after rendering and refuses anything but a regular file of its own user
// with one name (IT433TD_COPY_FAILED); where the copy takes that open file
// (POSIX), nothing put at the name afterwards is printed either.
//
// Processes that share the QR folder take turns through its lock: it is
// taken before the port is closed and held until the copy has the port
// open (its report), or, where the copy cannot say (cmd.exe), until the
// copy's 3000 ms are over.
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

  // Without the lock (no folder, or a lock file that cannot be made) the
  // processes sharing the folder would not take turns, so nothing is
  // rendered. An earlier call's file left in the QR folder is removed, so a
  // host never finds it there as this call's; when it cannot be, nothing is
  // rendered or copied either.
  PrinterFile rendered = PrinterFile::Missing;
  RenderFolder rendering(system);
  OpenedPrinterFile file(system);
  if (lock.result() == FileLock::Taken && system.removeFile(folder + kPrinterFile) &&
      rendering.make(folder)) {
    const std::string payload(data);  // followed by a 0x00 byte, as the library expects
    CODEBAR32_PGeCodeBarInicia();
    CODEBAR32_PGeCodeBarQRCODE(
        kEccLevel, kIndentDots, kModuleDots, payload.empty() ? nullptr : payload.c_str(),
        static_cast<int32_t>(payload.size()), rendering.file(kBitmapFile).c_str(),
        rendering.file(kPrinterFile).c_str());
    CODEBAR32_PGeCodeBarFinaliza();
    rendered = file.open(rendering);
  }
  bool copied = false;
  if (rendered == PrinterFile::Opened) {
    // The copy's 3000 ms count from its start, the wait for its report
    // included; a copy that could not start or open the port gets none. A
    // copy that started keeps its whole window, however its writing ends.
    const uint64_t started = system.monotonicMs();
    intptr_t running = 0;
    const RawCopy copy = system.startRawCopy(rendering.file(kPrinterFile), file.file(), name,
                                             kQrCopyWindowMs, &running);
    file.close();  // the copy holds its own
    // The files join the QR folder under the lock, so a later call there
    // never finds this call's files arriving after its own.
    if (copy == RawCopy::Reported) {
      rendering.leave();
      lock.release();
    }
    if (copy != RawCopy::Failed) {
      const uint32_t owed = restOfWindow(system.monotonicMs() - started);
      if (owed > 0) system.sleepMs(owed);
      copied = system.finishRawCopy(running) != CopyEnd::Failed;
    }
  }
  file.close();
  rendering.leave();
  lock.release();
  const int32_t reopened = openPort(port);
  if (reopened != IT433TD_OK) return reopened;
  if (rendered == PrinterFile::Missing) return IT433TD_NOT_RENDERED;
  return copied ? IT433TD_OK : IT433TD_COPY_FAILED;
}

}  // namespace it433td::driver
