// receipt_labels.h - the label a run gives the receipts printed from now on
// (`it433td label`, run/run_control.h), shared by every door, and how a
// door gives each receipt of its stream the label current when the
// receipt began.
#pragma once

#include "virtual_printer.h"

#include <mutex>
#include <string>

namespace it433td::tools {

class ReceiptLabels {
public:
  std::string current() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return label_;
  }
  void set(std::string label) {
    std::lock_guard<std::mutex> lock(mutex_);
    label_ = std::move(label);
  }

private:
  mutable std::mutex mutex_;
  std::string label_;  // "": before any label
};

// One stream's labels: call beforeFeed() before each piece of bytes the
// door feeds its printer, and stamp() on each receipt the printer hands
// out. A receipt gets the label current when its first byte (past status
// requests) arrived.
class LabelStamp {
public:
  explicit LabelStamp(const ReceiptLabels *labels) : labels_(labels) {}

  void beforeFeed(const printer::VirtualPrinter &printer) {
    if (labels_ && !printer.receiptBegun()) label_ = labels_->current();
  }
  void stamp(printer::Receipt &receipt) const { receipt.label = label_; }

private:
  const ReceiptLabels *labels_;
  std::string label_;
};

}  // namespace it433td::tools
