// unified_diff.h - the difference of two texts as `diff -u` shows it.
#pragma once

#include <string>
#include <string_view>

namespace it433td::tools {

// Lines removed from `before` start with '-', lines added in `after` with
// '+', three lines of context with ' ', in hunks headed "@@ -a,b +c,d @@",
// under "--- beforeName" and "+++ afterName"; changes with at most six
// unchanged lines between them share a hunk, as with `diff -u`. A last line
// without a line feed is followed by "\ No newline at end of file". The
// diff applies with `patch -F0` to `before` and gives `after` exactly; only
// a line a terminal would act on (C0 or C1 controls, bytes that are no
// UTF-8), which no transcript holds, is spelled out instead (shown_text.h).
// "" when the texts are equal.
std::string unifiedDiff(std::string_view before, std::string_view after,
                        const std::string &beforeName, const std::string &afterName);

}  // namespace it433td::tools
