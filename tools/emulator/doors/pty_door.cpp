// pty_server.cpp - the poll loop on the pty master.
#include "pty_server.h"

#include "tcp_listener.h"  // durationWords

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace it433td::printer {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const char *what) {
  throw std::system_error(errno, std::generic_category(), what);
}

void closeFd(int &fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

bool equalIgnoringCase(const std::string &a, const std::string &b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

// The lowest descriptor number the port link leads to. A high number makes
// it unlikely that a later process given the same process ID has a terminal
// open under it.
constexpr int kLinkedDescriptorFloor = 500;

std::string readLink(const fs::path &link) {
  std::error_code ec;
  const fs::path target = fs::read_symlink(link, ec);
  return ec ? std::string() : target.string();
}

// "/proc/4711/fd/500" -> 4711; 0 for any other target.
long processOfDescriptorLink(const std::string &target) {
  unsigned long pid = 0;
  int fd = 0;
  int consumed = 0;
  if (std::sscanf(target.c_str(), "/proc/%lu/fd/%d%n", &pid, &fd, &consumed) != 2 ||
      static_cast<size_t>(consumed) != target.size())
    return 0;
  return static_cast<long>(pid);
}

enum class EntryKind {
  Stale,    // a stopped virtual printer's link: replaced
  Live,     // a running virtual printer's link: refused
  Foreign,  // anything else (a real device, a file): refused
};

EntryKind kindOf(const fs::path &entry, std::string *why) {
  std::error_code ec;
  if (!fs::is_symlink(entry, ec)) return EntryKind::Foreign;
  const std::string target = readLink(entry);
  // Older virtual printers linked to the slave itself; such a link outlives
  // its printer, so it is never trusted.
  if (target.rfind("/dev/pts/", 0) == 0) return EntryKind::Stale;
  const long pid = processOfDescriptorLink(target);
  if (pid == 0) return EntryKind::Foreign;
  const std::string terminal = readLink(target);  // gone with the process
  if (terminal.rfind("/dev/pts/", 0) != 0) return EntryKind::Stale;
  std::string name;
  std::ifstream(fs::path("/proc") / std::to_string(pid) / "comm") >> name;
  *why = "a running virtual printer (process " + std::to_string(pid) +
         (name.empty() ? std::string() : " " + name) + ", " + terminal + ")";
  return EntryKind::Live;
}

// The entries of the port link's folder that name the same port: the port
// lookup ignores case, so "com1" is COM1 too.
std::vector<fs::path> entriesNamedLike(const fs::path &link) {
  std::vector<fs::path> found;
  std::error_code ec;
  const fs::path folder = link.has_parent_path() ? link.parent_path() : fs::path(".");
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (equalIgnoringCase(it->path().filename().string(), link.filename().string()))
      found.push_back(it->path());
  return found;
}

// Before anything is made: a port name already mapped to something else
// (a real printer's device, a file, a running virtual printer) is never
// taken over.
PtyServerOptions checkPortLinkFree(PtyServerOptions options) {
  if (options.portLink.empty()) return options;
  for (const fs::path &entry : entriesNamedLike(options.portLink)) {
    std::string live;
    const EntryKind kind = kindOf(entry, &live);
    if (kind == EntryKind::Stale) continue;
    const std::string target = readLink(entry);
    const std::string port = options.portLink.filename().string();
    if (kind == EntryKind::Live)
      throw PortNameTaken("the port " + port + " is served by " + live + ": " + entry.string() +
                          "; stop it or choose another port name");
    throw PortNameTaken("the port " + port + " is already mapped: " + entry.string() +
                        (target.empty() ? std::string() : " -> " + target) +
                        "; remove that entry or choose another port name");
  }
  return options;
}

ReceiptWriter *writerFor(const PtyServerOptions &options, std::unique_ptr<ReceiptWriter> &own) {
  if (options.writer) return options.writer;
  own = std::make_unique<ReceiptWriter>(options.outputFolder, options.log);
  return own.get();
}

}  // namespace

PtyServer::PtyServer(PtyServerOptions options)
    : options_(checkPortLinkFree(std::move(options))),
      writer_(writerFor(options_, ownWriter_)),
      printer_([this](Receipt &&receipt) { writer_->submit(std::move(receipt)); },
               [this](std::uint8_t byte) { answer(byte); }) {
  if (options_.sharedState)
    printer_.shareState(*options_.sharedState);
  else
    printer_.setState(options_.initialState);
  try {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) fail("posix_openpt");
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) fail("grantpt/unlockpt");
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0) fail("ptsname_r");
    slavePath_ = name;
    // Our own hold on the slave: keeps the master from seeing hang-ups.
    slaveKeep_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveKeep_ < 0) fail("open pty slave");
    // ... under a high number, for the port link (see the header).
    if (const int high = ::fcntl(slaveKeep_, F_DUPFD_CLOEXEC, kLinkedDescriptorFloor); high >= 0) {
      ::close(slaveKeep_);
      slaveKeep_ = high;
    }
    linkTarget_ = "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(slaveKeep_);
    termios tio{};
    if (::tcgetattr(slaveKeep_, &tio) != 0) fail("tcgetattr");
    ::cfmakeraw(&tio);
    if (::tcsetattr(slaveKeep_, TCSANOW, &tio) != 0) fail("tcsetattr");
    // Non-blocking master: an answer nobody reads must never stall the loop.
    if (::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK) != 0) fail("fcntl");
    if (::pipe2(stopPipe_, O_CLOEXEC | O_NONBLOCK) != 0) fail("pipe2");
    if (!options_.portLink.empty()) {
      // Links a stopped virtual printer left behind go, whatever their case,
      // so the lookup cannot find one of them first.
      std::error_code ec;
      std::string ignored;
      for (const fs::path &entry : entriesNamedLike(options_.portLink))
        if (kindOf(entry, &ignored) == EntryKind::Stale) fs::remove(entry, ec);
      fs::create_symlink(linkTarget_, options_.portLink, ec);
      if (ec) throw std::system_error(ec, "symlink " + options_.portLink.string());
      linkMade_ = true;
    }
  } catch (...) {
    closeFd(master_);
    closeFd(slaveKeep_);
    closeFd(stopPipe_[0]);
    closeFd(stopPipe_[1]);
    throw;
  }
}

void PtyServer::checkPortLink(const std::filesystem::path &portLink) {
  PtyServerOptions options;
  options.portLink = portLink;
  checkPortLinkFree(std::move(options));
}

PtyServer::~PtyServer() {
  stop();
  // Only our own link: another virtual printer may have taken the name since.
  std::error_code ec;
  if (linkMade_ && readLink(options_.portLink) == linkTarget_) fs::remove(options_.portLink, ec);
  closeFd(master_);
  closeFd(slaveKeep_);
  closeFd(stopPipe_[0]);
  closeFd(stopPipe_[1]);
}

void PtyServer::start() {
  if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
}

void PtyServer::stop() {
  requestStop();
  if (thread_.joinable()) thread_.join();
}

void PtyServer::requestStop() noexcept {
  stopAsked_.store(true);
  const char byte = 1;
  if (stopPipe_[1] >= 0) {
    [[maybe_unused]] ssize_t ignored = ::write(stopPipe_[1], &byte, 1);  // full pipe: already asked
  }
}

bool PtyServer::finishWhenClosed(std::chrono::milliseconds silence) {
  closingSilence_ = silence;
  closing_.store(true);
  // The loop never touches this descriptor; with it closed, the master
  // hangs up once the last program closes the slave.
  closeFd(slaveKeep_);
  const char byte = 1;
  [[maybe_unused]] ssize_t ignored = ::write(stopPipe_[1], &byte, 1);
  if (thread_.joinable()) thread_.join();
  return !heldSilently_;
}

void PtyServer::run() {
  serve();
  // What is still queued in the pseudo-terminal: a stop prints it too.
  while (readMaster() == Read::Bytes) {
  }
  printer_.finish(closing_.load() && !stopAsked_.load() && !heldSilently_ ? "the port closed"
                                                                          : "the printer stopped");
  writer_->drain();  // the unfinished receipt is on paper before run() returns
}

void PtyServer::serve() {
  using Clock = std::chrono::steady_clock;
  lineCheckedAt_ = Clock::now();
  Clock::time_point lastByte = lineCheckedAt_;
  for (;;) {
    int waitMs = -1;
    const std::size_t allowance = lineAllowance(&waitMs);
    const bool closing = closing_.load();
    if (closing) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(lastByte + closingSilence_ -
                                                                     Clock::now());
      if (left.count() <= 0) {
        heldSilently_ = true;
        tell("stopped waiting for the port: a program holds it open and has sent nothing for " +
             durationWords(closingSilence_));
        return;
      }
      waitMs = waitMs < 0 ? static_cast<int>(left.count())
                          : std::min(waitMs, static_cast<int>(left.count()));
    }
    // While the paced line has carried nothing yet, only a stop is awaited.
    pollfd fds[2] = {{stopPipe_[0], POLLIN, 0}, {master_, POLLIN, 0}};
    const int ready = ::poll(fds, allowance ? 2 : 1, waitMs);
    if (ready < 0) {
      if (errno == EINTR) continue;
      tell(std::string("poll failed: ") + std::strerror(errno));
      return;
    }
    if (fds[0].revents) {
      char bytes[16];
      while (::read(stopPipe_[0], bytes, sizeof bytes) > 0) {
      }
      if (stopAsked_.load()) return;
      continue;  // closing_ was set: the wait above now counts
    }
    if (!allowance || !(fds[1].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    switch (readMaster(allowance)) {
      case Read::Bytes:
        lastByte = Clock::now();
        break;
      case Read::HungUp:
        // Every byte written before the last close has been read: the
        // master's read fails with EIO only once its input is empty.
        if (closing) return;
        // Cannot happen while we hold the slave, but must not spin the loop.
        ::poll(fds, 1, 20);
        break;
      case Read::Nothing:
        break;
    }
  }
}

std::size_t PtyServer::lineAllowance(int *waitMs) {
  *waitMs = -1;
  const double rate = options_.bytesPerSecond;
  if (rate <= 0) return 4096;
  const auto now = std::chrono::steady_clock::now();
  const double elapsed = std::chrono::duration<double>(now - lineCheckedAt_).count();
  lineCheckedAt_ = now;
  // A line that waited carries no more than one read's worth at once: time
  // with nothing to send is not banked.
  const double burst = std::max(1.0, rate / 50);  // 20 ms of the line
  lineCredit_ = std::min(burst, lineCredit_ + elapsed * rate);
  const double least = std::max(1.0, rate / 100);  // read in steps of 10 ms, not byte by byte
  if (lineCredit_ >= least) return static_cast<std::size_t>(std::min(lineCredit_, 4096.0));
  *waitMs = std::max(1, static_cast<int>((least - lineCredit_) / rate * 1000 + 0.999));
  return 0;
}

PtyServer::Read PtyServer::readMaster(std::size_t limit) {
  std::uint8_t buffer[4096];
  const ssize_t got = ::read(master_, buffer, std::min(limit, sizeof buffer));
  if (got > 0) {
    if (options_.bytesPerSecond > 0) lineCredit_ -= static_cast<double>(got);
    printer_.feed(buffer, static_cast<std::size_t>(got));
    return Read::Bytes;
  }
  // EAGAIN (nothing waiting) or EINTR: later. EIO: no program holds the slave.
  return got < 0 && errno == EIO ? Read::HungUp : Read::Nothing;
}

void PtyServer::answer(std::uint8_t byte) {
  for (;;) {
    if (::write(master_, &byte, 1) == 1) return;
    if (errno != EINTR) break;
  }
  tell("status answer dropped: the port's input is full");
}

std::vector<std::filesystem::path> PtyServer::transcriptsWritten() const {
  return writer_->transcriptsWritten();
}

void PtyServer::tell(const std::string &line) const {
  if (options_.log) options_.log(line);
}

}  // namespace it433td::printer
