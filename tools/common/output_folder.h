// output_folder.h - folders it433td writes into (receipts, the module's QR
// files), made ready before anything is printed, so a folder that cannot be
// written is refused up front instead of losing what was printed.
#pragma once

#include <filesystem>
#include <string>

namespace it433td::tools {

// Creates `folder` (and its parents) when missing and checks that files can
// be made in it. Returns "" when it can hold files, otherwise why not: "is a
// file, not a folder", or the system's words ("Permission denied", ...).
std::string prepareFolder(const std::filesystem::path &folder);

// --out FOLDER of demo and render: prepared, or ToolError (kExitBadInput).
void prepareOutputFolder(const std::filesystem::path &folder);

}  // namespace it433td::tools
