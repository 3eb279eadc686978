// The platform seam on Windows.
//
// In this file, in order:
//   - library loading and lookup (LoadLibraryA / GetProcAddress)
//   - sleeping, the host executable's path, the environment, file removal
//   - the clock and the QR lock (LockFileEx)
//   - the private folder the barcode library renders into (a DACL for
//     this user alone), and the printer file, checked right after rendering
//   - the raw copy: "cmd.exe" started hidden through ShellExecuteExA with
//     /C COPY "<printer file>"/B <port>, its exit code read when its window
//     ends
//   - the table
#include <windows.h>
#include <aclapi.h>
#include <shellapi.h>

#include <atomic>
#include <vector>

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

// --- The private folder and the printer file ----------------------------
//
// A QR folder that other users may change (one made at the root of a drive
// inherits "Authenticated Users: Modify") lets them rename, rewrite or
// replace the till's files there, and reset their times. So the barcode
// library renders into a folder of the call's own, made with a protected
// DACL that lets only this user in (the files rendered there inherit it):
// no one else can add a file to it, rename one in it or write one. The
// module holds it open without delete sharing, so it cannot be renamed or
// removed while the call runs; cmd.exe copies the printer file from there
// by name (whoever may rename the QR folder itself could still send it
// elsewhere).

// This process's user (TokenUser), whom the private folder lets in, and the
// owner the files it makes get (TokenOwner: the Administrators group for
// some administrators; Wine gives files the user).
struct TokenSids {
  std::vector<BYTE> user, owner;
};

bool readTokenSid(HANDLE token, TOKEN_INFORMATION_CLASS kind, std::vector<BYTE> *sid) {
  DWORD size = 0;
  GetTokenInformation(token, kind, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size == 0 || !GetTokenInformation(token, kind, buffer.data(), size, &size)) return false;
  const PSID found = kind == TokenUser ? reinterpret_cast<TOKEN_USER *>(buffer.data())->User.Sid
                                       : reinterpret_cast<TOKEN_OWNER *>(buffer.data())->Owner;
  const DWORD length = GetLengthSid(found);
  sid->resize(length);
  return CopySid(length, sid->data(), found) != 0;
}

bool tokenSids(TokenSids *sids) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  const bool read =
      readTokenSid(token, TokenUser, &sids->user) && readTokenSid(token, TokenOwner, &sids->owner);
  CloseHandle(token);
  return read;
}

// Whether the file or folder open at `handle` belongs to this user: its
// owner is the user or the token's default owner.
bool ownedBy(HANDLE handle, TokenSids &sids) {
  PSID found = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &found, nullptr, nullptr,
                      nullptr, &descriptor) != ERROR_SUCCESS)
    return false;
  const bool same =
      found && (EqualSid(found, sids.user.data()) || EqualSid(found, sids.owner.data()));
  LocalFree(descriptor);
  return same;
}

bool entryIs(HANDLE handle, bool folder) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) return false;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return false;
  if (folder) return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && info.nNumberOfLinks == 1;
}

bool holdsNothing(const std::string &path) {
  WIN32_FIND_DATAA entry{};
  const HANDLE listing = FindFirstFileA((path + "*").c_str(), &entry);
  if (listing == INVALID_HANDLE_VALUE) return false;
  bool empty = true;
  do {
    const std::string name = entry.cFileName;
    if (name != "." && name != "..") empty = false;
  } while (empty && FindNextFileA(listing, &entry));
  FindClose(listing);
  return empty;
}

struct PrivateFolder {
  HANDLE held;
  std::string path;  // with its trailing separator
  TokenSids sids;
};

PrivateFolder *privateFolder(intptr_t folder) { return reinterpret_cast<PrivateFolder *>(folder); }

// The folder made with a DACL of one entry, full access for `user`,
// inherited by everything made in it, and protected from the QR folder's.
bool createPrivate(const std::string &path, std::vector<BYTE> &user) {
  std::vector<BYTE> list(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + user.size());
  const auto dacl = reinterpret_cast<PACL>(list.data());
  SECURITY_DESCRIPTOR descriptor{};
  if (!InitializeAcl(dacl, static_cast<DWORD>(list.size()), ACL_REVISION) ||
      !AddAccessAllowedAceEx(dacl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE,
                             FILE_ALL_ACCESS, user.data()) ||
      !InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE) ||
      !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
    return false;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
  return CreateDirectoryA(path.c_str(), &attributes) != 0;
}

bool makePrivateFolder(const std::string &parent, const std::string &prefix, std::string *path,
                       intptr_t *folder) {
  TokenSids sids;
  if (!tokenSids(&sids)) return false;
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < 16; ++attempt) {
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    char chance[40];
    wsprintfA(chance, "%lx%x%x", GetCurrentProcessId(), counter++,
              static_cast<unsigned>(now.QuadPart));
    const std::string made = parent + prefix + chance;
    if (!createPrivate(made, sids.user)) {
      if (GetLastError() == ERROR_ALREADY_EXISTS) continue;
      return false;
    }
    const HANDLE held = CreateFileA(
        made.c_str(), FILE_LIST_DIRECTORY | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (held == INVALID_HANDLE_VALUE) return false;
    if (!entryIs(held, true) || !ownedBy(held, sids) || !holdsNothing(made + '\\')) {
      CloseHandle(held);
      return false;
    }
    *path = made + '\\';
    *folder = reinterpret_cast<intptr_t>(new PrivateFolder{held, *path, std::move(sids)});
    return true;
  }
  return false;
}

bool moveOutOfPrivateFolder(intptr_t folder, const std::string &name,
                            const std::string &destination) {
  const std::string from = privateFolder(folder)->path + name;
  return MoveFileExA(from.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

// A cmd.exe still copying when the window ended keeps the printer file, and
// with it the folder, which then stays behind.
void removePrivateFolder(intptr_t folder) {
  PrivateFolder *gone = privateFolder(folder);
  CloseHandle(gone->held);
  RemoveDirectoryA(gone->path.c_str());
  delete gone;
}

// Opened right after rendering without write or delete sharing: refused
// while anyone else still has it open to change it. Only a file will do
// (no folder, no reparse point such as a link) with one name, owned by
// this user.
PrinterFile openPrinterFile(intptr_t folder, const std::string &name, intptr_t *file) {
  PrivateFolder *in = privateFolder(folder);
  const std::string path = in->path + name;
  const HANDLE opened = CreateFileA(path.c_str(), GENERIC_READ | READ_CONTROL, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (opened == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PrinterFile::Missing
                                                                          : PrinterFile::Refused;
  }
  if (!entryIs(opened, false) || !ownedBy(opened, in->sids)) {
    CloseHandle(opened);
    return PrinterFile::Refused;
  }
  *file = reinterpret_cast<intptr_t>(opened);
  return PrinterFile::Opened;
}

void closePrinterFile(intptr_t file) { CloseHandle(reinterpret_cast<HANDLE>(file)); }

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
      .makePrivateFolder = makePrivateFolder,
      .moveOutOfPrivateFolder = moveOutOfPrivateFolder,
      .removePrivateFolder = removePrivateFolder,
      .openPrinterFile = openPrinterFile,
      .closePrinterFile = closePrinterFile,
      .startRawCopy = startRawCopy,
      .finishRawCopy = finishRawCopy,
      .pathSeparator = '\\',
  };
  return table;
}

}  // namespace it433td
