// qr_folder.cpp - mkdtemp(3) for the private folder, setenv for the module,
// and a signal handler that empties and removes the folder with
// async-signal-safe calls only (getdents64, unlinkat, rmdir).
#include "host/qr_folder.h"
#include "common/shown_text.h"

#include "operation_rules.h"
#include "common/output_folder.h"
#include "common/tool_error.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace it433td::tools {

namespace fs = std::filesystem;

namespace {

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};
// The private folder, for the handler, which may not allocate.
char removedOnSignal[PATH_MAX];
struct sigaction before[std::size(kEndingSignals)];

void emptyAndRemove(const char *folder) {
  const int at = ::open(folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (at >= 0) {
    alignas(dirent64) char entries[4096];
    long got = 0;
    while ((got = ::syscall(SYS_getdents64, at, entries, sizeof entries)) > 0)
      for (long offset = 0; offset < got;) {
        const auto *entry = reinterpret_cast<const dirent64 *>(entries + offset);
        if (entry->d_type != DT_DIR) ::unlinkat(at, entry->d_name, 0);
        offset += entry->d_reclen;
      }
    ::close(at);
  }
  ::rmdir(folder);
}

extern "C" void removeAndDie(int signal) {
  emptyAndRemove(removedOnSignal);
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

// The base folders tried for the private folder, in order.
std::vector<fs::path> baseFolders() {
  std::vector<fs::path> bases;
  for (const char *variable : {"XDG_RUNTIME_DIR", "TMPDIR"})
    if (const char *value = std::getenv(variable); value && *value) bases.emplace_back(value);
  bases.emplace_back("/tmp");
  return bases;
}

}  // namespace

RunQrFolder::RunQrFolder() {
  const char *named = std::getenv(driver::kQrFolderVariable);
  if (named && *named) {
    path_ = named;
    const std::string problem = prepareFolder(path_);
    if (!problem.empty())
      throw ToolError(kExitNoModule, "the QR folder " + shownText(path_.string()) + " (" +
                                         driver::kQrFolderVariable + ") " + problem +
                                         ": no QR code could be rendered");
    return;
  }
  std::string tried;
  for (const fs::path &base : baseFolders()) {
    std::string pattern = (base / "it433td-qr-XXXXXX").string();
    errno = ENAMETOOLONG;
    if (pattern.size() < sizeof removedOnSignal && ::mkdtemp(pattern.data())) {
      path_ = pattern;
      break;
    }
    tried += "\n  " + shownText(base.string()) + ": " + std::strerror(errno);
  }
  if (path_.empty())
    throw ToolError(kExitNoModule, std::string("no private QR folder can be made:") + tried +
                                       "\n  set " + driver::kQrFolderVariable +
                                       " to a folder you can write");
  own_ = true;
  ::setenv(driver::kQrFolderVariable, path_.c_str(), 1);
  std::strcpy(removedOnSignal, path_.c_str());
  struct sigaction removing {};
  removing.sa_handler = removeAndDie;
  sigemptyset(&removing.sa_mask);
  // A signal the caller ignores (nohup's SIGHUP) stays ignored.
  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
    ::sigaction(kEndingSignals[i], nullptr, &before[i]);
    if (before[i].sa_handler != SIG_IGN) ::sigaction(kEndingSignals[i], &removing, nullptr);
  }
}

RunQrFolder::~RunQrFolder() {
  if (!own_) return;
  for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
    ::sigaction(kEndingSignals[i], &before[i], nullptr);
  std::error_code ignored;
  fs::remove_all(path_, ignored);
  ::unsetenv(driver::kQrFolderVariable);
}

std::string describeQrFolder() {
  const char *folder = std::getenv(driver::kQrFolderVariable);
  return std::string("QR codes are rendered in ") + shownText(folder ? folder : "") + " (" +
         driver::kQrFolderVariable + ")";
}

}  // namespace it433td::tools
