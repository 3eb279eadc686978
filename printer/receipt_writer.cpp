// receipt_writer.cpp - the writing thread and its bounded queue.
#include "receipt_writer.h"

#include "receipt_warnings.h"
#include "transcript.h"

#include <malloc.h>

#include <chrono>

namespace it433td::printer {

namespace {

std::filesystem::path preparedFolder(const std::filesystem::path &folder) {
  std::string error;
  if (!ReceiptFolder::prepare(folder, &error))
    throw OutputFolderUnusable("cannot write receipts into " + folder.string() + ": " + error);
  return folder;
}

// A receipt's raster and picture take megabytes (80 m of paper: tens of
// MB). glibc keeps freed blocks that size in its heaps, as its threshold for
// mapping them rises with each one it unmaps, so an emulator would keep the
// memory of its tallest job for good. With a fixed threshold they are mapped
// and given back whole; and once the writer has had nothing to write for a
// moment (not between the receipts of one job), what the heaps hold free is
// given back too (giveBackFreeMemory).
constexpr int kMappedFromBytes = 256 * 1024;
constexpr auto kIdleBeforeGivingBack = std::chrono::seconds(1);

void giveBackFreeMemory() { malloc_trim(0); }

}  // namespace

ReceiptWriter::ReceiptWriter(std::filesystem::path folder,
                             std::function<void(const std::string &)> log)
    : folder_(preparedFolder(folder)), log_(std::move(log)), thread_([this] { run(); }) {
  static const bool mappedFromFixed = mallopt(M_MMAP_THRESHOLD, kMappedFromBytes) == 1;
  (void)mappedFromFixed;  // once a process; without it only memory is kept longer
}

ReceiptWriter::~ReceiptWriter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void ReceiptWriter::submit(Receipt &&receipt) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return queue_.size() < kQueuedReceipts; });
  queue_.push_back(std::move(receipt));
  changed_.notify_all();
}

void ReceiptWriter::drain() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return queue_.empty() && !busy_; });
}

void ReceiptWriter::setListener(Listener listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  listener_ = std::move(listener);
}

std::vector<std::filesystem::path> ReceiptWriter::transcriptsWritten() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::filesystem::path> transcripts;
  for (const WrittenReceipt &receipt : written_) transcripts.push_back(receipt.transcript);
  return transcripts;
}

std::vector<WrittenReceipt> ReceiptWriter::receiptsWritten() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return written_;
}

std::size_t ReceiptWriter::receiptsLost() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lost_;
}

void ReceiptWriter::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  bool wrote = false;  // since the free memory was last given back
  for (;;) {
    if (wrote && queue_.empty() && !closing_) {
      if (!changed_.wait_for(lock, kIdleBeforeGivingBack,
                             [this] { return !queue_.empty() || closing_; })) {
        wrote = false;
        lock.unlock();
        giveBackFreeMemory();
        lock.lock();
      }
      continue;
    }
    changed_.wait(lock, [this] { return !queue_.empty() || closing_; });
    if (queue_.empty()) return;  // closing, and everything written
    Receipt receipt = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    changed_.notify_all();  // room in the queue
    lock.unlock();

    std::string error;
    const std::filesystem::path transcript = folder_.write(receipt, &error);
    std::vector<std::string> warnings = warningsOf(receipt);
    const std::string count = (receipt.label.empty() ? "" : ", label \"" + receipt.label + "\"") +
                              (warnings.empty() ? "" : ", " + warningCount(warnings.size()));
    if (transcript.empty()) {
      tell("receipt not written: " + error);
    } else {
      tell("receipt written: " + transcript.string() + count);
    }

    lock.lock();
    if (transcript.empty()) {
      ++lost_;
    } else {
      WrittenReceipt written{receiptNumberOf(transcript), transcript, transcript,
                             std::move(warnings), receipt.label};
      written.picture.replace_extension(".png");
      written_.push_back(written);
      if (listener_) {
        Listener listener = listener_;
        lock.unlock();
        listener(written);
        lock.lock();
      }
    }
    busy_ = false;
    wrote = true;
    changed_.notify_all();
  }
}

void ReceiptWriter::tell(const std::string &line) const {
  if (log_) log_(line);
}

}  // namespace it433td::printer
