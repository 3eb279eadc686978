// The virtual printer's cost of what it is sent, as `it433td render` pays it:
// decoding, laying out, drawing and writing receipt files. Random bytes are
// the worst junk a port can carry (a wrong baud rate, a binary file sent to
// the printer); a tall text receipt is the most paper one receipt can hold.
// The files go to a folder in tmpfs (/dev/shm) where there is one.
#include <benchmark/benchmark.h>

#include "receipt_folder.h"
#include "virtual_printer.h"

#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace it433td::printer;

fs::path freshFolder() {
  std::string pattern = (::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
  pattern += "/bench-render-XXXXXX";
  if (!::mkdtemp(pattern.data())) std::abort();
  return pattern;
}

std::uintmax_t folderBytes(const fs::path &folder) {
  std::uintmax_t total = 0;
  for (const auto &entry : fs::directory_iterator(folder)) total += entry.file_size();
  return total;
}

void printStream(benchmark::State &state, const std::string &stream) {
  std::uintmax_t receipts = 0, written = 0;
  for (auto _ : state) {
    const fs::path folder = freshFolder();
    ReceiptFolder files(folder);
    VirtualPrinter printer(
        [&](Receipt &&receipt) {
          std::string error;
          if (files.write(receipt, &error).empty()) state.SkipWithError(error.c_str());
          ++receipts;
        },
        nullptr);
    printer.feed(stream);
    printer.finish();
    written += folderBytes(folder);
    fs::remove_all(folder);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(stream.size()));
  state.counters["receipts"] = benchmark::Counter(static_cast<double>(receipts),
                                                  benchmark::Counter::kAvgIterations);
  state.counters["file_MB"] = benchmark::Counter(static_cast<double>(written) / 1e6,
                                                 benchmark::Counter::kAvgIterations);
}

void randomBytes(benchmark::State &state) {
  std::string stream(static_cast<size_t>(state.range(0)) << 20, '\0');
  std::mt19937_64 random(433);
  for (char &byte : stream) byte = static_cast<char>(random());
  printStream(state, stream);
}
BENCHMARK(randomBytes)->Arg(50)->Iterations(1)->Unit(benchmark::kSecond);

void tallTextReceipt(benchmark::State &state) {
  std::string stream;
  for (int line = 0; line < kMaxReceiptDots / kLineHeightDots; ++line)
    stream += "Item " + std::to_string(line) + std::string(30, '.') + " 12,34\n";
  printStream(state, stream + "\x1Bw");
}
BENCHMARK(tallTextReceipt)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
