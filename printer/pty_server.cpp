// pty_server.cpp - the poll loop on the pty master.
#include "pty_server.h"

#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace it433td::printer {

namespace {

[[noreturn]] void fail(const char *what) {
  throw std::system_error(errno, std::generic_category(), what);
}

void closeFd(int &fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

PtyServer::PtyServer(PtyServerOptions options)
    : options_(std::move(options)),
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
      std::error_code ec;
      if (std::filesystem::is_symlink(options_.portLink, ec))
        std::filesystem::remove(options_.portLink, ec);
      std::filesystem::create_symlink(slavePath_, options_.portLink, ec);
      if (ec) throw std::system_error(ec, "symlink " + options_.portLink.string());
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
  if (!options_.portLink.empty()) {
    std::error_code ec;
    std::filesystem::remove(options_.portLink, ec);
  }
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
