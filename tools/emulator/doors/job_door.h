// job_door.h - a door that takes raw print jobs on a listening stream
// socket, shared by a team without any one client holding the printer.
//
// Jobs print one at a time, in the order their first bytes arrive: a
// connection that has sent nothing waits in the door's waiting room and
// does not hold the printer (one that sends nothing for `idleTimeout` is
// closed). At most kMaxWaitingConnections wait, silent or ready; a newcomer
// beyond that takes the place of the oldest that has sent nothing, or, when
// every one has a job ready, is closed at once. Each job is printed by
// printNetworkJob (network_job.h), within its limits; receipts go to the
// shared writer, numbered with those of the other doors. A stop prints
// every job the room has let in, each as far as it has arrived.
//
// A job ahead that stalls holds the printer for `idleTimeout` after its
// last byte (10 s), one that drips a byte within each such silence for
// `jobTimeout` (60 s); at most kMaxWaitingConnections - 1 can be ahead, so
// a job waits at worst 63 x 10 s = 10.5 min behind stallers, 63 min behind
// drippers (with the defaults).
//
// A door of this kind is only its listener: the network door
// (network_door.h) makes a TCP socket; another family (a Unix-domain
// socket) would make its own and describe its peers.
#pragma once

#include "emulator/door.h"
#include "emulator/doors/door_request.h"
#include "emulator/doors/network_job.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <poll.h>
#include <string>
#include <thread>
#include <vector>

namespace it433td::tools {

// Connections waiting for the printer, silent or with a job ready.
constexpr std::size_t kMaxWaitingConnections = 64;

class JobDoor : public Door {
public:
  // "127.0.0.1:50412": the peer of a connection, for the log.
  using PeerName = std::function<std::string(int connection)>;

  // Takes `listener`, a listening socket (closed with the door).
  JobDoor(int listener, PeerName peerName, const JobLimits &limits, const DoorContext &context);
  ~JobDoor() override;  // stop()
  JobDoor(const JobDoor &) = delete;
  JobDoor &operator=(const JobDoor &) = delete;

  const JobLimits &limits() const { return limits_; }
  const DoorContext &context() const { return context_; }

  void start() override;  // the waiting room and the printer, on threads of their own
  // Prints what the clients connected so far send, then ends the threads:
  // the connections still in the listen queue are taken, each one's job is
  // printed to its end (within its limits; one that stays silent waits at
  // most `idleTimeout`), and no later connection is taken.
  void finish() override;
  void requestStop() override;
  // Prints what has arrived of every job the room has let in (the one being
  // served, those waiting, and those whose first bytes are there), ending
  // each one still arriving with a note; closes the silent connections and
  // ends the threads.
  void stop() override;
  // The waiting room takes the listen queue and sorts out the connections
  // that have sent their first bytes: a job keeps the label current when
  // its first byte reached the door, whenever it prints.
  void takeWhatArrived() override;
  std::vector<std::string> holders() const override;

private:
  using Clock = std::chrono::steady_clock;
  struct Connection {
    int fd = -1;
    std::string peer;
    Clock::time_point since;
    std::string label;  // current when its first byte arrived (receipt_labels.h)
  };

  // The waiting room: accepts, and watches each connection until its first byte.
  void watchDoor();
  void watchConnections(std::vector<Connection> &silent);  // until a stop or finish
  // How long the room may wait for its next event: the nearest idle limit.
  int nextTimeoutMs(const std::vector<Connection> &silent) const;
  // A first byte (or the end of a connection that sent none) takes the
  // connection out of the room: into the printer's queue or closed.
  void sortOut(std::vector<Connection> &silent, const std::vector<pollfd> &fds);
  // At a stop: the listen queue is taken once more, and every connection
  // with bytes there joins the printer's queue.
  void takeLastJobs(std::vector<Connection> &silent);
  void admit(std::vector<Connection> &silent);
  void makeRoom(std::vector<Connection> &silent);
  // For takeWhatArrived(): the listen queue taken and the room sorted out now.
  void sortOutNow(std::vector<Connection> &silent);
  void refuse(int fd, const std::string &peer);
  // The printer: serves the ready jobs, one at a time, in order.
  void printJobs();

  int listener_ = -1;
  PeerName peerName_;
  JobLimits limits_;
  DoorContext context_;
  int stopPipe_[2] = {-1, -1};
  int finishPipe_[2] = {-1, -1};   // wakes the room for finish()
  int arrivedPipe_[2] = {-1, -1};  // wakes the room for takeWhatArrived()

  DoorRequest sortOut_;  // takeWhatArrived()
  mutable std::mutex mutex_;
  std::condition_variable jobReady_;
  std::size_t silentCount_ = 0;   // connections in the room, for holders()
  std::string printing_;          // the peer of the job at the printer, or ""
  std::deque<Connection> ready_;  // sent their first byte, in that order
  bool doorClosed_ = false;  // no more jobs will come
  bool refusing_ = false;    // the last connection was refused (logged once)
  bool crowded_ = false;     // the last one took a silent one's place (logged once)
  std::thread door_;
  std::thread printer_;
};

}  // namespace it433td::tools
