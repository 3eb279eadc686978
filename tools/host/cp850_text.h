// cp850_text.h - receipt text from UTF-8 into the printer's code page 850.
#pragma once

#include <string>
#include <string_view>

namespace it433td::tools {

struct Cp850Result {
  std::string bytes;  // the text in code page 850, when error is empty
  std::string error;  // e.g. "column 7: \"€\" is not in code page 850"
};

// Converts one line of text (glibc iconv). Refuses malformed UTF-8,
// characters code page 850 lacks, and control characters (they would be
// taken by the printer as commands, not printed).
Cp850Result utf8ToCp850(std::string_view utf8);

}  // namespace it433td::tools
