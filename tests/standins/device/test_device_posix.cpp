// What only the Linux build does, or what only a Linux test can see: the
// exclusive hold of a tty against other names and other processes (flock,
// TIOCEXCL), names mapped through the IT433TD_PORTS folder, FIFOs, and many
// writers on one port from threads of this process; and a pty whose master
// hung up.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "device_fixture.h"

namespace {

// Holds a flock on `path` in a child process until the returned pipe closes.
struct LockHolder {
  pid_t pid = -1;
  int release = -1;
  explicit LockHolder(const std::string &path) {
    int ready[2], hold[2];
    EXPECT_EQ(pipe(ready), 0);
    EXPECT_EQ(pipe(hold), 0);
    pid = fork();
    if (pid == 0) {
      close(ready[0]);
      close(hold[1]);
      int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      char ok = (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) ? 'y' : 'n';
      (void)!write(ready[1], &ok, 1);
      char c;
      (void)!read(hold[0], &c, 1);
      _exit(0);
    }
    close(ready[1]);
    close(hold[0]);
    char ok = 0;
    EXPECT_EQ(read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, 'y') << "the child could not take the lock";
    close(ready[0]);
    release = hold[1];
  }
  ~LockHolder() {
    close(release);
    waitpid(pid, nullptr, 0);
  }
};

}  // namespace

TEST_F(DeviceTest, ASecondNameForAnOpenTtyIsBusy) {
  ASSERT_EQ(symlink(pty_.slavePath().c_str(), tempPath("COM7").c_str()), 0);
  ASSERT_EQ(openPort("COM7", 57600, 'S', 8, 1, 1), MEGENCOM32_OK);
  EXPECT_EQ(openPort(pty_.slavePath()), MEGENCOM32_BUSY);
  EXPECT_EQ(openPort("com7"), MEGENCOM32_BUSY);
  // A refused open leaves the holder's exclusive mode on the tty as it was.
  int exclusive = 0;
  ASSERT_EQ(ioctl(pty_.slave(), TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1);
  // Closing lets go of the hold: the other name opens now.
  ASSERT_EQ(MEGENCOM32_FecharDispositivo("COM7"), MEGENCOM32_OK);
  EXPECT_EQ(openPort(pty_.slavePath()), MEGENCOM32_OK);
}

TEST_F(DeviceTest, AnotherProcessHoldingTheTtyMakesOpenBusy) {
  {
    LockHolder holder(pty_.slavePath());
    EXPECT_EQ(openPort(pty_.slavePath(), 57600, 'S', 8, 1, 1), MEGENCOM32_BUSY);
  }
  EXPECT_EQ(openPort(pty_.slavePath(), 57600, 'S', 8, 1, 1), MEGENCOM32_OK);
}

TEST_F(DeviceTest, AnOpenTtyIsHeldAgainstOtherProcessesAndReleasedOnClose) {
  ASSERT_EQ(openPort(pty_.slavePath()), MEGENCOM32_OK);
  auto childCanLock = [&] {
    pid_t pid = fork();
    if (pid == 0) {
      int fd = open(pty_.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      _exit(fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  };
  EXPECT_FALSE(childCanLock());
  ASSERT_EQ(MEGENCOM32_FecharDispositivo(pty_.slavePath().c_str()), MEGENCOM32_OK);
  EXPECT_TRUE(childCanLock());
}

TEST_F(DeviceTest, MappedNamesIgnoreCaseAndSeveralPortsStayOpen) {
  PtyPair second;
  ASSERT_EQ(symlink(pty_.slavePath().c_str(), tempPath("COM7").c_str()), 0);
  ASSERT_EQ(symlink(second.slavePath().c_str(), tempPath("lpt2").c_str()), 0);
  ASSERT_EQ(openPort("com7"), MEGENCOM32_OK);
  ASSERT_EQ(openPort("LPT2"), MEGENCOM32_OK);

  int32_t written = -1;
  ASSERT_EQ(MEGENCOM32_EscrevernoDispositivo("LPT2", "two", 3, &written), MEGENCOM32_OK);
  ASSERT_EQ(MEGENCOM32_EscrevernoDispositivo("com7", "seven", 5, &written), MEGENCOM32_OK);
  EXPECT_EQ(pty_.readMaster(5), (std::vector<uint8_t>{'s', 'e', 'v', 'e', 'n'}));
  EXPECT_EQ(second.readMaster(3), (std::vector<uint8_t>{'t', 'w', 'o'}));
  // Stored by the name as given: "COM7" is not the open "com7".
  EXPECT_EQ(MEGENCOM32_FecharDispositivo("COM7"), MEGENCOM32_NOT_OPEN);
}

// Mended: a mistyped IT433TD_PORTS must not lead COM1 to the machine's real
// serial port (/dev/ttyS0, where one is, would answer success).
TEST_F(DeviceTest, ANamedPortsFolderThatIsMissingResolvesNoFixedName) {
  setenv("IT433TD_PORTS", tempPath("no-such-folder").c_str(), 1);
  for (const char *name : {"COM1", "com2", "LPT1"})
    EXPECT_EQ(openPort(name), MEGENCOM32_NO_SUCH_PORT) << name;
  EXPECT_EQ(openPort(pty_.slavePath()), MEGENCOM32_OK);  // a path still is one
}

TEST_F(DeviceTest, FifoWithAReaderTakesTheBytes) {
  const std::string path = tempPath("printer.fifo");
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  EXPECT_EQ(openPort(path), MEGENCOM32_NO_SUCH_PORT);  // nobody reads it yet
  int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  ASSERT_EQ(openPort(path), MEGENCOM32_OK);
  int32_t written = -1;
  ASSERT_EQ(MEGENCOM32_EscrevernoDispositivo(path.c_str(), "\x1b\x77", 2, &written),
            MEGENCOM32_OK);
  char got[4] = {};
  EXPECT_EQ(read(reader, got, sizeof got), 2);
  EXPECT_EQ(std::string(got, 2), "\x1b\x77");

  // The reader goes away: a hang-up, not a SIGPIPE that ends the host.
  close(reader);
  EXPECT_EQ(MEGENCOM32_EscrevernoDispositivo(path.c_str(), "x", 1, &written), MEGENCOM32_HANGUP);
  EXPECT_EQ(written, 0);
}

TEST_F(OpenPtyTest, ConcurrentWritersOnOnePortKeepTheirWritesWhole) {
  // Two threads write 64 KiB blocks of their own letter; the port's lock keeps
  // each call's bytes together, while a reader drains the master.
  constexpr size_t kBlock = 64 * 1024;
  std::atomic<bool> done{false};
  std::vector<uint8_t> seen;
  std::thread reader([&] {
    while (!done || seen.size() < 4 * kBlock) {
      auto chunk = pty_.readMaster(4 * kBlock - seen.size(), 50);
      seen.insert(seen.end(), chunk.begin(), chunk.end());
      if (seen.size() >= 4 * kBlock) break;
    }
  });
  auto writer = [&](uint8_t letter) {
    std::vector<uint8_t> block(kBlock, letter);
    for (int i = 0; i < 2; ++i) {
      int32_t written = 0;
      EXPECT_EQ(MEGENCOM32_EscrevernoDispositivo(port(), block.data(), kBlock, &written),
                MEGENCOM32_OK);
      EXPECT_EQ(written, static_cast<int32_t>(kBlock));
    }
  };
  std::thread a(writer, 'a'), b(writer, 'b');
  a.join();
  b.join();
  done = true;
  reader.join();
  ASSERT_EQ(seen.size(), 4 * kBlock);
  for (size_t block = 0; block < 4; ++block)
    for (size_t i = 1; i < kBlock; ++i)
      ASSERT_EQ(seen[block * kBlock + i], seen[block * kBlock]) << "block " << block;
}

// Under Wine a write to a pty whose master closed is taken as sent: the
// hang-up shows on Linux only.
TEST_F(DeviceTest, ClosedMasterAnswersHangupWithinTheTimeout) {
  ASSERT_EQ(openPort(tty_, 57600, 'S', 8, 1, 1), MEGENCOM32_OK);
  const char *port = tty_.c_str();
  ASSERT_EQ(MEGENCOM32_ConfigurarTimeoutsRXTX(port, 0, 500), MEGENCOM32_OK);
  pty_.closeMaster();
  int32_t written = -1;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(MEGENCOM32_EscrevernoDispositivo(port, "hello", 5, &written), MEGENCOM32_HANGUP);
  EXPECT_LT(elapsedMs(start), 3000);
  EXPECT_EQ(written, 0);
  // The port is still released cleanly.
  EXPECT_EQ(MEGENCOM32_FecharDispositivo(port), MEGENCOM32_OK);
}
