// The platform seam on POSIX systems.
//
// In this file, in order:
//   - library loading and lookup (dlopen / dlsym)
//   - sleeping, the host executable's path, file checks
//   - the raw copy of a printer file to a port: a detached, shell-less
//     grandchild that writes the file's bytes to the resolved device
//   - the table
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <ctime>

#include "platform.h"
#include "port_names.h"

namespace it433td {
namespace {

// The normal search finds libraries beside the module through its RUNPATH
// ($ORIGIN). A host that wraps dlopen (a sanitizer runtime, a preloaded
// shim) makes the wrapper the caller, whose RUNPATH is not ours; so a
// library the search misses is also looked for beside the module itself.
it433td_library_handle load_library(const char *file_name) {
  if (void *library = dlopen(file_name, RTLD_NOW | RTLD_LOCAL)) return library;
  Dl_info self{};
  if (!dladdr(reinterpret_cast<void *>(&load_library), &self) || !self.dli_fname) return nullptr;
  const std::string module_path = self.dli_fname;
  const size_t slash = module_path.rfind('/');
  if (slash == std::string::npos) return nullptr;
  const std::string beside = module_path.substr(0, slash + 1) + file_name;
  return dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void *find_entry(it433td_library_handle library, const char *name) {
  return library ? dlsym(library, name) : nullptr;
}

// nanosleep may return early on a signal; sleep out the rest, so the pause
// is never shorter than asked.
void sleep_ms(uint32_t milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

std::string host_executable_path() {
  std::string path(4096, '\0');
  const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
  if (length <= 0 || static_cast<size_t>(length) >= path.size()) return {};
  path.resize(static_cast<size_t>(length));
  return path;
}

std::string environment_value(const char *name) {
  const char *value = getenv(name);
  return value ? value : "";
}

bool file_exists(const std::string &path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool remove_file(const std::string &path) { return unlink(path.c_str()) == 0 || errno == ENOENT; }

// No shell runs on POSIX, so every port name is safe for the copy.
bool port_name_safe_for_copy(std::string_view) { return true; }

// --- The raw copy -------------------------------------------------------
//
// Everything below runs in the grandchild of a fork from a possibly
// multi-threaded host, so it uses async-signal-safe calls only. It never
// returns: it ends with _exit, running none of the host's exit handlers.

// A copy that cannot finish (a stalled line) is ended by this watchdog
// instead of lingering forever.
constexpr unsigned kCopyWatchdogSeconds = 120;
// How long the copy waits for the port's exclusive hold: the module has just
// released it, but another holder may still have it.
constexpr int kHoldAttempts = 60;
constexpr long kHoldRetryNs = 50 * 1000000L;

bool write_all(int fd, const char *bytes, ssize_t count) {
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
bool hold_tty(int fd) {
  for (int attempt = 0; attempt < kHoldAttempts; ++attempt) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK && errno != EINTR) return false;
    timespec pause{0, kHoldRetryNs};
    nanosleep(&pause, nullptr);
  }
  return false;
}

// `may_create`: the port is a path of a file that may not exist yet. No
// regular file is ever made where a device belongs (/dev), so an unplugged
// adapter's name never turns into a capture file that later opens "fine".
[[noreturn]] void copy_and_exit(const char *printer_file, const char *device, bool may_create) {
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigaction(SIGALRM, &default_action, nullptr);
  sigaction(SIGPIPE, &default_action, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  alarm(kCopyWatchdogSeconds);

  const int null_fd = open("/dev/null", O_RDWR);
  if (null_fd >= 0) {
    dup2(null_fd, STDIN_FILENO);
    dup2(null_fd, STDOUT_FILENO);
    dup2(null_fd, STDERR_FILENO);
  }
  close_range(3, ~0U, 0);  // nothing of the host's stays open in the copy

  const int in = open(printer_file, O_RDONLY);
  // O_NONBLOCK: a FIFO with no reader fails at once instead of blocking.
  const int out = open(device, O_WRONLY | O_TRUNC | O_NOCTTY | O_NONBLOCK | (may_create ? O_CREAT : 0),
                       0666);
  if (in < 0 || out < 0) _exit(1);
  fcntl(out, F_SETFL, fcntl(out, F_GETFL) & ~O_NONBLOCK);

  const bool is_tty = isatty(out);
  if (is_tty) {
    if (!hold_tty(out)) _exit(2);
    // Raw output, keeping the line settings the device library left.
    termios settings {};
    if (tcgetattr(out, &settings) == 0) {
      settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
      tcsetattr(out, TCSANOW, &settings);
    }
  }
  char buffer[8192];
  for (;;) {
    const ssize_t got = read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) _exit(3);
    if (got == 0) break;
    if (!write_all(out, buffer, got)) _exit(4);
  }
  if (is_tty) tcdrain(out);
  _exit(0);
}

// Where `path` leads once its symlinks are followed, as far as they go (a
// dangling link leads to the name it holds).
std::string final_target(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    char target[4096];
    const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    if (length <= 0) break;
    const std::string next(target, static_cast<size_t>(length));
    const size_t slash = path.rfind('/');
    path = next[0] == '/' || slash == std::string::npos ? next : path.substr(0, slash + 1) + next;
  }
  return std::filesystem::path(path).lexically_normal().string();
}

// A double fork: the intermediate child starts a session of its own, forks
// the copy and exits at once; the host reaps it here, and the copy, orphaned,
// is reaped by init. So the host keeps no child and no zombie.
bool start_raw_copy(const std::string &printer_file, const std::string &port) {
  const auto device = resolve_port(port);
  if (!device) return false;
  const bool may_create = final_target(*device).rfind("/dev/", 0) != 0;
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    setsid();
    const pid_t copy = fork();
    if (copy == 0) copy_and_exit(printer_file.c_str(), device->c_str(), may_create);
    _exit(copy < 0 ? 1 : 0);
  }
  int status = 0;
  pid_t reaped;
  while ((reaped = waitpid(child, &status, 0)) < 0 && errno == EINTR) {
  }
  // A host that ignores SIGCHLD has its children reaped for it (ECHILD).
  if (reaped < 0) return errno == ECHILD;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

const Platform &native_platform() {
  static const Platform table = {load_library,     find_entry,  sleep_ms,
                                 host_executable_path, environment_value, file_exists,
                                 remove_file, port_name_safe_for_copy, start_raw_copy, '/'};
  return table;
}

}  // namespace it433td
