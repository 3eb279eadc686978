// job_door.cpp - the waiting room, and the order in which jobs reach the
// printer.
#include "emulator/doors/job_door.h"

#include "emulator/doors/close_fd.h"
#include "emulator/receipt_labels.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace it433td::tools {

namespace {

// The room's fixed entries ahead of the connections in its poll list.
constexpr std::size_t kStopEntry = 0, kListenerEntry = 1, kFinishEntry = 2, kArrivedEntry = 3,
                      kFirstConnection = 4;

// A bound on takeWhatArrived(): the room answers at once unless it is gone.
constexpr std::chrono::seconds kSortOutBound{5};

}  // namespace

JobDoor::JobDoor(int listener, PeerName peerName, const JobLimits &limits,
                 const DoorContext &context)
    : listener_(listener), peerName_(std::move(peerName)), limits_(limits), context_(context) {
  if (::pipe2(stopPipe_, O_CLOEXEC | O_NONBLOCK) != 0 ||
      ::pipe2(finishPipe_, O_CLOEXEC | O_NONBLOCK) != 0 ||
      ::pipe2(arrivedPipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
    const int failed = errno;
    closeFd(listener_);
    for (int *fd : {&stopPipe_[0], &stopPipe_[1], &finishPipe_[0], &finishPipe_[1]}) closeFd(*fd);
    throw std::system_error(failed, std::generic_category(), "pipe2");
  }
}

JobDoor::~JobDoor() {
  stop();
  closeFd(listener_);
  closeFd(stopPipe_[0]);
  closeFd(stopPipe_[1]);
  closeFd(finishPipe_[0]);
  closeFd(finishPipe_[1]);
  closeFd(arrivedPipe_[0]);
  closeFd(arrivedPipe_[1]);
}

void JobDoor::start() {
  if (door_.joinable()) return;
  door_ = std::thread([this] { watchDoor(); });
  printer_ = std::thread([this] { printJobs(); });
}

// The room ends at the byte (doorClosed_ then wakes the printer), and so
// does the job being served.
void JobDoor::requestStop() {
  const char byte = 1;
  [[maybe_unused]] ssize_t ignored = ::write(stopPipe_[1], &byte, 1);  // full: already asked
}

void JobDoor::finish() {
  const char byte = 1;
  [[maybe_unused]] ssize_t ignored = ::write(finishPipe_[1], &byte, 1);
  if (door_.joinable()) door_.join();
  if (printer_.joinable()) printer_.join();
}

void JobDoor::stop() {
  requestStop();
  if (door_.joinable()) door_.join();
  if (printer_.joinable()) printer_.join();
  for (Connection &waiting : ready_) closeFd(waiting.fd);  // none: the printer took every one
  ready_.clear();
}

void JobDoor::takeWhatArrived() { sortOut_.ask(arrivedPipe_[1], kSortOutBound); }

std::vector<std::string> JobDoor::holders() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> busy;
  if (!printing_.empty()) busy.push_back("a network job from " + printing_);
  if (const std::size_t waiting = ready_.size() + silentCount_)
    busy.push_back(std::to_string(waiting) + " network connection" + (waiting == 1 ? "" : "s") +
                   " waiting");
  return busy;
}

void JobDoor::watchDoor() {
  std::vector<Connection> silent;  // accepted, nothing sent yet
  sortOut_.serving(true);
  watchConnections(silent);
  sortOut_.serving(false);
  for (Connection &connection : silent) closeFd(connection.fd);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    doorClosed_ = true;
    silentCount_ = 0;
  }
  jobReady_.notify_all();
}

void JobDoor::watchConnections(std::vector<Connection> &silent) {
  std::vector<pollfd> fds;
  bool finishing = false;  // the listen queue is taken once more, then never
  for (;;) {
    fds.assign({{stopPipe_[0], POLLIN, 0},
                {finishing ? -1 : listener_, POLLIN, 0},
                {finishing ? -1 : finishPipe_[0], POLLIN, 0},
                {arrivedPipe_[0], POLLIN, 0}});
    for (const Connection &connection : silent) fds.push_back({connection.fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), nextTimeoutMs(silent)) < 0) {
      if (errno == EINTR) continue;
      if (context_.log) context_.log(std::string("poll failed: ") + std::strerror(errno));
      return;
    }
    if (fds[kStopEntry].revents) {
      takeLastJobs(silent);
      return;
    }
    sortOut(silent, fds);
    if (fds[kArrivedEntry].revents) sortOutNow(silent);
    const bool finishNow = !finishing && fds[kFinishEntry].revents;
    if (fds[kListenerEntry].revents || finishNow) admit(silent);
    finishing = finishing || finishNow;
    if (finishing && silent.empty()) return;
  }
}

int JobDoor::nextTimeoutMs(const std::vector<Connection> &silent) const {
  auto wait = std::chrono::milliseconds(-1);
  const auto now = Clock::now();
  for (const Connection &connection : silent) {
    const auto left = std::max(std::chrono::milliseconds(0),
                               std::chrono::duration_cast<std::chrono::milliseconds>(
                                   connection.since + limits_.idleTimeout - now));
    if (wait.count() < 0 || left < wait) wait = left;
  }
  return static_cast<int>(wait.count());
}

void JobDoor::sortOutNow(std::vector<Connection> &silent) {
  char bytes[16];
  while (::read(arrivedPipe_[0], bytes, sizeof bytes) > 0) {
  }
  const std::uint64_t asked = sortOut_.waiting();
  admit(silent);
  std::vector<pollfd> fds(kFirstConnection, pollfd{-1, 0, 0});
  for (const Connection &connection : silent) fds.push_back({connection.fd, POLLIN, 0});
  if (::poll(fds.data(), fds.size(), 0) > 0) sortOut(silent, fds);
  if (asked) sortOut_.answered(asked);
}

void JobDoor::sortOut(std::vector<Connection> &silent, const std::vector<pollfd> &fds) {
  // In the order the bytes came; the silent ones are closed at their limit.
  std::vector<Connection> stillSilent;
  const auto now = Clock::now();
  for (std::size_t i = 0; i < silent.size(); ++i) {
    Connection &connection = silent[i];
    char byte = 0;
    const short events = fds[i + kFirstConnection].revents;
    const ssize_t peeked = events ? ::recv(connection.fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) : -1;
    const bool gone = events && (peeked == 0 || (peeked < 0 && errno != EAGAIN && errno != EINTR));
    if (peeked == 1) {
      if (context_.labels) connection.label = context_.labels->current();
      std::lock_guard<std::mutex> lock(mutex_);
      ready_.push_back(std::move(connection));
      jobReady_.notify_one();
    } else if (gone || now - connection.since >= limits_.idleTimeout) {
      closeFd(connection.fd);
    } else {
      stillSilent.push_back(std::move(connection));
    }
  }
  silent.swap(stillSilent);
  std::lock_guard<std::mutex> lock(mutex_);
  silentCount_ = silent.size();
}

void JobDoor::takeLastJobs(std::vector<Connection> &silent) {
  admit(silent);
  std::vector<Connection> stillSilent;
  for (Connection &connection : silent) {
    char byte = 0;
    if (::recv(connection.fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 1) {
      if (context_.labels) connection.label = context_.labels->current();
      std::lock_guard<std::mutex> lock(mutex_);
      ready_.push_back(std::move(connection));
    } else {
      stillSilent.push_back(std::move(connection));
    }
  }
  silent.swap(stillSilent);
}

void JobDoor::admit(std::vector<Connection> &silent) {
  for (;;) {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of descriptors: the connections stay in the listen queue a
      // moment, rather than the room spinning on them.
      if (errno == EMFILE || errno == ENFILE) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      return;  // EAGAIN: all taken; or the client gave up first
    }
    std::size_t waiting = silent.size();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      waiting += ready_.size();
    }
    if (waiting >= kMaxWaitingConnections && silent.empty()) {
      refuse(fd, peerName_(fd));
      continue;
    }
    if (waiting >= kMaxWaitingConnections)
      makeRoom(silent);
    else
      crowded_ = false;
    refusing_ = false;
    silent.push_back({fd, peerName_(fd), Clock::now(), ""});
    std::lock_guard<std::mutex> lock(mutex_);
    silentCount_ = silent.size();
  }
}

// The newcomer takes the place of the connection that has waited longest
// without sending anything (the room keeps them in the order they came):
// idle connections, however many one client keeps renewing, never keep a
// job out.
void JobDoor::makeRoom(std::vector<Connection> &silent) {
  Connection &oldest = silent.front();
  if (!crowded_ && context_.log)
    context_.log("network connection from " + oldest.peer + " closed: it had sent nothing and " +
                 std::to_string(kMaxWaitingConnections) +
                 " connections were waiting (more are not logged until there is room)");
  crowded_ = true;
  closeFd(oldest.fd);
  silent.erase(silent.begin());
}

// Every waiting connection has a job ready: the newcomer is closed at once,
// so its client learns it now instead of waiting in line.
void JobDoor::refuse(int fd, const std::string &peer) {
  ::close(fd);
  if (!refusing_ && context_.log)
    context_.log("network connection from " + peer +
                 " refused: " + std::to_string(kMaxWaitingConnections) +
                 " jobs already waiting (more refusals are not logged until one is taken)");
  refusing_ = true;
}

// Until the room has closed and every job it let in is printed: a stop
// ends each one as soon as what has arrived of it is printed.
void JobDoor::printJobs() {
  for (;;) {
    Connection job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      jobReady_.wait(lock, [this] { return !ready_.empty() || doorClosed_; });
      if (ready_.empty()) return;
      job = std::move(ready_.front());
      ready_.pop_front();
      printing_ = job.peer;
    }
    printNetworkJob(job.fd, job.peer, job.label, limits_, context_, stopPipe_[0]);
    closeFd(job.fd);
    std::lock_guard<std::mutex> lock(mutex_);
    printing_.clear();
  }
}

}  // namespace it433td::tools
