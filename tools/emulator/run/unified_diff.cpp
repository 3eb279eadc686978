// unified_diff.cpp - the shortest edit script from dtl (libdtl-dev, the
// Myers algorithm), hunks printed here.
//
// The common head and tail are set aside first (but for the context), so
// a receipt that differs in one line costs no more than that line. The
// search costs the lines times the differences, so a middle of more than
// kMaxSearchedLines is shown whole, removed and added: still a correct
// diff, only not the shortest.
#include "emulator/run/unified_diff.h"

#include "common/shown_text.h"

#include <dtl/dtl.hpp>

#include <algorithm>
#include <vector>

namespace it433td::tools {

namespace {

constexpr std::size_t kContext = 3;
constexpr std::size_t kMaxSearchedLines = 8000;

using Lines = std::vector<std::string>;

// Each line with its line feed, so a missing last one is a difference.
Lines linesOf(std::string_view text) {
  Lines lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size() - 1) + 1;
    lines.emplace_back(text.substr(at, end - at));
    at = end;
  }
  return lines;
}

void addLine(std::string &out, char mark, const std::string &line) {
  const bool whole = !line.empty() && line.back() == '\n';
  out += mark;
  out += shownText(whole ? std::string_view(line).substr(0, line.size() - 1) : line);
  out += whole ? "\n" : "\n\\ No newline at end of file\n";
}

// "-3,4", "-3" for one line, and the line before for none, as diff -u has it.
std::string range(char mark, long long start, long long count) {
  std::string text(1, mark);
  text += std::to_string(count == 0 ? start - 1 : start);
  if (count != 1) text += "," + std::to_string(count);
  return text;
}

struct Hunk {
  long long beforeStart = 0, beforeCount = 0, afterStart = 0, afterCount = 0;
  std::string body;
};

void addHunk(std::string &out, const Hunk &hunk) {
  out += "@@ " + range('-', hunk.beforeStart, hunk.beforeCount) + " " +
         range('+', hunk.afterStart, hunk.afterCount) + " @@\n" + hunk.body;
}

}  // namespace

std::string unifiedDiff(std::string_view before, std::string_view after,
                        const std::string &beforeName, const std::string &afterName) {
  if (before == after) return "";
  const Lines a = linesOf(before), b = linesOf(after);
  std::size_t head = 0;
  while (head < a.size() && head < b.size() && a[head] == b[head]) ++head;
  std::size_t tail = 0;
  while (tail < a.size() - head && tail < b.size() - head &&
         a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
    ++tail;
  // The middle that differs, with the context around it.
  const std::size_t from = head - std::min(head, kContext);
  const std::size_t keptTail = std::min(tail, kContext);
  const Lines middleA(a.begin() + static_cast<long>(from), a.end() - static_cast<long>(tail - keptTail));
  const Lines middleB(b.begin() + static_cast<long>(from), b.end() - static_cast<long>(tail - keptTail));
  const auto offset = static_cast<long long>(from);

  std::string out = "--- " + shownText(beforeName) + "\n+++ " + shownText(afterName) + "\n";
  if (middleA.size() + middleB.size() > kMaxSearchedLines) {
    const std::size_t keptHead = head - from;
    Hunk hunk{offset + 1, static_cast<long long>(middleA.size()), offset + 1,
              static_cast<long long>(middleB.size()), ""};
    for (std::size_t i = 0; i < keptHead; ++i) addLine(hunk.body, ' ', middleA[i]);
    for (std::size_t i = keptHead; i < middleA.size() - keptTail; ++i) addLine(hunk.body, '-', middleA[i]);
    for (std::size_t i = keptHead; i < middleB.size() - keptTail; ++i) addLine(hunk.body, '+', middleB[i]);
    for (std::size_t i = middleA.size() - keptTail; i < middleA.size(); ++i)
      addLine(hunk.body, ' ', middleA[i]);
    addHunk(out, hunk);
    return out;
  }
  dtl::Diff<std::string> diff(middleA, middleB);
  diff.compose();
  diff.composeUnifiedHunks();
  for (const auto &found : diff.getUniHunks()) {
    Hunk hunk{found.a + offset, found.b, found.c + offset, found.d, ""};
    for (const auto *part : {&found.common[0], &found.change, &found.common[1]})
      for (const auto &[line, info] : *part)
        addLine(hunk.body, info.type == dtl::SES_ADD ? '+' : info.type == dtl::SES_DELETE ? '-' : ' ',
                line);
    addHunk(out, hunk);
  }
  return out;
}

}  // namespace it433td::tools
