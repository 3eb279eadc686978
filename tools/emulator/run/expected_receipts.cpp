// expected_receipts.cpp - receipt files matched by number, diffs, and
// files replaced by rename.
#include "emulator/run/expected_receipts.h"

#include "common/input_file.h"
#include "common/output_folder.h"
#include "receipt_folder.h"
#include "common/receipt_summary.h"
#include "common/shown_text.h"
#include "common/tool_error.h"
#include "emulator/run/unified_diff.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <unistd.h>

namespace it433td::tools {

namespace fs = std::filesystem;

namespace {

// A transcript stops at 1 MiB; a larger file was never one.
constexpr std::size_t kMaxExpectedBytes = 4u << 20;

// The receipt transcripts of `folder` by name: receipt-NNNN.txt (and any
// other number's spelling, receipt-7.txt, which the run never matches).
std::map<std::string, fs::path> receiptFilesIn(const fs::path &folder, ExitStatus failure) {
  std::map<std::string, fs::path> files;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (it->path().extension() == ".txt" && printer::receiptNumberOf(it->path()) > 0)
      files.emplace(it->path().filename().string(), it->path());
  if (ec)
    throw ToolError(failure, shownText(folder.string()) + ": cannot be read (" + ec.message() + ")");
  return files;
}

std::string readTranscript(const fs::path &file) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec))  // a FIFO would never end
    throw ToolError(kExitBadInput, shownText(file.string()) + ": not a file");
  return readInputFile(file.string(), kMaxExpectedBytes, "larger than any transcript (4 MiB)");
}

void writeWhole(const fs::path &file, const std::string &content) {
  const fs::path part = file.parent_path() / ("." + file.filename().string() + "-" +
                                              std::to_string(::getpid()) + ".part");
  const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
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
                                              ": cannot be written (" + std::strerror(failed) + ")");
  }
}

}  // namespace

std::size_t compareWithExpected(const fs::path &folder, const std::vector<fs::path> &transcripts) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec))
    throw ToolError(kExitBadInput, "--expect " + shownText(folder.string()) + ": not a folder");
  std::map<std::string, fs::path> expected = receiptFilesIn(folder, kExitBadInput);
  std::size_t differences = 0;
  const auto show = [&](const std::string &why, const std::string &diff) {
    ++differences;
    printMessage(stdout, why);
    std::fputs(diff.c_str(), stdout);
  };
  for (std::size_t i = 0; i < transcripts.size(); ++i) {
    const std::string name = printer::receiptFileName(static_cast<std::int64_t>(i) + 1, ".txt");
    const std::string printed = readTranscript(transcripts[i]);
    const auto found = expected.find(name);
    if (found == expected.end()) {
      show("receipt " + std::to_string(i + 1) + " is not in " + shownText(folder.string()) + ":",
           unifiedDiff("", printed, "/dev/null", transcripts[i].string()));
      continue;
    }
    const std::string diff =
        unifiedDiff(readTranscript(found->second), printed, found->second.string(),
                    transcripts[i].string());
    if (!diff.empty()) show("receipt " + std::to_string(i + 1) + " differs:", diff);
    expected.erase(found);
  }
  for (const auto &[name, file] : expected)
    show(shownText(file.string()) + " was not printed:",
         unifiedDiff(readTranscript(file), "", file.string(), "/dev/null"));
  return differences;
}

void updateExpected(const fs::path &folder, const std::vector<fs::path> &transcripts) {
  if (const std::string problem = prepareFolder(folder); !problem.empty())
    throw ToolError(kExitOperationFailed,
                    "--update-expected " + shownText(folder.string()) + ": " + problem);
  std::map<std::string, fs::path> stale = receiptFilesIn(folder, kExitOperationFailed);
  for (std::size_t i = 0; i < transcripts.size(); ++i) {
    const std::string name = printer::receiptFileName(static_cast<std::int64_t>(i) + 1, ".txt");
    writeWhole(folder / name, readTranscript(transcripts[i]));
    stale.erase(name);
  }
  for (const auto &[name, file] : stale) {
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(file, ec)) && !fs::remove(file, ec) && ec)
      throw ToolError(kExitOperationFailed, "--update-expected: " + shownText(file.string()) +
                                                ": cannot be removed (" + ec.message() + ")");
  }
  printMessage(stdout, "--update-expected: " + counted(transcripts.size(), "receipt") +
                           " written to " + shownText(folder.string()) +
                           (stale.empty() ? "" : ", " + counted(stale.size(), "older receipt") +
                                                     " removed"));
}

}  // namespace it433td::tools
