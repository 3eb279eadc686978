// network_job.cpp - one network job at the printer, within its limits.
#include "tcp_listener.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>

namespace it433td::printer {

std::string durationWords(std::chrono::milliseconds duration) {
  const auto ms = duration.count();
  return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

std::string sizeWords(std::uint64_t bytes) {
  constexpr std::uint64_t kKiB = 1024, kMiB = kKiB * 1024;
  if (bytes >= kMiB && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  if (bytes >= kKiB && bytes % kKiB == 0) return std::to_string(bytes / kKiB) + " KiB";
  return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

namespace {

// How a job ended. A limit ends it with a "[NOTE job ended: <why>]" line; any
// other ending is named only in the warning of a receipt left uncut.
struct Ending {
  std::string why = "end of the job";
  bool limit = false;
};

}  // namespace

void TcpListener::serve(const Connection &job) {
  const int connection = job.fd;
  int receipts = 0;
  long paperDots = 0;
  // Answers go out at once and are dropped, never waited for, if the client
  // does not read them.
  VirtualPrinter printer(
      [this, &receipts, &paperDots](Receipt &&receipt) {
        ++receipts;
        paperDots += receipt.lengthDots;
        writer_.submit(std::move(receipt));
      },
      [connection](std::uint8_t answer) {
        ::send(connection, &answer, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
      });
  printer.shareState(state_);
  // The limit on what the job prints that it has reached, or "".
  const auto printedTooMuch = [&]() -> std::string {
    if (receipts >= kMaxReceiptsPerJob) return std::to_string(kMaxReceiptsPerJob) + " receipts limit";
    if (paperDots >= kMaxPaperDotsPerJob)
      return std::to_string(kMaxPaperDotsPerJob / 8000) + " m paper limit";
    return {};
  };
  // Bytes go to the printer in small pieces, smaller still as the job nears
  // its receipt limit (one byte can end a few receipts: a cut after a line
  // that filled the paper), so it stops close to its limits.
  const auto feed = [&](const std::uint8_t *data, std::size_t size) {
    for (std::size_t fed = 0; fed < size && printedTooMuch().empty();) {
      const auto piece = std::min({size - fed, std::size_t{256},
                                   std::max<std::size_t>(1, static_cast<std::size_t>(
                                                                kMaxReceiptsPerJob - receipts) / 4)});
      printer.feed(data + fed, piece);
      fed += piece;
    }
    return printedTooMuch();
  };
  // What may still be taken of `got` bytes: none past the size limit.
  std::uint64_t received = 0;
  const auto take = [&](std::size_t got) {
    const auto taken = static_cast<std::size_t>(
        std::min<std::uint64_t>(got, options_.jobLimit - received));
    received += taken;
    return taken;
  };

  const auto deadline = Clock::now() + options_.jobTimeout;
  Ending ending;
  std::uint8_t buffer[4096];
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      ending = {durationWords(options_.jobTimeout) + " time limit", true};
      break;
    }
    pollfd fds[2] = {{stopPipe_[0], POLLIN, 0}, {connection, POLLIN, 0}};
    const int ready = ::poll(fds, 2, static_cast<int>(std::min(left, options_.idleTimeout).count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) {
      if (Clock::now() < deadline) {
        ending = {"nothing sent for " + durationWords(options_.idleTimeout), false};
        break;
      }
      continue;  // the time limit, noted above
    }
    if (ready < 0 || fds[0].revents) {
      // What has arrived is printed; what the client still sends is not waited for.
      ssize_t got;
      for (int reads = 0; reads < 256 &&  // what the socket holds, not a flood
                          (got = ::recv(connection, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;
           ++reads)
        if (!feed(buffer, take(static_cast<std::size_t>(got))).empty()) break;
      ending = {"the printer stopped", false};
      break;
    }
    // Asking for one byte past the limit tells whether the job goes beyond it.
    const std::uint64_t room = options_.jobLimit - received;
    const ssize_t got =
        ::recv(connection, buffer, room >= sizeof buffer ? sizeof buffer : room + 1, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // the end of the job, or the connection reset
    const std::size_t taken = take(static_cast<std::size_t>(got));
    if (std::string reached = feed(buffer, taken); !reached.empty()) {
      ending = {std::move(reached), true};
      break;
    }
    if (taken < static_cast<std::size_t>(got)) {
      ending = {sizeWords(options_.jobLimit) + " size limit", true};
      break;
    }
  }
  if (ending.limit)
    printer.endJobAtLimit(ending.why);
  else
    printer.finish(ending.why);
  if (options_.log)
    options_.log("network job from " + job.peer + ": " + std::to_string(received) + " bytes, " +
                 ending.why);
}

}  // namespace it433td::printer
