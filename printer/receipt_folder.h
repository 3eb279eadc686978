// receipt_folder.h - receipts as files: receipt-0001.png and receipt-0001.txt.
#pragma once

#include "receipt.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace it433td::printer {

class ReceiptFolder {
public:
  // Creates the folder if needed. Numbering continues after the highest
  // receipt already there (numbers of more than 18 digits are ignored).
  explicit ReceiptFolder(std::filesystem::path folder);

  // Creates the folder if needed and proves that a file can be made in it.
  // False, with the reason in *error, for a file, a read-only folder, a
  // missing parent that cannot be made...
  static bool prepare(const std::filesystem::path &folder, std::string *error);

  // Writes the PNG and the transcript under unique temporary names, then
  // gives them their numbered names, PNG first, so a watcher that sees the
  // .txt finds both files whole. A name is only taken where no file is: a
  // number already used (another writer sharing the folder, an old file) is
  // skipped, so no receipt is ever replaced.
  // Returns the transcript's path, or an empty path with *error set.
  std::filesystem::path write(const Receipt &receipt, std::string *error);

  const std::filesystem::path &folder() const { return folder_; }

private:
  std::filesystem::path folder_;
  std::int64_t nextNumber_ = 1;
};

// "receipt-0042.txt" -> 42; 0 for any other name.
std::int64_t receiptNumberOf(const std::filesystem::path &file);
// 42, ".txt" -> "receipt-0042.txt": the name a folder gives its receipt.
std::string receiptFileName(std::int64_t number, std::string_view extension);

// The picture that goes with a transcript: receipt-0001.txt -> .png.
std::filesystem::path pictureOf(const std::filesystem::path &transcript);

// Removes the temporary files that receipt writers of this process are
// filling right now. Async-signal-safe: for a handler of a fatal signal.
void removeReceiptTemporaries() noexcept;

// SIGINT, SIGTERM, SIGHUP and SIGQUIT remove those temporaries, then end the
// process as the signal would have (for programs that do not take these
// signals themselves, like render).
void removeReceiptTemporariesOnSignals();

}  // namespace it433td::printer
