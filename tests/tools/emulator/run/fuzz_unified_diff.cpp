// fuzz_unified_diff.cpp - --expect's diff on two arbitrary texts (the input
// split at its first NUL byte): every diff of texts a terminal shows as they
// are applies exactly, hunk by hunk where its headers say, and gives the
// second text (diff_applier.h). The input is also tried over a small
// alphabet of lines ('\n' and three letters), where lines repeat.
#include "diff_applier.h"
#include "emulator/run/unified_diff.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool shownAsItIs(const std::string &text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte < 0x20 && byte != '\n') || byte >= 0x80) return false;
  }
  return true;
}

void check(const std::string &before, const std::string &after) {
  const std::string diff = it433td::tools::unifiedDiff(before, after, "old", "new");
  if (diff.empty() != (before == after)) std::abort();
  if (diff.empty() || !shownAsItIs(before) || !shownAsItIs(after)) return;
  std::string result, problem;
  if (!diff_test::applyDiff(before, diff, &result, &problem) || result != after) {
    std::fprintf(stderr, "the diff does not give the new text (%s):\n%s", problem.c_str(),
                 diff.c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string input(reinterpret_cast<const char *>(data), size);
  const std::size_t nul = input.find('\0');
  const std::string before = input.substr(0, nul);
  const std::string after = nul == std::string::npos ? std::string() : input.substr(nul + 1);
  check(before, after);
  const auto small = [](std::string text) {
    for (char &c : text) c = "\nabc"[static_cast<unsigned char>(c) % 4];
    return text;
  };
  check(small(before), small(after));
  return 0;
}
