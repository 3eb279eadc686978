// virtual_printer.cpp - decoder, print head and status answers together.
#include "virtual_printer.h"

namespace it433td::printer {

static_assert(std::atomic<PrinterState>::is_always_lock_free,
              "setState must be safe in a signal handler");

VirtualPrinter::VirtualPrinter(ReceiptSink receipts, AnswerSink answers)
    : answers_(std::move(answers)),
      builder_(std::move(receipts)),
      decoder_([this](const PrinterEvent &event) { onEvent(event); }) {}

void VirtualPrinter::feed(const std::uint8_t *data, std::size_t size) { decoder_.feed(data, size); }

void VirtualPrinter::feed(std::string_view bytes) { decoder_.feed(bytes); }

void VirtualPrinter::finish(std::string_view ending) {
  decoder_.finish();
  builder_.finish(ending);
}

void VirtualPrinter::endJobAtLimit(std::string_view limit) {
  decoder_.finish();
  builder_.finishAtLimit(limit);
}

void VirtualPrinter::onEvent(const PrinterEvent &event) {
  if (event.kind == EventKind::StatusRequest) {
    statusRequests_.fetch_add(1);
    if (auto answer = statusAnswer(state_->load(), event.value); answer && answers_)
      answers_(*answer);
    return;
  }
  builder_.onEvent(event);
}

}  // namespace it433td::printer
