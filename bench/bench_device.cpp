// Throughput of MEGENCOM32_EscrevernoDispositivo over a pseudo-terminal,
// with a thread draining the master as a fast printer would.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "MEGENCOM32.h"

namespace {

class DrainedPty {
 public:
  DrainedPty() {
    char name[128] = {};
    openpty(&master_, &slave_, name, nullptr, nullptr);
    path_ = name;
    drain_ = std::thread([this] {
      std::vector<char> sink(1 << 16);
      while (!stop_) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, 10) > 0) (void)!read(master_, sink.data(), sink.size());
      }
    });
  }
  ~DrainedPty() {
    stop_ = true;
    drain_.join();
    close(slave_);
    close(master_);
  }
  const char *path() const { return path_.c_str(); }

 private:
  int master_ = -1, slave_ = -1;
  std::string path_;
  std::atomic<bool> stop_{false};
  std::thread drain_;
};

void bmWriteOverPty(benchmark::State &state) {
  DrainedPty pty;
  if (MEGENCOM32_AbrirDispositivo(pty.path(), 57600, 'S', 8, 1, 1) != MEGENCOM32_OK) {
    state.SkipWithError("open failed");
    return;
  }
  const std::vector<char> block(static_cast<size_t>(state.range(0)), 'x');
  for (auto _ : state) {
    int32_t written = 0;
    int32_t status = MEGENCOM32_EscrevernoDispositivo(
        pty.path(), block.data(), static_cast<int32_t>(block.size()), &written);
    if (status != MEGENCOM32_OK) {
      state.SkipWithError("write failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
  MEGENCOM32_FecharDispositivo(pty.path());
}
BENCHMARK(bmWriteOverPty)->Arg(1024)->Arg(64 * 1024)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
