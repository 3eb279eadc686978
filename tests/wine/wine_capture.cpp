// wine_capture: runs the Windows host under Wine with COM1 on a
// pseudo-terminal and keeps what reached the port.
//
//   wine_capture OUT_DIR      (the width from ctest: wine_width.h)
//
// The width's bin folder holds Pkg_Vossik.dll, MEGENCOM32.dll,
// P32GeCodeBar.dll and host_win.exe; IT433TD_WINE_DIR the prepared prefix
// (prefix/, COM1 registered to ports/com1) and ports/. The program opens a
// pty, points ports/com1 at its slave, copies the host and DLLs with an empty
// Dados folder into OUT_DIR/stage, runs host_win.exe there under the width's
// loader and reads the master the whole time.
// It leaves in OUT_DIR the captured bytes, the host's output and the pty's
// line settings, for the checks to judge. Exit 0 when the host ran to its
// end; 1 with a message otherwise.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "wine_process.h"
#include "wine_scenario.h"
#include "wine_width.h"

namespace fs = std::filesystem;
using namespace it433td::wine_test;

namespace {

constexpr auto kHostTimeout = std::chrono::seconds(60);

[[noreturn]] void fail(const std::string &what) {
  std::fprintf(stderr, "wine_capture: %s\n", what.c_str());
  std::exit(1);
}

struct Pty {
  int master = -1;
  int slave = -1;  // held open for the whole run: the line settings live on
  std::string slavePath;
};

Pty openPty() {
  Pty pty;
  pty.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (pty.master < 0 || grantpt(pty.master) != 0 || unlockpt(pty.master) != 0)
    fail("no pseudo-terminal");
  pty.slavePath = ptsname(pty.master);
  pty.slave = open(pty.slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (pty.slave < 0) fail("cannot open " + pty.slavePath);
  return pty;
}

void pointLink(const fs::path &link, const fs::path &target) {
  std::error_code ignored;
  fs::remove(link, ignored);
  fs::create_directories(link.parent_path());
  fs::create_symlink(target, link);
}

void stageHost(const fs::path &bin, const fs::path &stage) {
  fs::remove_all(stage);
  fs::create_directories(stage / "Dados");
  for (const char *file : {"Pkg_Vossik.dll", "MEGENCOM32.dll", "P32GeCodeBar.dll", "host_win.exe"}) {
    if (!fs::exists(bin / file)) fail("missing " + (bin / file).string());
    fs::copy_file(bin / file, stage / file);
  }
}

// Reads the master until told to stop; a pty whose slave side is closed by
// every other holder still reads fine, as we hold the slave ourselves.
void readMaster(int master, std::atomic<bool> &stop, std::vector<char> &bytes) {
  char chunk[4096];
  while (!stop.load()) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    ssize_t got = read(master, chunk, sizeof chunk);
    if (got > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  }
}

int runHost(const std::string &loader, const fs::path &prefix, const fs::path &stage,
            const fs::path &out) {
  const pid_t child = startWine({loader, "host_win.exe", kPort, kText, kCode128, kQrData}, stage,
                                out / kHostOutputFile, prefix);
  if (child < 0) fail("fork failed");
  const int status = finishWine(child, kHostTimeout);
  if (status < 0) fail("the host did not finish within 60 s");
  return status;
}

void writeFile(const fs::path &path, const std::vector<char> &bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file) fail("cannot write " + path.string());
}

void writeLineSettings(int slave, const fs::path &path) {
  termios t{};
  if (tcgetattr(slave, &t) != 0) fail("tcgetattr on the pty failed");
  std::ofstream file(path, std::ios::trunc);
  const speed_t speed = cfgetospeed(&t);
  file << "speed57600 " << (speed == B57600 ? 1 : 0) << "\n"
       << "cs8 " << ((t.c_cflag & CSIZE) == CS8 ? 1 : 0) << "\n"
       << "crtscts " << ((t.c_cflag & CRTSCTS) != 0 ? 1 : 0) << "\n"
       << "opost " << ((t.c_oflag & OPOST) != 0 ? 1 : 0) << "\n";
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: wine_capture OUT_DIR\n");
    return 2;
  }
  const WineWidth width = wineWidth();
  const fs::path wineDir = IT433TD_WINE_DIR;
  const std::string loader = width.loader;
  const fs::path out = argv[1];
  const fs::path prefix = wineDir / "prefix";
  const fs::path portLink = wineDir / "ports" / "com1";
  if (!fs::exists(prefix / "system.reg"))
    fail("no prepared Wine prefix in " + prefix.string() + ": run scripts/wine-test.sh");
  fs::create_directories(out);
  const fs::path stage = out / kStageFolder;
  stageHost(width.bin, stage);

  Pty pty = openPty();
  pointLink(portLink, pty.slavePath);
  // The prefix's registry names ports/com1 as COM1, so Wine keeps this link.
  pointLink(prefix / "dosdevices" / "com1", portLink);

  std::atomic<bool> stop{false};
  std::vector<char> captured;
  std::thread reader(readMaster, pty.master, std::ref(stop), std::ref(captured));
  const auto started = std::chrono::steady_clock::now();
  const int hostStatus = runHost(loader, prefix, stage, out);
  const auto took = std::chrono::steady_clock::now() - started;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the last bytes in flight
  stop = true;
  reader.join();

  writeFile(out / kCaptureFile, captured);
  writeLineSettings(pty.slave, out / kLineSettingsFile);
  std::printf("host_win (%s) ran %lld ms under Wine, exit %d; %zu bytes reached COM1\n",
              width.name.c_str(), static_cast<long long>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(took).count()),
              hostStatus, captured.size());

  std::error_code ignored;
  if (fs::read_symlink(prefix / "dosdevices" / "com1", ignored) != portLink)
    fail("Wine remapped COM1 away from the pty: the prefix lacks the COM1 entry "
         "under HKLM\\Software\\Wine\\Ports; run scripts/wine-test.sh");
  if (hostStatus != 0) fail("host_win.exe exited with " + std::to_string(hostStatus));
  return 0;
}
