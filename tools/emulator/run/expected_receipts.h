// expected_receipts.h - golden receipts: `emulate --expect DIR` compares a
// run's transcripts with the files of DIR, `--update-expected DIR` writes
// them there.
//
// Each receipt of the run goes with the file its label names (golden_names.h):
// NAME.txt, NAME-2.txt, ... for the receipts under a label, receipt-NNNN.txt
// for those printed before any label, numbered among themselves, whatever
// number the run's own folder gave them. So a labelled test added in the
// middle of a run is the one difference. Only transcripts are compared: they
// hold nothing that changes from run to run, where a picture's bytes depend
// on the font and PNG libraries of the machine.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace it433td::tools {

// A transcript stops a little past 1 MiB; a larger file was never one.
constexpr std::size_t kMaxGoldenBytes = 4u << 20;

// A folder of golden receipts: every entry named *.txt is one. Held open,
// so its files are read from the folder that was checked. Every file is
// read as a regular file or not at all: never through a symbolic link
// (O_NOFOLLOW), never a FIFO or a device, never more than kMaxGoldenBytes.
class GoldenFolder {
public:
  // Opens `folder` and lists its golden receipts, refusing a folder that is
  // not one and any *.txt entry that is not a regular file of at most
  // kMaxGoldenBytes. Throws ToolError (kExitBadInput), naming `option`.
  GoldenFolder(const std::filesystem::path &folder, const std::string &option);
  ~GoldenFolder();
  GoldenFolder(const GoldenFolder &) = delete;
  GoldenFolder &operator=(const GoldenFolder &) = delete;

  const std::filesystem::path &path() const { return path_; }
  // The file names of the golden receipts, sorted.
  const std::vector<std::string> &names() const { return names_; }
  // A golden receipt's whole content, checked again as it is read. Throws
  // ToolError (kExitBadInput).
  std::string read(const std::string &name) const;

private:
  std::filesystem::path path_;
  std::string option_;
  int fd_ = -1;
  std::vector<std::string> names_;
};

// A receipt of the run: its transcript and the label it was printed under
// ("" before any label).
struct RunReceipt {
  std::filesystem::path transcript;
  std::string label;
};

// Prints a unified diff to standard output for each receipt whose
// transcript differs from its golden file, each receipt the folder lacks
// and each golden file the run did not print. Returns how many there are.
// Throws ToolError (kExitBadInput) for a file that cannot be read.
std::size_t compareWithExpected(const GoldenFolder &golden,
                                const std::vector<RunReceipt> &receipts);

// Makes `folder` hold the run's transcripts under their golden names, each
// file replaced whole (written under a temporary name, then renamed), and
// removes the golden files the run did not print; other files stay. Throws
// ToolError (kExitOperationFailed) naming what could not be written.
void updateExpected(const std::filesystem::path &folder, const std::vector<RunReceipt> &receipts);

}  // namespace it433td::tools
