// virtual_printer.h - the IT433TD as software: bytes in; receipts and
// status answers out.
//
// Feed it the byte stream in any chunking. Each cut hands a finished receipt
// to the receipt sink; finish() hands out the unfinished one. A status
// request (DLE EOT n) is answered at once through the answer sink, from
// inside feed(), before any later byte is looked at.
//
// With the ESC/POS model (PrinterSetup) it is a generic ESC/POS printer:
// the ESC/POS decoder reads the bytes, and GS r, GS I and GS a are answered
// too (status_answers.h); automatic status back goes out when the state has
// changed, with the next bytes that arrive.
//
// The state (online, paper near end, paper out, offline) changes only the
// status answers: like a printer with a large receive buffer, the virtual
// printer keeps what it is sent and prints it, so nothing is lost.
#pragma once

#include "escpos_decoder.h"
#include "printer_model.h"
#include "receipt_builder.h"
#include "status_answers.h"
#include "stream_decoder.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace it433td::printer {

class VirtualPrinter {
public:
  using ReceiptSink = ReceiptBuilder::ReceiptSink;
  using AnswerSink = std::function<void(std::uint8_t answer)>;

  // `setup`: the model it stands in for and its paper (the IT433TD's by
  // default).
  VirtualPrinter(ReceiptSink receipts, AnswerSink answers, PrinterSetup setup = {});
  VirtualPrinter(const VirtualPrinter &) = delete;
  VirtualPrinter &operator=(const VirtualPrinter &) = delete;

  void feed(const std::uint8_t *data, std::size_t size);
  void feed(std::string_view bytes);
  // End of the stream: reports a command cut short, prints the line buffer
  // and hands out the unfinished receipt (uncut), if anything is on it,
  // with a warning that names `ending` ("end of the job", "the printer
  // stopped"). The printer is then ready for a new stream.
  void finish(std::string_view ending = "end of the input");
  // Ends a job that a limit of its port cut off (time, size): as finish(),
  // but the receipt (one is made if none is open) ends with the line
  // "[NOTE job ended: <limit>]", e.g. for limit "16 MiB size limit", which
  // is its warning. The one way a port ends a job early.
  void endJobAtLimit(std::string_view limit);

  const PrinterSetup &setup() const noexcept { return setup_; }

  // Safe from any thread and from a signal handler (a lock-free atomic).
  void setState(PrinterState state) noexcept { state_->store(state); }
  PrinterState state() const noexcept { return state_->load(); }
  // Answers from `shared` from now on: one state for several ports of one
  // printer (a pseudo-terminal and network jobs). It must outlive this.
  void shareState(std::atomic<PrinterState> &shared) noexcept { state_ = &shared; }
  std::uint64_t statusRequests() const noexcept { return statusRequests_.load(); }
  // Bytes fed that were not status requests, all streams together: what
  // keeps a port busy, where a status monitor's requests alone do not.
  std::uint64_t printDataBytes() const noexcept;
  // True once bytes other than status requests have come since the last
  // receipt was handed out (or the stream began): a receipt has begun.
  bool receiptBegun() const noexcept;

private:
  void onEvent(const PrinterEvent &event);
  void finishDecoder();
  // The four bytes of automatic status back, for the state as it is now.
  void sendAutomaticStatus();
  // Print data of the current stream so far (its bytes less its requests').
  std::int64_t streamPrintData() const noexcept;

  PrinterSetup setup_;
  AnswerSink answers_;
  std::uint64_t bytesFed_ = 0;
  std::uint64_t streamRequests_ = 0;  // status requests of the current stream
  std::int64_t handedOutAt_ = 0;      // streamPrintData() when the last receipt went out
  ReceiptBuilder builder_;
  StreamDecoder decoder_;
  std::optional<EscposDecoder> escpos_;  // the ESC/POS model's, which then reads the bytes
  bool automaticStatus_ = false;         // GS a asked for it in this stream
  PrinterState automaticStatusSent_ = PrinterState::Online;
  std::atomic<PrinterState> ownState_{PrinterState::Online};
  std::atomic<PrinterState> *state_ = &ownState_;
  std::atomic<std::uint64_t> statusRequests_{0};
};

}  // namespace it433td::printer
