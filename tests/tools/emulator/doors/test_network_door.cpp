// The network door at unit level: real sockets and the printer engine
// behind them.
#include "emulator/doors/network_door.h"
#include "printer_streams.h"
#include "receipt_writer.h"
#include "scratch_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace it433td::tools;
using it433td::printer::PrinterState;
using it433td::printer::ReceiptWriter;
using printer_test::readFile;
using printer_test::TempFolder;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// A door's printer: writer and state, declared before the door.
struct LoggedPrinter {
  explicit LoggedPrinter(const fs::path &out) : writer(out, nullptr) {}
  ReceiptWriter writer;
  std::atomic<PrinterState> state{PrinterState::Online};
  std::vector<std::string> log;
  std::mutex logMutex;
  DoorContext context{writer, state, [this](const std::string &line) {
                        std::lock_guard<std::mutex> lock(logMutex);
                        log.push_back(line);
                      }};
  std::vector<std::string> transcripts() {
    writer.drain();
    std::vector<std::string> texts;
    for (const fs::path &file : writer.transcriptsWritten()) texts.push_back(readFile(file));
    return texts;
  }
};

int connectTo(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void send(int fd, const std::string &bytes) {
  ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

int receiveByte(int fd) {
  pollfd p{fd, POLLIN, 0};
  unsigned char byte = 0;
  if (::poll(&p, 1, 5000) != 1 || ::recv(fd, &byte, 1, 0) != 1) return -1;
  return byte;
}

NetworkDoorOptions anyPort() {
  NetworkDoorOptions options;
  options.port = "0";
  options.limits.idleTimeout = 1s;  // the silent client's end comes soon
  return options;
}

// Jobs print in the order of their first bytes, not of their connections:
// a client that connects and says nothing holds nobody up. Status requests
// are answered on the job's own connection.
TEST(NetworkDoor, JobsPrintInTheOrderTheyStartAndSilenceHoldsNobody) {
  TempFolder folder;
  LoggedPrinter printer(folder.path);
  NetworkDoor door(anyPort(), printer.context);
  door.start();
  const int silent = connectTo(door.port());
  const int first = connectTo(door.port());
  const int second = connectTo(door.port());
  ASSERT_GE(silent, 0);
  send(first, "first\n");
  std::this_thread::sleep_for(100ms);  // its first byte comes first
  send(second, "second\n\x1Bw");
  printer.state = PrinterState::PaperOut;
  send(first, std::string("\x10\x04\x04", 3));
  EXPECT_EQ(receiveByte(first), 0x72);  // paper out, on the connection that asked
  send(first, "\x1Bw");
  ::close(first);
  ::close(second);
  door.finish();  // the silent one is closed at its idle limit, not printed
  ::close(silent);
  EXPECT_EQ(printer.transcripts(), (std::vector<std::string>{"first\n[CUT]\n", "second\n[CUT]\n"}));
  EXPECT_EQ(printer.log.size(), 2u);
}

// The job loop takes any connected stream socket: here one end of a Unix
// socket pair. Its limits end it with a note, and the bytes past the size
// limit are never printed.
TEST(NetworkDoor, AJobOnAnyStreamSocketEndsAtItsSizeLimitWithANote) {
  TempFolder folder;
  LoggedPrinter printer(folder.path);
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  int stop[2];
  ASSERT_EQ(::pipe(stop), 0);
  JobLimits limits;
  limits.jobLimit = 10;
  send(pair[1], "0123456789ABCDEF\n\x1Bw");
  ::shutdown(pair[1], SHUT_WR);
  printNetworkJob(pair[0], "a socket pair", "", limits, printer.context, stop[0]);
  for (int fd : {pair[0], pair[1], stop[0], stop[1]}) ::close(fd);
  const auto transcripts = printer.transcripts();
  ASSERT_EQ(transcripts.size(), 1u);
  EXPECT_EQ(transcripts[0].rfind("0123456789", 0), 0u) << transcripts[0];
  EXPECT_EQ(transcripts[0].find("AB"), std::string::npos) << transcripts[0];
  EXPECT_NE(transcripts[0].find("[NOTE job ended: 10 bytes size limit]"), std::string::npos)
      << transcripts[0];
  ASSERT_EQ(printer.log.size(), 1u);
  EXPECT_EQ(printer.log[0], "network job from a socket pair: 10 bytes, 10 bytes size limit");
}

// A stop prints every job the door has received: the one at the printer as
// far as it came, with a note, and the whole one waiting behind it (it was
// dropped); the log names both.
TEST(NetworkDoor, AStopPrintsTheJobAtThePrinterAndEveryWholeJobBehindIt) {
  TempFolder folder;
  LoggedPrinter printer(folder.path);
  NetworkDoor door(NetworkDoorOptions{"127.0.0.1", "0", {}}, printer.context);
  door.start();
  const int held = connectTo(door.port());
  send(held, "held\n");
  std::this_thread::sleep_for(200ms);  // at the printer, which it holds
  const int whole = connectTo(door.port());
  send(whole, "whole\n\x1Bw");
  ::close(whole);
  std::this_thread::sleep_for(200ms);
  door.stop();
  ::close(held);
  EXPECT_EQ(printer.transcripts(),
            (std::vector<std::string>{"held\n[NOTE job ended: the printer stopped]\n",
                                      "whole\n[CUT]\n"}));
  ASSERT_EQ(printer.log.size(), 2u);
  EXPECT_NE(printer.log[0].find(": 5 bytes, the printer stopped"), std::string::npos)
      << printer.log[0];
  EXPECT_NE(printer.log[1].find(": 8 bytes, end of the job"), std::string::npos) << printer.log[1];
}

// 64 idle connections of one client, renewed as they go, fill the waiting
// room: each real job takes the place of the oldest idle one (they were
// all refused); a job cut short by a reset is logged as a reset.
TEST(NetworkDoor, IdleConnectionsFillingTheRoomKeepNoJobOutAndAResetIsLoggedAsOne) {
  TempFolder folder;
  LoggedPrinter printer(folder.path);
  NetworkDoor door(NetworkDoorOptions{"127.0.0.1", "0", {}}, printer.context);
  door.start();
  std::vector<int> idle;
  for (std::size_t i = 0; i < kMaxWaitingConnections; ++i) idle.push_back(connectTo(door.port()));
  std::this_thread::sleep_for(200ms);
  for (int job = 0; job < 10; ++job) {
    const int real = connectTo(door.port());
    send(real, "job " + std::to_string(job) + "\n\x1Bw");
    ::close(real);
    idle.push_back(connectTo(door.port()));  // renewed
  }
  const int reset = connectTo(door.port());
  send(reset, "cut short");
  const linger now{1, 0};
  ::setsockopt(reset, SOL_SOCKET, SO_LINGER, &now, sizeof now);
  ::close(reset);
  for (int i = 0; i < 100 && printer.writer.transcriptsWritten().size() < 11; ++i)
    std::this_thread::sleep_for(100ms);
  door.stop();
  for (int fd : idle) ::close(fd);
  const auto printed = printer.transcripts();
  EXPECT_GE(std::count_if(printed.begin(), printed.end(),
                          [](const std::string &text) { return text.rfind("job ", 0) == 0; }),
            9);
  std::lock_guard<std::mutex> lock(printer.logMutex);
  EXPECT_NE(printer.log.back().find(": 9 bytes, the connection was reset"), std::string::npos)
      << printer.log.back();
}

// A job of exactly 200 receipts, then a status request, keeps its 200 and
// no note (the request is answered); one receipt more is cut off, and noted.
TEST(NetworkDoor, TheReceiptLimitNotesOnlyWhatItCutOff) {
  for (const int receipts : {200, 201}) {
    TempFolder folder;
    LoggedPrinter printer(folder.path);
    int pair[2], stop[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    ASSERT_EQ(::pipe(stop), 0);
    std::string job;
    for (int i = 0; i < receipts; ++i) job += "x\n\x1Bw";
    send(pair[1], job + "\x10\x04\x01");
    ::shutdown(pair[1], SHUT_WR);
    printNetworkJob(pair[0], "a socket pair", "", JobLimits{}, printer.context, stop[0]);
    const auto transcripts = printer.transcripts();
    ASSERT_EQ(transcripts.size(), 201u - (receipts == 200)) << receipts;
    EXPECT_EQ(transcripts.back() == "[NOTE job ended: 200 receipts limit]\n", receipts == 201);
    unsigned char answer = 0;  // sent, if at all, before the job ended
    EXPECT_EQ(::recv(pair[1], &answer, 1, MSG_DONTWAIT) == 1 && answer == 0x12, receipts == 200);
    for (int fd : {pair[0], pair[1], stop[0], stop[1]}) ::close(fd);
  }
}

}  // namespace
