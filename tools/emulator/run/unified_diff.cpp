// unified_diff.cpp - the shortest edit script from dtl (libdtl-dev, the
// Myers algorithm); the hunks are made here, as `diff -u` makes them.
//
// The common head and tail are set aside first, so a receipt that differs
// in one line costs no more than that line. The search costs the lines
// times the differences, so a middle of more than kMaxSearchedLines is
// shown whole, removed and added: still a correct diff, only not the
// shortest.
#include "emulator/run/unified_diff.h"

#include "common/shown_text.h"
#include "transcript.h"

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

// True for a line a terminal shows as it is: well-formed UTF-8 without C0
// or C1 controls (DEL, which a terminal ignores, may stay). A transcript
// has no other lines, so its diff is the exact one `patch` applies.
bool safeAsItIs(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const std::size_t length = printer::utf8SequenceLength(text, i);
    if (length == 0 || byte < 0x20 ||
        (byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0))
      return false;
    i += length;
  }
  return true;
}

void addLine(std::string &out, char mark, const std::string &line) {
  const bool whole = !line.empty() && line.back() == '\n';
  const std::string_view text = std::string_view(line).substr(0, line.size() - (whole ? 1 : 0));
  out += mark;
  if (safeAsItIs(text))
    out += text;
  else
    out += shownText(text);  // a golden file no run wrote: shown, not applied
  out += whole ? "\n" : "\n\\ No newline at end of file\n";
}

// "-3,4", "-3" for one line, and the line before for none, as diff -u has it.
std::string range(char mark, std::size_t start, std::size_t count) {
  std::string text(1, mark);
  text += std::to_string(count == 0 ? start - 1 : start);
  if (count != 1) text += "," + std::to_string(count);
  return text;
}

enum class Edit { Keep, Remove, Add };

// The edit script over whole texts: the common head, dtl's script for the
// middle, the common tail.
std::vector<Edit> editScript(const Lines &a, const Lines &b) {
  std::size_t head = 0;
  while (head < a.size() && head < b.size() && a[head] == b[head]) ++head;
  std::size_t tail = 0;
  while (tail < a.size() - head && tail < b.size() - head &&
         a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
    ++tail;
  std::vector<Edit> edits(head, Edit::Keep);
  const Lines middleA(a.begin() + static_cast<long>(head), a.end() - static_cast<long>(tail));
  const Lines middleB(b.begin() + static_cast<long>(head), b.end() - static_cast<long>(tail));
  if (middleA.size() + middleB.size() > kMaxSearchedLines) {
    edits.insert(edits.end(), middleA.size(), Edit::Remove);
    edits.insert(edits.end(), middleB.size(), Edit::Add);
  } else if (!middleA.empty() || !middleB.empty()) {
    dtl::Diff<std::string> diff(middleA, middleB);
    diff.compose();
    for (const auto &[line, info] : diff.getSes().getSequence())
      edits.push_back(info.type == dtl::SES_ADD      ? Edit::Add
                      : info.type == dtl::SES_DELETE ? Edit::Remove
                                                     : Edit::Keep);
  }
  edits.insert(edits.end(), tail, Edit::Keep);
  // Within each change, the removed lines first, as diff -u shows them.
  for (auto run = edits.begin(); run != edits.end();) {
    const auto end = std::find(run, edits.end(), Edit::Keep);
    std::stable_partition(run, end, [](Edit edit) { return edit == Edit::Remove; });
    run = end == edits.end() ? end : end + 1;
  }
  return edits;
}

}  // namespace

std::string unifiedDiff(std::string_view before, std::string_view after,
                        const std::string &beforeName, const std::string &afterName) {
  if (before == after) return "";
  const Lines a = linesOf(before), b = linesOf(after);
  const std::vector<Edit> edits = editScript(a, b);
  std::string out = "--- " + shownText(beforeName) + "\n+++ " + shownText(afterName) + "\n";
  // Each hunk: the changes whose unchanged lines between them number at
  // most twice the context, with the context before the first and after
  // the last (diff -u's rule).
  std::size_t at = 0, lineA = 0, lineB = 0;  // edits[at] is at a[lineA] and b[lineB]
  const auto advance = [&](std::size_t to) {
    for (; at < to; ++at) {
      lineA += edits[at] != Edit::Add;
      lineB += edits[at] != Edit::Remove;
    }
  };
  for (;;) {
    std::size_t change = at;
    while (change < edits.size() && edits[change] == Edit::Keep) ++change;
    if (change == edits.size()) break;
    advance(change - std::min(change - at, kContext));
    std::size_t end = change;  // one past the hunk's last change
    for (std::size_t next = change; next < edits.size();) {
      while (next < edits.size() && edits[next] != Edit::Keep) ++next;
      end = next;
      while (next < edits.size() && edits[next] == Edit::Keep) ++next;
      if (next == edits.size() || next - end > 2 * kContext) break;
    }
    const std::size_t stop = std::min(edits.size(), end + kContext);
    const std::size_t startA = lineA + 1, startB = lineB + 1;
    std::string body;
    std::size_t countA = 0, countB = 0;
    for (; at < stop; ++at) {
      const Edit edit = edits[at];
      if (edit == Edit::Add) {
        addLine(body, '+', b[lineB++]);
        ++countB;
      } else if (edit == Edit::Remove) {
        addLine(body, '-', a[lineA++]);
        ++countA;
      } else {
        addLine(body, ' ', a[lineA++]);
        ++lineB;
        ++countA;
        ++countB;
      }
    }
    out += "@@ " + range('-', startA, countA) + " " + range('+', startB, countB) + " @@\n" + body;
  }
  return out;
}

}  // namespace it433td::tools
