// page_feed.cpp - the events, kept a while for pages that follow them.
#include "emulator/web/page_feed.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <iterator>

namespace it433td::tools {

namespace {

constexpr auto kKeepAlive = std::chrono::seconds(15);

std::string event(const char *name, const nlohmann::json &data) {
  // Warning lines are UTF-8 with control characters spelt out; a byte that
  // is not UTF-8 would still not stop the page: it is replaced.
  return std::string("event: ") + name + "\ndata: " +
         data.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n\n";
}

std::string receiptEvent(const printer::WrittenReceipt &receipt) {
  return event(
      "receipt",
      {{"number", receipt.number}, {"warnings", receipt.warnings}, {"label", receipt.label}});
}

}  // namespace

// The model and its paper go with every state, for the page's header.
std::string PageFeed::stateEvent(printer::PrinterState state) const {
  return event("state", {{"state", printer::stateName(state)},
                         {"model", std::string(printer::modelName(setup_.model))},
                         {"paper", setup_.paperMm}});
}

void PageFeed::publish(std::string text) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.emplace_back(nextSequence_++, std::move(text));
    if (events_.size() > kEventsKept) events_.pop_front();
  }
  changed_.notify_all();
}

void PageFeed::receiptWritten(const printer::WrittenReceipt &receipt) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    receipts_[receipt.number] = receipt;
  }
  publish(receiptEvent(receipt));
}

void PageFeed::stateChanged(printer::PrinterState state) { publish(stateEvent(state)); }

void PageFeed::close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
}

std::filesystem::path PageFeed::fileOf(std::int64_t number, bool picture) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = receipts_.find(number);
  if (found == receipts_.end()) return {};
  return picture ? found->second.picture : found->second.transcript;
}

bool PageFeed::openStream(const std::string &client) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (streams_ >= kMaxStreams || streamsOf_[client] >= kMaxStreamsPerClient) return false;
  ++streams_;
  ++streamsOf_[client];
  return true;
}

void PageFeed::closeStream(const std::string &client) {
  std::lock_guard<std::mutex> lock(mutex_);
  --streams_;
  if (--streamsOf_[client] == 0) streamsOf_.erase(client);
}

std::string PageFeed::greeting(printer::PrinterState state, std::uint64_t *next) const {
  std::lock_guard<std::mutex> lock(mutex_);
  // The latest receipts, oldest first (the page puts each new one on top).
  std::string text = "retry: 1000\n\n" + event("run", {{"run", run_}}) + stateEvent(state);
  auto from = receipts_.size() > kReceiptsOnPage
                  ? std::prev(receipts_.end(), static_cast<long>(kReceiptsOnPage))
                  : receipts_.begin();
  for (auto it = from; it != receipts_.end(); ++it) text += receiptEvent(it->second);
  *next = nextSequence_;
  return text;
}

std::string PageFeed::waitForEvents(std::uint64_t *next) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, kKeepAlive, [&] { return closed_ || nextSequence_ > *next; });
  if (closed_) return {};
  if (nextSequence_ == *next) return ": still here\n\n";
  std::string text;
  for (const auto &[sequence, body] : events_)
    if (sequence >= *next) text += body;  // a page too slow to follow misses some
  *next = nextSequence_;
  return text;
}

}  // namespace it433td::tools
