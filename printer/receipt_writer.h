// receipt_writer.h - receipts drawn and written on a thread of their own.
//
// Whoever reads the port hands each finished receipt over and goes back to
// reading at once, so status requests are answered while a tall receipt is
// being drawn. The queue is bounded: when it is full, the hand-over waits
// for the writer (like a printer whose buffer is full, which stops taking
// bytes); no receipt is ever dropped.
#pragma once

#include "receipt.h"
#include "receipt_folder.h"

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace it433td::printer {

// Folder that cannot take receipts (a file, a read-only folder).
class OutputFolderUnusable : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct WrittenReceipt {
  std::int64_t number = 0;
  std::filesystem::path picture;
  std::filesystem::path transcript;
  std::vector<std::string> warnings;  // its "[WARNING" and "[NOTE" lines; none when clean
  std::string label;                  // Receipt::label
};

class ReceiptWriter {
public:
  using Listener = std::function<void(const WrittenReceipt &)>;
  static constexpr std::size_t kQueuedReceipts = 8;

  // Proves the folder can take files (throws OutputFolderUnusable), then
  // starts the writing thread. `log` gets one line per receipt written or
  // lost ("receipt written: out/receipt-0001.txt, label \"test_a\", 2 warnings").
  ReceiptWriter(std::filesystem::path folder, std::function<void(const std::string &)> log);
  ~ReceiptWriter();  // writes what is queued, then ends the thread
  ReceiptWriter(const ReceiptWriter &) = delete;
  ReceiptWriter &operator=(const ReceiptWriter &) = delete;

  // Queues the receipt; waits while kQueuedReceipts are already waiting.
  void submit(Receipt &&receipt);
  // Waits until everything submitted so far is written (or failed).
  void drain();
  // Called on the writing thread after each receipt is written.
  void setListener(Listener listener);

  std::vector<std::filesystem::path> transcriptsWritten() const;
  // Every receipt written so far, in order, with its warnings.
  std::vector<WrittenReceipt> receiptsWritten() const;
  // Receipts that could not be written (a full disk, a folder taken away).
  std::size_t receiptsLost() const;
  const std::filesystem::path &folder() const { return folder_.folder(); }

private:
  void run();
  void tell(const std::string &line) const;

  ReceiptFolder folder_;
  std::function<void(const std::string &)> log_;
  Listener listener_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Receipt> queue_;
  bool busy_ = false;  // a receipt taken off the queue is being written
  bool closing_ = false;
  std::vector<WrittenReceipt> written_;
  std::size_t lost_ = 0;
  std::thread thread_;
};

}  // namespace it433td::printer
