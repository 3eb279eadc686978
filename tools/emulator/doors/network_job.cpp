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
  bool noted = false;
};

class NetworkJob {
public:
  NetworkJob(int connection, const JobLimits &limits, const DoorContext &context)
      : connection_(connection),
        limits_(limits),
        context_(context),
        printer_([this](printer::Receipt &&receipt) { printed(std::move(receipt)); },
                 [connection](std::uint8_t answer) {
                   ::send(connection, &answer, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
                 }) {
    printer_.shareState(context_.state);
  }

  // Reads and prints until the job ends; returns how.
  Ending print(int stopFd) {
    const auto deadline = Clock::now() + limits_.jobTimeout;
    for (;;) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return {durationWords(limits_.jobTimeout) + " time limit", true};
      pollfd fds[2] = {{stopFd, POLLIN, 0}, {connection_, POLLIN, 0}};
      const int ready =
          ::poll(fds, 2, static_cast<int>(std::min(left, limits_.idleTimeout).count()));
      if (ready < 0 && errno == EINTR) continue;
      if (ready == 0) {
        if (Clock::now() < deadline)
          return {"nothing sent for " + durationWords(limits_.idleTimeout), false};
        continue;  // the time limit, noted above
      }
      if (ready < 0 || fds[0].revents) return printWhatArrived(deadline);
      if (std::optional<Ending> ended = readOnce(0)) return *ended;
    }
  }

  // Ends the job as its ending says, and tells how much it sent.
  std::uint64_t end(const Ending &ending) {
    if (ending.noted)
      printer_.endJob("job ended: " + ending.why);
    else
      printer_.finish(ending.why);
    return received_;
  }

private:
  void printed(printer::Receipt &&receipt) {
    ++receipts_;
    paperDots_ += receipt.lengthDots;
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

  // Bytes go to the printer in small pieces, smaller still as the job nears
  // its receipt limit (one byte can end a few receipts: a cut after a line
  // that filled the paper), so it stops close to its limits.
  std::string feed(const std::uint8_t *data, std::size_t size) {
    for (std::size_t fed = 0; fed < size && printedTooMuch().empty();) {
      const auto nearLimit = static_cast<std::size_t>(kMaxReceiptsPerJob - receipts_) / 4;
      const auto piece = std::min({size - fed, std::size_t{256}, std::max<std::size_t>(1, nearLimit)});
      printer_.feed(data + fed, piece);
      fed += piece;
    }
    return printedTooMuch();
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
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
      return Ending{"the printer stopped", true};
    if (got < 0) return Ending{"the connection was reset", false};
    if (got == 0) return Ending{};  // the client sent the whole job
    const std::size_t taken = take(static_cast<std::size_t>(got));
    if (std::string reached = feed(buffer_, taken); !reached.empty())
      return Ending{std::move(reached), true};
    if (taken < static_cast<std::size_t>(got))
      return Ending{sizeWords(limits_.jobLimit) + " size limit", true};
    return std::nullopt;
  }

  // The door stops: everything that has arrived is printed (within the
  // job's limits), what the client still sends is not waited for. A job
  // whose client had sent it whole ends as usual; one still arriving ends
  // with a note.
  Ending printWhatArrived(Clock::time_point deadline) {
    while (Clock::now() < deadline)
      if (std::optional<Ending> ended = readOnce(MSG_DONTWAIT)) return *ended;
    return {durationWords(limits_.jobTimeout) + " time limit", true};
  }

  int connection_;
  const JobLimits &limits_;
  const DoorContext &context_;
  int receipts_ = 0;
  long paperDots_ = 0;
  std::uint64_t received_ = 0;
  std::uint8_t buffer_[4096];
  printer::VirtualPrinter printer_;
};

}  // namespace

void printNetworkJob(int connection, const std::string &peer, const JobLimits &limits,
                     const DoorContext &context, int stopFd) {
  NetworkJob job(connection, limits, context);
  const Ending ending = job.print(stopFd);
  const std::uint64_t received = job.end(ending);
  if (context.log)
    context.log("network job from " + peer + ": " + std::to_string(received) + " bytes, " +
                ending.why);
}

}  // namespace it433td::tools
