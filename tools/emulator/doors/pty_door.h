// pty_door.h - the virtual printer on a pseudo-terminal, under a port name.
//
// Opens a pty pair, makes the slave raw (bytes pass unchanged, no echo) and
// serves the master: every byte a program writes to the slave path is fed to
// the virtual printer, status requests are answered on the spot, and every
// receipt goes to the shared writer when it is cut (the unfinished one when
// the door stops). A link named after the port in an IT433TD_PORTS folder
// leads programs there (port_link.h).
//
// The door keeps a descriptor of the slave open itself, so the master never
// sees a hang-up while no program has the port open (between the driver
// closing the port and the raw copy of a QR printer file opening it).
// Answers that nobody reads stay queued on the slave; a program should
// discard unread input when it opens the port. Receipts are drawn and
// written by the writer's thread, never by the thread that reads the port,
// so status requests are answered at once.
#pragma once

#include "common/ports_folder.h"
#include "emulator/door.h"
#include "emulator/doors/door_request.h"
#include "emulator/receipt_labels.h"
#include "virtual_printer.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace it433td::tools {

struct PtyDoorOptions {
  std::string port;                  // the port name, e.g. COM1
  std::optional<PortsFolder> ports;  // where its link goes; none: no link
  // If above 0, the port is read no faster than a serial line at this
  // speed carries bytes (57600 baud at 11 bits a byte: 5236 bytes a
  // second), so a host feels the real printer's timing. 0: as fast as
  // bytes come.
  double baud = 0;
};

// A holder of the port that sends no print data for this long is not
// waited for at the end of a run (as long as a silent network client).
constexpr std::chrono::milliseconds kPortSilence{10000};
// The longest takeWhatArrived() reads for (a program that never stops
// writing does not hold a label up).
constexpr std::chrono::milliseconds kDrainBound{10000};

// Bytes a second that a serial line carries at `baud`, with a start bit,
// 8 data bits, the parity bit the module asks for and a stop bit.
constexpr double lineBytesPerSecond(double baud) { return baud / 11.0; }

class PtyDoor : public Door {
public:
  // Opens the pty and makes the port link; throws PortNameTaken for a port
  // name already mapped to something else (before anything is made), or
  // std::system_error.
  PtyDoor(PtyDoorOptions options, const DoorContext &context);
  ~PtyDoor() override;  // stops the thread if start() ran, then closes everything
  PtyDoor(const PtyDoor &) = delete;
  PtyDoor &operator=(const PtyDoor &) = delete;

  // The path a program opens to print, e.g. /dev/pts/7.
  const std::string &slavePath() const { return slavePath_; }
  // What the port link leads to, e.g. /proc/4711/fd/500.
  const std::string &linkTarget() const { return linkTarget_; }
  const PortsFolder *ports() const { return options_.ports ? &*options_.ports : nullptr; }

  std::vector<std::string> describe() const override;
  std::string hint() const override;
  std::string title() const override { return options_.port; }
  std::vector<std::string> environment() const override;

  void start() override;  // serves on a thread of its own
  // Ends once every program has closed the port, for a run whose programs
  // have ended. The door lets go of its own hold on the slave (the port
  // link then leads nowhere, so nothing opens the port anew) and reads
  // until the last holder closes it: a detached copy of a QR printer file
  // still writing is waited for, and every byte it wrote is printed. Then
  // it ends as stop() does, an uncut receipt with the ending "the port
  // closed". A holder that sends no print data for kPortSilence is not
  // waited for: status requests alone do not keep the port.
  void finish() override;
  // Safe from any thread and from a signal handler.
  void requestStop() noexcept override;
  // requestStop(), then waits for the thread: what is still queued is
  // read, the stream finished and the unfinished receipt written.
  void stop() override;
  // The door's thread reads what waits in the pseudo-terminal (at the
  // line's pace with --baud), for at most kDrainBound.
  void takeWhatArrived() override;
  std::vector<std::string> holders() const override;

  std::uint64_t statusRequests() const noexcept { return printer_.statusRequests(); }

private:
  enum class Read { Bytes, Nothing, HungUp };  // HungUp: no program holds the slave

  void run();
  void openTerminal();
  void answer(std::uint8_t byte);
  // Reads and prints at most `limit` bytes.
  Read readMaster(std::size_t limit = 4096);
  // Serves until a stop, or until the last holder closes once closing_ is set.
  void serve();
  // While closing: how long the loop may wait before the holder counts as
  // silent; false once it does.
  bool closingWait(int *waitMs);
  // Reads what waits, for takeWhatArrived(), and tells it.
  void drain();
  // Bytes the line has carried since the last read (a serial line's pace),
  // and how long until it carries the next few.
  std::size_t lineAllowance(int *waitMs);
  void tell(const std::string &line) const;

  PtyDoorOptions options_;
  std::filesystem::path portLink_;  // empty: none
  double bytesPerSecond_ = 0;       // the line's pace; 0: none
  DoorContext context_;
  int master_ = -1;
  int slaveKeep_ = -1;
  int stopPipe_[2] = {-1, -1};  // wakes the loop: a stop, or closing_ set
  std::atomic<bool> stopAsked_{false};
  std::atomic<bool> closing_{false};
  bool heldSilently_ = false;  // the closing wait ended on a silent holder
  std::string slavePath_;
  std::string linkTarget_;
  bool linkMade_ = false;
  double lineCredit_ = 0;  // bytes the line has carried and we have not read
  std::chrono::steady_clock::time_point lineCheckedAt_{};
  std::chrono::steady_clock::time_point lastPrintData_{};
  std::uint64_t printDataSeen_ = 0;
  LabelStamp labels_;
  printer::VirtualPrinter printer_;
  DoorRequest drain_;  // takeWhatArrived()
  std::thread thread_;
};

// --port NAME, --ports-dir DIR, --baud N.
class PtyDoorKind : public DoorKind {
public:
  void addOptions(CLI::App &command) override;
  std::string howToAsk() const override { return "--port NAME"; }
  bool wanted() const override { return !port.empty(); }
  void prepare() override;
  std::unique_ptr<Door> open(const DoorContext &context) override;

  // The options; set by addOptions' parsing, or by hand (the demo).
  std::string port;
  std::filesystem::path portsFolder;  // empty: a temporary folder of our own
  double baud = 0;                    // the line's pace; 0: full speed
  // The door open() opened, while the session has it.
  PtyDoor *door = nullptr;

private:
  std::optional<PortsFolder> folder_;  // made by prepare(), handed to the door
};

}  // namespace it433td::tools
