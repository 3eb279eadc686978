// receipt_folder.cpp - numbered receipt files, written whole or not at all.
#include "receipt_folder.h"

#include "renderer.h"
#include "transcript.h"

#include <cstdio>
#include <fstream>
#include <system_error>

namespace it433td::printer {

namespace fs = std::filesystem;

namespace {

// "receipt-0042.txt" -> 42; anything else -> 0.
int receiptNumber(const fs::path &file) {
  const std::string name = file.filename().string();
  int number = 0, used = 0;
  if (std::sscanf(name.c_str(), "receipt-%d.%*[a-z]%n", &number, &used) >= 1 &&
      used == static_cast<int>(name.size()))
    return number;
  return 0;
}

bool renameInto(const fs::path &from, const fs::path &to, std::string *error) {
  std::error_code ec;
  fs::rename(from, to, ec);
  if (!ec) return true;
  if (error) *error = to.string() + ": " + ec.message();
  fs::remove(from, ec);
  return false;
}

}  // namespace

ReceiptFolder::ReceiptFolder(fs::path folder) : folder_(std::move(folder)) {
  std::error_code ec;
  fs::create_directories(folder_, ec);
  for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec))
    nextNumber_ = std::max(nextNumber_, receiptNumber(it->path()) + 1);
}

fs::path ReceiptFolder::write(const Receipt &receipt, std::string *error) {
  char stem[32];
  std::snprintf(stem, sizeof stem, "receipt-%04d", nextNumber_++);
  const fs::path png = folder_ / (std::string(stem) + ".png");
  const fs::path txt = folder_ / (std::string(stem) + ".txt");
  const fs::path pngTemp = folder_ / (std::string(".") + stem + ".png.part");
  const fs::path txtTemp = folder_ / (std::string(".") + stem + ".txt.part");

  if (!writePng(receipt, pngTemp, error) || !renameInto(pngTemp, png, error)) return {};
  {
    std::ofstream out(txtTemp, std::ios::binary | std::ios::trunc);
    out << transcriptOf(receipt);
    out.close();
    if (!out) {
      if (error) *error = txtTemp.string() + ": cannot write";
      return {};
    }
  }
  if (!renameInto(txtTemp, txt, error)) return {};
  return txt;
}

}  // namespace it433td::printer
