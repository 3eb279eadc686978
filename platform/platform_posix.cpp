// The platform seam on POSIX systems.
//
// In this file, in order:
//   - library loading and lookup (dlopen / dlsym)
//   - sleeping, the clock, the environment, file removal (the host
//     executable's path comes from executable_path_posix.h)
//   - the QR lock (flock)
//   - the private folder the barcode library renders into, and the printer
//     file, opened by the module right after rendering
//   - the raw copy of that open file to a port: a detached, shell-less
//     grandchild that reports whether it opened the port, writes the file's
//     bytes to the resolved device and reports whether all of them went
//   - the table
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "executable_path_posix.h"
#include "platform.h"
#include "port_names.h"

namespace it433td {
namespace {

// The normal search finds libraries beside the module through its RUNPATH
// ($ORIGIN). A host that wraps dlopen (a sanitizer runtime, a preloaded
// shim) makes the wrapper the caller, whose RUNPATH is not ours; so a
// library the search misses is also looked for beside the module itself.
LibraryHandle loadLibrary(const char *fileName) {
  if (void *library = dlopen(fileName, RTLD_NOW | RTLD_LOCAL)) return library;
  Dl_info self{};
  if (!dladdr(reinterpret_cast<void *>(&loadLibrary), &self) || !self.dli_fname) return nullptr;
  const std::string modulePath = self.dli_fname;
  const size_t slash = modulePath.rfind('/');
  if (slash == std::string::npos) return nullptr;
  const std::string beside = modulePath.substr(0, slash + 1) + fileName;
  return dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void *findEntry(LibraryHandle library, const char *name) {
  return library ? dlsym(library, name) : nullptr;
}

// nanosleep may return early on a signal; sleep out the rest, so the pause
// is never shorter than asked.
void sleepMs(uint32_t milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

uint64_t monotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

std::string environmentValue(const char *name) {
  const char *value = getenv(name);
  return value ? value : "";
}

bool removeFile(const std::string &path) { return unlink(path.c_str()) == 0 || errno == ENOENT; }

// No shell runs on POSIX, so every port name is safe for the copy.
bool portNameSafeForCopy(std::string_view) { return true; }

// --- The QR lock ---------------------------------------------------------
//
// flock on a file of the QR folder: processes that share the folder take
// turns, and the kernel drops the lock when its holder dies. O_CLOEXEC keeps
// it out of any program the host runs; the raw copy closes it at once.

constexpr long kLockRetryNs = 10 * 1000000L;

// Waiters try again every few milliseconds, so a process that gives the
// lock back and asks for it again at once (QR codes back to back) would win
// it nearly every time and starve them; it leaves them a moment first.
constexpr uint64_t kLockCourtesyMs = 50;
std::atomic<uint64_t> lastReleaseMs{0};

FileLock lockFile(const std::string &path, uint32_t waitMs, intptr_t *held) {
  const uint64_t deadline = monotonicMs() + waitMs;
  // O_NOFOLLOW: a link planted at the lock's name leads nowhere else.
  // O_NONBLOCK: a FIFO planted there answers at once instead of waiting for
  // a writer (and the whole module with it). A file made by another user may
  // be only readable; flock needs no more. Only a regular file is a lock.
  const int flags = O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK;
  int fd = open(path.c_str(), O_RDWR | O_CREAT | flags, 0666);
  if (fd < 0 && errno == EACCES) fd = open(path.c_str(), O_RDONLY | flags);
  if (fd < 0) return FileLock::Unavailable;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return FileLock::Unavailable;
  }
  const uint64_t released = lastReleaseMs.load();
  const uint64_t since = monotonicMs() - released;
  if (released != 0 && since < kLockCourtesyMs)
    sleepMs(static_cast<uint32_t>(kLockCourtesyMs - since));
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      *held = fd;
      return FileLock::Taken;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    // The clock counts whole milliseconds, so the deadline may lie up to
    // one below the true end of the wait: only a later reading proves the
    // whole wait has passed.
    if (monotonicMs() > deadline) {
      close(fd);
      return FileLock::Busy;
    }
    timespec pause{0, kLockRetryNs};
    nanosleep(&pause, nullptr);
  }
  close(fd);
  return FileLock::Unavailable;
}

void unlockFile(intptr_t held) {
  close(static_cast<int>(held));  // closing drops the flock
  lastReleaseMs = monotonicMs();
}

// --- The private folder and the printer file ----------------------------
//
// A shared QR folder that others may write to without the sticky bit lets
// them rename the till's files there: an earlier printer file renamed aside
// and back over the new one would pass every check of the file itself. So
// the barcode library renders into a folder of the call's own (mode 0700),
// which only this user may enter or change; the module looks only there,
// through the folder's descriptor, not its name, so a folder renamed or
// swapped at that name afterwards does not matter either.

struct PrivateFolder {
  int fd;
  std::string path;  // with its trailing separator
};

PrivateFolder *privateFolder(intptr_t folder) { return reinterpret_cast<PrivateFolder *>(folder); }

std::string chanceCharacters() {
  constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[8] = {};
  if (getentropy(bytes, sizeof bytes) != 0) {
    static std::atomic<unsigned> counter{0};  // taken names are retried anyway
    const uint64_t mix = monotonicMs() * 2654435761u + counter++ + static_cast<unsigned>(getpid());
    for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<unsigned char>(mix >> (8 * i));
  }
  std::string text;
  for (unsigned char byte : bytes) text += kAlphabet[byte % (sizeof kAlphabet - 1)];
  return text;
}

// Only a folder of this user that no one else may enter and that holds
// nothing yet will do: another one put at the name between making it and
// opening it (an earlier call's, left by a till that was killed) is refused.
bool privateAndEmpty(int fd) {
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid() ||
      (info.st_mode & 077) != 0)
    return false;
  const int listed = fcntl(fd, F_DUPFD_CLOEXEC, 0);  // closedir closes it
  DIR *listing = listed < 0 ? nullptr : fdopendir(listed);
  if (!listing) {
    if (listed >= 0) close(listed);
    return false;
  }
  bool empty = true;
  while (const dirent *entry = readdir(listing))
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
      empty = false;
  closedir(listing);
  return empty;
}

bool makePrivateFolder(const std::string &parent, const std::string &prefix, std::string *path,
                       intptr_t *folder) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::string made = parent + prefix + chanceCharacters();
    if (mkdir(made.c_str(), 0700) != 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    const int fd = open(made.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    if (!privateAndEmpty(fd)) {
      close(fd);
      return false;
    }
    *path = made + '/';
    *folder = reinterpret_cast<intptr_t>(new PrivateFolder{fd, *path});
    return true;
  }
  return false;
}

bool moveOutOfPrivateFolder(intptr_t folder, const std::string &name,
                            const std::string &destination) {
  return renameat(privateFolder(folder)->fd, name.c_str(), AT_FDCWD, destination.c_str()) == 0;
}

void removePrivateFolder(intptr_t folder) {
  PrivateFolder *gone = privateFolder(folder);
  close(gone->fd);
  rmdir(gone->path.c_str());
  delete gone;
}

// Opened right after rendering and handed to the copy open, so that nothing
// put at its name later reaches the port. Only the file the barcode library
// has just written will do: no link (O_NOFOLLOW), a regular file (O_NONBLOCK:
// a FIFO does not hold the open), of this process's user, with no second name.
// It is made writable by its owner alone before it leaves the private
// folder, so that no one who may open it there can change it while the copy
// reads it.
PrinterFile openPrinterFile(intptr_t folder, const std::string &name, intptr_t *file) {
  const int fd = openat(privateFolder(folder)->fd, name.c_str(),
                        O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT ? PrinterFile::Missing : PrinterFile::Refused;
  struct stat info {};
  constexpr mode_t kOthersWrite = S_IWGRP | S_IWOTH;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid() ||
      info.st_nlink != 1 ||
      ((info.st_mode & kOthersWrite) != 0 &&
       fchmod(fd, info.st_mode & 07777 & ~kOthersWrite) != 0)) {
    close(fd);
    return PrinterFile::Refused;
  }
  *file = fd;
  return PrinterFile::Opened;
}

void closePrinterFile(intptr_t file) { close(static_cast<int>(file)); }

// --- The raw copy -------------------------------------------------------
//
// Everything below the fork runs in the grandchild of a possibly
// multi-threaded host, so it uses async-signal-safe calls only. It never
// returns: it ends with _exit, running none of the host's exit handlers.
//
// The copy and the module talk over a socket pair: the copy sends one byte,
// 1 when it has the port open (and the port's hold), 0 when not; the module
// answers "go" only if that came in time, and the copy writes nothing
// without it. So a copy the module has given up on never writes behind the
// module's back. When the writing is over the copy sends one more byte, "w"
// when every byte was written; the module looks for it when the copy's
// window ends.

// A copy that cannot finish (a stalled line) is ended by this watchdog
// instead of lingering forever.
constexpr unsigned kCopyWatchdogSeconds = 120;
// How long the copy waits for the port's exclusive hold: the module has just
// released it, but another holder may still have it. Well inside the
// module's wait for the report.
constexpr int kHoldAttempts = 40;
constexpr long kHoldRetryNs = 50 * 1000000L;
// Where the copy keeps its end of the socket pair and the printer file.
constexpr int kChannelFd = 3;
constexpr int kPrinterFileFd = 4;
constexpr char kOpened = 1, kNotOpened = 0, kGo = 'g', kWroteAll = 'w', kWriteFailed = 'f';

bool writeAll(int fd, const char *bytes, ssize_t count) {
  while (count > 0) {
    const ssize_t done = write(fd, bytes, static_cast<size_t>(count));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    bytes += done;
    count -= done;
  }
  return true;
}

// Takes the same exclusive hold as the device library, so a port reopened
// while the copy still runs answers "busy".
bool holdTty(int fd) {
  for (int attempt = 0; attempt < kHoldAttempts; ++attempt) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    timespec pause{0, kHoldRetryNs};
    nanosleep(&pause, nullptr);
  }
  return false;
}

// Opens the port for the copy. Never O_CREAT: a name that leads to a missing
// path is a failed copy, not a new file that later output would go into.
// O_APPEND: a capture file keeps what was printed before. O_NONBLOCK: a FIFO
// with no reader fails at once instead of blocking.
int openPortForCopy(const char *device) {
  const int out = open(device, O_WRONLY | O_APPEND | O_NOCTTY | O_NONBLOCK);
  if (out < 0) return -1;
  fcntl(out, F_SETFL, fcntl(out, F_GETFL) & ~O_NONBLOCK);
  if (isatty(out)) {
    if (!holdTty(out)) return -1;
    // Raw output, keeping the line settings the device library left.
    termios settings {};
    if (tcgetattr(out, &settings) == 0) {
      settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
      tcsetattr(out, TCSANOW, &settings);
    }
  }
  return out;
}

// Right after the fork: nothing of the host's stays open, not its files,
// not the QR lock (which must go with the host, not live on in a child of
// a host that was killed), only the copy's channel and the printer file,
// moved to kChannelFd and kPrinterFileFd (by way of free numbers above
// both, as either may sit at the other's place).
bool keepOnlyTheChannelAndFile(int channel, int printerFile) {
  const int freeAbove = kPrinterFileFd + 1;
  const int movedChannel = fcntl(channel, F_DUPFD, freeAbove);
  const int movedFile = fcntl(printerFile, F_DUPFD, freeAbove);
  if (movedChannel < 0 || movedFile < 0) return false;
  dup2(movedChannel, kChannelFd);
  dup2(movedFile, kPrinterFileFd);
  close(STDIN_FILENO);
  close(STDOUT_FILENO);
  close(STDERR_FILENO);
  close_range(freeAbove, ~0U, 0);
  return true;
}

[[noreturn]] void copyAndExit(const char *device) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigaction(SIGALRM, &action, nullptr);
  // A FIFO whose reader went away fails the write (EPIPE), which the copy
  // reports, instead of ending it unheard.
  action.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &action, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  alarm(kCopyWatchdogSeconds);

  // Only the channel and the printer file are open here
  // (keepOnlyTheChannelAndFile): the standard streams go to /dev/null.
  const int nullFd = open("/dev/null", O_RDWR);
  if (nullFd == STDIN_FILENO) {
    dup2(nullFd, STDOUT_FILENO);
    dup2(nullFd, STDERR_FILENO);
  }

  const int out = openPortForCopy(device);
  const char report = out >= 0 ? kOpened : kNotOpened;
  char go = 0;
  if (send(kChannelFd, &report, 1, MSG_NOSIGNAL) != 1 || report != kOpened) _exit(1);
  ssize_t got;
  while ((got = read(kChannelFd, &go, 1)) < 0 && errno == EINTR) {
  }
  if (got != 1 || go != kGo) _exit(2);  // the module gave up on this copy

  char buffer[8192];
  bool wroteAll = true;
  for (;;) {
    const ssize_t count = read(kPrinterFileFd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      wroteAll = count == 0;
      break;
    }
    if (!writeAll(out, buffer, count)) {
      wroteAll = false;
      break;
    }
  }
  const char end = wroteAll ? kWroteAll : kWriteFailed;
  send(kChannelFd, &end, 1, MSG_NOSIGNAL);
  if (wroteAll && isatty(out)) tcdrain(out);
  _exit(wroteAll ? 0 : 3);
}

// The copy's report, waited for until `deadline`: true when it said it has
// the port open. End of file (the copy or its parent died) is a no.
bool copyReportedOpen(int channel, uint64_t deadline) {
  for (;;) {
    const uint64_t now = monotonicMs();
    if (now >= deadline) return false;
    pollfd ready{channel, POLLIN, 0};
    const int polled = poll(&ready, 1, static_cast<int>(deadline - now));
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) return false;
    char report = kNotOpened;
    const ssize_t got = read(channel, &report, 1);
    if (got < 0 && errno == EINTR) continue;
    return got == 1 && report == kOpened;
  }
}

// A double fork: the intermediate child starts a session of its own, forks
// the copy and exits at once; the host reaps it here, and the copy, orphaned,
// is reaped by init. So the host keeps no child and no zombie.
RawCopy startRawCopy(const std::string & /*printerPath*/, intptr_t printerFile,
                     const std::string &port, uint32_t reportWaitMs, intptr_t *running) {
  const uint64_t deadline = monotonicMs() + reportWaitMs;
  const auto device = resolvePort(port);
  if (!device) return RawCopy::Failed;
  int channel[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0) return RawCopy::Failed;
  const pid_t child = fork();
  if (child == 0) {
    if (!keepOnlyTheChannelAndFile(channel[1], static_cast<int>(printerFile))) _exit(1);
    setsid();
    const pid_t copy = fork();
    if (copy == 0) copyAndExit(device->c_str());
    _exit(copy < 0 ? 1 : 0);
  }
  close(channel[1]);  // from now on only the copy holds that end
  if (child > 0) {
    pid_t reaped;
    while ((reaped = waitpid(child, nullptr, 0)) < 0 && errno == EINTR) {
    }
    // (A host that ignores SIGCHLD has its children reaped for it: ECHILD.)
  }
  // A copy that never started shows as end of file on the channel at once.
  const bool opened = child > 0 && copyReportedOpen(channel[0], deadline) &&
                      send(channel[0], &kGo, 1, MSG_NOSIGNAL) == 1;
  if (!opened) {
    close(channel[0]);
    return RawCopy::Failed;
  }
  *running = channel[0];  // for the copy's last word
  return RawCopy::Reported;
}

// The copy's last word, if it has spoken: every byte written, or not. End of
// file without it means the copy died before the end.
CopyEnd finishRawCopy(intptr_t running) {
  const int channel = static_cast<int>(running);
  CopyEnd end = CopyEnd::StillRunning;
  pollfd ready{channel, POLLIN, 0};
  int polled;
  while ((polled = poll(&ready, 1, 0)) < 0 && errno == EINTR) {
  }
  if (polled > 0) {
    char word = kWriteFailed;
    ssize_t got;
    while ((got = read(channel, &word, 1)) < 0 && errno == EINTR) {
    }
    end = got == 1 && word == kWroteAll ? CopyEnd::WroteAll : CopyEnd::Failed;
  }
  close(channel);
  return end;
}

}  // namespace

const Platform &nativePlatform() {
  // Filled by field name: two entries of one type cannot change places unseen.
  static const Platform table = {
      .loadLibrary = loadLibrary,
      .findEntry = findEntry,
      .sleepMs = sleepMs,
      .hostExecutablePath = executablePath,
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
      .pathSeparator = '/',
  };
  return table;
}

}  // namespace it433td
