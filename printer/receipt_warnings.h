// receipt_warnings.h - what on a receipt is most likely a developer's
// mistake, tallied by kind (warning_kinds.h) and subject.
//
// Each kind of warning (for one subject: one ESC/POS command, one reason an
// image was refused) is one transcript line on a receipt, however often it
// happens there: what it is, how many times, and the first few places,
// as offsets counted from the receipt's first byte (the byte after the
// previous cut, or the start of the job):
//   [WARNING ESC a (justification, ESC/POS): not an IT433TD command (2 times): 1B 61 01 at byte 0, 1B 61 00 at byte 19]
// So a job of thousands of unknown bytes still has a short transcript.
#pragma once

#include "warning_kinds.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace it433td::printer {

constexpr std::size_t kWarningExamples = 4;  // places shown per kind

class WarningTally {
public:
  WarningTally(WarningKind kind, std::string subject) : kind_(kind), subject_(std::move(subject)) {}

  // The tally of `kind` about `subject`.
  bool counts(WarningKind kind, std::string_view subject) const {
    return kind == kind_ && subject == subject_;
  }
  // One more occurrence (or `times` at once: a run of one unknown byte).
  void add(std::string example, std::uint64_t times = 1);
  std::string line() const;

  std::size_t item = 0;  // the receipt's item that shows the line, once placed

private:
  WarningKind kind_;
  std::string subject_;
  std::uint64_t times_ = 0;
  std::vector<std::string> examples_;
  bool more_ = false;  // places not shown
};

// "1 warning", "3 warnings".
std::string warningCount(std::size_t count);

// "1B 61 01", the first 8 of `total` bytes, then "... (N bytes)".
std::string hexBytes(std::string_view bytes, std::uint64_t total);

// Spots well-formed multi-byte UTF-8 sequences in text taken byte by byte,
// whatever events the text came in: the IT433TD prints code page 850, where
// such a sequence is two or three wrong characters ("Ã©" for "é").
class Utf8Spotter {
public:
  // The next text byte, at `offset`. True when it ends a sequence: found()
  // and foundAt() then tell which.
  bool take(unsigned char byte, std::uint64_t offset);
  // Anything but text in between: no sequence spans it.
  void reset() { held_.clear(); }
  const std::string &found() const { return found_; }
  std::uint64_t foundAt() const { return foundAt_; }

private:
  std::string held_;  // a sequence begun
  std::size_t length_ = 0;
  unsigned char low_ = 0, high_ = 0;
  std::uint64_t start_ = 0;
  std::string found_;
  std::uint64_t foundAt_ = 0;
};

}  // namespace it433td::printer
