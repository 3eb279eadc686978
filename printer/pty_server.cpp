// pty_server.cpp - the poll loop on the pty master.
#include "pty_server.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <fcntl.h>
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

// A link into /dev/pts: left by a virtual printer (ours or a stopped one).
bool isPseudoTerminalLink(const fs::path &entry) {
  std::error_code ec;
  if (!fs::is_symlink(entry, ec)) return false;
  const std::string target = fs::read_symlink(entry, ec).string();
  return !ec && target.rfind("/dev/pts/", 0) == 0;
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
// (a real printer's device, a file) is never taken over.
PtyServerOptions checkPortLinkFree(PtyServerOptions options) {
  if (options.portLink.empty()) return options;
  for (const fs::path &entry : entriesNamedLike(options.portLink)) {
    if (isPseudoTerminalLink(entry)) continue;
    std::error_code ec;
    const fs::path target = fs::read_symlink(entry, ec);
    throw PortNameTaken("the port " + options.portLink.filename().string() + " is already mapped: " +
                        entry.string() + (ec ? std::string() : " -> " + target.string()) +
                        "; remove that entry or choose another port name");
  }
  return options;
}

}  // namespace

PtyServer::PtyServer(PtyServerOptions options)
    : options_(checkPortLinkFree(std::move(options))),
      folder_(options_.outputFolder),
      printer_([this](Receipt &&receipt) { onReceipt(std::move(receipt)); },
               [this](std::uint8_t byte) { answer(byte); }) {
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
      for (const fs::path &entry : entriesNamedLike(options_.portLink))
        if (isPseudoTerminalLink(entry)) fs::remove(entry, ec);
      fs::create_symlink(slavePath_, options_.portLink, ec);
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

PtyServer::~PtyServer() {
  stop();
  // Only our own link: another virtual printer may have taken the name since.
  std::error_code ec;
  if (linkMade_ && fs::read_symlink(options_.portLink, ec) == slavePath_ && !ec)
    fs::remove(options_.portLink, ec);
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
  const char byte = 1;
  if (stopPipe_[1] >= 0) {
    [[maybe_unused]] ssize_t ignored = ::write(stopPipe_[1], &byte, 1);  // full pipe: already asked
  }
}

void PtyServer::run() {
  for (;;) {
    pollfd fds[2] = {{master_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    const int ready = ::poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      tell(std::string("poll failed: ") + std::strerror(errno));
      break;
    }
    if (fds[1].revents) break;
    if (fds[0].revents & POLLIN) {
      readMaster();
    } else if (fds[0].revents & (POLLHUP | POLLERR)) {
      // No writer left (cannot happen while we hold the slave, but a hang-up
      // must not spin the loop): wait a little for the next one.
      ::poll(fds + 1, 1, 20);
    }
  }
  while (readMaster()) {
  }
  printer_.finish();
}

bool PtyServer::readMaster() {
  std::uint8_t buffer[4096];
  const ssize_t got = ::read(master_, buffer, sizeof buffer);
  if (got > 0) {
    printer_.feed(buffer, static_cast<std::size_t>(got));
    return true;
  }
  return false;  // EAGAIN (nothing waiting), EIO (no writer) or EINTR: try again later
}

void PtyServer::answer(std::uint8_t byte) {
  for (;;) {
    if (::write(master_, &byte, 1) == 1) return;
    if (errno != EINTR) break;
  }
  tell("status answer dropped: the port's input is full");
}

void PtyServer::onReceipt(Receipt &&receipt) {
  std::string error;
  const std::filesystem::path written = folder_.write(receipt, &error);
  if (written.empty()) {
    tell("receipt not written: " + error);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(filesMutex_);
    transcripts_.push_back(written);
  }
  tell("receipt written: " + written.string());
}

std::vector<std::filesystem::path> PtyServer::transcriptsWritten() const {
  std::lock_guard<std::mutex> lock(filesMutex_);
  return transcripts_;
}

void PtyServer::tell(const std::string &line) const {
  if (options_.log) options_.log(line);
}

}  // namespace it433td::printer
