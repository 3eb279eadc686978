// The platform seam on Windows.
//
// In this file, in order:
//   - library loading and lookup (LoadLibraryA / GetProcAddress)
//   - sleeping, the host executable's path, the environment, file removal
//   - the clock and the QR lock (LockFileEx)
//   - the printer file, checked right after rendering
//   - the raw copy: "cmd.exe" started hidden through ShellExecuteExA with
//     /C COPY "<printer file>"/B <port>, its exit code read when its window
//     ends
//   - the table
#include <windows.h>
#include <shellapi.h>

#include <atomic>

#include "copy_command.h"
#include "platform.h"

namespace it433td {
namespace {

LibraryHandle loadLibrary(const char *fileName) { return LoadLibraryA(fileName); }

void *findEntry(LibraryHandle library, const char *name) {
  return library ? reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name))
                 : nullptr;
}

void sleepMs(uint32_t milliseconds) { Sleep(milliseconds); }

std::string hostExecutablePath() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);  // truncated: try a larger buffer
  }
}

// GetEnvironmentVariableA reads the process's environment block, which
// SetEnvironmentVariableA changes; the C runtime's getenv copy may not see it.
std::string environmentValue(const char *name) {
  std::string value(256, '\0');
  for (;;) {
    const DWORD length = GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) return {};
    if (length < value.size()) {
      value.resize(length);
      return value;
    }
    value.resize(length);  // too small: length is the size needed, with the NUL
  }
}

bool removeFile(const std::string &path) {
  return DeleteFileA(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

// The port name goes into cmd.exe's command line.
bool portNameSafeForCopy(std::string_view port) { return isSafeCopyPortName(port); }

// The performance counter, not GetTickCount64: the tick count moves in steps
// of about 15 ms, so a wait measured with it could end that much too early.
uint64_t monotonicMs() {
  static const int64_t perSecond = [] {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return static_cast<int64_t>(frequency.QuadPart);
  }();
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  const int64_t ticks = static_cast<int64_t>(now.QuadPart);
  return static_cast<uint64_t>(ticks / perSecond * 1000 + ticks % perSecond * 1000 / perSecond);
}

// --- The QR lock: LockFileEx on a file of the QR folder ------------------
//
// Processes that share the folder take turns; the system drops the lock when
// its holder dies. The handle is not inheritable, so cmd.exe never holds it.

constexpr DWORD kLockRetryMs = 10;

bool lockOneByte(HANDLE file) {
  OVERLAPPED at{};
  return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

// Waiters try again every few milliseconds, so a process that gives the
// lock back and asks for it again at once (QR codes back to back) would win
// it nearly every time and starve them; it leaves them a moment first.
constexpr uint64_t kLockCourtesyMs = 50;
std::atomic<uint64_t> lastReleaseMs{0};

FileLock lockFile(const std::string &path, uint32_t waitMs, intptr_t *held) {
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
    file = CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);  // made by another user
  if (file == INVALID_HANDLE_VALUE) return FileLock::Unavailable;
  const uint64_t deadline = monotonicMs() + waitMs;
  const uint64_t released = lastReleaseMs.load();
  const uint64_t since = monotonicMs() - released;
  if (released != 0 && since < kLockCourtesyMs)
    Sleep(static_cast<DWORD>(kLockCourtesyMs - since));
  for (;;) {
    if (lockOneByte(file)) {
      *held = reinterpret_cast<intptr_t>(file);
      return FileLock::Taken;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING) break;
    // Only a reading past the deadline proves the whole wait has passed.
    const uint64_t now = monotonicMs();
    if (now > deadline) {
      CloseHandle(file);
      return FileLock::Busy;
    }
    Sleep(static_cast<DWORD>(deadline - now < kLockRetryMs ? deadline - now : kLockRetryMs));
  }
  CloseHandle(file);
  return FileLock::Unavailable;
}

void unlockFile(intptr_t held) {
  const HANDLE file = reinterpret_cast<HANDLE>(held);
  OVERLAPPED at{};
  UnlockFileEx(file, 0, 1, 0, &at);
  CloseHandle(file);
  lastReleaseMs = monotonicMs();
}

// --- The printer file ---------------------------------------------------
//
// cmd.exe copies the printer file by its name, so nothing is held open
// here; a folder or a reparse point (a link) at its name is refused.
PrinterFile openPrinterFile(const std::string &path, intptr_t *file) {
  *file = 0;
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PrinterFile::Missing
                                                                          : PrinterFile::Refused;
  }
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
    return PrinterFile::Refused;
  return PrinterFile::Opened;
}

void closePrinterFile(intptr_t) {}

// --- The raw copy --------------------------------------------------------
//
// cmd.exe is started so that it can be waited on (its process handle): when
// the copy's window ends, COPY's exit code says whether the file reached the
// port, 0 when it did. A cmd.exe still running then overlaps the reopening.
RawCopy startRawCopy(const std::string &printerPath, intptr_t /*printerFile*/,
                     const std::string &port, uint32_t /*reportWaitMs*/, intptr_t *copy) {
  const std::string parameters = copyCommandParameters(printerPath, port);
  SHELLEXECUTEINFOA run{};
  run.cbSize = sizeof run;
  run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  run.lpFile = "cmd.exe";
  run.lpParameters = parameters.c_str();
  run.nShow = SW_HIDE;
  const bool started =
      ShellExecuteExA(&run) && reinterpret_cast<INT_PTR>(run.hInstApp) > 32;
  if (!started) {
    if (run.hProcess != nullptr) CloseHandle(run.hProcess);
    return RawCopy::Failed;
  }
  *copy = reinterpret_cast<intptr_t>(run.hProcess);  // null: nothing to wait on
  return RawCopy::Started;
}

CopyEnd finishRawCopy(intptr_t copy) {
  const HANDLE process = reinterpret_cast<HANDLE>(copy);
  if (process == nullptr) return CopyEnd::StillRunning;
  CopyEnd end = CopyEnd::StillRunning;
  DWORD code = STILL_ACTIVE;
  if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0 && GetExitCodeProcess(process, &code))
    end = code == 0 ? CopyEnd::WroteAll : CopyEnd::Failed;
  CloseHandle(process);
  return end;
}

}  // namespace

const Platform &nativePlatform() {
  // Filled by field name: two entries of one type cannot change places unseen.
  static const Platform table = {
      .loadLibrary = loadLibrary,
      .findEntry = findEntry,
      .sleepMs = sleepMs,
      .hostExecutablePath = hostExecutablePath,
      .environmentValue = environmentValue,
      .monotonicMs = monotonicMs,
      .removeFile = removeFile,
      .portNameSafeForCopy = portNameSafeForCopy,
      .lockFile = lockFile,
      .unlockFile = unlockFile,
      .openPrinterFile = openPrinterFile,
      .closePrinterFile = closePrinterFile,
      .startRawCopy = startRawCopy,
      .finishRawCopy = finishRawCopy,
      .pathSeparator = '\\',
  };
  return table;
}

}  // namespace it433td
