// virtual_printer.cpp - decoder, print head and status answers together.
#include "virtual_printer.h"

namespace it433td::printer {

static_assert(std::atomic<PrinterState>::is_always_lock_free,
              "setState must be safe in a signal handler");

VirtualPrinter::VirtualPrinter(ReceiptSink receipts, AnswerSink answers, PrinterSetup setup)
    : setup_(setup),
      answers_(std::move(answers)),
      builder_([this, receipts = std::move(receipts)](Receipt &&receipt) {
        handedOutAt_ = streamPrintData();
        if (receipts) receipts(std::move(receipt));
      }),
      decoder_([this](const PrinterEvent &event) { onEvent(event); }) {}

void VirtualPrinter::feed(const std::uint8_t *data, std::size_t size) {
  bytesFed_ += size;
  decoder_.feed(data, size);
}

void VirtualPrinter::feed(std::string_view bytes) {
  feed(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
}

void VirtualPrinter::finish(std::string_view ending) {
  decoder_.finish();
  streamRequests_ = 0;
  builder_.finish(ending);
  handedOutAt_ = 0;
}

void VirtualPrinter::endJobAtLimit(std::string_view limit) {
  decoder_.finish();
  streamRequests_ = 0;
  builder_.finishAtLimit(limit);
  handedOutAt_ = 0;
}

std::uint64_t VirtualPrinter::printDataBytes() const noexcept {
  const std::uint64_t requests = 3 * statusRequests_.load();
  return bytesFed_ > requests ? bytesFed_ - requests : 0;
}

bool VirtualPrinter::receiptBegun() const noexcept { return streamPrintData() > handedOutAt_; }

std::int64_t VirtualPrinter::streamPrintData() const noexcept {
  return static_cast<std::int64_t>(decoder_.offset()) -
         3 * static_cast<std::int64_t>(streamRequests_);
}

void VirtualPrinter::onEvent(const PrinterEvent &event) {
  if (event.kind == EventKind::StatusRequest) {
    statusRequests_.fetch_add(1);
    ++streamRequests_;
    if (auto answer = statusAnswer(state_->load(), event.value); answer && answers_)
      answers_(*answer);
    return;
  }
  builder_.onEvent(event);
}

}  // namespace it433td::printer
