// page_feed.h - what the web page is fed: this run's receipts and the
// printer's state, as server-sent events.
//
// Events: "run" (first: this run's id, so that a page reconnecting to
// another run reloads), "state" ({"state": "online", "model": "it433td",
// "paper": 80}), "receipt"
// ({"number": 3, "warnings": [...]}). A page that opens is told the state
// and the latest receipts first; later events reach every open page. Event
// data is JSON made by nlohmann-json, so any warning text arrives whole.
#pragma once

#include "printer_model.h"
#include "receipt_writer.h"
#include "status_answers.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>

namespace it433td::tools {

class PageFeed {
public:
  static constexpr int kMaxStreams = 16;          // each holds a worker while a page is open
  static constexpr int kMaxStreamsPerClient = 4;  // of one address: a browser opens at most 6
  static constexpr std::size_t kReceiptsOnPage = 50;  // replayed to a page that opens
  static constexpr std::size_t kEventsKept = 256;

  PageFeed(std::string run, const printer::PrinterSetup &setup)
      : run_(std::move(run)), setup_(setup) {}

  void receiptWritten(const printer::WrittenReceipt &receipt);
  void stateChanged(printer::PrinterState state);
  // Ends every stream: waitForEvents answers "" from now on.
  void close();

  // A receipt of this run: its picture or transcript; empty when unknown.
  std::filesystem::path fileOf(std::int64_t number, bool picture) const;

  // One more stream for `client`, within the limits; false when refused.
  bool openStream(const std::string &client);
  void closeStream(const std::string &client);
  // What a page that opens is told first; *next is where it goes on.
  std::string greeting(printer::PrinterState state, std::uint64_t *next) const;
  // The events after `*next`, once there are some; a comment to keep the
  // connection alive after a quiet while; empty once closed.
  std::string waitForEvents(std::uint64_t *next);

private:
  void publish(std::string text);
  std::string stateEvent(printer::PrinterState state) const;

  const std::string run_;
  const printer::PrinterSetup setup_;  // said with each state
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool closed_ = false;
  int streams_ = 0;
  std::map<std::string, int> streamsOf_;  // by the client's address
  std::map<std::int64_t, printer::WrittenReceipt> receipts_;  // this run's, by number
  std::deque<std::pair<std::uint64_t, std::string>> events_;  // sequence, text
  std::uint64_t nextSequence_ = 1;
};

}  // namespace it433td::tools
