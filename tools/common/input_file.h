// input_file.h - reading a named input (a receipt file, a captured stream)
// whole, but never more than a limit: /dev/zero or a runaway pipe is refused
// once the limit is passed instead of filling the memory.
#pragma once

#include <cstddef>
#include <string>

namespace it433td::tools {

// Reads `name` ("-": standard input) whole. Throws ToolError (kExitBadInput)
// naming the input and the reason: a folder, a read error (the system's
// words), or more than `limit` bytes, for which `tooLarge` says what the
// limit is (a regular file larger than that is refused without reading it).
std::string readInputFile(const std::string &name, std::size_t limit, const std::string &tooLarge);

}  // namespace it433td::tools
