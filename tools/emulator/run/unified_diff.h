// unified_diff.h - the difference of two texts as `diff -u` shows it.
#pragma once

#include <string>
#include <string_view>

namespace it433td::tools {

// Lines removed from `before` start with '-', lines added in `after` with
// '+', three lines of context with ' ', in hunks headed "@@ -a,b +c,d @@",
// under "--- beforeName" and "+++ afterName". A last line without a line
// feed is followed by "\ No newline at end of file". Control characters
// are spelled out (shown_text.h). "" when the texts are equal.
std::string unifiedDiff(std::string_view before, std::string_view after,
                        const std::string &beforeName, const std::string &afterName);

}  // namespace it433td::tools
