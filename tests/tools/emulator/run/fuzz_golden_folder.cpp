// fuzz_golden_folder.cpp - the golden-folder reader and the golden file
// names on arbitrary input.
//
// The input describes a folder (up to 8 entries: regular files with their
// bytes, symbolic links to a secret file outside it, FIFOs, folders, files
// swapped for a link after the folder was checked), which is made in a
// fresh temporary folder and read as --expect reads it: every file read
// must be a regular file of the folder with exactly its bytes; a link, a
// FIFO or a swapped file is refused (never followed, never waited on). The
// same input, split at its first NUL, is two labels: a label accepted gets
// a safe file name (no '/', no leading '.', no control byte, at most 240
// bytes, never NAME-<digits>), and two different labels never share one.
#include "emulator/run/expected_receipts.h"
#include "emulator/run/golden_names.h"
#include "common/tool_error.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace it433td::tools;

namespace {

[[noreturn]] void fault(const std::string &what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  std::abort();
}

void checkLabels(const std::string &input) {
  const std::size_t nul = input.find('\0');
  const std::string a = input.substr(0, nul),
                    b = nul == std::string::npos ? "" : input.substr(nul + 1);
  for (const std::string &label : {a, b}) {
    if (!labelProblem(label).empty()) continue;
    const std::string stem = labelStem(label);
    if (stem.empty() || stem.size() > kMaxLabelStemBytes || stem[0] == '.' ||
        stem.find('/') != std::string::npos || stem.find("..") == 0)
      fault("unsafe name for label \"" + label + "\": " + stem);
    for (const char c : stem)
      if (static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) >= 0x7F)
        fault("unsafe byte in the name of \"" + label + "\": " + stem);
    const std::size_t dash = stem.find_last_not_of("0123456789");
    if (dash != std::string::npos && dash != stem.size() - 1 && stem[dash] == '-')
      fault("a second receipt's name: " + stem);
  }
  if (a != b && labelProblem(a).empty() && labelProblem(b).empty() && labelStem(a) == labelStem(b))
    fault("two labels, one name: " + labelStem(a));
}

struct Folder {
  Folder() {
    std::string name = (fs::temp_directory_path() / "it433td-golden-fuzz-XXXXXX").string();
    if (!::mkdtemp(name.data())) fault("no temporary folder");
    root = name;
    fs::create_directory(root / "golden");
    std::ofstream(root / "secret") << "SECRET";
  }
  ~Folder() { fs::remove_all(root); }
  fs::path root;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  checkLabels(std::string(reinterpret_cast<const char *>(data), size));

  Folder folder;
  const fs::path golden = folder.root / "golden";
  std::map<std::string, std::string> files;  // regular ones, by name
  std::vector<std::string> swapped;          // made links after the check
  std::size_t at = 0;
  const auto next = [&] { return at < size ? data[at++] : std::uint8_t{0}; };
  for (int entry = 0; entry < 8 && at < size; ++entry) {
    const int kind = next() % 6;
    std::string name;
    for (int length = next() % 8; length > 0; --length) name += "ab.-%x"[next() % 6];
    if (next() % 4 != 0) name += ".txt";
    if (name.empty() || name == "." || name == ".." ||
        fs::exists(fs::symlink_status(golden / name)))
      continue;
    const fs::path path = golden / name;
    std::string bytes;
    for (int length = next() % 64; length > 0 && at < size; --length)
      bytes += static_cast<char>(next());
    switch (kind) {
      case 0:
      case 1:
        std::ofstream(path, std::ios::binary) << bytes;
        files[name] = bytes;
        break;
      case 2: fs::create_symlink(folder.root / "secret", path); break;
      case 3: ::mkfifo(path.c_str(), 0600); break;
      case 4: fs::create_directory(path); break;
      case 5:
        std::ofstream(path, std::ios::binary) << bytes;
        swapped.push_back(name);
        break;
    }
  }
  try {
    const GoldenFolder read(golden, "--expect");
    for (const std::string &name : swapped) {
      fs::remove(golden / name);
      fs::create_symlink(folder.root / "secret", golden / name);
    }
    for (const std::string &name : read.names()) {
      const auto file = files.find(name);
      std::string content;
      try {
        content = read.read(name);
      } catch (const ToolError &) {
        if (file != files.end()) fault("a regular golden file refused: " + name);
        continue;
      }
      if (file == files.end() || content != file->second)
        fault("read what is no golden file: " + name);
    }
  } catch (const ToolError &error) {
    // Refused: only for an entry named *.txt that is not a regular file.
    bool refusable = false;
    for (const auto &entry : fs::directory_iterator(golden)) {
      const std::string name = entry.path().filename().string();
      refusable |= name.size() > 4 && name[0] != '.' && name.substr(name.size() - 4) == ".txt" &&
                   !fs::is_regular_file(fs::symlink_status(entry.path()));
    }
    if (!refusable) fault(std::string("a good folder refused: ") + error.what());
  }
  return 0;
}
