// receipt_warnings.cpp - warning lines and the UTF-8 spotter.
#include "receipt_warnings.h"

#include "transcript.h"

#include <cstdio>

namespace it433td::printer {

std::string warningWhat(WarningKind kind, std::string_view subject) {
  std::string what(infoOf(kind).says);
  if (const std::size_t at = what.find("{}"); at != std::string::npos) what.replace(at, 2, subject);
  return what;
}

void WarningTally::add(std::string example, std::uint64_t times) {
  times_ += times;
  if (examples_.size() < kWarningExamples)
    examples_.push_back(std::move(example));
  else
    more_ = true;
}

std::string WarningTally::line() const {
  std::string text = "[" + std::string(infoOf(kind_).marker) + " " + warningWhat(kind_, subject_);
  if (times_ > 1) text += " (" + std::to_string(times_) + " times)";
  for (std::size_t i = 0; i < examples_.size(); ++i) text += (i ? ", " : ": ") + examples_[i];
  if (more_) text += ", ...";
  return text + "]";
}

std::string warningCount(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " warning" : " warnings");
}

std::string hexBytes(std::string_view bytes, std::uint64_t total) {
  constexpr std::size_t kShown = 8;
  std::string text;
  for (std::size_t i = 0; i < bytes.size() && i < kShown; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(bytes[i]));
    text += (i ? " " : "") + std::string(hex);
  }
  if (total > kShown) text += " ... (" + std::to_string(total) + " bytes)";
  return text;
}

bool Utf8Spotter::take(unsigned char byte, std::uint64_t offset) {
  if (!held_.empty()) {
    const bool second = held_.size() == 1;
    if (byte >= (second ? low_ : 0x80) && byte <= (second ? high_ : 0xBF)) {
      held_.push_back(static_cast<char>(byte));
      if (held_.size() < length_) return false;
      found_.swap(held_);
      held_.clear();
      foundAt_ = start_;
      return true;
    }
    held_.clear();  // not a sequence after all; the byte may begin one
  }
  const Utf8Lead lead = utf8Lead(byte);
  if (lead.length) {
    held_.assign(1, static_cast<char>(byte));
    length_ = lead.length;
    low_ = lead.low;
    high_ = lead.high;
    start_ = offset;
  }
  return false;
}

}  // namespace it433td::printer
