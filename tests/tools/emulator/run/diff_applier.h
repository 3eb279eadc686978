// diff_applier.h - applies a unified diff as `patch -F0` would, only
// stricter: every hunk exactly where its header says, its context and
// removed lines exactly as in the file, its counts exactly its lines, and
// hunks laid out as `diff -u` lays them (3 lines of context where the file
// has them, at least one unshown line between two hunks).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace diff_test {

inline std::vector<std::string> linesWithFeeds(const std::string &text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size() - 1) + 1;
    lines.push_back(text.substr(at, end - at));
    at = end;
  }
  return lines;
}

// The text the diff makes of `before`; false, with *problem, if it cannot.
inline bool applyDiff(const std::string &before, const std::string &diff, std::string *result,
                      std::string *problem) {
  const std::vector<std::string> old = linesWithFeeds(before), lines = linesWithFeeds(diff);
  const auto fail = [&](const std::string &why) {
    *problem = why;
    return false;
  };
  if (lines.size() < 2 || lines[0].rfind("--- ", 0) != 0 || lines[1].rfind("+++ ", 0) != 0)
    return fail("no --- and +++ lines");
  result->clear();
  std::size_t copied = 0;  // lines of `old` done
  long made = 0;           // lines of the result
  for (std::size_t at = 2; at < lines.size();) {
    long a = 0, b = 1, c = 0, d = 1;
    if (std::sscanf(lines[at].c_str(), "@@ -%ld,%ld +%ld,%ld @@", &a, &b, &c, &d) != 4 &&
        std::sscanf(lines[at].c_str(), "@@ -%ld +%ld,%ld @@", &a, &c, &d) != 3 &&
        std::sscanf(lines[at].c_str(), "@@ -%ld,%ld +%ld @@", &a, &b, &c) != 3 &&
        std::sscanf(lines[at].c_str(), "@@ -%ld +%ld @@", &a, &c) != 2)
      return fail("not a hunk header: " + lines[at]);
    const std::size_t first = static_cast<std::size_t>(b == 0 ? a : a - 1);
    if (first < copied || (copied > 0 && first == copied)) return fail("hunks touch or overlap");
    for (; copied < first && copied < old.size(); ++made) *result += old[copied++];
    if (copied != first) return fail("hunk past the end");
    if (made != (d == 0 ? c : c - 1)) return fail("new side's start differs");
    std::vector<char> marks;
    long seenOld = 0, seenNew = 0;
    for (++at; at < lines.size() && lines[at].rfind("@@", 0) != 0; ++at) {
      const char mark = lines[at][0];
      std::string text = lines[at].substr(1);
      if (at + 1 < lines.size() && lines[at + 1] == "\\ No newline at end of file\n") {
        text.pop_back();
        ++at;
      }
      if (mark == ' ' || mark == '-') {
        if (copied >= old.size() || old[copied] != text) return fail("context differs: " + text);
        ++copied;
        ++seenOld;
      }
      if (mark == ' ' || mark == '+') {
        *result += text;
        ++seenNew;
        ++made;
      }
      if (mark != ' ' && mark != '-' && mark != '+') return fail("bad line: " + lines[at]);
      marks.push_back(mark);
    }
    if (seenOld != b || seenNew != d) return fail("counts differ from the header");
    std::size_t lead = 0, trail = 0;
    while (lead < marks.size() && marks[lead] == ' ') ++lead;
    while (trail < marks.size() && marks[marks.size() - 1 - trail] == ' ') ++trail;
    if (lead == marks.size()) return fail("a hunk without a change");
    if (lead != 3 && first != 0) return fail("leading context not 3 lines");
    if (trail != 3 && copied != old.size()) return fail("trailing context not 3 lines");
  }
  while (copied < old.size()) *result += old[copied++];
  return true;
}

}  // namespace diff_test
