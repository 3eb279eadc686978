// receipt_folder.h - receipts as files: receipt-0001.png and receipt-0001.txt.
#pragma once

#include "receipt.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace it433td::printer {

class ReceiptFolder {
public:
  // Creates the folder if needed. Numbering continues after the highest
  // receipt already there (numbers of more than 18 digits are ignored).
  explicit ReceiptFolder(std::filesystem::path folder);

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

}  // namespace it433td::printer
