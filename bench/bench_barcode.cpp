// Rendering a QR code into both files (bitmap and printer file) at the
// driver's values: ECC M, indent 16, 3 dots per module. The files go to a
// folder in tmpfs (/dev/shm) where there is one, so the figures measure the
// library rather than the disk. Counters: the printer file's size and the
// time it takes on the printer's line (57600 baud, 11 bits a byte).
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "P32GeCodeBar.h"

namespace {

std::string scratchFolder() {
  static std::string folder;
  if (folder.empty()) {
    std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    pattern += "/bench-barcode-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    folder = pattern;
  }
  return folder;
}

long fileSize(const std::string &path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

void renderBothFiles(benchmark::State &state) {
  const auto length = static_cast<size_t>(state.range(0));
  std::string payload(length, '\0');
  for (size_t i = 0; i < length; ++i) payload[i] = static_cast<char>(i * 131 + 7);
  const std::string bmp = scratchFolder() + "/qrCode.bmp";
  const std::string prn = scratchFolder() + "/qrCode.prn";
  for (auto _ : state) {
    CODEBAR32_PGeCodeBarInicia();
    const int32_t status = CODEBAR32_PGeCodeBarQRCODE(
        'M', 16, 3, payload.data(), static_cast<int32_t>(length), bmp.c_str(), prn.c_str());
    CODEBAR32_PGeCodeBarFinaliza();
    if (status != P32GECODEBAR_OK) {
      state.SkipWithError(p32gecodebar_status_name(status));
      break;
    }
  }
  const long printerBytes = fileSize(prn);
  state.counters["prn_bytes"] = static_cast<double>(printerBytes);
  state.counters["bmp_bytes"] = static_cast<double>(fileSize(bmp));
  state.counters["line_ms"] = static_cast<double>(printerBytes) * 11 * 1000 / 57600;
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(length));
}
BENCHMARK(renderBothFiles)->Arg(200)->Arg(1000)->Unit(benchmark::kMillisecond);

void convertBitmapToPrinterFile(benchmark::State &state) {
  const std::string payload(static_cast<size_t>(state.range(0)), 'b');
  const std::string bmp = scratchFolder() + "/source.bmp";
  const std::string prn = scratchFolder() + "/converted.prn";
  const std::string unused = scratchFolder() + "/source.prn";
  if (CODEBAR32_PGeCodeBarQRCODE('M', 16, 3, payload.data(), static_cast<int32_t>(payload.size()),
                                 bmp.c_str(), unused.c_str()) != P32GECODEBAR_OK) {
    state.SkipWithError("rendering the source bitmap failed");
    return;
  }
  for (auto _ : state) {
    const int32_t status = CODEBAR32_PGeBMPtoPRN(bmp.c_str(), prn.c_str(), 16);
    if (status != P32GECODEBAR_OK) {
      state.SkipWithError(p32gecodebar_status_name(status));
      break;
    }
  }
}
BENCHMARK(convertBitmapToPrinterFile)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const std::string folder = scratchFolder();
  for (const char *name : {"qrCode.bmp", "qrCode.prn", "source.bmp", "source.prn", "converted.prn"})
    std::remove((folder + "/" + name).c_str());
  rmdir(folder.c_str());
  return 0;
}
