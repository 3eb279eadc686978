// The virtual printer's cost of what it is sent, as `it433td render` pays it:
// decoding, laying out, drawing and writing receipt files. Random bytes are
// the worst junk a port can carry (a wrong baud rate, a binary file sent to
// the printer); a tall text receipt is the most paper one receipt can hold.
// The demo receipt, as the module sends it, a thousand times over is a busy
// till's day. Then the ports of `emulate`: a network job over loopback TCP,
// and a pseudo-terminal paced like a 57600-baud line.
// The files go to a folder in tmpfs (/dev/shm) where there is one.
#include <benchmark/benchmark.h>

#include "pty_server.h"
#include "receipt_folder.h"
#include "receipt_writer.h"
#include "tcp_listener.h"
#include "virtual_printer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <thread>
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

// bench/demo-receipt.prn: tools/demo-receipt.txt printed through the module
// and both stand-ins into a file (`it433td print --port FILE ...`), text,
// CODE128, QR printer file and cut.
void demoReceipts(benchmark::State &state) {
  std::ifstream in(IT433TD_DEMO_STREAM, std::ios::binary);
  const std::string demo{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (demo.empty()) return state.SkipWithError("cannot read " IT433TD_DEMO_STREAM);
  std::string stream;
  for (std::int64_t i = 0; i < state.range(0); ++i) stream += demo;
  printStream(state, stream);
}
BENCHMARK(demoReceipts)->Arg(1000)->Unit(benchmark::kSecond);

std::string textReceipts(int receipts, int lines) {
  std::string stream;
  for (int r = 0; r < receipts; ++r) {
    for (int line = 0; line < lines; ++line) stream += "Item " + std::to_string(line) + " ....... 12,34\n";
    stream += "\x1Bw";
  }
  return stream;
}

void waitForReceipts(const ReceiptWriter &writer, std::size_t count) {
  while (writer.transcriptsWritten().size() < count)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// One connection carrying 20 receipts of 40 lines, until all are written.
void networkJob(benchmark::State &state) {
  const std::string job = textReceipts(20, 40);
  const fs::path folder = freshFolder();
  ReceiptWriter writer(folder, nullptr);
  std::atomic<PrinterState> printerState{PrinterState::Online};
  TcpListenerOptions options;
  options.port = "0";
  TcpListener listener(options, writer, printerState);
  listener.start();
  std::size_t expected = 0;
  for (auto _ : state) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(listener.port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::send(fd, job.data(), job.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(job.size()))
      state.SkipWithError("cannot send the job");
    ::close(fd);
    waitForReceipts(writer, expected += 20);
  }
  listener.stop();
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(job.size()));
  fs::remove_all(folder);
}
BENCHMARK(networkJob)->Unit(benchmark::kMillisecond)->UseRealTime();

// A 15,000-byte job through a pseudo-terminal read at 57600 baud: the time a
// QR printer file of that size takes on the real line (about 2.86 s).
void pacedPort15000Bytes(benchmark::State &state) {
  std::string job;
  while (job.size() < 15'000) job += std::string(47, 'x') + "\n";
  job.resize(15'000 - 2);
  job += "\x1Bw";
  const fs::path folder = freshFolder();
  PtyServerOptions options;
  options.outputFolder = folder;
  options.bytesPerSecond = lineBytesPerSecond(57600);
  PtyServer server(options);
  server.start();
  std::size_t expected = 0;
  for (auto _ : state) {
    const int fd = ::open(server.slavePath().c_str(), O_WRONLY | O_NOCTTY);
    for (std::size_t sent = 0; fd >= 0 && sent < job.size();) {
      const ssize_t wrote = ::write(fd, job.data() + sent, job.size() - sent);
      if (wrote <= 0) break;
      sent += static_cast<std::size_t>(wrote);
    }
    ::close(fd);
    while (server.transcriptsWritten().size() < expected + 1)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ++expected;
  }
  server.stop();
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(job.size()));
  fs::remove_all(folder);
}
BENCHMARK(pacedPort15000Bytes)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
