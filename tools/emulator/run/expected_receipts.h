// expected_receipts.h - golden receipts: `emulate --expect DIR` compares a
// run's transcripts with the files of DIR, `--update-expected DIR` writes
// them there.
//
// The run's Nth receipt goes with receipt-NNNN.txt of DIR (the name an
// empty receipt folder gives its Nth receipt), whatever number the run's
// own folder gave it. Only transcripts are compared: they hold nothing that
// changes from run to run, where a picture's bytes depend on the font and
// PNG libraries of the machine.
#pragma once

#include <cstddef>
#include <filesystem>
#include <vector>

namespace it433td::tools {

// Prints a unified diff to standard output for each receipt whose
// transcript differs from its file in `folder`, each receipt the folder
// lacks and each receipt file of the folder the run did not print. Returns
// how many there are. Throws ToolError (kExitBadInput) for a folder or a
// receipt file that cannot be read.
std::size_t compareWithExpected(const std::filesystem::path &folder,
                                const std::vector<std::filesystem::path> &transcripts);

// Makes `folder` (created when missing) hold the run's transcripts, each
// file replaced whole (written under a temporary name, then renamed), and
// removes its receipt files past the run's last; other files stay. Throws
// ToolError (kExitOperationFailed) naming what could not be written.
void updateExpected(const std::filesystem::path &folder,
                    const std::vector<std::filesystem::path> &transcripts);

}  // namespace it433td::tools
