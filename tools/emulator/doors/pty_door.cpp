// pty_door.cpp - the pseudo-terminal, its poll loop and the port's options.
#include "emulator/doors/pty_door.h"

#include "common/tool_error.h"
#include "emulator/doors/close_fd.h"
#include "emulator/doors/limit_words.h"
#include "emulator/doors/port_holders.h"
#include "emulator/doors/port_link.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace it433td::tools {

namespace {

[[noreturn]] void fail(const char *what) {
  throw std::system_error(errno, std::generic_category(), what);
}

std::filesystem::path linkOf(const PtyDoorOptions &options) {
  return options.ports ? options.ports->entryFor(options.port) : std::filesystem::path();
}

// Before anything is made: a port name already mapped to something else
// (a real printer's device, a file, a running virtual printer) is never
// taken over.
PtyDoorOptions checkedOptions(PtyDoorOptions options) {
  if (const auto link = linkOf(options); !link.empty()) checkPortLinkFree(link);
  return options;
}

}  // namespace

PtyDoor::PtyDoor(PtyDoorOptions options, const DoorContext &context)
    : options_(checkedOptions(std::move(options))),
      portLink_(linkOf(options_)),
      bytesPerSecond_(lineBytesPerSecond(options_.baud)),
      context_(context),
      labels_(context.labels),
      printer_(
          [this](printer::Receipt &&receipt) {
            labels_.stamp(receipt);
            context_.writer.submit(std::move(receipt));
          },
          [this](std::uint8_t byte) { answer(byte); }, context_.setup) {
  printer_.shareState(context_.state);
  try {
    openTerminal();
    if (::pipe2(stopPipe_, O_CLOEXEC | O_NONBLOCK) != 0) fail("pipe2");
    if (!portLink_.empty()) {
      makePortLink(portLink_, linkTarget_);
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

void PtyDoor::openTerminal() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) fail("posix_openpt");
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) fail("grantpt/unlockpt");
  char name[128];
  if (::ptsname_r(master_, name, sizeof name) != 0) fail("ptsname_r");
  slavePath_ = name;
  // Our own hold on the slave: keeps the master from seeing hang-ups.
  slaveKeep_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slaveKeep_ < 0) fail("open pty slave");
  // ... under a high number, for the port link (port_link.h).
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
}

PtyDoor::~PtyDoor() {
  stop();
  if (linkMade_) removePortLink(portLink_, linkTarget_);
  closeFd(master_);
  closeFd(slaveKeep_);
  closeFd(stopPipe_[0]);
  closeFd(stopPipe_[1]);
}

std::vector<std::string> PtyDoor::describe() const {
  std::vector<std::string> lines{
      std::string(context_.setup.escpos() ? "virtual ESC/POS printer on " : "virtual IT433TD on ") +
      slavePath_ + ", port " + options_.port + " (" + portLink_.string() +
      "), printer " + std::string(printer::stateName(context_.state.load()))};
  if (options_.baud > 0)
    lines.push_back("the port is read at " + std::to_string(static_cast<long>(options_.baud)) +
                    " baud (" + std::to_string(static_cast<long>(bytesPerSecond_)) +
                    " bytes a second, 11 bits a byte)");
  return lines;
}

std::string PtyDoor::hint() const {
  if (!options_.ports || !options_.ports->isTemporary()) return {};
  return "for other programs: export IT433TD_PORTS=" + options_.ports->path().string();
}

std::vector<std::string> PtyDoor::environment() const {
  if (!options_.ports) return {};
  return {"IT433TD_PORTS=" + options_.ports->path().string()};
}

void PtyDoor::start() {
  if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
}

void PtyDoor::stop() {
  requestStop();
  if (thread_.joinable()) thread_.join();
}

void PtyDoor::requestStop() noexcept {
  stopAsked_.store(true);
  const char byte = 1;
  if (stopPipe_[1] >= 0) {
    [[maybe_unused]] ssize_t ignored = ::write(stopPipe_[1], &byte, 1);  // full pipe: already asked
  }
}

void PtyDoor::finish() {
  closing_.store(true);
  // The loop never touches this descriptor; with it closed, the master
  // hangs up once the last program closes the slave.
  closeFd(slaveKeep_);
  const char byte = 1;
  [[maybe_unused]] ssize_t ignored = ::write(stopPipe_[1], &byte, 1);
  if (thread_.joinable()) thread_.join();
}

std::vector<std::string> PtyDoor::holders() const {
  std::string held;
  for (const std::string &holder : processesHolding(slavePath_))
    held += (held.empty() ? ", held open by " : ", ") + holder;
  return {"the port " + options_.port + held};
}

void PtyDoor::takeWhatArrived() { drain_.ask(stopPipe_[1], kDrainBound + std::chrono::seconds(5)); }

void PtyDoor::drain() {
  const std::uint64_t asked = drain_.waiting();
  if (!asked) return;  // woken for a stop or the closing wait
  const auto bound = std::chrono::steady_clock::now() + kDrainBound;
  while (!stopAsked_.load() && std::chrono::steady_clock::now() < bound) {
    int waitMs = -1;
    if (const std::size_t allowance = lineAllowance(&waitMs); allowance == 0) {
      ::poll(nullptr, 0, waitMs);  // the paced line carries the next bytes
    } else if (readMaster(allowance) != Read::Bytes) {
      break;  // nothing waits: every byte sent so far is in
    }
  }
  drain_.answered(asked);
}

void PtyDoor::run() {
  drain_.serving(true);
  serve();
  drain_.serving(false);
  // What is still queued in the pseudo-terminal: a stop prints it too.
  while (readMaster() == Read::Bytes) {
  }
  printer_.finish(closing_.load() && !stopAsked_.load() && !heldSilently_ ? "the port closed"
                                                                          : "the printer stopped");
  context_.writer.drain();  // the unfinished receipt is on paper before run() returns
}

bool PtyDoor::closingWait(int *waitMs) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(lastPrintData_ + kPortSilence -
                                                                 std::chrono::steady_clock::now());
  if (left.count() <= 0) {
    heldSilently_ = true;
    std::string held;
    for (const std::string &holder : processesHolding(slavePath_))
      held += (held.empty() ? " by " : ", ") + holder;
    tell("stopped waiting for the port: it is held open" + held +
         " but has had no print data for " + durationWords(kPortSilence) +
         " (status requests alone do not keep it)");
    return false;
  }
  *waitMs = *waitMs < 0 ? static_cast<int>(left.count())
                        : std::min(*waitMs, static_cast<int>(left.count()));
  return true;
}

void PtyDoor::serve() {
  lineCheckedAt_ = lastPrintData_ = std::chrono::steady_clock::now();
  for (;;) {
    int waitMs = -1;
    const std::size_t allowance = lineAllowance(&waitMs);
    const bool closing = closing_.load();
    if (closing && !closingWait(&waitMs)) return;
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
      drain();   // if takeWhatArrived() asked for it
      continue;  // or closing_ was set: the wait above now counts
    }
    if (!allowance || !(fds[1].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    switch (readMaster(allowance)) {
      case Read::Bytes: break;
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

std::size_t PtyDoor::lineAllowance(int *waitMs) {
  *waitMs = -1;
  const double rate = bytesPerSecond_;
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

PtyDoor::Read PtyDoor::readMaster(std::size_t limit) {
  std::uint8_t buffer[4096];
  const ssize_t got = ::read(master_, buffer, std::min(limit, sizeof buffer));
  if (got > 0) {
    if (bytesPerSecond_ > 0) lineCredit_ -= static_cast<double>(got);
    labels_.beforeFeed(printer_);
    printer_.feed(buffer, static_cast<std::size_t>(got));
    if (printer_.printDataBytes() > printDataSeen_) {  // not status requests alone
      printDataSeen_ = printer_.printDataBytes();
      lastPrintData_ = std::chrono::steady_clock::now();
    }
    return Read::Bytes;
  }
  // EAGAIN (nothing waiting) or EINTR: later. EIO: no program holds the slave.
  return got < 0 && errno == EIO ? Read::HungUp : Read::Nothing;
}

void PtyDoor::answer(std::uint8_t byte) {
  for (;;) {
    if (::write(master_, &byte, 1) == 1) return;
    if (errno != EINTR) break;
  }
  tell("status answer dropped: the port's input is full");
}

void PtyDoor::tell(const std::string &line) const {
  if (context_.log) context_.log(line);
}

void PtyDoorKind::addOptions(CLI::App &command) {
  command.add_option("--port", port, "the port name to map, e.g. COM1");
  command.add_option("--ports-dir", portsFolder,
                     "put the port's entry into this IT433TD_PORTS folder "
                     "(default: a temporary folder, printed)");
  command.add_option("--baud", baud,
                     "read the port no faster than a serial line at this speed carries "
                     "(11 bits a byte), e.g. 57600")
      ->check(CLI::Range(1.0, 4000000.0));
}

void PtyDoorKind::prepare() {
  if (baud > 0 && !wanted())
    throw ToolError(kExitBadInput, "--baud paces the pseudo-terminal: it needs --port");
  if (!wanted()) return;
  checkPortNameForFolder(port);
  folder_.emplace(portsFolder.empty() ? PortsFolder::temporary() : PortsFolder::given(portsFolder));
  try {
    checkPortLinkFree(folder_->entryFor(port));
  } catch (const PortNameTaken &error) {
    throw ToolError(kExitBadInput, error.what());
  }
}

std::unique_ptr<Door> PtyDoorKind::open(const DoorContext &context) {
  PtyDoorOptions options;
  options.port = port;
  if (folder_) options.ports.emplace(std::move(*folder_));
  options.baud = baud;
  folder_.reset();
  try {
    auto opened = std::make_unique<PtyDoor>(std::move(options), context);
    door = opened.get();
    return opened;
  } catch (const PortNameTaken &error) {
    throw ToolError(kExitBadInput, error.what());
  }
}

std::unique_ptr<DoorKind> ptyDoorKind() { return std::make_unique<PtyDoorKind>(); }

}  // namespace it433td::tools
