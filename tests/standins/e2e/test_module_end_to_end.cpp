// The built module with our two libraries, as a host uses it: loaded with
// dlopen, functions looked up by their plain names, a printer on "COM1"
// that is really a pseudo-terminal. Every byte the printer receives is
// checked, and the QR code is read back from those bytes by zbar and
// zxing-cpp.
#include <dlfcn.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "Cli_Vossik.h"
#include "barcode_test_support.h"
#include "executable_path_posix.h"
#include "pty_line.h"
#include "till_payload.h"

extern char **environ;

using barcode_test::Bytes;
using barcode_test::bytesOf;

namespace {

using Start = bool (*)();
using OnPort = int32_t (*)(const char *);
using WithData = int32_t (*)(const char *, const char *, int32_t);

// The module's exports by plain name, from the built module beside our
// device and barcode libraries (it finds them itself).
class Host {
 public:
  Host() {
    handle_ = dlopen(IT433TD_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw std::runtime_error(dlerror());
    start = find<Start>("StartIT433TD");
    openPort = find<OnPort>("IniciaPorta_IT433TD");
    closePort = find<OnPort>("FechaPorta_IT433TD");
    text = find<WithData>("FormataTX_IT433TD");
    code128 = find<WithData>("ImprimeCODE128_IT433TD");
    cut = find<OnPort>("AcionaGuilhotina_IT433TD");
    qrCode = find<WithData>("ImprimeQRCode_IT433TD");
  }
  ~Host() { dlclose(handle_); }
  Host(const Host &) = delete;
  Host &operator=(const Host &) = delete;

  Start start;
  OnPort openPort, closePort, cut;
  WithData text, code128, qrCode;

 private:
  template <typename Function>
  Function find(const char *name) {
    void *address = dlsym(handle_, name);
    if (address == nullptr) throw std::runtime_error(std::string("no export ") + name);
    return reinterpret_cast<Function>(address);
  }
  void *handle_ = nullptr;
};

int32_t call(WithData operation, const char *port, const Bytes &data) {
  return operation(port, reinterpret_cast<const char *>(data.data()), static_cast<int32_t>(data.size()));
}

Bytes condensed(const Bytes &text) {
  Bytes frame{0x0F};
  frame.insert(frame.end(), text.begin(), text.end());
  frame.push_back(0x12);
  return frame;
}

Bytes code128Command(const Bytes &data) {
  Bytes command{0x1B, 0x7C, 0x33, 0x30, 0x01, 0x00, static_cast<uint8_t>(data.size())};
  command.insert(command.end(), data.begin(), data.end());
  return command;
}

speed_t outputSpeed(const termios &settings) { return cfgetospeed(&settings); }

void append(Bytes &to, const Bytes &more) { to.insert(to.end(), more.begin(), more.end()); }

std::string executableFolder() {
  const std::string exe = it433td::executablePath();
  return exe.substr(0, exe.rfind('/'));
}

std::string hex(const Bytes &bytes, size_t from, size_t count) {
  std::string out;
  char buf[4];
  for (size_t i = from; i < bytes.size() && i < from + count; ++i) {
    std::snprintf(buf, sizeof buf, "%02X ", bytes[i]);
    out += buf;
  }
  return out;
}

// Where two byte strings first differ, for a readable failure.
std::string firstDifference(const Bytes &got, const Bytes &expected) {
  size_t at = 0;
  while (at < got.size() && at < expected.size() && got[at] == expected[at]) ++at;
  return "sizes " + std::to_string(got.size()) + " / " + std::to_string(expected.size()) +
         ", first difference at " + std::to_string(at) + ": got " + hex(got, at, 12) +
         "expected " + hex(expected, at, 12);
}

class ModuleEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    dados_ = executableFolder() + "/Dados";
    mkdir(dados_.c_str(), 0755);
    std::remove((dados_ + "/qrCode.prn").c_str());
    std::remove((dados_ + "/qrCode.bmp").c_str());
    std::remove((dados_ + "/qrCode.lock").c_str());  // so that a case may remove Dados
  }
  std::string dados_;
};

struct QrPayload {
  const char *name;
  Bytes bytes;
};
void PrintTo(const QrPayload &p, std::ostream *os) { *os << p.name; }

class ReceiptOverPty : public ModuleEndToEnd, public ::testing::WithParamInterface<QrPayload> {};

// Text, CODE128, cut, QR code, text again, close: the printer receives
// exactly the frames of each operation, the QR printer file in between, and
// the port is open again (and still at 57600 baud) after the QR code.
TEST_P(ReceiptOverPty, ThePrinterReceivesExactlyTheReceiptAndTheQrDecodes) {
  PtyLine line("COM1");  // before the module's first call: it maps COM1 to the pty
  Host host;
  ASSERT_TRUE(host.start());
  ASSERT_EQ(host.openPort("COM1"), 0);
  // A pty keeps the speed; the kernel forces 8 data bits without parity (no wire).
  EXPECT_EQ(outputSpeed(line.slaveSettings()), B57600);

  const Bytes text = bytesOf(std::string("CUPOM\0FISCAL\n", 13));
  const Bytes barcode = bytesOf("7891234567895");
  const Bytes afterQr = bytesOf("obrigado\n");
  const Bytes &payload = GetParam().bytes;

  EXPECT_EQ(call(host.text, "COM1", text), 0);
  EXPECT_EQ(call(host.code128, "COM1", barcode), 0);
  EXPECT_EQ(host.cut("COM1"), 0);
  EXPECT_EQ(call(host.qrCode, "COM1", payload), 0) << "the port is open again";
  EXPECT_EQ(call(host.text, "COM1", afterQr), 0) << "a text reaches the printer after the QR code";
  EXPECT_EQ(outputSpeed(line.slaveSettings()), B57600) << "reopened with the line settings";
  EXPECT_EQ(host.closePort("COM1"), 0);

  const auto printerFile = barcode_test::readFile(dados_ + "/qrCode.prn");
  ASSERT_TRUE(printerFile.has_value()) << "no Dados/qrCode.prn";
  Bytes expected = condensed(text);
  append(expected, code128Command(barcode));
  expected.push_back(0x0A);
  append(expected, {0x1B, 0x77});
  const size_t qrAt = expected.size();
  append(expected, *printerFile);
  append(expected, condensed(afterQr));

  line.receivedAtLeast(expected.size(), 3000);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // anything more would show now
  const Bytes received = line.receivedAtLeast(0, 0);
  ASSERT_EQ(received, expected) << firstDifference(received, expected);

  // The QR code as the printer received it, put on paper and read back.
  const Bytes qrBytes(received.begin() + static_cast<ptrdiff_t>(qrAt),
                      received.begin() + static_cast<ptrdiff_t>(qrAt + printerFile->size()));
  const barcode_test::Paper paper = barcode_test::printOnPaper(qrBytes);
  ASSERT_TRUE(paper.wellFormed) << paper.problem;
  const std::vector<Bytes> zbar = barcode_test::decodeWithZbar(paper.image);
  ASSERT_EQ(zbar.size(), 1u);
  EXPECT_EQ(zbar[0], payload) << "zbar";
  EXPECT_EQ(barcode_test::decodeWithZxing(paper.image), payload) << "zxing-cpp";
}

Bytes binaryPayload() {
  Bytes bytes;
  for (int i = 0; i < 1000; ++i) bytes.push_back(static_cast<uint8_t>(i * 7));  // 0x00 included
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Payloads, ReceiptOverPty,
    ::testing::Values(
        QrPayload{"Ascii", bytesOf("https://nfce.example/qrcode?p=35251112345678000190650010000001231|2|1")},
        QrPayload{"Utf8", bytesOf("Pão de açúcar, coração, €5 — 東京")},
        QrPayload{"Binary1000Bytes", binaryPayload()}),
    [](const auto &test) { return std::string(test.param.name); });

// Without a Dados folder nothing is rendered: no stale printer file is sent,
// there is no 3000 ms wait, the port is open again and the host is told.
TEST_F(ModuleEndToEnd, WithoutDadosNothingIsCopiedAndTheHostIsTold) {
  ASSERT_EQ(rmdir(dados_.c_str()), 0);
  PtyLine line("COM1");
  Host host;
  ASSERT_TRUE(host.start());
  ASSERT_EQ(host.openPort("COM1"), 0);
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(call(host.qrCode, "COM1", bytesOf("no folder")), IT433TD_NOT_RENDERED);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(2000));
  const Bytes afterQr = bytesOf("ok\n");
  EXPECT_EQ(call(host.text, "COM1", afterQr), 0);
  EXPECT_EQ(host.closePort("COM1"), 0);
  const Bytes expected = condensed(afterQr);
  line.receivedAtLeast(expected.size(), 2000);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(line.receivedAtLeast(0, 0), expected);
}

// One till of the two-till test: qr_till, beside this program (so the two
// share its Dados folder), with COM1 mapped to its own line.
pid_t startTill(const PtyLine &line, const std::string &name, int rounds, long long startMs,
                long long periodMs) {
  const std::string program = executableFolder() + "/qr_till";
  std::vector<std::string> args = {program, "COM1", name, std::to_string(rounds),
                                   std::to_string(startMs), std::to_string(periodMs)};
  std::vector<std::string> env = {"IT433TD_PORTS=" + line.portsFolder()};
  for (char **entry = environ; *entry != nullptr; ++entry)
    if (std::string(*entry).rfind("IT433TD_", 0) != 0) env.emplace_back(*entry);
  auto pointers = [](std::vector<std::string> &strings) {
    std::vector<char *> out;
    for (auto &s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
  };
  std::vector<char *> argv = pointers(args), envp = pointers(env);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
  return pid;
}

long long monotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

std::vector<std::string> asText(std::vector<Bytes> payloads) {
  std::vector<std::string> texts;
  for (const Bytes &p : payloads) texts.emplace_back(p.begin(), p.end());
  std::sort(texts.begin(), texts.end());
  return texts;
}

// Two tills installed in one folder share its Dados folder. Round after
// round both print a QR code at the same moment, each on its own line;
// every code read back from a line must be that till's own, none missing.
TEST_F(ModuleEndToEnd, TwoTillsSharingDadosEachPrintOnlyTheirOwnQrCodes) {
  constexpr int kRounds = 6;
  constexpr long long kPeriodMs = 3600;  // the 3000 ms window, the other till's turn, slack
  PtyLine lineA("COM1"), lineB("COM1");
  const long long start = monotonicMs() + 1500;  // both loaded and their ports open by then
  const pid_t tillA = startTill(lineA, "A", kRounds, start, kPeriodMs);
  const pid_t tillB = startTill(lineB, "B", kRounds, start, kPeriodMs);
  ASSERT_GT(tillA, 0);
  ASSERT_GT(tillB, 0);
  int statusA = -1, statusB = -1;
  waitpid(tillA, &statusA, 0);
  waitpid(tillB, &statusB, 0);
  EXPECT_TRUE(WIFEXITED(statusA) && WEXITSTATUS(statusA) == 0) << "till A: see its messages above";
  EXPECT_TRUE(WIFEXITED(statusB) && WEXITSTATUS(statusB) == 0) << "till B: see its messages above";
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the last bytes drained

  for (auto [line, name] : {std::pair<PtyLine *, const char *>{&lineA, "A"}, {&lineB, "B"}}) {
    SCOPED_TRACE(std::string("till ") + name);
    const barcode_test::Paper paper = barcode_test::printOnPaper(line->receivedAtLeast(0, 0));
    ASSERT_TRUE(paper.wellFormed) << paper.problem;
    std::vector<std::string> expected;
    for (int round = 0; round < kRounds; ++round) expected.push_back(tillPayload(name, round));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(asText(barcode_test::decodeWithZbar(paper.image)), expected);
  }
}

}  // namespace
