// pty_server.h - the virtual printer on a pseudo-terminal.
//
// Opens a pty pair, makes the slave raw (bytes pass unchanged, no echo) and
// serves the master: every byte a program writes to the slave path is fed to
// the virtual printer, status requests are answered on the spot, and every
// receipt is written into the output folder when it is cut (the unfinished
// one when the server stops).
//
// The server keeps a descriptor of the slave open itself, so the master never
// sees a hang-up while no program has the port open (between the driver
// closing the port and the raw copy of a QR printer file opening it).
// Answers that nobody reads stay queued on the slave; a program should
// discard unread input when it opens the port.
//
// The port link leads to that descriptor, /proc/PID/fd/N, not to
// /dev/pts/N: it stops leading anywhere the moment the server's process
// ends, however it ends (SIGKILL included), so a link left behind can never
// reach a terminal that another program gets under the same number later.
// Receipts are drawn and written by a ReceiptWriter's thread, never by the
// thread that reads the port, so status requests are answered at once.
#pragma once

#include "receipt_writer.h"
#include "virtual_printer.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace it433td::printer {

struct PtyServerOptions {
  // Where receipts go (made if missing; the constructor throws
  // OutputFolderUnusable if no file can be made there). Ignored when
  // `writer` is given: receipts then go to that shared writer.
  std::filesystem::path outputFolder;
  ReceiptWriter *writer = nullptr;
  // If set, a symbolic link to the slave made here (and removed at the end
  // if it is still ours), e.g. an entry of the IT433TD_PORTS folder named
  // after a port. An entry of that folder with the same name, ignoring case,
  // is replaced only if it is a stopped virtual printer's link (into
  // /dev/pts, or to the descriptor of a process that is gone); a live
  // virtual printer's link or anything else makes the constructor throw
  // PortNameTaken before anything is made.
  std::filesystem::path portLink;
  PrinterState initialState = PrinterState::Online;
  // If set, the state is this one, shared with other ports of one printer.
  std::atomic<PrinterState> *sharedState = nullptr;
  // Receives one line per event worth telling (receipt written, write error).
  std::function<void(const std::string &)> log;
  // If above 0, the port is read no faster than this, as a serial line
  // carries bytes (57600 baud at 11 bits a byte: 5236 bytes a second), so a
  // host feels the real printer's timing. 0: as fast as bytes come.
  double bytesPerSecond = 0;
};

// Bytes a second that a serial line carries at `baud`, with a start bit,
// 8 data bits, the parity bit the module asks for and a stop bit.
constexpr double lineBytesPerSecond(double baud) { return baud / 11.0; }

// The port link's name is already mapped to something that is not a
// stopped virtual printer's link (e.g. COM1 -> /dev/ttyUSB0, or a virtual
// printer that is still running).
class PortNameTaken : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class PtyServer {
public:
  // Opens the pty; throws std::system_error when it cannot.
  explicit PtyServer(PtyServerOptions options);
  // Throws PortNameTaken if the constructor would refuse this port link;
  // for callers that check before they make anything else.
  static void checkPortLink(const std::filesystem::path &portLink);
  ~PtyServer();  // stops the thread if start() ran, then closes everything
  PtyServer(const PtyServer &) = delete;
  PtyServer &operator=(const PtyServer &) = delete;

  // The path a program opens to print, e.g. /dev/pts/7.
  const std::string &slavePath() const { return slavePath_; }
  // What the port link leads to, e.g. /proc/4711/fd/500.
  const std::string &linkTarget() const { return linkTarget_; }

  // Serves until requestStop(): then reads what is still queued, finishes the
  // stream and writes the unfinished receipt. Call run() or start(), once.
  void run();
  void start();  // run() on a thread of its own
  void stop();   // requestStop(), then waits for the thread started by start()

  // After start(): ends once every program has closed the port, for a run
  // whose programs have ended. The server lets go of its own hold on the
  // slave (the port link then leads nowhere, so nothing opens the port
  // anew) and reads until the last holder closes it: a detached copy of a
  // QR printer file still writing is waited for, and every byte it wrote
  // is printed. Then it ends as stop() does, an uncut receipt with the
  // ending "the port closed". A holder that sends nothing for `silence`
  // is not waited for: false then. requestStop() cuts the wait short.
  bool finishWhenClosed(std::chrono::milliseconds silence);

  // Safe from any thread and from a signal handler.
  void requestStop() noexcept;
  void setState(PrinterState state) noexcept { printer_.setState(state); }
  PrinterState state() const noexcept { return printer_.state(); }

  std::vector<std::filesystem::path> transcriptsWritten() const;
  std::uint64_t statusRequests() const noexcept { return printer_.statusRequests(); }

private:
  enum class Read { Bytes, Nothing, HungUp };  // HungUp: no program holds the slave

  void answer(std::uint8_t byte);
  // Reads and prints at most `limit` bytes.
  Read readMaster(std::size_t limit = 4096);
  // Serves until a stop, or until the last holder closes once closing_ is set.
  void serve();
  // Bytes the line has carried since the last read (a serial line's pace),
  // and how long until it carries the next few.
  std::size_t lineAllowance(int *waitMs);
  void tell(const std::string &line) const;

  PtyServerOptions options_;
  std::unique_ptr<ReceiptWriter> ownWriter_;
  ReceiptWriter *writer_ = nullptr;
  int master_ = -1;
  int slaveKeep_ = -1;
  int stopPipe_[2] = {-1, -1};  // wakes the loop: a stop, or closing_ set
  std::atomic<bool> stopAsked_{false};
  std::atomic<bool> closing_{false};
  std::chrono::milliseconds closingSilence_{0};  // set before closing_
  bool heldSilently_ = false;  // the closing wait ended on a silent holder
  std::string slavePath_;
  std::string linkTarget_;
  bool linkMade_ = false;
  double lineCredit_ = 0;  // bytes the line has carried and we have not read
  std::chrono::steady_clock::time_point lineCheckedAt_{};
  VirtualPrinter printer_;
  std::thread thread_;
};

}  // namespace it433td::printer
