// virtual_printer.cpp - decoder, print head and status answers together.
#include "virtual_printer.h"

namespace it433td::printer {

static_assert(std::atomic<PrinterState>::is_always_lock_free,
              "setState must be safe in a signal handler");

VirtualPrinter::VirtualPrinter(ReceiptSink receipts, AnswerSink answers, PrinterSetup setup)
    : setup_(setup),
      answers_(std::move(answers)),
      builder_(
          [this, receipts = std::move(receipts)](Receipt &&receipt) {
            handedOutAt_ = streamPrintData();
            if (receipts) receipts(std::move(receipt));
          },
          setup),
      decoder_([this](const PrinterEvent &event) { onEvent(event); }) {
  if (setup_.escpos())
    escpos_.emplace([this](const PrinterEvent &event) { onEvent(event); }, setup_.paperWidthDots());
}

void VirtualPrinter::feed(const std::uint8_t *data, std::size_t size) {
  bytesFed_ += size;
  if (!escpos_) return decoder_.feed(data, size);
  // Automatic status back: the state the host last heard of has changed.
  if (automaticStatus_ && state_->load() != automaticStatusSent_) sendAutomaticStatus();
  escpos_->feed(data, size);
}

void VirtualPrinter::feed(std::string_view bytes) {
  feed(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size());
}

void VirtualPrinter::finish(std::string_view ending) {
  finishDecoder();
  streamRequests_ = 0;
  builder_.finish(ending);
  handedOutAt_ = 0;
}

void VirtualPrinter::endJobAtLimit(std::string_view limit) {
  finishDecoder();
  streamRequests_ = 0;
  builder_.finishAtLimit(limit);
  handedOutAt_ = 0;
}

std::uint64_t VirtualPrinter::printDataBytes() const noexcept {
  const std::uint64_t requests = 3 * statusRequests_.load();
  return bytesFed_ > requests ? bytesFed_ - requests : 0;
}

bool VirtualPrinter::receiptBegun() const noexcept { return streamPrintData() > handedOutAt_; }

void VirtualPrinter::finishDecoder() {
  if (escpos_)
    escpos_->finish();
  else
    decoder_.finish();
  automaticStatus_ = false;
}

void VirtualPrinter::sendAutomaticStatus() {
  automaticStatusSent_ = state_->load();
  if (answers_)
    for (const char byte : automaticStatus(automaticStatusSent_))
      answers_(static_cast<std::uint8_t>(byte));
}

std::int64_t VirtualPrinter::streamPrintData() const noexcept {
  return static_cast<std::int64_t>(escpos_ ? escpos_->offset() : decoder_.offset()) -
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
  if (event.kind == EventKind::StatusQuery) {
    if (event.detail == "GS a") {
      automaticStatus_ = event.value != 0;
      if (automaticStatus_) sendAutomaticStatus();
      return;
    }
    if (answers_)
      for (const char byte :
           escposQueryAnswer(state_->load(), event.detail, event.value, setup_.paperMm))
        answers_(static_cast<std::uint8_t>(byte));
  }
  builder_.onEvent(event);
}

}  // namespace it433td::printer
