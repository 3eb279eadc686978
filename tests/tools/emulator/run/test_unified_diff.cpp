// --expect's diffs: every one applies with `patch -F0` and gives the new
// text exactly (random line edits), and hunks merge as `diff -u` merges them.
#include "emulator/run/unified_diff.h"
#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <unistd.h>

using it433td::tools::unifiedDiff;

namespace {

namespace fs = std::filesystem;

void write(const fs::path &file, const std::string &text) {
  std::ofstream(file, std::ios::binary) << text;
}

std::string read(const fs::path &file) {
  std::ostringstream text;
  text << std::ifstream(file, std::ios::binary).rdbuf();
  return text.str();
}

// What `patch -F0` makes of `before` with the diff; "(rejected)" if it refuses.
std::string patched(const printer_test::TempFolder &folder, const std::string &before, const std::string &diff) {
  write(folder.path / "old.txt", before);
  write(folder.path / "change.diff", diff);
  const std::string command = "patch -F0 -s -N -r - -o '" + (folder.path / "new.txt").string() +
                              "' '" + (folder.path / "old.txt").string() + "' < '" +
                              (folder.path / "change.diff").string() + "' 2>&1";
  return std::system(command.c_str()) == 0 ? read(folder.path / "new.txt") : "(rejected)";
}

// Lines from a small alphabet, so that lines repeat; sometimes none, and
// sometimes without the last line feed.
std::string randomText(std::mt19937 &random, std::size_t maxLines) {
  static const char *kLines[] = {"a", "b", "c", "", "[CUT]", "a"};
  std::string text;
  const std::size_t lines = random() % (maxLines + 1);
  for (std::size_t i = 0; i < lines; ++i) text += std::string(kLines[random() % 6]) + "\n";
  if (!text.empty() && random() % 4 == 0) text.pop_back();
  return text;
}

// The same text with random lines removed, replaced and added.
std::string edited(std::mt19937 &random, const std::string &text) {
  std::string out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    switch (random() % 6) {
      case 0: break;                                              // removed
      case 1: out += randomText(random, 2); break;                // replaced
      case 2: out += line + "\n" + randomText(random, 3); break;  // lines added after
      default: out += line + "\n";
    }
  }
  if (random() % 3 == 0) out += randomText(random, 3);
  if (!out.empty() && random() % 4 == 0 && out.back() == '\n') out.pop_back();
  return out;
}

TEST(UnifiedDiff, EveryDiffAppliesWithPatchAndGivesTheNewTextExactly) {
  printer_test::TempFolder folder;
  std::mt19937 random(433);
  for (int i = 0; i < 300; ++i) {
    const std::string before = randomText(random, 30);
    const std::string after = i % 10 == 0 ? randomText(random, 30) : edited(random, before);
    const std::string diff = unifiedDiff(before, after, "old.txt", "new.txt");
    EXPECT_EQ(diff.empty(), before == after);
    if (diff.empty()) continue;
    ASSERT_EQ(patched(folder, before, diff), after) << "case " << i << "\n" << diff;
  }
}

// Changes with six unchanged lines between them (twice the context) are one
// hunk, with seven two hunks, as diff -u has them.
TEST(UnifiedDiff, HunksCloserThanTwiceTheContextMerge) {
  std::string before;
  for (int i = 1; i <= 20; ++i) before += std::to_string(i) + "\n";
  for (const int gap : {6, 7}) {
    std::string after = before;
    after.replace(after.find("3\n"), 2, "x\n");
    after.replace(after.find("\n" + std::to_string(4 + gap) + "\n") + 1, 3, "y\n");
    const std::string diff = unifiedDiff(before, after, "a", "b");
    EXPECT_EQ(diff.find(gap == 6 ? "@@ -1,13 +1,13 @@\n" : "@@ -1,6 +1,6 @@\n"), 12u) << diff;
    EXPECT_EQ(std::count(diff.begin(), diff.end(), '@'), gap == 6 ? 4 : 8) << diff;
  }
}

}  // namespace
