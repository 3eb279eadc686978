// network_job.cpp - reading a job, feeding it to its print head, and the
// limits that end it.
#include "emulator/doors/network_job.h"

#include "emulator/doors/limit_words.h"
#include "virtual_printer.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <poll.h>
#include <sys/socket.h>

namespace it433td::tools {

namespace {

using Clock = std::chrono::steady_clock;

// How a job ended. A limit, or the printer stopping while the job still
// arrived, ends it with a "[NOTE job ended: <why>]" line; any other ending
// is named only in the warning of a receipt left uncut.
struct Ending {
  std::string why = "end of the job";
  bool limit = false;
};

// True when `bytes`, with what came before them in `held`, are status
// requests (DLE EOT n) and nothing else; a request still coming stays held.
bool onlyStatusRequests(std::string &held, const std::uint8_t *bytes, std::size_t size) {
  held.append(reinterpret_cast<const char *>(bytes), size);
  std::size_t at = 0;
  for (; at + 3 <= held.size(); at += 3)
    if (held[at] != '\x10' || held[at + 1] != '\x04') return false;
  held.erase(0, at);
  return held.empty() || (held[0] == '\x10' && (held.size() == 1 || held[1] == '\x04'));
}

class NetworkJob {
public:
  NetworkJob(int connection, std::string label, const JobLimits &limits, const DoorContext &context)
      : connection_(connection),
        label_(std::move(label)),
        limits_(limits),
        context_(context),
        printer_([this](printer::Receipt &&receipt) { printed(std::move(receipt)); },
                 [connection](std::uint8_t answer) {
                   ::send(connection, &answer, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                 },
                 context_.setup) {
    printer_.shareState(context_.state);
  }

  // Reads and prints until the job ends; returns how.
  Ending print(int stopFd) {
    const auto deadline = Clock::now() + limits_.jobTimeout;
    lastPrintData_ = Clock::now();
    for (;;) {
      const auto now = Clock::now();
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
      if (left.count() <= 0) return ended(durationWords(limits_.jobTimeout) + " time limit");
      // Status requests alone do not keep a job at the printer.
      const auto quiet =
          std::chrono::ceil<std::chrono::milliseconds>(lastPrintData_ + limits_.idleTimeout - now);
      if (quiet.count() <= 0)
        return {"no print data for " + durationWords(limits_.idleTimeout), false};
      pollfd fds[2] = {{stopFd, POLLIN, 0}, {connection_, POLLIN, 0}};
      const int ready = ::poll(fds, 2, static_cast<int>(std::min(left, quiet).count()));
      if (ready < 0 && errno == EINTR) continue;
      if (ready == 0) continue;  // a limit of time, noted above
      if (ready < 0 || fds[0].revents) return printWhatArrived(deadline);
      if (std::optional<Ending> ended = readOnce(0)) return *ended;
    }
  }

  // Ends the job as its ending says, and tells how much it sent.
  std::uint64_t end(const Ending &ending) {
    if (ending.limit)
      printer_.endJobAtLimit(ending.why);
    else
      printer_.finish(ending.why);
    return received_;
  }

private:
  void printed(printer::Receipt &&receipt) {
    ++receipts_;
    paperDots_ += receipt.lengthDots;
    receipt.label = label_;
    context_.writer.submit(std::move(receipt));
  }

  // The limit on what the job prints that it has reached, or "".
  std::string printedTooMuch() const {
    if (receipts_ >= kMaxReceiptsPerJob)
      return std::to_string(kMaxReceiptsPerJob) + " receipts limit";
    if (paperDots_ >= kMaxPaperDotsPerJob)
      return std::to_string(kMaxPaperDotsPerJob / 8000) + " m paper limit";
    return {};
  }

  // The job ends at a limit: `why`, or the limit on printing reached
  // before, which is noted only if something was cut off by it (a job of
  // exactly 200 receipts keeps its 200 and no note).
  Ending ended(std::string why) const {
    if (reached_.empty()) return {std::move(why), true};
    return {reached_, cutOff_};
  }

  // Bytes go to the printer in small pieces, smaller still as the job nears
  // its receipt limit (one byte can end a few receipts: a cut after a line
  // that filled the paper), so it stops close to its limits. Once a limit
  // is reached only status requests are still taken (and answered); any
  // other byte is cut off, and ends the job.
  bool feed(const std::uint8_t *data, std::size_t size) {
    std::size_t fed = 0;
    while (fed < size && reached_.empty()) {
      const auto nearLimit = static_cast<std::size_t>(kMaxReceiptsPerJob - receipts_) / 4;
      const auto piece = std::min({size - fed, std::size_t{256}, std::max<std::size_t>(1, nearLimit)});
      printer_.feed(data + fed, piece);
      fed += piece;
      reached_ = printedTooMuch();
    }
    if (reached_.empty() || fed == size) return notePrintData();
    if (!onlyStatusRequests(heldAfterLimit_, data + fed, size - fed)) {
      cutOff_ = true;
      return false;
    }
    printer_.feed(data + fed, size - fed);
    return true;
  }

  // Whether print data (more than status requests) came; the job ends once
  // none has come for idleTimeout.
  bool notePrintData() {
    if (printer_.printDataBytes() > printDataSeen_) {
      printDataSeen_ = printer_.printDataBytes();
      lastPrintData_ = Clock::now();
    }
    return true;
  }

  // What may still be taken of `got` bytes: none past the size limit.
  std::size_t take(std::size_t got) {
    const auto taken =
        static_cast<std::size_t>(std::min<std::uint64_t>(got, limits_.jobLimit - received_));
    received_ += taken;
    return taken;
  }

  // One read of the connection; the job's ending if it ended. With
  // MSG_DONTWAIT, nothing more to read ends it: the printer stopped.
  std::optional<Ending> readOnce(int flags) {
    // Asking for one byte past the limit tells whether the job goes beyond it.
    const std::uint64_t room = limits_.jobLimit - received_;
    const ssize_t got =
        ::recv(connection_, buffer_, room >= sizeof buffer_ ? sizeof buffer_ : room + 1, flags);
    if (got < 0 && errno == EINTR) return std::nullopt;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return ended("the printer stopped");
    if (got < 0) return reached_.empty() ? Ending{"the connection was reset", false} : ended("");
    if (got == 0) return reached_.empty() ? Ending{} : ended("");  // the client sent it whole
    const std::size_t taken = take(static_cast<std::size_t>(got));
    if (!feed(buffer_, taken)) return ended("");
    if (taken < static_cast<std::size_t>(got)) {
      cutOff_ = true;
      return ended(sizeWords(limits_.jobLimit) + " size limit");
    }
    return std::nullopt;
  }

  // The door stops: everything that has arrived is printed (within the
  // job's limits), what the client still sends is not waited for. A job
  // whose client had sent it whole ends as usual; one still arriving ends
  // with a note.
  Ending printWhatArrived(Clock::time_point deadline) {
    while (Clock::now() < deadline)
      if (std::optional<Ending> ended = readOnce(MSG_DONTWAIT)) return *ended;
    return ended(durationWords(limits_.jobTimeout) + " time limit");
  }

  int connection_;
  std::string label_;  // every receipt of the job's (receipt_labels.h)
  const JobLimits &limits_;
  const DoorContext &context_;
  int receipts_ = 0;
  long paperDots_ = 0;
  std::uint64_t received_ = 0;
  std::string reached_;  // the limit on printing reached, or ""
  bool cutOff_ = false;  // and something past it was not printed
  std::string heldAfterLimit_;
  std::uint64_t printDataSeen_ = 0;
  Clock::time_point lastPrintData_{};
  std::uint8_t buffer_[4096];
  printer::VirtualPrinter printer_;
};

}  // namespace

void printNetworkJob(int connection, const std::string &peer, const std::string &label,
                     const JobLimits &limits, const DoorContext &context, int stopFd) {
  NetworkJob job(connection, label, limits, context);
  const Ending ending = job.print(stopFd);
  const std::uint64_t received = job.end(ending);
  if (context.log)
    context.log("network job from " + peer + ": " + std::to_string(received) + " bytes, " +
                ending.why);
}

}  // namespace it433td::tools
