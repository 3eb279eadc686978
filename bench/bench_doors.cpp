// The doors of `emulate`, as a program feels them: a network job over
// loopback TCP, and a pseudo-terminal paced like a 57600-baud line; and the
// memory a 16 MiB network job leaves held. The files go to a folder in
// tmpfs (/dev/shm) where there is one.
#include <benchmark/benchmark.h>

#include "emulator/doors/network_door.h"
#include "emulator/doors/pty_door.h"
#include "receipt_writer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace it433td::tools;
using it433td::printer::PrinterState;
using it433td::printer::ReceiptWriter;

fs::path freshFolder() {
  std::string pattern = (::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
  pattern += "/bench-doors-XXXXXX";
  if (!::mkdtemp(pattern.data())) std::abort();
  return pattern;
}

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

int connectTo(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) return fd;
  ::close(fd);
  return -1;
}

// False once the door takes no more (past a job's limits).
bool sendAll(int fd, const std::string &bytes) {
  for (std::size_t sent = 0; sent < bytes.size();) {
    const ssize_t wrote = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (wrote <= 0) return false;
    sent += static_cast<std::size_t>(wrote);
  }
  return true;
}

// One job, `times` times `bytes`, sent as far as the door takes it, and closed.
void sendJob(std::uint16_t port, const std::string &bytes, int times = 1) {
  const int fd = connectTo(port);
  for (int time = 0; fd >= 0 && time < times && sendAll(fd, bytes); ++time) {
  }
  if (fd >= 0) ::close(fd);
}

// This process's resident memory, or its peak ("VmHWM"), in MB.
double residentMegabytes(const std::string &field = "VmRSS") {
  std::ifstream status("/proc/self/status");
  for (std::string name; status >> name;) {
    double kilobytes = 0;
    if (name == field + ":" && status >> kilobytes) return kilobytes / 1024;
  }
  return 0;
}

// One connection carrying 20 receipts of 40 lines, until all are written.
void networkJob(benchmark::State &state) {
  const std::string job = textReceipts(20, 40);
  const fs::path folder = freshFolder();
  ReceiptWriter writer(folder, nullptr);
  std::atomic<PrinterState> printerState{PrinterState::Online};
  const DoorContext context{writer, printerState, nullptr};
  NetworkDoorOptions options;
  options.port = "0";
  NetworkDoor listener(options, context);
  listener.start();
  std::size_t expected = 0;
  for (auto _ : state) {
    sendJob(listener.port(), job);
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
  ReceiptWriter writer(folder, nullptr);
  std::atomic<PrinterState> printerState{PrinterState::Online};
  PtyDoorOptions options;
  options.baud = 57600;
  PtyDoor server(std::move(options), {writer, printerState, nullptr});
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
    while (writer.transcriptsWritten().size() < expected + 1)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ++expected;
  }
  server.stop();
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(job.size()));
  fs::remove_all(folder);
}
BENCHMARK(pacedPort15000Bytes)->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// The memory held 5 s after a 16 MiB network job of receipt text (it prints
// 80 m of paper, its limit, and the door refuses the rest), beside the
// level before it, once the fonts are loaded by a first receipt.
void memoryAfterA16MiBJob(benchmark::State &state) {
  std::string lines;  // 64 KiB of them, sent 256 times
  while (lines.size() < 65536) lines += "Item 12 ....... 12,34 " + std::string(25, 'x') + "\n";
  lines.resize(65536);
  const fs::path folder = freshFolder();
  ReceiptWriter writer(folder, nullptr);
  std::atomic<PrinterState> printerState{PrinterState::Online};
  NetworkDoorOptions options;
  options.port = "0";
  NetworkDoor listener(options, {writer, printerState, nullptr});
  listener.start();
  sendJob(listener.port(), "first receipt\n\x1Bw");
  waitForReceipts(writer, 1);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const double before = residentMegabytes();
  for (auto _ : state) {
    sendJob(listener.port(), lines, 256);
    std::size_t written = 0;
    do {  // the job has ended once no receipt comes for a second
      written = writer.transcriptsWritten().size();
      std::this_thread::sleep_for(std::chrono::seconds(1));
    } while (writer.transcriptsWritten().size() != written);
    writer.drain();
    state.PauseTiming();
    std::this_thread::sleep_for(std::chrono::seconds(5));
    state.ResumeTiming();
  }
  state.counters["before_MB"] = before;
  state.counters["peak_MB"] = residentMegabytes("VmHWM");
  state.counters["after_5s_MB"] = residentMegabytes();
  listener.stop();
  fs::remove_all(folder);
}
BENCHMARK(memoryAfterA16MiBJob)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
