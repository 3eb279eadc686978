// door.h - one way into the virtual printer, and the kinds of door that
// `it433td emulate` can open.
//
// A door takes bytes from programs (a pseudo-terminal under a port name, a
// network port) and feeds them to the printer engine; every door of one
// virtual printer shares its state and its receipt folder. The session
// (session.h) opens the doors asked for, in the order of the list below,
// and starts, finishes and stops each one the same way.
//
// A new door: its file in doors/ (a Door, and a DoorKind that adds its
// options and opens it), and one line in IT433TD_DOORS.
#pragma once

#include "printer_model.h"
#include "receipt_writer.h"
#include "status_answers.h"

#include <CLI/CLI.hpp>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace it433td::tools {

// The doors, in the order they open and describe themselves; one line each.
#define IT433TD_DOORS(X) \
  X(ptyDoorKind)         \
  X(networkDoorKind)     \
  /* end of the doors */

class ReceiptLabels;

// What every door of one virtual printer shares.
struct DoorContext {
  printer::ReceiptWriter &writer;
  std::atomic<printer::PrinterState> &state;
  std::function<void(const std::string &)> log;
  // The labels its receipts get (receipt_labels.h); none outside a run.
  const ReceiptLabels *labels = nullptr;
  // The model each printer a door makes stands in for, and its paper.
  printer::PrinterSetup setup{};
};

class Door {
public:
  virtual ~Door() = default;

  // Where programs reach the door and what it allows, for the emulator's
  // first lines: "virtual IT433TD on /dev/pts/3, port COM1 (...)".
  virtual std::vector<std::string> describe() const = 0;
  // For someone who runs programs by hand: "for other programs: export
  // IT433TD_PORTS=..."; empty for none.
  virtual std::string hint() const { return {}; }
  // Its name on the page's title: "COM1", "127.0.0.1:9100".
  virtual std::string title() const = 0;
  // What a program run against the printer needs in its environment to
  // find this door: "IT433TD_PORTS=...", "IT433TD_PRINTER_ADDRESS=...".
  virtual std::vector<std::string> environment() const = 0;

  // Serves on threads of its own.
  virtual void start() = 0;
  // For a run whose programs have ended: prints what they have sent, within
  // the door's own bounds (a holder that stays silent is not waited for),
  // then ends as stop() does.
  virtual void finish() = 0;
  // From any other thread: cuts finish() short; the door then ends as
  // stop() does.
  virtual void requestStop() = 0;
  // From any other thread, before the run's label changes: takes in what
  // programs have sent the door so far (what waits in the pseudo-terminal,
  // network jobs already sent), so that it keeps the label it was sent
  // under. Returns once it has, within a bound of its own.
  virtual void takeWhatArrived() {}
  // What still keeps the door busy, for a run that ends without it: "the
  // port COM1, held open by process 4711 (python3)". Empty when nothing.
  virtual std::vector<std::string> holders() const { return {}; }
  // Ends serving: what has arrived is printed and the unfinished receipt
  // written. Safe to call twice.
  virtual void stop() = 0;
};

class DoorKind {
public:
  virtual ~DoorKind() = default;

  // The door's options on the emulate command.
  virtual void addOptions(CLI::App &command) = 0;
  // How the user asks for this door, for "emulate needs ...": "--port NAME".
  virtual std::string howToAsk() const = 0;
  // Whether the options ask for this door.
  virtual bool wanted() const = 0;
  // Called for every kind, asked for or not, before anything is made for
  // any door: throws ToolError for options that do not go together, and,
  // when the door is wanted, for what would be refused (a port name already
  // taken), so that a refusal leaves nothing behind.
  virtual void prepare() {}
  // Opens the wanted door: throws ToolError when it cannot be had.
  virtual std::unique_ptr<Door> open(const DoorContext &context) = 0;
};

#define IT433TD_DECLARE_DOOR_KIND(name) std::unique_ptr<DoorKind> name();
IT433TD_DOORS(IT433TD_DECLARE_DOOR_KIND)
#undef IT433TD_DECLARE_DOOR_KIND

// Every kind of door, in the list's order.
std::vector<std::unique_ptr<DoorKind>> doorKinds();

}  // namespace it433td::tools
