// receipt_folder.h - receipts as files: receipt-0001.png and receipt-0001.txt.
#pragma once

#include "receipt.h"

#include <filesystem>
#include <string>

namespace it433td::printer {

class ReceiptFolder {
public:
  // Creates the folder if needed. Numbering continues after the highest
  // receipt already there, so a new run never overwrites an old receipt.
  explicit ReceiptFolder(std::filesystem::path folder);

  // Writes the PNG, then the transcript, each under a temporary name renamed
  // into place, so a watcher that sees the .txt finds both files whole.
  // Returns the transcript's path, or an empty path with *error set.
  std::filesystem::path write(const Receipt &receipt, std::string *error);

  const std::filesystem::path &folder() const { return folder_; }

private:
  std::filesystem::path folder_;
  int nextNumber_ = 1;
};

}  // namespace it433td::printer
