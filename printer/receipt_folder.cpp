// receipt_folder.cpp - numbered receipt files, written whole or not at all,
// never over another writer's receipt.
#include "receipt_folder.h"

#include "renderer.h"
#include "transcript.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <system_error>
#include <unistd.h>

namespace it433td::printer {

namespace fs = std::filesystem;

namespace {

// Numbers up to 18 digits: their successors still fit in 64 bits.
constexpr size_t kMaxNumberDigits = 18;

// "receipt-0042.txt" -> 42; anything else, or a number of more than 18
// digits, -> 0.
std::int64_t receiptNumber(const fs::path &file) {
  const std::string name = file.filename().string();
  constexpr std::string_view prefix = "receipt-";
  if (name.compare(0, prefix.size(), prefix) != 0) return 0;
  size_t at = prefix.size();
  std::int64_t number = 0;
  for (; at < name.size() && name[at] >= '0' && name[at] <= '9'; ++at) {
    if (at - prefix.size() == kMaxNumberDigits) return 0;
    number = number * 10 + (name[at] - '0');
  }
  if (at == prefix.size() || at >= name.size() || name[at] != '.' || at + 1 == name.size())
    return 0;
  for (++at; at < name.size(); ++at)
    if (name[at] < 'a' || name[at] > 'z') return 0;
  return number;
}

// A new empty file of our own in `folder`, e.g. ".receipt-4711-3-k3J9xQ.png.part":
// made like mkstemp's (O_EXCL, a fresh name on a clash), but with the usual
// permissions, as the receipt files get them.
fs::path uniqueTemporary(const fs::path &folder, const std::string &extension, std::string *error) {
  static std::atomic<unsigned> counter{0};
  static thread_local std::mt19937 random{std::random_device{}()};
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path path = folder / (".receipt-" + std::to_string(::getpid()) + "-" +
                                    std::to_string(counter++) + "-" +
                                    std::to_string(random() % 1000000) + extension + ".part");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return path;
    }
    if (errno != EEXIST) {
      if (error) *error = path.string() + ": " + std::strerror(errno);
      return {};
    }
  }
  if (error) *error = folder.string() + ": no free temporary name";
  return {};
}

// Gives `from` the name `to` unless `to` exists: 0, EEXIST, or another errno.
// Where the file system cannot rename without replacing, a hard link does it.
int publish(const fs::path &from, const fs::path &to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  ::unlink(from.c_str());
  return 0;
}

bool writeTranscript(const Receipt &receipt, const fs::path &path, std::string *error) {
  std::FILE *out = std::fopen(path.c_str(), "wb");
  const std::string text = transcriptOf(receipt);
  bool written = out && std::fwrite(text.data(), 1, text.size(), out) == text.size();
  if (out && std::fclose(out) != 0) written = false;
  if (!written && error) *error = path.string() + ": cannot write";
  return written;
}

}  // namespace

ReceiptFolder::ReceiptFolder(fs::path folder) : folder_(std::move(folder)) {
  std::error_code ec;
  fs::create_directories(folder_, ec);
  for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec))
    nextNumber_ = std::max(nextNumber_, receiptNumber(it->path()) + 1);
}

fs::path ReceiptFolder::write(const Receipt &receipt, std::string *error) {
  const fs::path pngTemp = uniqueTemporary(folder_, ".png", error);
  if (pngTemp.empty()) return {};
  const fs::path txtTemp = uniqueTemporary(folder_, ".txt", error);
  std::error_code ec;
  if (txtTemp.empty() || !writePng(receipt, pngTemp, error) ||
      !writeTranscript(receipt, txtTemp, error)) {
    fs::remove(pngTemp, ec);
    if (!txtTemp.empty()) fs::remove(txtTemp, ec);
    return {};
  }
  // The PNG first, then the transcript under the same number, each only
  // where no file is: a number another writer (or an old file) holds is
  // skipped.
  for (;;) {
    char stem[40];
    std::snprintf(stem, sizeof stem, "receipt-%04" PRId64, nextNumber_++);
    const fs::path png = folder_ / (std::string(stem) + ".png");
    const fs::path txt = folder_ / (std::string(stem) + ".txt");
    fs::path failedAt = png;
    int failed = publish(pngTemp, png);
    if (failed == EEXIST) continue;
    if (!failed) {
      failedAt = txt;
      failed = publish(txtTemp, txt);
      if (!failed) return txt;
      // Take our picture back under its own unique name; nobody else can
      // have replaced it, as nobody replaces a receipt file.
      if (::rename(png.c_str(), pngTemp.c_str()) != 0) {
        failedAt = png;
        failed = errno;
      } else if (failed == EEXIST) {
        continue;
      }
    }
    if (error) *error = failedAt.string() + ": " + std::strerror(failed);
    fs::remove(pngTemp, ec);
    fs::remove(txtTemp, ec);
    return {};
  }
}

}  // namespace it433td::printer
