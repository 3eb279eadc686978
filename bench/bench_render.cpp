// The virtual printer's cost of what it is sent, as `it433td render` pays it:
// decoding, laying out, drawing and writing receipt files. Random bytes are
// the worst junk a port can carry (a wrong baud rate, a binary file sent to
// the printer); a tall text receipt is the most paper one receipt can hold.
// The demo receipt, as the module sends it, a thousand times over is a busy
// till's day; a library's ESC/POS receipt as often, the ESC/POS model's.
// The files go to a folder in tmpfs (/dev/shm) where there is one.
#include <benchmark/benchmark.h>

#include "receipt_folder.h"
#include "virtual_printer.h"

#include <filesystem>
#include <fstream>
#include <iterator>
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

void printStream(benchmark::State &state, const std::string &stream, PrinterSetup setup = {}) {
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
        nullptr, setup);
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
  // Seconds a receipt, decoded, drawn and written.
  state.counters["s_per_receipt"] = benchmark::Counter(
      static_cast<double>(receipts), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
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

// A captured stream's bytes `times` over; empty when the file cannot be read.
std::string repeatedFile(const char *path, std::int64_t times) {
  std::ifstream in(path, std::ios::binary);
  const std::string once{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::string stream;
  for (std::int64_t i = 0; i < times; ++i) stream += once;
  return stream;
}

// bench/demo-receipt.prn: tools/demo-receipt.txt printed through the module
// and both stand-ins into a file (`it433td print --port FILE ...`), text,
// CODE128, QR printer file and cut.
void demoReceipts(benchmark::State &state) {
  const std::string stream = repeatedFile(IT433TD_DEMO_STREAM, state.range(0));
  if (stream.empty()) return state.SkipWithError("cannot read " IT433TD_DEMO_STREAM);
  printStream(state, stream);
}
BENCHMARK(demoReceipts)->Arg(1000)->Unit(benchmark::kSecond);

// The ESC/POS model on a common library's bakery receipt (styled cp860
// text, CODE128 read back off its bars, a native QR code, two images, a
// cut), a thousand times over: close to the IT433TD's demo receipt.
void escposLibraryReceipts(benchmark::State &state) {
  const std::string stream = repeatedFile(IT433TD_ESCPOS_STREAM, state.range(0));
  if (stream.empty()) return state.SkipWithError("cannot read " IT433TD_ESCPOS_STREAM);
  printStream(state, stream, PrinterSetup{Model::Escpos, 80});
}
BENCHMARK(escposLibraryReceipts)->Arg(1000)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
