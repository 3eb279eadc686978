// shown_text.h - text from outside (a port name, a file name, a line of a
// receipt file, an argument) as a message may quote it: a terminal must never
// act on what a message repeats, so control characters are spelled out.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace it433td::tools {

// `text` with every control character (C0, DEL and C1: U+0000-U+001F,
// U+007F, U+0080-U+009F) written as "U+009B", and every byte that is no
// well-formed UTF-8 as "\x9B". Everything else stays as it is. With
// `keepLineBreaks`, '\n' stays too (a message of several lines).
std::string shownText(std::string_view text, bool keepLineBreaks = false);

// Writes a message of ours, which may quote input, and a line feed.
void printMessage(std::FILE *to, std::string_view message);

}  // namespace it433td::tools
