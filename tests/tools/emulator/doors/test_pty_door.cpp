// The pseudo-terminal door end to end, with a real pseudo-terminal: status
// answers, receipts across reopened ports, the port link.
#include "emulator/doors/port_link.h"
#include "emulator/doors/pty_door.h"
#include "printer_streams.h"
#include "receipt_writer.h"
#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <sstream>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace it433td::tools;
using it433td::printer::PrinterState;
using it433td::printer::ReceiptWriter;
using namespace printer_test;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> namesIn(const fs::path &folder) {
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

const std::string kQrPayload = "https://www.sefaz.example/nfce?p=35251112345678000190650010000001231";

// What a door shares with the others of its printer: the receipt writer
// and the state. Declared before the door, so it outlives it.
struct Printer {
  explicit Printer(const fs::path &out,
                   std::function<void(const std::string &)> log = nullptr)
      : writer(out, log), context{writer, state, std::move(log)} {}
  ReceiptWriter writer;
  std::atomic<PrinterState> state{PrinterState::Online};
  DoorContext context;
};

// A door on a port named `port` in the folder `ports`, or with no link.
PtyDoorOptions portIn(const fs::path &ports, const std::string &port) {
  PtyDoorOptions options;
  options.port = port;
  options.ports.emplace(PortsFolder::given(ports));
  return options;
}

bool waitFor(const std::function<bool()> &done) {
  for (int i = 0; i < 500; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

int openPort(const std::string &path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
  if (fd >= 0) ::tcflush(fd, TCIFLUSH);
  return fd;
}

bool writeAll(int fd, const std::string &bytes) {
  return ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

int readByte(int fd) {
  pollfd p{fd, POLLIN, 0};
  unsigned char byte = 0;
  if (::poll(&p, 1, 5000) != 1 || ::read(fd, &byte, 1) != 1) return -1;
  return byte;
}

TEST(PtyDoor, ServesReceiptsAndStatusAcrossReopenedPorts) {
  TempFolder folder;
  Printer printer(folder.path / "out");
  PtyDoor server(portIn(folder.path, "COM7"), printer.context);
  const fs::path portLink = folder.path / "COM7";
  EXPECT_EQ(fs::read_symlink(portLink).string(), server.linkTarget());
  server.start();

  // The driver: open, ask the status, print, close.
  int fd = openPort(portLink.string());
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(writeAll(fd, std::string("\x10\x04\x01", 3)));
  EXPECT_EQ(readByte(fd), 0x12);
  // Line feeds and carriage returns pass unchanged (raw pty).
  ASSERT_TRUE(writeAll(fd, "\x0F" "Caf\x82\r\n\x12" + code128("123") + "\n"));
  ::close(fd);

  // The raw copy of a QR printer file opens the port afresh, with no hang-up
  // in between; then the driver reopens, asks again and cuts.
  printer.state = PrinterState::PaperOut;
  fd = openPort(server.slavePath());
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(writeAll(fd, qrRaster(kQrPayload, 3, 16)));
  ::close(fd);
  fd = openPort(server.slavePath());
  ASSERT_TRUE(writeAll(fd, std::string("\x10\x04\x04", 3)));
  EXPECT_EQ(readByte(fd), 0x72);
  ASSERT_TRUE(writeAll(fd, "\x1Bw" "unfinished"));
  ASSERT_TRUE(waitFor([&] { return printer.writer.transcriptsWritten().size() == 1; }));
  const fs::path first = printer.writer.transcriptsWritten()[0];
  EXPECT_EQ(first.filename(), "receipt-0001.txt");
  const std::string transcript = readFile(first);
  EXPECT_EQ(transcript.substr(0, transcript.find("[IMAGE")),
            "Café[UNKNOWN 0x0D]\n[WARNING unknown byte, not an IT433TD command: 0D at byte 8]\n"
            "[CODE128 \"123\"]\n\n");
  EXPECT_NE(transcript.find("QR \"" + kQrPayload + "\"]\n[CUT]\n"), std::string::npos);
  EXPECT_TRUE(fs::exists(folder.path / "out" / "receipt-0001.png"));

  // Stopping writes the unfinished receipt, which says why it is not cut.
  ::close(fd);
  server.stop();
  ASSERT_EQ(printer.writer.transcriptsWritten().size(), 2u);
  EXPECT_EQ(readFile(printer.writer.transcriptsWritten()[1]),
            "unfinished\n[WARNING no cut (ESC w) before the receipt ended: the printer stopped]\n");
  EXPECT_EQ(server.statusRequests(), 2u);
}

TEST(PtyDoor, AnswersNobodyReadsNeverStallTheLoop) {
  TempFolder folder;
  Printer printer(folder.path);
  PtyDoor server({}, printer.context);
  server.start();
  const int fd = openPort(server.slavePath());
  std::string requests;
  for (int i = 0; i < 6000; ++i) requests += std::string("\x10\x04\x01", 3);  // > the pty's input room
  ASSERT_TRUE(writeAll(fd, requests + "still printing\n\x1Bw"));
  EXPECT_TRUE(waitFor([&] { return printer.writer.transcriptsWritten().size() == 1; }));
  EXPECT_EQ(server.statusRequests(), 6000u);
  ::close(fd);
  server.stop();
}

TEST(PtyDoor, NumberingContinuesAfterReceiptsAlreadyInTheFolder) {
  TempFolder folder;
  fs::create_directories(folder.path / "out");
  std::ofstream(folder.path / "out" / "receipt-0041.txt") << "old\n";
  Printer printer(folder.path / "out");
  PtyDoor server({}, printer.context);
  server.start();
  const int fd = openPort(server.slavePath());
  ASSERT_TRUE(writeAll(fd, "new\n\x1Bw"));
  ASSERT_TRUE(waitFor([&] { return !printer.writer.transcriptsWritten().empty(); }));
  ::close(fd);
  server.stop();
  EXPECT_EQ(printer.writer.transcriptsWritten().at(0).filename(), "receipt-0042.txt");
  EXPECT_EQ(readFile(folder.path / "out" / "receipt-0041.txt"), "old\n");
}

// The ports folder may hold the real printer's entry: the virtual one never
// takes it over, whatever the case of the name (the lookup ignores case).
TEST(PtyDoor, APortNameMappedToADeviceIsNeverTakenOver) {
  TempFolder folder;
  const fs::path ports = folder.path / "ports";
  fs::create_directories(ports);
  fs::create_symlink("/dev/ttyUSB0", ports / "COM1");
  for (const char *name : {"COM1", "com1"})
    EXPECT_THROW(checkPortLinkFree(ports / name), PortNameTaken) << name;
  std::ofstream(ports / "LPT1") << "a file\n";
  EXPECT_THROW(checkPortLinkFree(ports / "lpt1"), PortNameTaken);
  Printer printer(folder.path / "out");
  EXPECT_THROW(PtyDoor(portIn(ports, "com1"), printer.context), PortNameTaken);
  EXPECT_EQ(fs::read_symlink(ports / "COM1"), "/dev/ttyUSB0");
  EXPECT_EQ(namesIn(ports), (std::vector<std::string>{"COM1", "LPT1"}));
}

// A stopped virtual printer's link (into /dev/pts, or to the descriptor of
// a process that is gone) is replaced, in any case; a running one's is
// refused; each removes its link at the end only while it is still its own.
TEST(PtyDoor, OnlyAStoppedVirtualPrintersLinkIsReplaced) {
  TempFolder folder;
  const fs::path ports = folder.path / "ports";
  fs::create_directories(ports);
  fs::create_symlink("/dev/pts/999999", ports / "com1");  // left by an older emulator
  fs::create_symlink("/proc/999999999/fd/500", ports / "Com1");  // by a killed one
  Printer printer(folder.path / "out");
  auto first = std::make_unique<PtyDoor>(portIn(ports, "COM1"), printer.context);
  EXPECT_EQ(namesIn(ports), std::vector<std::string>{"COM1"});
  EXPECT_EQ(fs::read_symlink(ports / "COM1").string(), first->linkTarget());
  // The link leads to the server's own descriptor of the slave.
  EXPECT_EQ(fs::read_symlink(first->linkTarget()).string(), first->slavePath());

  try {
    PtyDoor second(portIn(ports, "com1"), printer.context);
    ADD_FAILURE() << "a running virtual printer's port was taken over";
  } catch (const PortNameTaken &error) {
    EXPECT_NE(std::string(error.what()).find("process " + std::to_string(::getpid())),
              std::string::npos)
        << error.what();
  }
  EXPECT_EQ(fs::read_symlink(ports / "COM1").string(), first->linkTarget());

  fs::remove(ports / "COM1");
  fs::create_symlink("/dev/pts/999999", ports / "COM1");  // not its own any more
  first.reset();
  EXPECT_EQ(fs::read_symlink(ports / "COM1"), "/dev/pts/999999");
}

// Status requests are answered while receipts are still being drawn: the
// reading thread hands receipts over and goes on reading.
TEST(PtyDoor, StatusIsAnsweredWhileTallReceiptsAreDrawn) {
  TempFolder folder;
  Printer printer(folder.path);
  PtyDoor server({}, printer.context);
  server.start();
  const int fd = openPort(server.slavePath());
  ASSERT_GE(fd, 0);
  std::string tall;
  for (int line = 0; line < 1300; ++line) tall += std::string(47, 'x') + "\n";
  std::thread sender([&] {
    for (int receipt = 0; receipt < 3; ++receipt) writeAll(fd, tall + "\x1Bw");
    writeAll(fd, std::string("\x10\x04\x01", 3));
  });
  EXPECT_EQ(readByte(fd), 0x12);
  EXPECT_LT(printer.writer.transcriptsWritten().size(), 3u);  // answered before the drawing ended
  sender.join();
  ::close(fd);
  server.stop();
  EXPECT_EQ(printer.writer.transcriptsWritten().size(), 3u);
}

}  // namespace
