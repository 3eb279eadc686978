// expected_receipts.cpp - golden files read through the folder's
// descriptor, matched by name, diffs, and files replaced by rename.
#include "emulator/run/expected_receipts.h"

#include "common/output_folder.h"
#include "common/receipt_summary.h"
#include "common/shown_text.h"
#include "common/tool_error.h"
#include "emulator/run/golden_names.h"
#include "emulator/run/unified_diff.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace it433td::tools {

namespace fs = std::filesystem;

namespace {

// More golden receipts than any test suite prints: a folder past it is
// not a golden folder, and listing it would only fill memory.
constexpr std::size_t kMaxGoldenFiles = 100'000;

bool isGoldenName(const std::string &name) {
  return name.size() > 4 && name.compare(name.size() - 4, 4, ".txt") == 0 && name[0] != '.';
}

std::string reason(int error) { return std::string(" (") + std::strerror(error) + ")"; }

// The *.txt entries of the folder open as `fd`, sorted.
std::vector<std::string> goldenEntries(int fd, const std::string &shown, ExitStatus failure) {
  const int listed = ::dup(fd);
  DIR *dir = listed >= 0 ? ::fdopendir(listed) : nullptr;
  if (!dir) {
    const int error = errno;
    if (listed >= 0) ::close(listed);
    throw ToolError(failure, shown + ": cannot be read" + reason(error));
  }
  std::vector<std::string> names;
  errno = 0;
  while (const dirent *entry = ::readdir(dir)) {
    if (isGoldenName(entry->d_name)) names.emplace_back(entry->d_name);
    if (names.size() > kMaxGoldenFiles) {
      ::closedir(dir);
      throw ToolError(failure, shown + ": more than " + std::to_string(kMaxGoldenFiles) +
                                   " receipt files; not a folder of golden receipts");
    }
  }
  const int error = errno;
  ::closedir(dir);
  if (error) throw ToolError(failure, shown + ": cannot be read" + reason(error));
  std::sort(names.begin(), names.end());
  return names;
}

// Why the entry is no golden receipt ("" when it is one).
std::string notAGoldenFile(const struct stat &info) {
  if (S_ISLNK(info.st_mode)) return "a symbolic link, not a receipt file";
  if (!S_ISREG(info.st_mode)) return "not a regular file";
  if (static_cast<std::uintmax_t>(info.st_size) > kMaxGoldenBytes)
    return "larger than any transcript (4 MiB)";
  return "";
}

std::string readTranscript(const fs::path &file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0)
    throw ToolError(kExitBadInput, shownText(file.string()) + ": cannot be read" + reason(errno));
  std::string content;
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || content.size() + static_cast<std::size_t>(got) > kMaxGoldenBytes) {
      ::close(fd);
      if (got == 0) return content;
      throw ToolError(kExitBadInput, shownText(file.string()) + ": cannot be read" +
                                         (got < 0 ? reason(errno) : " (larger than 4 MiB)"));
    }
    content.append(buffer, static_cast<std::size_t>(got));
  }
}

void writeWhole(const fs::path &file, const std::string &content) {
  const fs::path part = file.parent_path() / ("." + file.filename().string() + "-" +
                                              std::to_string(::getpid()) + ".part");
  ::unlink(part.c_str());  // one a killed run of ours left
  const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  bool written = fd >= 0;
  for (std::size_t done = 0; written && done < content.size();) {
    const ssize_t wrote = ::write(fd, content.data() + done, content.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    written = wrote > 0;
    if (written) done += static_cast<std::size_t>(wrote);
  }
  int failed = written ? 0 : errno;
  if (fd >= 0 && ::close(fd) != 0 && !failed) failed = errno;
  if (!failed && ::rename(part.c_str(), file.c_str()) != 0) failed = errno;
  if (failed) {
    ::unlink(part.c_str());
    throw ToolError(kExitOperationFailed, "--update-expected: " + shownText(file.string()) +
                                              ": cannot be written" + reason(failed));
  }
}

// Each receipt's golden file name, in the run's order.
std::vector<std::string> goldenNamesOf(const std::vector<RunReceipt> &receipts) {
  GoldenNames names;
  std::vector<std::string> named;
  for (const RunReceipt &receipt : receipts) named.push_back(names.next(receipt.label));
  return named;
}

}  // namespace

GoldenFolder::GoldenFolder(const fs::path &folder, const std::string &option)
    : path_(folder), option_(option) {
  const std::string shown = option + " " + shownText(folder.string());
  fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0)
    throw ToolError(kExitBadInput, shown + (errno == ENOTDIR || errno == ENOENT
                                                ? ": not a folder"
                                                : ": cannot be read" + reason(errno)));
  try {
    names_ = goldenEntries(fd_, shown, kExitBadInput);
    for (const std::string &name : names_) {
      struct stat info {};
      const int failed = ::fstatat(fd_, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ? errno : 0;
      const std::string problem = failed ? "cannot be read" + reason(failed) : notAGoldenFile(info);
      if (!problem.empty())
        throw ToolError(kExitBadInput,
                        option + ": " + shownText((folder / name).string()) + ": " + problem);
    }
  } catch (...) {
    ::close(fd_);
    throw;
  }
}

GoldenFolder::~GoldenFolder() { ::close(fd_); }

std::string GoldenFolder::read(const std::string &name) const {
  const std::string shown = option_ + ": " + shownText((path_ / name).string());
  const int fd =
      ::openat(fd_, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0)
    throw ToolError(kExitBadInput, shown + (errno == ELOOP ? ": a symbolic link, not a receipt file"
                                                           : ": cannot be read" + reason(errno)));
  struct stat info {};
  std::string problem =
      ::fstat(fd, &info) != 0 ? "cannot be read" + reason(errno) : notAGoldenFile(info);
  std::string content;
  char buffer[64 * 1024];
  while (problem.empty()) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) problem = "cannot be read" + reason(errno);
    if (got <= 0) break;
    if (content.size() + static_cast<std::size_t>(got) > kMaxGoldenBytes)
      problem = "larger than any transcript (4 MiB)";  // it grew since it was checked
    else
      content.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  if (!problem.empty()) throw ToolError(kExitBadInput, shown + ": " + problem);
  return content;
}

std::size_t compareWithExpected(const GoldenFolder &golden,
                                const std::vector<RunReceipt> &receipts) {
  std::set<std::string> expected(golden.names().begin(), golden.names().end());
  const std::string folder = shownText(golden.path().string());
  std::size_t differences = 0;
  const auto show = [&](const std::string &why, const std::string &diff) {
    ++differences;
    printMessage(stdout, why);
    std::fputs(diff.c_str(), stdout);
  };
  const std::vector<std::string> names = goldenNamesOf(receipts);
  for (std::size_t i = 0; i < receipts.size(); ++i) {
    const RunReceipt &receipt = receipts[i];
    const std::string which =
        "receipt " + std::to_string(i + 1) +
        (receipt.label.empty() ? "" : " \"" + shownText(receipt.label) + "\"");
    const std::string printed = readTranscript(receipt.transcript);
    const fs::path file = golden.path() / names[i];
    if (expected.erase(names[i]) == 0) {
      show(which + " is not in " + folder + " (" + shownText(names[i]) + "):",
           unifiedDiff("", printed, "/dev/null", receipt.transcript.string()));
      continue;
    }
    const std::string diff =
        unifiedDiff(golden.read(names[i]), printed, file.string(), receipt.transcript.string());
    if (!diff.empty()) show(which + " differs:", diff);
  }
  for (const std::string &name : expected)
    show(shownText((golden.path() / name).string()) + " was not printed:",
         unifiedDiff(golden.read(name), "", (golden.path() / name).string(), "/dev/null"));
  return differences;
}

void updateExpected(const fs::path &folder, const std::vector<RunReceipt> &receipts) {
  const std::string shown = "--update-expected " + shownText(folder.string());
  if (const std::string problem = prepareFolder(folder); !problem.empty())
    throw ToolError(kExitOperationFailed, shown + ": " + problem);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw ToolError(kExitOperationFailed, shown + ": cannot be read" + reason(errno));
  std::vector<std::string> entries;
  try {
    entries = goldenEntries(fd, shown, kExitOperationFailed);
  } catch (...) {
    ::close(fd);
    throw;
  }
  std::set<std::string> stale(entries.begin(), entries.end());
  const std::vector<std::string> names = goldenNamesOf(receipts);
  for (std::size_t i = 0; i < receipts.size(); ++i) {
    writeWhole(folder / names[i], readTranscript(receipts[i].transcript));
    stale.erase(names[i]);
  }
  std::size_t removed = 0;
  for (const std::string &name : stale) {
    struct stat info {};
    if (::fstatat(fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode))
      continue;
    if (::unlinkat(fd, name.c_str(), 0) != 0 && errno != ENOENT) {
      const int error = errno;
      ::close(fd);
      throw ToolError(kExitOperationFailed,
                      "--update-expected: " + shownText((folder / name).string()) +
                          ": cannot be removed" + reason(error));
    }
    ++removed;
  }
  ::close(fd);
  printMessage(stdout, "--update-expected: " + counted(receipts.size(), "receipt") +
                           " written to " + shownText(folder.string()) +
                           (removed ? ", " + counted(removed, "older receipt") + " removed" : ""));
}

}  // namespace it433td::tools
