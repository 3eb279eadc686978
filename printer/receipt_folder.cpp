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
#include <csignal>
#include <random>
#include <system_error>
#include <unistd.h>

namespace it433td::printer {

namespace fs = std::filesystem;

namespace {

// Numbers up to 18 digits: their successors still fit in 64 bits.
constexpr size_t kMaxNumberDigits = 18;

}  // namespace

// "receipt-0042.txt" -> 42; anything else, or a number of more than 18
// digits, -> 0.
std::int64_t receiptNumberOf(const fs::path &file) {
  const std::string name = file.filename().string();
  constexpr std::string_view kPrefix = "receipt-";
  if (name.compare(0, kPrefix.size(), kPrefix) != 0) return 0;
  size_t at = kPrefix.size();
  std::int64_t number = 0;
  for (; at < name.size() && name[at] >= '0' && name[at] <= '9'; ++at) {
    if (at - kPrefix.size() == kMaxNumberDigits) return 0;
    number = number * 10 + (name[at] - '0');
  }
  if (at == kPrefix.size() || at >= name.size() || name[at] != '.' || at + 1 == name.size())
    return 0;
  for (++at; at < name.size(); ++at)
    if (name[at] < 'a' || name[at] > 'z') return 0;
  return number;
}

std::string receiptFileName(std::int64_t number, std::string_view extension) {
  char stem[40];
  std::snprintf(stem, sizeof stem, "receipt-%04" PRId64, number);
  return stem + std::string(extension);
}

namespace {

// The temporaries being filled, in slots a signal handler can read: state 0
// free, 1 being claimed, 2 holds a path. A path too long for a slot, or a
// moment with every slot taken, goes untracked (it is still removed on every
// ordinary way out).
struct TrackedTemporary {
  std::atomic<int> state{0};
  char path[1024];
};
TrackedTemporary gTemporaries[64];
static_assert(std::atomic<int>::is_always_lock_free, "read from a signal handler");

int track(const fs::path &path) {
  const std::string &text = path.native();
  if (text.size() >= sizeof gTemporaries[0].path) return -1;
  for (int slot = 0; slot < static_cast<int>(std::size(gTemporaries)); ++slot) {
    int expected = 0;
    if (!gTemporaries[slot].state.compare_exchange_strong(expected, 1)) continue;
    std::memcpy(gTemporaries[slot].path, text.c_str(), text.size() + 1);
    gTemporaries[slot].state.store(2);
    return slot;
  }
  return -1;
}

void untrack(int slot) {
  if (slot >= 0) gTemporaries[slot].state.store(0);
}

// A temporary file of ours, tracked while it lives, removed unless kept.
class Temporary {
public:
  Temporary() = default;
  Temporary(const Temporary &) = delete;
  Temporary &operator=(const Temporary &) = delete;
  ~Temporary() { discard(); }

  // Makes a new empty file in `folder`, e.g. ".receipt-4711-3-k3J9xQ.png.part":
  // like mkstemp's (O_EXCL, a fresh name on a clash), but with the usual
  // permissions, as the receipt files get them.
  bool make(const fs::path &folder, const std::string &extension, std::string *error) {
    static std::atomic<unsigned> counter{0};
    static thread_local std::mt19937 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
      path_ = folder / (".receipt-" + std::to_string(::getpid()) + "-" +
                        std::to_string(counter++) + "-" + std::to_string(random() % 1000000) +
                        extension + ".part");
      slot_ = track(path_);  // before it exists: a signal now finds it
      const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        ::close(fd);
        return true;
      }
      const int failed = errno;
      untrack(slot_);
      slot_ = -1;
      if (failed != EEXIST) {
        if (error) *error = path_.string() + ": " + std::strerror(failed);
        path_.clear();
        return false;
      }
    }
    path_.clear();
    if (error) *error = folder.string() + ": no free temporary name";
    return false;
  }

  const fs::path &path() const { return path_; }
  // The file has been given its own name (or is gone): nothing to remove.
  void release() {
    untrack(slot_);
    slot_ = -1;
    path_.clear();
  }
  void discard() {
    if (path_.empty()) return;
    std::error_code ec;
    fs::remove(path_, ec);
    release();
  }

private:
  fs::path path_;
  int slot_ = -1;
};

void removeOnSignal(int signal) {
  removeReceiptTemporaries();
  ::raise(signal);  // the handler was reset: ends the process as the signal would
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
    nextNumber_ = std::max(nextNumber_, receiptNumberOf(it->path()) + 1);
}

bool ReceiptFolder::prepare(const fs::path &folder, std::string *error) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (!fs::is_directory(folder, ec)) {
    if (error) *error = folder.string() + ": not a folder" + (ec ? ": " + ec.message() : "");
    return false;
  }
  Temporary probe;  // what every receipt will need: a new file there
  return probe.make(folder, ".probe", error);
}

fs::path ReceiptFolder::write(const Receipt &receipt, std::string *error) {
  Temporary pngTemp, txtTemp;
  if (!pngTemp.make(folder_, ".png", error) || !txtTemp.make(folder_, ".txt", error) ||
      !writePng(receipt, pngTemp.path(), error) ||
      !writeTranscript(receipt, txtTemp.path(), error))
    return {};
  // The PNG first, then the transcript under the same number, each only
  // where no file is: a number another writer (or an old file) holds is
  // skipped.
  for (;;) {
    const std::int64_t number = nextNumber_++;
    const fs::path png = folder_ / receiptFileName(number, ".png");
    const fs::path txt = folder_ / receiptFileName(number, ".txt");
    fs::path failedAt = png;
    int failed = publish(pngTemp.path(), png);
    if (failed == EEXIST) continue;
    if (!failed) {
      failedAt = txt;
      failed = publish(txtTemp.path(), txt);
      if (!failed) {
        pngTemp.release();
        txtTemp.release();
        return txt;
      }
      // Take our picture back under its own unique name; nobody else can
      // have replaced it, as nobody replaces a receipt file.
      if (::rename(png.c_str(), pngTemp.path().c_str()) != 0) {
        failedAt = png;
        failed = errno;
      } else if (failed == EEXIST) {
        continue;
      }
    }
    if (error) *error = failedAt.string() + ": " + std::strerror(failed);
    return {};
  }
}

void removeReceiptTemporaries() noexcept {
  for (TrackedTemporary &slot : gTemporaries)
    if (slot.state.load() == 2) ::unlink(slot.path);
}

void removeReceiptTemporariesOnSignals() {
  struct sigaction action{};
  action.sa_handler = removeOnSignal;
  action.sa_flags = static_cast<int>(SA_RESETHAND);  // an unsigned constant in glibc
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::sigaction(signal, &action, nullptr);
}

std::filesystem::path pictureOf(const std::filesystem::path &transcript) {
  std::filesystem::path picture = transcript;
  return picture.replace_extension(".png");
}

}  // namespace it433td::printer
