// Two tills of one shop under Wine: two host_win.exe processes started from
// one folder (so they share its Dados folder), each on its own COM port
// (COM1 and COM2 of the prepared prefix, each pointed at a pseudo-terminal),
// print QR codes at the same moment through Pkg_Vossik.dll, the real
// ShellExecuteExA and cmd.exe. Every QR code read back from a port must be its
// own till's, none missing.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "barcode_test_support.h"
#include "till_payload.h"
#include "wine_process.h"
#include "wine_width.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using it433td::wine_test::finishWine;
using it433td::wine_test::startWine;

namespace {

constexpr int kRounds = 4;
const fs::path kWineDir = IT433TD_WINE_DIR;
const fs::path kPrefix = kWineDir / "prefix";

std::string readText(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void pointLink(const fs::path &link, const fs::path &target) {
  std::error_code ignored;
  fs::remove(link, ignored);
  fs::create_directories(link.parent_path());
  fs::create_symlink(target, link);
}

// The prefix maps COM1 (scripts/wine-test.sh registers it); COM2 is
// registered here once, the same way, so Wine keeps its link too. Through
// the 64-bit reg.exe, whatever the width under test: a 32-bit one would write
// to the registry's 32-bit view, where Wine does not look for ports.
void registerCom2(const fs::path &portLink) {
  if (readText(kPrefix / "system.reg").find("\"COM2\"=") != std::string::npos) return;
  const pid_t reg = startWine({IT433TD_WINE64, "reg", "add", "HKLM\\Software\\Wine\\Ports",
                               "/v", "COM2", "/d", portLink.string(), "/f"},
                              kWineDir, kWineDir / "reg-com2.txt", kPrefix);
  ASSERT_EQ(finishWine(reg, 60s), 0) << readText(kWineDir / "reg-com2.txt");
  const pid_t wait =
      startWine({"/usr/bin/wineserver", "-w"}, kWineDir, kWineDir / "reg-com2.txt", kPrefix);
  finishWine(wait, 60s);
}

// A pseudo-terminal whose master is drained all along.
class Line {
 public:
  Line() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    slavePath_ = ptsname(master_);
    slave_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);  // settings live on
    reader_ = std::thread([this] {
      char chunk[4096];
      while (!stop_) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        const ssize_t got = read(master_, chunk, sizeof chunk);
        std::lock_guard<std::mutex> hold(mutex_);
        if (got > 0) bytes_.insert(bytes_.end(), chunk, chunk + got);
      }
    });
  }
  ~Line() {
    stop_ = true;
    if (reader_.joinable()) reader_.join();
    close(slave_);
    close(master_);
  }
  const std::string &slavePath() const { return slavePath_; }
  barcode_test::Bytes bytes() {
    std::lock_guard<std::mutex> hold(mutex_);
    return bytes_;
  }

 private:
  int master_ = -1, slave_ = -1;
  std::string slavePath_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  barcode_test::Bytes bytes_;
  std::thread reader_;
};

TEST(WineTwoTills, EachTillPrintsOnlyItsOwnQrCodes) {
  ASSERT_TRUE(fs::exists(kPrefix / "system.reg")) << "run scripts/wine-test.sh --prepare-only";
  const fs::path com2Link = kWineDir / "ports" / "com2";
  const it433td::wine_test::WineWidth width = it433td::wine_test::wineWidth();
  registerCom2(com2Link);

  const fs::path out = fs::path(IT433TD_WINE_OUT) / width.name, stage = out / "stage";
  fs::remove_all(stage);
  fs::create_directories(stage / "Dados");
  for (const char *file : {"Pkg_Vossik.dll", "MEGENCOM32.dll", "P32GeCodeBar.dll", "host_win.exe"})
    fs::copy_file(width.bin / file, stage / file);

  Line line1, line2;
  ASSERT_FALSE(line1.slavePath().empty() || line2.slavePath().empty());
  pointLink(kWineDir / "ports" / "com1", line1.slavePath());
  pointLink(com2Link, line2.slavePath());
  pointLink(kPrefix / "dosdevices" / "com1", kWineDir / "ports" / "com1");
  pointLink(kPrefix / "dosdevices" / "com2", com2Link);

  const struct Till {
    const char *port, *name;
  } tills[] = {{"COM1", "A"}, {"COM2", "B"}};
  std::vector<pid_t> pids;
  for (const Till &till : tills)
    pids.push_back(startWine({width.loader, "host_win.exe", "--qr-rounds", till.port,
                              till.name, std::to_string(kRounds)},
                             stage, out / (std::string("till-") + till.name + ".txt"), kPrefix));
  // Both loaded, their ports open: then both start at once.
  const auto readyBy = std::chrono::steady_clock::now() + 60s;
  auto ready = [&](const char *name) {
    return readText(out / (std::string("till-") + name + ".txt")).find("ready 1") != std::string::npos;
  };
  while (!(ready("A") && ready("B")) && std::chrono::steady_clock::now() < readyBy)
    std::this_thread::sleep_for(10ms);
  std::ofstream(stage / "go") << "go";
  for (pid_t pid : pids) EXPECT_EQ(finishWine(pid, 120s), 0);
  std::this_thread::sleep_for(500ms);  // the last bytes in flight

  Line *lines[] = {&line1, &line2};
  for (int i = 0; i < 2; ++i) {
    const std::string name = tills[i].name;
    SCOPED_TRACE("till " + name);
    std::string output = readText(out / ("till-" + name + ".txt"));
    output.erase(std::remove(output.begin(), output.end(), '\r'), output.end());  // text mode
    for (int round = 0; round < kRounds; ++round)
      EXPECT_NE(output.find("qr_round_" + std::to_string(round) + " 0\n"), std::string::npos)
          << output;
    const barcode_test::Paper paper = barcode_test::printOnPaper(lines[i]->bytes());
    ASSERT_TRUE(paper.wellFormed) << paper.problem;
    std::vector<std::string> decoded, expected;
    for (const auto &payload : barcode_test::decodeWithZbar(paper.image))
      decoded.emplace_back(payload.begin(), payload.end());
    for (int round = 0; round < kRounds; ++round) expected.push_back(tillPayload(name, round));
    std::sort(decoded.begin(), decoded.end());
    EXPECT_EQ(decoded, expected);
  }
}

}  // namespace
