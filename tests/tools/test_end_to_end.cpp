// it433td end to end: the real module, the device and barcode libraries, a
// pseudo-terminal and the virtual printer; pictures read back with zxing-cpp.
//
// Each case runs its own copy of it433td, in a folder that shows whatever it
// writes beside itself; cases run in parallel. The demo case runs the built
// program itself.
#include "barcodes.h"
#include "printer_streams.h"
#include "tool_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <poll.h>
#include <regex>
#include <stdlib.h>
#include <unistd.h>
#include <thread>

using namespace tool_test;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kPayment =
    "00020126480014br.gov.bcb.pix0126pix@padaria.exemplo.com.br520400005303986540559.675802BR"
    "5919PADARIA PAO DOURADO6009SAO PAULO62170513PEDIDO000123463043CE8";
// The smallest ESC/POS job (initialise, a line, a full cut), and its
// receipt on an ESC/POS printer: on the IT433TD it is warnings and no cut.
const std::string kEscposHello = std::string("\x1B@hello\n\x1DV") + '\0';
const std::string kEscposHelloPrinted = "hello\n[CUT]\n";

std::vector<it433td::printer::DecodedCode> decodePicture(const fs::path &png) {
  cairo_surface_t *surface = cairo_image_surface_create_from_png(png.c_str());
  std::vector<it433td::printer::DecodedCode> codes;
  if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) {
    cairo_surface_flush(surface);
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const unsigned char *data = cairo_image_surface_get_data(surface);
    std::vector<std::uint8_t> grey(it433td::printer::dotCount(width, height));
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x)  // the green byte of each RGB24 pixel
        grey[it433td::printer::dotIndex(x, y, width)] =
            (reinterpret_cast<const std::uint32_t *>(data + y * stride)[x] >> 8) & 0xFF;
    codes = it433td::printer::decodeAllInGrey(grey.data(), width, height, width);
  }
  cairo_surface_destroy(surface);
  return codes;
}

std::string decoded(const std::vector<it433td::printer::DecodedCode> &codes,
                    const std::string &format) {
  for (const auto &code : codes)
    if (code.format == format) return code.bytes;
  return "(no " + format + ")";
}

std::vector<fs::path> filesIn(const fs::path &folder, const std::string &extension) {
  std::vector<fs::path> files;
  for (const auto &entry : fs::directory_iterator(folder))
    if (entry.path().extension() == extension) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

// Where a case's copy of it433td and its ports folder are.
struct ToolCopyPaths {
  fs::path tool;
  fs::path ports;
};

// A copy of it433td in a folder of its own, with the module's path given.
class ToolCopy : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(temp_.path.empty());
    fs::create_directories(temp_.path / "bin");
    fs::copy_file(IT433TD_TOOL, tool_);
    fs::create_directories(ports_);
  }

  std::vector<std::string> withModule(std::vector<std::string> args) const {
    args.insert(args.begin(), {"--module", IT433TD_MODULE});
    return args;
  }
  std::string portsVariable() const { return "IT433TD_PORTS=" + ports_.string(); }
  fs::path writeReceipt(const std::string &content, const std::string &name = "receipt.txt") const {
    const fs::path file = temp_.path / name;
    std::ofstream(file, std::ios::binary) << content;
    return file;
  }
  // `it433td emulate` on `port`, mapped in our ports folder, until the case ends.
  std::unique_ptr<Background> emulate(const std::string &port, std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"emulate", "--port", port, "--out", out_.string(), "--ports-dir",
                                  ports_.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    auto printer = std::make_unique<Background>(tool_, args);
    EXPECT_TRUE(printer->waitForLine("ready", 10s)) << printer->output();
    return printer;
  }

  ToolCopyPaths paths() const { return {tool_, ports_}; }

  TempFolder temp_;
  fs::path tool_ = temp_.path / "bin" / "it433td";
  fs::path ports_ = temp_.path / "ports";
  fs::path out_ = temp_.path / "out";
};

TEST_F(ToolCopy, PrintOnTheEmulatedPrinterGivesOneReceiptPerCutWithReadableCodes) {
  auto printer = emulate("POS1");
  const fs::path file = writeReceipt(
      "# two receipts\n"
      "Pão de açúcar, maçã e café\n"
      "Total R$ 12,34\n"
      "code128 IT433TD-0042\n"
      "qr " + kPayment + "\n"
      "cut\n"
      "Segunda via: ação concluída\n"
      "cut\n");
  // No Dados beside the program: a private QR folder under TMPDIR, removed.
  fs::create_directories(temp_.path / "tmp");
  const Finished printed =
      run(tool_, withModule({"print", "--port", "POS1", file.string()}),
          {portsVariable(), "XDG_RUNTIME_DIR=", "TMPDIR=" + (temp_.path / "tmp").string()});
  EXPECT_EQ(printed.exitStatus, 0) << printed.err;
  EXPECT_NE(printed.out.find("printed"), std::string::npos);

  printer->signal(SIGTERM);
  EXPECT_EQ(printer->wait(10s), 0) << printer->output();
  const auto pictures = filesIn(out_, ".png");
  const auto transcripts = filesIn(out_, ".txt");
  ASSERT_EQ(pictures.size(), 2u) << printer->output();  // two cuts, two receipts
  ASSERT_EQ(transcripts.size(), 2u);

  const auto codes = decodePicture(pictures[0]);
  EXPECT_EQ(decoded(codes, "QR"), kPayment);
  EXPECT_EQ(decoded(codes, "CODE128"), "IT433TD-0042");
  const std::string first = readFile(transcripts[0]);
  EXPECT_NE(first.find("Pão de açúcar, maçã e café\nTotal R$ 12,34\n"), std::string::npos) << first;
  EXPECT_NE(first.find("[CUT]"), std::string::npos);
  EXPECT_NE(readFile(transcripts[1]).find("Segunda via: ação concluída\n[CUT]"),
            std::string::npos)
      << readFile(transcripts[1]);
  EXPECT_EQ(std::distance(fs::directory_iterator(temp_.path / "bin"), {}), 1) << "beside it433td";
  EXPECT_TRUE(fs::is_empty(temp_.path / "tmp"));
}

TEST_F(ToolCopy, StatusSeesPaperOutAndOfflineToggledBySignals) {
  auto printer = emulate("POS2", {"--paper-out"});
  auto status = [&] {
    return run(tool_, withModule({"status", "--port", "POS2"}), {portsVariable()});
  };
  Finished asked = status();
  EXPECT_EQ(asked.exitStatus, 1);
  EXPECT_NE(asked.out.find("POS2: out of paper"), std::string::npos) << asked.out << asked.err;
  EXPECT_NE(asked.err.find("MEGENCOM32_PAPER_OUT (11)"), std::string::npos) << asked.err;

  printer->signal(SIGUSR1);
  ASSERT_TRUE(printer->waitForLine("printer online", 5s)) << printer->output();
  asked = status();
  EXPECT_EQ(asked.exitStatus, 0) << asked.err;
  EXPECT_NE(asked.out.find("POS2: online"), std::string::npos) << asked.out;

  printer->signal(SIGUSR2);
  ASSERT_TRUE(printer->waitForLine("printer offline", 5s)) << printer->output();
  asked = status();
  EXPECT_EQ(asked.exitStatus, 1);
  EXPECT_NE(asked.out.find("POS2: offline"), std::string::npos) << asked.out;
  printer->signal(SIGINT);
  EXPECT_EQ(printer->wait(10s), 0);
}

// A stray header on the port (an ESC/POS QR header claiming 65,535 bytes,
// a raster header of a size no paper has) swallows neither the next
// receipt printed through the module nor the status request after it.
TEST_F(ToolCopy, AStrayHeaderSwallowsNeitherTheNextReceiptNorItsStatus) {
  auto printer = emulate("POS3");
  std::ofstream(ports_ / "POS3", std::ios::binary)
      << std::string("\x1D(k\xFF\xFF\x1Dv0\x00\xFF\xFF\xFF\xFF", 13);
  const Finished printed = run(
      tool_, withModule({"print", "--port", "POS3", writeReceipt("Total 4,50\ncut\n").string()}),
      {portsVariable()});
  EXPECT_EQ(printed.exitStatus, 0) << printed.err;
  const Finished asked = run(tool_, withModule({"status", "--port", "POS3"}), {portsVariable()});
  EXPECT_NE(asked.out.find("POS3: online"), std::string::npos) << asked.out << asked.err;
  printer->signal(SIGTERM);
  EXPECT_EQ(printer->wait(10s), 0);
  const auto transcripts = filesIn(out_, ".txt");
  ASSERT_EQ(transcripts.size(), 1u) << printer->output();
  EXPECT_NE(readFile(transcripts[0]).find("]\nTotal 4,50\n"), std::string::npos)
      << readFile(transcripts[0]);
}

TEST_F(ToolCopy, FailuresExitNonZeroAndNameTheirCause) {
  const fs::path good = writeReceipt("Olá\ncut\n");
  Finished unmapped = run(tool_, withModule({"print", "--port", "NOPORT", good.string()}),
                          {portsVariable()});
  EXPECT_EQ(unmapped.exitStatus, 1);
  EXPECT_NE(unmapped.err.find("IniciaPorta_IT433TD failed: MEGENCOM32_NO_SUCH_PORT (1)"),
            std::string::npos)
      << unmapped.err;
  EXPECT_NE(unmapped.err.find(ports_.string()), std::string::npos) << unmapped.err;  // the folder read
  fs::create_symlink(temp_.path / "gone", ports_ / "POS9");
  Finished dangling = run(tool_, withModule({"print", "--port", "pos9", good.string()}),
                          {portsVariable()});
  EXPECT_EQ(dangling.exitStatus, 1);
  EXPECT_NE(dangling.err.find((ports_ / "POS9").string()), std::string::npos) << dangling.err;

  const fs::path bad = writeReceipt("Olá\nPreço: € 5\n", "bad.txt");
  Finished malformed = run(tool_, withModule({"print", "--port", "NOPORT", bad.string()}));
  EXPECT_EQ(malformed.exitStatus, 2);
  EXPECT_NE(malformed.err.find("line 2: column 8: \"€\" is not in code page 850"),
            std::string::npos)
      << malformed.err;

  // Mended: no message repeats a control character raw, which a terminal
  // would act on: a C1 control (U+009B, CSI) in a receipt line, ESC in a
  // port name, a lone 0x9B byte in a command.
  const fs::path csi = writeReceipt("Olá\n\xC2\x9B" "2J\n", "csi.txt");
  const Finished echoes[] = {
      run(tool_, withModule({"print", "--port", "NOPORT", csi.string()})),
      run(tool_, withModule({"print", "--port", "NO\x1BPORT", good.string()}), {portsVariable()}),
      run(tool_, {"pr\x9Bnt", "--port", "X", good.string()})};
  for (const Finished &echo : echoes) {
    const std::string said = echo.out + echo.err;
    for (size_t i = 0; i < said.size(); ++i) {
      const auto byte = static_cast<unsigned char>(said[i]);
      const auto next = static_cast<unsigned char>(i + 1 < said.size() ? said[i + 1] : 0);
      const bool control = (byte < 0x20 && byte != '\n') || byte == 0x7F || byte == 0x9B ||
                           (byte == 0xC2 && next >= 0x80 && next < 0xA0);
      EXPECT_FALSE(control) << "raw control at byte " << i << " of: " << said;
    }
  }
  EXPECT_NE(echoes[0].err.find("line 2: column 1: control character U+009B"), std::string::npos)
      << echoes[0].err;
  EXPECT_NE(echoes[1].err.find("\"NOU+001BPORT\""), std::string::npos) << echoes[1].err;

  Finished missing = run(tool_, withModule({"print", "--port", "X", (temp_.path / "none").string()}));
  EXPECT_EQ(missing.exitStatus, 2);
  EXPECT_NE(missing.err.find(std::strerror(ENOENT)), std::string::npos) << missing.err;

  // Endless input is refused once past the limit, not read into memory.
  Finished endless = run(tool_, withModule({"print", "--port", "X", "/dev/zero"}), {}, 20s);
  EXPECT_EQ(endless.exitStatus, 2) << endless.err;
  EXPECT_NE(endless.err.find("/dev/zero"), std::string::npos) << endless.err;

  // A QR folder that cannot be prepared stops the job before the port is
  // even opened, naming the variable that chooses another.
  const fs::path withQr = writeReceipt("Olá\nqr 123\ncut\n", "qr.txt");
  const fs::path blocked = writeReceipt("a file", "blocked");
  const auto printWithQr = [&](const std::string &environment) {
    Finished refused = run(tool_, withModule({"print", "--port", "NOPORT", withQr.string()}),
                           {environment});
    EXPECT_EQ(refused.exitStatus, 3) << environment << refused.err;
    EXPECT_EQ(refused.err.find("IniciaPorta"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("(IT433TD_DADOS_DIR)"), std::string::npos) << refused.err;
  };
  printWithQr("IT433TD_DADOS_DIR=" + blocked.string());

  Finished noModule =
      run(tool_, {"--module", (temp_.path / "libnone.so").string(), "print", "--port", "X", good.string()});
  EXPECT_EQ(noModule.exitStatus, 3);
  EXPECT_NE(noModule.err.find("cannot load the driver module"), std::string::npos);

  Finished usage = run(tool_, {"print", good.string()});  // --port missing
  EXPECT_EQ(usage.exitStatus, 2);
  Finished unknown = run(tool_, {"prnt", "--port", "X", good.string()});
  EXPECT_EQ(unknown.exitStatus, 2);
  EXPECT_NE(unknown.err.find("\"prnt\""), std::string::npos) << unknown.err;
  // --model and --paper are refused before anything is read or made.
  const Finished bogus =
      run(tool_, {"render", good.string(), "--out", out_.string(), "--model", "bogus"});
  EXPECT_EQ(bogus.exitStatus, 2);
  EXPECT_NE(bogus.err.find("--model must be it433td or escpos, not \"bogus\""), std::string::npos)
      << bogus.err;
  const Finished narrow =
      run(tool_, {"render", "--paper", "58", good.string(), "--out", out_.string()});
  EXPECT_EQ(narrow.exitStatus, 2);
  EXPECT_NE(narrow.err.find("(--paper 58 needs --model escpos)"), std::string::npos) << narrow.err;
  EXPECT_FALSE(fs::exists(out_));
  Finished version = run(tool_, {"--version"});
  EXPECT_EQ(version.exitStatus, 0);
  EXPECT_NE(version.out.find(IT433TD_VERSION), std::string::npos) << version.out << version.err;
}

TEST_F(ToolCopy, EmulateLeavesAMappedPortAloneAndFoldersAreBadInput) {
  fs::create_symlink("/dev/ttyUSB0", ports_ / "COM1");  // the real printer
  for (const char *port : {"COM1", "com1"}) {
    const Finished emulated = run(tool_, {"emulate", "--port", port, "--out", out_.string(),
                                          "--ports-dir", ports_.string()},
                                  {}, 10s);  // a refusal is at once; taking over runs until killed
    EXPECT_EQ(emulated.exitStatus, 2) << emulated.out << emulated.err;
    EXPECT_NE(emulated.err.find("is already mapped"), std::string::npos) << emulated.err;
  }
  EXPECT_EQ(fs::read_symlink(ports_ / "COM1"), "/dev/ttyUSB0");
  EXPECT_EQ(std::distance(fs::directory_iterator(ports_), fs::directory_iterator()), 1);
  EXPECT_FALSE(fs::exists(out_));

  // Receipts could never be written there: refused at the start.
  std::ofstream(temp_.path / "a-file") << "not a folder\n";
  const Finished toFile = run(tool_, {"emulate", "--port", "POS9", "--out",
                                      (temp_.path / "a-file").string(), "--ports-dir", ports_.string()},
                              {}, 10s);
  EXPECT_EQ(toFile.exitStatus, 2) << toFile.out << toFile.err;
  EXPECT_NE(toFile.err.find("a-file"), std::string::npos) << toFile.err;
  EXPECT_EQ(toFile.out.find("ready"), std::string::npos);

  const Finished printed = run(tool_, withModule({"print", "--port", "X", temp_.path.string()}));
  EXPECT_EQ(printed.exitStatus, 2) << printed.err;
  EXPECT_NE(printed.err.find("is a folder"), std::string::npos) << printed.err;
  const Finished rendered = run(tool_, {"render", temp_.path.string(), "--out", out_.string()});
  EXPECT_EQ(rendered.exitStatus, 2) << rendered.err;
  EXPECT_NE(rendered.err.find("is a folder"), std::string::npos) << rendered.err;

  // Refused at once, naming the cause: a port name no folder can hold, a
  // file given as --out, a capture past render's limit.
  const Finished longName = run(tool_, {"emulate", "--port", std::string(10000, 'P'), "--out",
                                        out_.string(), "--ports-dir", ports_.string()},
                                {}, 10s);
  EXPECT_EQ(longName.exitStatus, 2) << longName.err.substr(0, 300);
  EXPECT_LT(longName.err.size(), 1000u);  // the name is shortened
  const fs::path capture = writeReceipt("\x1Bw", "capture.bin");
  const fs::path notAFolder = writeReceipt("", "not-a-folder");
  const Finished intoFile = run(tool_, {"render", capture.string(), "--out", notAFolder.string()});
  EXPECT_EQ(intoFile.exitStatus, 2) << intoFile.err;
  EXPECT_NE(intoFile.err.find(notAFolder.string()), std::string::npos) << intoFile.err;
  fs::resize_file(capture, std::uintmax_t{129} << 20);  // sparse: nothing is written to disk
  const Finished huge = run(tool_, {"render", capture.string(), "--out", out_.string()}, {}, 20s);
  EXPECT_EQ(huge.exitStatus, 2) << huge.err;
  EXPECT_FALSE(fs::exists(out_));
  const Finished demo = run(tool_, withModule({"demo", "--out", notAFolder.string()}));
  EXPECT_EQ(demo.exitStatus, 2) << demo.out << demo.err;
  EXPECT_EQ(demo.out.find("Printing"), std::string::npos) << demo.out;
}

std::vector<fs::path> temporariesIn(const fs::path &folder) {
  std::vector<fs::path> found;
  for (const auto &entry : fs::directory_iterator(folder))
    if (entry.path().extension() == ".part") found.push_back(entry.path());
  return found;
}

// A running emulator's port is never taken over; a killed one's link leads
// nowhere, even once its terminal's number belongs to another program.
TEST_F(ToolCopy, EmulatorsPortsAreNotStolenAndDeadOnesLeadNowhere) {
  auto first = emulate("POS5");
  const Finished second = run(tool_, {"emulate", "--port", "pos5", "--out", out_.string(),
                                      "--ports-dir", ports_.string()},
                              {}, 10s);
  EXPECT_EQ(second.exitStatus, 2) << second.out << second.err;
  EXPECT_NE(second.err.find("running virtual printer (process"), std::string::npos) << second.err;

  auto doomed = emulate("POS7");
  const fs::path terminal = fs::canonical(ports_ / "POS7");
  doomed->signal(SIGKILL);
  doomed->wait(10s);
  // Another program gets a terminal, under the dead emulator's number if we can.
  std::vector<int> masters;
  int reused = -1;
  for (int i = 0; i < 64 && reused < 0; ++i) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) break;
    masters.push_back(master);
    if (terminal == ::ptsname(master)) reused = master;
  }
  const fs::path file = writeReceipt("for the dead emulator\ncut\n");
  const Finished printed = run(tool_, withModule({"print", "--port", "POS7", file.string()}),
                               {portsVariable()});
  EXPECT_NE(printed.exitStatus, 0) << printed.out;
  if (reused >= 0) {
    pollfd readable{reused, POLLIN, 0};
    EXPECT_EQ(::poll(&readable, 1, 0), 0) << "the receipt went into another program's terminal";
  }
  for (int master : masters) ::close(master);
  emulate("POS7");  // the dead one's link is replaced
}

// A stop by any of the usual signals leaves whole receipts and no temporary
// files: emulate writes what it was sent, render stops where it is.
TEST_F(ToolCopy, SignalsLeaveWholeReceiptsAndNoTemporaryFiles) {
  auto printer = emulate("POS6");
  {
    std::ofstream port(ports_ / "POS6", std::ios::binary);
    port << "sent before the quit\n" << std::flush;
  }
  printer->signal(SIGQUIT);
  EXPECT_EQ(printer->wait(10s), 0) << printer->output();
  EXPECT_EQ(readFile(out_ / "receipt-0001.txt"),
            "sent before the quit\n"
            "[WARNING no cut (ESC w) before the receipt ended: the printer stopped]\n");
  EXPECT_TRUE(temporariesIn(out_).empty());

  const fs::path capture = temp_.path / "tall.bin";
  {
    std::ofstream stream(capture, std::ios::binary);
    for (int receipt = 0; receipt < 40; ++receipt) {
      for (int line = 0; line < 1300; ++line) stream << std::string(47, 'x') << '\n';
      stream << "\x1Bw";
    }
  }
  const fs::path rendered = temp_.path / "rendered";
  Background render(tool_, {"render", capture.string(), "--out", rendered.string()});
  for (int i = 0; i < 500 && !fs::exists(rendered / "receipt-0001.png"); ++i)
    std::this_thread::sleep_for(10ms);
  render.signal(SIGINT);
  EXPECT_EQ(render.wait(20s), -1);  // ended by the signal
  EXPECT_TRUE(temporariesIn(rendered).empty());
}

int connectTo(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool sendAll(int fd, const std::string &bytes) {
  return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
}

bool waitForFile(const fs::path &file, std::chrono::seconds limit = 10s) {
  for (auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;
       std::this_thread::sleep_for(10ms))
    if (fs::exists(file)) return true;
  return false;
}

int portAfter(const std::string &output, const std::string &pattern) {
  std::smatch found;
  return std::regex_search(output, found, std::regex(pattern)) ? std::stoi(found[1].str()) : -1;
}

// `request` sent on a connection of its own: what comes back until the
// server closes it, or until `limit`.
std::string exchange(int port, const std::string &request, std::chrono::milliseconds limit) {
  const int fd = connectTo(port);
  std::string answer;
  if (fd < 0 || !sendAll(fd, request)) return answer;
  const auto end = std::chrono::steady_clock::now() + limit;
  for (char buffer[4096];;) {
    pollfd ready{fd, POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    const ssize_t got = left.count() > 0 && ::poll(&ready, 1, static_cast<int>(left.count())) == 1
                            ? ::recv(fd, buffer, sizeof buffer, 0)
                            : 0;
    if (got <= 0) break;
    answer.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return answer;
}

// The network port: the same decoder and receipts as the pseudo-terminal,
// one job at a time however the connections interleave, status answered on
// the connection.
TEST_F(ToolCopy, NetworkJobsPrintAsOnThePortOneAtATime) {
  auto printer = emulate("POS8", {"--listen", "127.0.0.1:0"});
  std::smatch found;
  ASSERT_TRUE(std::regex_search(printer->output(), found,
                                std::regex("network printer on 127\\.0\\.0\\.1:(\\d+)")))
      << printer->output();
  const int port = std::stoi(found[1].str());

  const std::string job = "\x0FPão de açúcar\x12\n" + printer_test::code128("IT433TD-0042") + "\n" +
                          printer_test::qrRaster(kPayment, 3, 16) + "\x1BJ\x30\x1Bw";
  {
    std::ofstream pty(ports_ / "POS8", std::ios::binary);
    pty << job << std::flush;
  }
  ASSERT_TRUE(waitForFile(out_ / "receipt-0001.txt"));
  const int single = connectTo(port);
  ASSERT_TRUE(sendAll(single, job));
  ::close(single);
  ASSERT_TRUE(waitForFile(out_ / "receipt-0002.txt"));
  EXPECT_EQ(readFile(out_ / "receipt-0002.txt"), readFile(out_ / "receipt-0001.txt"));
  EXPECT_EQ(readFile(out_ / "receipt-0002.png"), readFile(out_ / "receipt-0001.png"));
  EXPECT_EQ(decoded(decodePicture(out_ / "receipt-0002.png"), "QR"), kPayment);

  // The second connection's job waits for the first's end, whole.
  const int first = connectTo(port), second = connectTo(port);
  ASSERT_TRUE(sendAll(first, "first job, line 1\n"));
  ASSERT_TRUE(sendAll(second, "second job\n\x1Bw"));
  ::close(second);
  std::this_thread::sleep_for(100ms);
  ASSERT_TRUE(sendAll(first, "first job, line 2\n" + std::string("\x10\x04\x01", 3) + "\x1Bw"));
  pollfd answer{first, POLLIN, 0};
  unsigned char status = 0;
  ASSERT_EQ(::poll(&answer, 1, 5000), 1);
  EXPECT_EQ(::recv(first, &status, 1, 0), 1);
  EXPECT_EQ(status, 0x12);
  ::close(first);
  ASSERT_TRUE(waitForFile(out_ / "receipt-0004.txt"));
  EXPECT_EQ(readFile(out_ / "receipt-0003.txt"), "first job, line 1\nfirst job, line 2\n[CUT]\n");
  EXPECT_EQ(readFile(out_ / "receipt-0004.txt"), "second job\n[CUT]\n");

  // An ESC/POS job with no cut of ours, over the network; UTF-8 text through
  // the port: each receipt names its mistakes, and the log line counts them.
  const int escpos = connectTo(port);
  ASSERT_TRUE(sendAll(escpos, "\x1B@\x1B" "a\x01PADARIA NODE\n\x1DVA\x03"));
  ::close(escpos);
  ASSERT_TRUE(printer->waitForLine("receipt-0005.txt, 4 warnings", 10s)) << printer->output();
  const std::string network = readFile(out_ / "receipt-0005.txt");
  EXPECT_NE(network.find("[WARNING ESC @ (initialise, ESC/POS): not an IT433TD command: 1B 40 at "
                         "byte 0]\n"), std::string::npos) << network;
  EXPECT_NE(network.find("[WARNING no cut (ESC w) before the receipt ended: end of the job]"),
            std::string::npos) << network;
  {
    std::ofstream pty(ports_ / "POS8", std::ios::binary);
    pty << "Caf\xC3\xA9\n\x1Bw" << std::flush;
  }
  ASSERT_TRUE(printer->waitForLine("receipt-0006.txt, 1 warning", 10s)) << printer->output();
  EXPECT_NE(readFile(out_ / "receipt-0006.txt").find("[WARNING UTF-8 text"), std::string::npos);

  // --model escpos: every door and the page's state say so, and both doors
  // read their jobs as ESC/POS.
  auto standIn = emulate("POS16", {"--model", "escpos", "--paper", "58", "--listen", "127.0.0.1:0",
                                   "--web", "127.0.0.1:0"});
  const std::string said = standIn->output(), setup = " \\(the ESC/POS model, 58 mm paper\\)\n";
  EXPECT_TRUE(std::regex_search(said, std::regex("port POS16 .*, printer online" + setup))) << said;
  const int escposPort =
      portAfter(said, "network printer on 127\\.0\\.0\\.1:(\\d+): .*, printer online" + setup);
  const int web = portAfter(said, "web page: http://127\\.0\\.0\\.1:(\\d+)/");
  const std::string events = exchange(
      web, "GET /events HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(web) + "\r\n\r\n", 1s);
  EXPECT_NE(events.find(R"({"model":"escpos","paper":58,"state":"online"})"), std::string::npos)
      << events;
  const int hello = connectTo(escposPort);
  ASSERT_TRUE(sendAll(hello, kEscposHello)) << said;
  ::close(hello);
  ASSERT_TRUE(waitForFile(out_ / "receipt-0007.txt"));
  EXPECT_EQ(readFile(out_ / "receipt-0007.txt"), kEscposHelloPrinted);
  std::ofstream(ports_ / "POS16", std::ios::binary) << kEscposHello << std::flush;
  ASSERT_TRUE(waitForFile(out_ / "receipt-0008.txt"));
  EXPECT_EQ(readFile(out_ / "receipt-0008.txt"), kEscposHelloPrinted);
}

// The network printer shared by a team: connections that have sent nothing
// do not hold it, jobs go in the order their first bytes came, a dripping
// job ends at its time limit, and past 64 waiting the oldest silent ones
// are closed at once.
TEST_F(ToolCopy, IdleAndDrippingClientsCannotHoldTheNetworkPrinter) {
  auto printer = emulate("POS11", {"--listen", "127.0.0.1:0", "--job-timeout", "5"});
  const int port = portAfter(printer->output(), "network printer on 127\\.0\\.0\\.1:(\\d+)");
  std::vector<int> open;
  for (int i = 0; i < 60; ++i) open.push_back(connectTo(port));
  const int dripping = connectTo(port);
  ASSERT_TRUE(sendAll(dripping, "d"));
  std::this_thread::sleep_for(200ms);  // its first byte comes before the real job's
  const auto sent = std::chrono::steady_clock::now();
  const int real = connectTo(port);
  ASSERT_TRUE(sendAll(real, "real job\n\x1Bw"));
  ::close(real);
  // A byte every 2 s keeps the dripping job within the 10 s idle limit.
  for (auto dripped = sent; !fs::exists(out_ / "receipt-0002.txt") &&
                            std::chrono::steady_clock::now() - sent < 5s + 10s;
       std::this_thread::sleep_for(50ms))
    if (std::chrono::steady_clock::now() - dripped >= 2s) {
      ::send(dripping, "d", 1, MSG_NOSIGNAL);
      dripped = std::chrono::steady_clock::now();
    }
  ASSERT_TRUE(fs::exists(out_ / "receipt-0002.txt")) << printer->output();
  const std::string first = readFile(out_ / "receipt-0001.txt");
  EXPECT_TRUE(std::regex_match(first, std::regex("d+\n\\[NOTE job ended: 5 s time limit\\]\n")))
      << first;
  EXPECT_EQ(readFile(out_ / "receipt-0002.txt"), "real job\n[CUT]\n");

  std::vector<pollfd> more;
  for (int i = 0; i < 70; ++i) more.push_back({connectTo(port), POLLIN, 0});
  int closedAtOnce = 0;
  for (auto end = std::chrono::steady_clock::now() + 5s;
       closedAtOnce < 6 && std::chrono::steady_clock::now() < end;)
    if (::poll(more.data(), more.size(), 100) > 0)
      for (pollfd &connection : more)
        if (connection.revents) {
          char byte;
          closedAtOnce += ::recv(connection.fd, &byte, 1, MSG_DONTWAIT) <= 0;
          connection.events = 0;  // counted
        }
  EXPECT_GE(closedAtOnce, 6) << printer->output();
  for (const pollfd &connection : more) open.push_back(connection.fd);
  for (int fd : open) ::close(fd);
  ::close(dripping);
}

// 64 MB sent to a printer that takes 1 MiB a job: exactly 1 MiB is printed
// and the rest refused; 250 cut receipts in one job: 200 are printed.
TEST_F(ToolCopy, ANetworkJobEndsAtItsSizeAndReceiptLimits) {
  auto printer = emulate("POS12", {"--listen", "127.0.0.1:0", "--job-limit", "1MiB"});
  const int port = portAfter(printer->output(), "network printer on 127\\.0\\.0\\.1:(\\d+)");
  const std::string line = std::string(47, 'x') + "\n";
  std::string lines;
  for (int i = 0; i < 1365; ++i) lines += line;
  const int big = connectTo(port);
  std::size_t sent = 0;
  while (sent < 64'000'000 && sendAll(big, lines)) sent += lines.size();
  ::close(big);
  EXPECT_LT(sent, 64'000'000u);
  ASSERT_TRUE(printer->waitForLine("1048576 bytes, 1 MiB size limit", 60s)) << printer->output();
  const int cuts = connectTo(port);
  std::string receipts;
  for (int i = 0; i < 250; ++i) receipts += "x\x1Bw";
  ASSERT_TRUE(sendAll(cuts, receipts));
  ::close(cuts);
  ASSERT_TRUE(printer->waitForLine("200 receipts limit", 60s)) << printer->output();
  printer->signal(SIGTERM);  // writes every receipt still being drawn
  ASSERT_EQ(printer->wait(60s), 0);

  std::string printed, expected;
  int cutReceipts = 0;
  for (const fs::path &transcript : filesIn(out_, ".txt")) {
    const std::string text = readFile(transcript);
    if (text == "x\n[CUT]\n")
      ++cutReceipts;
    else if (text != "[NOTE job ended: 200 receipts limit]\n")
      printed += text;
  }
  for (std::size_t at = printed.find("[CONTINUED]\n"); at != std::string::npos;
       at = printed.find("[CONTINUED]\n"))
    printed.erase(at, 12);
  for (int i = 0; i < 21845; ++i) expected += line;  // 1 MiB: 21845 lines of 48 bytes, and 16
  expected += std::string(16, 'x') + "\n[NOTE job ended: 1 MiB size limit]\n";
  EXPECT_TRUE(printed == expected)
      << printed.size() << " bytes, ending " << printed.substr(printed.size() - std::min<std::size_t>(printed.size(), 60));
  EXPECT_EQ(cutReceipts, 200);
}

// One request on a connection of its own: the answer's status line and
// headers, or "" if none comes within `limit`.
std::string httpHead(int port, const std::string &path, const std::string &host,
                     std::chrono::milliseconds limit = 10s) {
  const std::string answer = exchange(
      port, "GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\nConnection: close\r\n\r\n", limit);
  return answer.substr(0, answer.find("\r\n\r\n"));
}

int statusOf(const std::string &head) { return head.size() >= 12 ? std::stoi(head.substr(9, 3)) : 0; }

// DNS rebinding: a page under a name of its own that resolves to this
// machine must not read the page; bound for the team, only this machine's
// names and those given. No other site may frame the page or load a receipt.
TEST_F(ToolCopy, TheWebPageAnswersOnlyToItsOwnNamesAndNoOtherSiteMayLoadIt) {
  auto printer = emulate("POS13", {"--web", "127.0.0.1:0"});
  const int port = portAfter(printer->output(), "web page: http://127\\.0\\.0\\.1:(\\d+)/");
  const std::string withPort = ":" + std::to_string(port);
  for (const std::string &host : {"127.0.0.1" + withPort, "LocalHost" + withPort, "[::1]" + withPort})
    EXPECT_EQ(statusOf(httpHead(port, "/", host)), 200) << host;
  for (const std::string &host : {std::string("127.evil.example"), "127.0.0.1.nip.io" + withPort,
                                  std::string("localhost:1@evil.com"), std::string("localhost:1"),
                                  std::string()})
    EXPECT_EQ(statusOf(httpHead(port, "/", host)), 403) << host;

  const std::string page = httpHead(port, "/", "localhost" + withPort);
  EXPECT_NE(page.find("X-Frame-Options: DENY"), std::string::npos) << page;
  EXPECT_NE(page.find("frame-ancestors 'none'"), std::string::npos) << page;
  std::ofstream(ports_ / "POS13", std::ios::binary) << "Olá\n\x1Bw" << std::flush;
  std::string picture;
  for (auto end = std::chrono::steady_clock::now() + 10s;
       statusOf(picture) != 200 && std::chrono::steady_clock::now() < end;
       std::this_thread::sleep_for(50ms))
    picture = httpHead(port, "/receipts/1.png", "127.0.0.1" + withPort);
  EXPECT_NE(picture.find("Cross-Origin-Resource-Policy: same-origin"), std::string::npos) << picture;

  auto shared = emulate("POS14", {"--web", "0.0.0.0:0", "--web-host", "printer.example"});
  const int teamPort = portAfter(shared->output(), "web page: http://0\\.0\\.0\\.0:(\\d+)/");
  const std::string withTeamPort = ":" + std::to_string(teamPort);
  char machine[256] = "";
  ::gethostname(machine, sizeof machine - 1);
  for (const std::string &host : {"printer.example" + withTeamPort, machine + withTeamPort,
                                  "127.0.0.1" + withTeamPort})
    EXPECT_EQ(statusOf(httpHead(teamPort, "/", host)), 200) << host;
  EXPECT_EQ(statusOf(httpHead(teamPort, "/", "evil.example" + withTeamPort)), 403);
}

// 500 event streams of one client, 30 clients dripping their requests, 30
// that never send the body they announce: the page still answers (within
// 2 s: the bodies held every worker for 10 s); the client keeps 4 streams.
// A header line past 8 KiB gets one 400 (a 408 followed), a head of bare
// line feeds its answer at once (it waited 10 s).
TEST_F(ToolCopy, TheWebPageStaysReachableUnderOpenStreamsAndDrippingClients) {
  auto printer = emulate("POS15", {"--web", "127.0.0.1:0"});
  const int port = portAfter(printer->output(), "web page: http://127\\.0\\.0\\.1:(\\d+)/");
  const std::string host = "127.0.0.1:" + std::to_string(port);
  std::vector<int> streams;
  for (int i = 0; i < 500; ++i) {
    streams.push_back(connectTo(port));
    sendAll(streams.back(), "GET /events HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
  }
  EXPECT_EQ(statusOf(httpHead(port, "/", host)), 200);
  int streaming = 0;
  for (int fd : streams) {
    char answer[16] = "";
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, 1000) == 1 && ::recv(fd, answer, 12, MSG_DONTWAIT) == 12)
      streaming += std::string(answer, 12) == "HTTP/1.1 200";
    ::close(fd);
  }
  EXPECT_EQ(streaming, 4);

  std::vector<int> dripping;
  for (int i = 0; i < 30; ++i) {
    dripping.push_back(connectTo(port));
    ::send(dripping.back(), "G", 1, MSG_NOSIGNAL);
  }
  auto page = std::async(std::launch::async, [&] { return httpHead(port, "/", host); });
  for (auto dripped = std::chrono::steady_clock::now();
       page.wait_for(100ms) != std::future_status::ready;)
    if (std::chrono::steady_clock::now() - dripped >= 2s) {
      for (int fd : dripping) ::send(fd, "E", 1, MSG_NOSIGNAL);
      dripped = std::chrono::steady_clock::now();
    }
  EXPECT_EQ(statusOf(page.get()), 200);
  for (int fd : dripping) ::close(fd);

  std::vector<int> bodiless;
  for (int i = 0; i < 30; ++i) {
    bodiless.push_back(connectTo(port));
    sendAll(bodiless.back(),
            "POST /state HTTP/1.1\r\nHost: " + host + "\r\nContent-Length: 1000\r\n\r\n");
  }
  std::this_thread::sleep_for(200ms);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(statusOf(httpHead(port, "/", host, 2s)), 200);
  for (int fd : bodiless) ::close(fd);

  const std::string longLine = exchange(
      port,
      "GET / HTTP/1.1\r\nHost: " + host + "\r\nX-Long: " + std::string(9000, 'x') + "\r\n\r\n",
      12s);  // the second answer came after 10 s
  EXPECT_EQ(statusOf(longLine), 400) << longLine;
  EXPECT_EQ(longLine.find("HTTP/1.1", 1), std::string::npos) << longLine;
  const auto sent = std::chrono::steady_clock::now();
  EXPECT_EQ(statusOf(exchange(port, "GET / HTTP/1.1\nHost: " + host + "\n\n", 5s)), 400);
  EXPECT_LT(std::chrono::steady_clock::now() - sent, 2s);
}

// --baud: the port is read no faster than the line carries (57600 baud, 11
// bits a byte: 5236 bytes a second).
TEST_F(ToolCopy, APacedPortTakesTheLinesTime) {
  auto printer = emulate("POS10", {"--baud", "57600"});
  std::string job;
  while (job.size() < 15'000) job += std::string(47, 'x') + "\n";
  job.resize(15'000 - 2);
  const auto start = std::chrono::steady_clock::now();
  {
    std::ofstream pty(ports_ / "POS10", std::ios::binary);
    pty << job << "\x1Bw" << std::flush;
  }
  ASSERT_TRUE(waitForFile(out_ / "receipt-0001.txt", 30s));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 2700ms);
}

TEST_F(ToolCopy, RenderTurnsACapturedStreamIntoReceipts) {
  const fs::path capture = temp_.path / "capture.bin";
  std::ofstream(capture, std::ios::binary) << "\x0FOl\xA0 mundo\x12\n\x1Bw" "fim\n";
  const Finished rendered = run(tool_, {"render", capture.string(), "--out", out_.string()});
  EXPECT_EQ(rendered.exitStatus, 0) << rendered.err;
  const auto transcripts = filesIn(out_, ".txt");
  ASSERT_EQ(transcripts.size(), 2u);  // the cut one and the unfinished one
  EXPECT_EQ(readFile(transcripts[0]).rfind("Olá mundo\n", 0), 0u) << readFile(transcripts[0]);
  EXPECT_EQ(filesIn(out_, ".png").size(), 2u);

  const fs::path escposOut = temp_.path / "escpos";
  const Finished escpos =
      run(tool_, {"render", "--model", "escpos", "--paper", "58",
                  writeReceipt(kEscposHello, "escpos.bin").string(), "--out", escposOut.string()});
  EXPECT_EQ(escpos.exitStatus, 0) << escpos.err;
  ASSERT_EQ(filesIn(escposOut, ".txt").size(), 1u) << escpos.out;
  EXPECT_EQ(readFile(filesIn(escposOut, ".txt")[0]), kEscposHelloPrinted);
}

// render --strict fails a CI job on any warning and passes the demo
// receipt as the module really sends it (printed to a capture file);
// the same stream gives the same transcript however often it is rendered.
TEST_F(ToolCopy, RenderStrictFailsOnWarningsAndPassesTheDemoStream) {
  const fs::path capture = writeReceipt("", "demo.bin");  // a file port must exist
  const Finished printed =
      run(tool_, withModule({"print", "--port", capture.string(), IT433TD_DEMO_RECEIPT}));
  ASSERT_EQ(printed.exitStatus, 0) << printed.err;
  const auto render = [&](const fs::path &file, const std::string &folder) {
    return run(tool_, {"render", "--strict", file.string(), "--out", (temp_.path / folder).string()});
  };
  const Finished demo = render(capture, "demo");
  EXPECT_EQ(demo.exitStatus, 0) << demo.out << demo.err;
  EXPECT_NE(demo.out.find("1 receipt, 0 warnings"), std::string::npos) << demo.out;
  EXPECT_EQ(render(capture, "again").exitStatus, 0);
  EXPECT_EQ(readFile(temp_.path / "again" / "receipt-0001.txt"),
            readFile(temp_.path / "demo" / "receipt-0001.txt"));

  const Finished escpos = render(writeReceipt("\x1B@Total\n\x1DVA\x03", "escpos.bin"), "escpos");
  EXPECT_EQ(escpos.exitStatus, 1);
  EXPECT_NE(escpos.out.find("  [WARNING ESC @ (initialise, ESC/POS)"), std::string::npos) << escpos.out;
  EXPECT_NE(escpos.err.find("--strict: 3 warnings"), std::string::npos) << escpos.err;
  const Finished utf8 = render(writeReceipt("Ol\xC3\xA1\n\x1Bw", "utf8.bin"), "utf8");
  EXPECT_EQ(utf8.exitStatus, 1);
  EXPECT_NE(utf8.out.find("receipt-0001: 1 warning\n  [WARNING UTF-8 text"), std::string::npos)
      << utf8.out;
}

// emulate -- COMMAND as a CI job runs it. The run waits for the receipt a
// detached process (as the module's QR copy is) writes after COMMAND ended;
// COMMAND's status passes through; --strict and --expect pass and fail; a
// second identical run passes against its own --update-expected output.
TEST_F(ToolCopy, RunModeWaitsForTheLastReceiptAndChecksWarningsAndGoldenReceipts) {
  const fs::path receipt = writeReceipt("Pão de queijo\ncut\n");
  const fs::path golden = temp_.path / "golden";
  const auto runOn = [&](const std::vector<std::string> &options, const std::string &script) {
    std::vector<std::string> args{"emulate", "--port", "RUN1", "--ports-dir", ports_.string(),
                                  "--listen", "127.0.0.1:0"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {"--", "/bin/bash", "-c", script, "bash", tool_.string(),
                             IT433TD_MODULE, receipt.string()});
    return run(tool_, args);
  };
  // A network job, the module's receipt on the port, and a receipt that a
  // process left behind writes to the port a second after COMMAND ended.
  const std::string job = R"(
    printf 'Rede\n\033w' > "/dev/tcp/${IT433TD_PRINTER_ADDRESS%:*}/${IT433TD_PRINTER_ADDRESS##*:}" || exit
    "$1" --module "$2" print --port RUN1 "$3" || exit
    exec 3> "$IT433TD_PORTS/RUN1"
    { sleep 1; printf 'Depois\n\033w' >&3; } &)";

  const Finished first = runOn({"--out", out_.string(), "--update-expected", golden.string()}, job);
  ASSERT_EQ(first.exitStatus, 0) << first.out << first.err;
  EXPECT_NE(first.out.find("3 receipts, 0 warnings"), std::string::npos) << first.out;
  EXPECT_EQ(readFile(golden / "receipt-0001.txt"), "Rede\n[CUT]\n");
  EXPECT_NE(readFile(golden / "receipt-0002.txt").find("Pão de queijo\n"), std::string::npos);
  EXPECT_EQ(readFile(golden / "receipt-0003.txt"), "Depois\n[CUT]\n");

  const Finished again = runOn({"--strict", "--expect", golden.string()}, job);
  EXPECT_EQ(again.exitStatus, 0) << again.out << again.err;
  EXPECT_NE(again.out.find("--expect: every receipt as in"), std::string::npos) << again.out;

  const Finished wrong = runOn({"--strict", "--expect", golden.string()},
                               R"(printf 'Ol\xc3\xa1\n' > "$IT433TD_PORTS/RUN1")");
  EXPECT_EQ(wrong.exitStatus, 1);
  EXPECT_NE(wrong.err.find("--strict: 2 warnings"), std::string::npos) << wrong.err;  // UTF-8, no cut
  EXPECT_NE(wrong.err.find("--expect: 3 differences"), std::string::npos) << wrong.err;
  EXPECT_NE(wrong.out.find("receipt 1 differs:\n--- " + (golden / "receipt-0001.txt").string() +
                           "\n+++ "),
            std::string::npos)
      << wrong.out;
  EXPECT_NE(wrong.out.find("@@ -1,2 +1,3 @@\n-Rede\n-[CUT]\n+Ol"), std::string::npos) << wrong.out;
  EXPECT_NE(wrong.out.find("receipt-0003.txt was not printed:"), std::string::npos) << wrong.out;

  EXPECT_EQ(runOn({"--strict"}, "exit 3").exitStatus, 3);
  const Finished missing = run(tool_, {"emulate", "--listen", "127.0.0.1:0", "--", "no-such-cmd"});
  EXPECT_EQ(missing.exitStatus, 127);
  EXPECT_NE(missing.err.find("cannot run \"no-such-cmd\""), std::string::npos) << missing.err;
}

// `emulate --port RUN1 OPTIONS -- bash -c SCRIPT bash TOOL`: in SCRIPT,
// print TEXT prints a receipt on the port and "$1" is it433td.
Finished runScript(const ToolCopyPaths &paths, const std::vector<std::string> &options,
                   const std::string &script, std::chrono::seconds limit = 60s) {
  std::vector<std::string> args{"emulate", "--port", "RUN1", "--ports-dir", paths.ports.string()};
  args.insert(args.end(), options.begin(), options.end());
  args.insert(args.end(),
              {"--", "/bin/bash", "-c",
               "print() { printf '%s\\n\\033w' \"$1\" > \"$IT433TD_PORTS/RUN1\"; }\n" + script,
               "bash", paths.tool.string()});
  return run(paths.tool, args, {}, limit);
}

// Golden receipts by name: a labelled test added in the middle is the one
// difference, one removed the one missing; receipts before any label keep
// their numbers; a failing --expect says how to accept the change.
TEST_F(ToolCopy, LabelledReceiptsMatchByNameSoATestAddedInTheMiddleIsTheOneDifference) {
  const fs::path golden = temp_.path / "golden";
  const auto tests = [&](const std::vector<std::string> &options, const std::string &names) {
    return runScript(paths(), options,
                     "print Setup; for t in " + names +
                         "; do \"$1\" label \"tests/till.py::$t\" || exit; print $t; done");
  };
  const Finished first = tests({"--update-expected", golden.string()}, "test_a test_c");
  ASSERT_EQ(first.exitStatus, 0) << first.out << first.err;
  EXPECT_EQ(readFile(golden / "receipt-0001.txt"), "Setup\n[CUT]\n");
  EXPECT_EQ(readFile(golden / "tests%2Ftill.py%3A%3Atest_c.txt"), "test_c\n[CUT]\n");

  const Finished added = tests({"--expect", golden.string()}, "test_a test_b test_c");
  EXPECT_EQ(added.exitStatus, 1);
  EXPECT_NE(added.err.find("--expect: 1 difference from"), std::string::npos) << added.err;
  EXPECT_NE(added.out.find("receipt 3 \"tests/till.py::test_b\" is not in " + golden.string() +
                           " (tests%2Ftill.py%3A%3Atest_b.txt):\n--- /dev/null"),
            std::string::npos)
      << added.out;
  EXPECT_NE(added.err.find("to accept these receipts as the golden ones, run: " + tool_.string() +
                           " emulate --port RUN1 --ports-dir " + ports_.string() +
                           " --update-expected " + golden.string() + " -- /bin/bash -c"),
            std::string::npos)
      << added.err;

  const Finished removed = tests({"--expect", golden.string()}, "test_a");
  EXPECT_NE(removed.err.find("--expect: 1 difference from"), std::string::npos) << removed.err;
  EXPECT_NE(removed.out.find("tests%2Ftill.py%3A%3Atest_c.txt was not printed:"), std::string::npos)
      << removed.out;
  const Finished outside = run(tool_, {"label", "test_a"});
  EXPECT_EQ(outside.exitStatus, 2);
  EXPECT_NE(outside.err.find("not inside a run"), std::string::npos) << outside.err;

  // The ESC/POS model, a kitchen printer on the network door: its labelled
  // golden receipt keeps the style, so a lost bold is the difference.
  const fs::path kitchen = temp_.path / "kitchen";
  const auto order = [&](const std::vector<std::string> &options, const std::string &bold) {
    std::vector<std::string> all{"--model", "escpos", "--listen", "127.0.0.1:0", "--strict"};
    all.insert(all.end(), options.begin(), options.end());
    return runScript(paths(), all,
                     "exec 3<>/dev/tcp/${IT433TD_PRINTER_ADDRESS%:*}/${IT433TD_PRINTER_ADDRESS##*:}; "
                     "\"$1\" label table4 && printf '\\x1b@\\x1bE" + bold +
                         "MESA 4\\n\\x1dV\\x00' >&3");
  };
  const Finished kept = order({"--update-expected", kitchen.string()}, "\\x01");
  ASSERT_EQ(kept.exitStatus, 0) << kept.out << kept.err;
  EXPECT_EQ(readFile(kitchen / "table4.txt"), "{B}MESA 4{/}\n[CUT]\n") << kept.out << kept.err;
  const Finished lost = order({"--expect", kitchen.string()}, "\\x00");
  EXPECT_EQ(lost.exitStatus, 1);
  EXPECT_NE(lost.out.find("-{B}MESA 4{/}\n+MESA 4"), std::string::npos) << lost.out << lost.err;
}

// A run ends however COMMAND leaves the port: a status monitor left behind
// (status requests every second) is not waited for past 10 s, one that
// keeps printing not past --finish-timeout, which names it; and what
// COMMAND left running, a process that left its group included, is ended.
// A SIGTERM to it433td reaches COMMAND's whole tree.
TEST_F(ToolCopy, RunsEndWhateverCommandLeavesBehindAndNothingOfItOutlivesThem) {
  const fs::path pids = temp_.path / "pids";
  const auto gone = [&] {
    std::ifstream list(pids);
    bool all = true;
    for (pid_t pid = 0; list >> pid;) all = all && ::kill(pid, 0) != 0;
    return all;
  };
  // It holds the port before COMMAND ends: one that opened it only later
  // would find it gone, which is no holder to wait for.
  const std::string leaveBehind =
      "rm -f " + pids.string() + "; { exec 3<> \"$IT433TD_PORTS/RUN1\"; echo $BASHPID > " + pids.string() +
      "; while :; do printf \"$BYTES\" >&3; sleep 1; done; } >/dev/null 2>&1 & until [ -s " +
      pids.string() + " ]; do sleep 0.05; done; ";
  const Finished monitor =
      runScript(paths(), {}, "BYTES='\\020\\004\\001'; " + leaveBehind + "print Hi");
  EXPECT_EQ(monitor.exitStatus, 0) << monitor.out << monitor.err;
  EXPECT_NE(monitor.out.find("no print data for 10 s"), std::string::npos) << monitor.out;
  EXPECT_TRUE(gone());
  const Finished printing =
      runScript(paths(), {"--finish-timeout", "3"}, "BYTES=x; " + leaveBehind);
  EXPECT_EQ(printing.exitStatus, 1);
  EXPECT_NE(printing.out.find("after 3 s (--finish-timeout): the port RUN1, held open by process "),
            std::string::npos)
      << printing.out;
  EXPECT_TRUE(gone());

  Background stopped(
      tool_, {"emulate", "--port", "RUN1", "--ports-dir", ports_.string(), "--", "/bin/bash", "-c",
              "sleep 300 & echo $! > " + pids.string() + "; setsid sleep 300 & echo $! >> " +
                  pids.string() + "; wait"});
  ASSERT_TRUE(stopped.waitForLine("running", 10s)) << stopped.output();
  for (int i = 0; i < 100 && readFile(pids).find('\n') == readFile(pids).rfind('\n'); ++i)
    std::this_thread::sleep_for(50ms);  // both started
  stopped.signal(SIGTERM);
  EXPECT_EQ(stopped.wait(20s), 128 + SIGTERM) << stopped.output();
  EXPECT_TRUE(gone()) << readFile(pids);
}

// Golden folders are checked before COMMAND runs (it would make a file):
// --out that is, lies in or holds the golden folder, and a golden file that
// is a link, are refused with exit status 2. A golden file found unreadable
// after COMMAND ran gives 2 when COMMAND succeeded, and never hides its
// failure.
TEST_F(ToolCopy, GoldenFoldersAreCheckedBeforeCommandRunsAndNeverHideItsFailure) {
  const fs::path golden = temp_.path / "golden";
  fs::create_directories(golden);
  std::ofstream(golden / "receipt-0001.txt") << "Hi\n[CUT]\n";
  const fs::path made = temp_.path / "ran";
  for (const fs::path &out : {golden, golden / "inside", temp_.path}) {
    const Finished refused = runScript(
        paths(), {"--out", out.string(), "--expect", golden.string()}, "touch " + made.string());
    EXPECT_EQ(refused.exitStatus, 2) << out;
    EXPECT_NE(refused.err.find("must go to a folder of their own"), std::string::npos)
        << refused.err;
  }
  fs::create_symlink(temp_.path / "secret", golden / "receipt-0002.txt");
  const Finished link = runScript(paths(), {"--expect", golden.string()}, "touch " + made.string());
  EXPECT_EQ(link.exitStatus, 2);
  EXPECT_NE(link.err.find("receipt-0002.txt: a symbolic link, not a receipt file"),
            std::string::npos)
      << link.err;
  EXPECT_FALSE(fs::exists(made));

  fs::remove(golden / "receipt-0002.txt");
  const std::string swap = "print Hi; ln -sf " + (temp_.path / "secret").string() + " " +
                           (golden / "receipt-0001.txt").string() + "; exit ";
  EXPECT_EQ(runScript(paths(), {"--expect", golden.string()}, swap + "3").exitStatus, 3);
  std::ofstream(golden / "receipt-0001.txt", std::ios::trunc) << "Hi\n[CUT]\n";
  const Finished swapped = runScript(paths(), {"--expect", golden.string()}, swap + "0");
  EXPECT_EQ(swapped.exitStatus, 2);
  EXPECT_NE(swapped.err.find("a symbolic link"), std::string::npos) << swapped.err;
}

// The demo prints on a port named COM1, so the module applies the serial
// line settings, as with a real printer.
TEST(Demo, PrintsTheSampleReceiptAndTellsWhereItsPictureIs) {
  TempFolder temp;
  const Finished demo = run(IT433TD_TOOL, {"demo", "--out", (temp.path / "demo").string()});
  ASSERT_EQ(demo.exitStatus, 0) << demo.out << demo.err;
  std::smatch found;
  ASSERT_TRUE(std::regex_search(demo.out, found, std::regex("receipt picture: (.*\\.png)")))
      << demo.out;
  const fs::path picture = found[1].str();
  const fs::path transcript = fs::path(picture).replace_extension(".txt");
  ASSERT_TRUE(fs::exists(picture));
  const auto codes = decodePicture(picture);
  EXPECT_EQ(decoded(codes, "QR"), kPayment);
  EXPECT_EQ(decoded(codes, "CODE128"), "PEDIDO-0001234");
  const std::string text = readFile(transcript);
  EXPECT_NE(text.find("PADARIA PÃO DOURADO"), std::string::npos) << text;
  EXPECT_NE(text.find("Açúcar orgânico"), std::string::npos);
  EXPECT_NE(text.find("[CUT]"), std::string::npos);
}

}  // namespace
