// A QR code through the built module: the printer file rendered in Dados
// beside this program, copied raw by a detached process to the port's
// target through an IT433TD_PORTS folder, and the port reopened after the
// printer's 3000 ms.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "loaded_module.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using PrintQr = int32_t (*)(const char *, const char *, int32_t);

std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string executable_folder() {
  char path[4096] = {};
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  std::string exe(path, n > 0 ? size_t(n) : 0);
  return exe.substr(0, exe.rfind('/'));
}

class ModuleQrCode : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_FRESH_PROCESS();
    char pattern[] = "/tmp/qr-ports-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    ports_ = pattern;
    target_ = ports_ + ".out";
    ASSERT_EQ(symlink(target_.c_str(), (ports_ + "/PRN9").c_str()), 0);
    setenv("IT433TD_PORTS", ports_.c_str(), 1);
    dados_ = executable_folder() + "/Dados";
    mkdir(dados_.c_str(), 0755);
    std::remove((dados_ + "/qrCode.prn").c_str());
    std::remove((dados_ + "/qrCode.bmp").c_str());
  }
  void TearDown() override {
    std::remove((ports_ + "/PRN9").c_str());
    rmdir(ports_.c_str());
    std::remove(target_.c_str());
  }
  std::string ports_, target_, dados_;
};

TEST_F(ModuleQrCode, TheRenderedFileReachesThePortAndThePortIsReopenedAfterThreeSeconds) {
  LoadedModule module("full");
  ASSERT_TRUE(module.start());
  const std::string payload("00020126\0pix", 12);
  const auto before = Clock::now();
  EXPECT_EQ(module.function<PrintQr>("ImprimeQRCode_IT433TD")("prn9", payload.data(), 12), 0);
  EXPECT_GE(std::chrono::duration_cast<milliseconds>(Clock::now() - before).count(), 3000);

  FakeVendor *device = module.fake_in("DLLMEGENCOM32");
  const auto closed = device->calls_of("MEGENCOM32_FecharDispositivo");
  const auto opened = device->calls_of("MEGENCOM32_AbrirDispositivo");
  ASSERT_EQ(closed.size(), 1u);
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_GE(std::chrono::duration_cast<milliseconds>(opened[0].when - closed[0].when).count(), 3000);
  EXPECT_EQ(opened[0].numbers, (std::vector<int64_t>{0, 0, 0, 0, 0}));

  EXPECT_EQ(read_file(dados_ + "/qrCode.prn"), fake_printer_file(payload));
  EXPECT_EQ(read_file(target_), fake_printer_file(payload));  // the copy ran
  // The copy left no child behind in this process.
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
}

TEST_F(ModuleQrCode, WithoutTheDadosFolderNothingIsCopiedAndTheResultSaysSo) {
  ASSERT_EQ(rmdir(dados_.c_str()), 0);
  LoadedModule module("full");
  ASSERT_TRUE(module.start());
  EXPECT_EQ(module.function<PrintQr>("ImprimeQRCode_IT433TD")("PRN9", "x", 1),
            IT433TD_NOT_RENDERED);
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_NE(access(target_.c_str(), F_OK), 0);
  EXPECT_EQ(module.fake_in("DLLMEGENCOM32")->calls_of("MEGENCOM32_AbrirDispositivo").size(), 1u);
}

// A name mapped to a device that is not there (an unplugged adapter) must
// not become a regular file in /dev that the next open takes for the port.
TEST_F(ModuleQrCode, TheCopyNeverMakesAFileWhereADeviceBelongs) {
  const std::string absent = "/dev/it433td-absent-" + std::to_string(getpid());
  ASSERT_EQ(symlink(absent.c_str(), (ports_ + "/COM9").c_str()), 0);
  LoadedModule module("full");
  ASSERT_TRUE(module.start());
  EXPECT_EQ(module.function<PrintQr>("ImprimeQRCode_IT433TD")("COM9", "x", 1), 0);
  std::this_thread::sleep_for(milliseconds(300));
  const bool made = access(absent.c_str(), F_OK) == 0;
  std::remove(absent.c_str());
  std::remove((ports_ + "/COM9").c_str());
  EXPECT_FALSE(made);
}

// Everything the master side of a pty receives until `quiet_ms` pass with
// nothing new.
std::string drain(int master, int quiet_ms) {
  std::string got;
  pollfd ready{master, POLLIN, 0};
  char buffer[4096];
  while (poll(&ready, 1, quiet_ms) > 0) {
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, size_t(n));
  }
  return got;
}

class ModuleQrCodeOnATerminal : public ModuleQrCode {
 protected:
  void SetUp() override {
    ModuleQrCode::SetUp();
    if (IsSkipped()) return;
    char slave_path[256];
    ASSERT_EQ(openpty(&master_, &slave_, slave_path, nullptr, nullptr), 0);
    std::remove((ports_ + "/PRN9").c_str());
    ASSERT_EQ(symlink(slave_path, (ports_ + "/PRN9").c_str()), 0);
  }
  void TearDown() override {
    close(master_);
    close(slave_);
    ModuleQrCode::TearDown();
  }
  int master_ = -1, slave_ = -1;
};

// A new terminal translates "\n" into "\r\n"; the printer file must arrive
// byte for byte, so the copy writes the terminal raw.
TEST_F(ModuleQrCodeOnATerminal, TheCopyWritesThePrinterFileRawToTheTerminal) {
  LoadedModule module("full");
  ASSERT_TRUE(module.start());
  const std::string payload("linha 1\nlinha 2\n\0\xFF", 18);
  EXPECT_EQ(module.function<PrintQr>("ImprimeQRCode_IT433TD")("PRN9", payload.data(), 18), 0);
  EXPECT_EQ(drain(master_, 200), fake_printer_file(payload));
}

// The copy takes the same exclusive hold as the device library: while
// another holder keeps the port, it writes nothing rather than mix its bytes
// with someone else's.
TEST_F(ModuleQrCodeOnATerminal, TheCopyWritesNothingWhileAnotherHolderKeepsThePort) {
  ASSERT_EQ(flock(slave_, LOCK_EX | LOCK_NB), 0);
  LoadedModule module("full");
  ASSERT_TRUE(module.start());
  EXPECT_EQ(module.function<PrintQr>("ImprimeQRCode_IT433TD")("PRN9", "x", 1), 0);
  EXPECT_EQ(drain(master_, 200), "");
}

}  // namespace
