// fuzz_replay_main.cpp - runs a fuzz target's entry point on files, without
// libFuzzer: every regular file of each folder given (or the file itself).
// Linked with each tests/*/fuzz_*.cpp, it makes the committed seed corpus an
// ordinary test in every build, gcc included. A finding aborts, as it does
// under libFuzzer; no input at all is a failure too (a misnamed folder).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

int main(int argc, char **argv) {
  namespace fs = std::filesystem;
  int inputs = 0;
  for (int i = 1; i < argc; ++i) {
    std::vector<fs::path> files;
    if (fs::is_directory(argv[i])) {
      for (const auto &entry : fs::directory_iterator(argv[i]))
        if (entry.is_regular_file()) files.push_back(entry.path());
    } else {
      files.emplace_back(argv[i]);
    }
    for (const fs::path &file : files) {
      std::ifstream in(file, std::ios::binary);
      if (!in) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return 1;
      }
      const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      // A copy of exactly the input's size, so ASan sees a read past its end.
      const std::vector<std::uint8_t> input(bytes.begin(), bytes.end());
      std::fprintf(stderr, "%s\n", file.c_str());
      LLVMFuzzerTestOneInput(input.data(), input.size());
      ++inputs;
    }
  }
  std::printf("replayed %d inputs\n", inputs);
  return inputs > 0 ? 0 : 1;
}
