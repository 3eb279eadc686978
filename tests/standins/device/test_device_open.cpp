// Opening and closing: line settings as the tty sees them, the exclusive
// hold, port names, and the statuses of every wrong call.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "device_fixture.h"

namespace {

termios settings_of(int fd) {
  termios t{};
  EXPECT_EQ(tcgetattr(fd, &t), 0);
  return t;
}

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

// Linux ptys have no wire: the kernel forces 8 data bits and no parity on
// every tcsetattr. Asks a fresh pty whether this kernel keeps them.
bool pty_keeps_parity_and_size() {
  PtyPair probe;
  termios t = settings_of(probe.slave());
  t.c_cflag = (t.c_cflag & ~CSIZE) | CS7 | PARENB;
  tcsetattr(probe.slave(), TCSANOW, &t);
  termios now = settings_of(probe.slave());
  return (now.c_cflag & PARENB) && (now.c_cflag & CSIZE) == CS7;
}

}  // namespace

TEST_F(DeviceTest, SerialSettingsOfTheDriverArriveOnTheLine) {
  // The driver opens "COM..." ports with 57600, 'S', 8, 1, 1.
  ASSERT_EQ(open_port(pty_.slave_path(), 57600, 'S', 8, 1, 1), MEGENCOM32_OK);
  termios t = settings_of(pty_.slave());
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B57600));
  // Space parity: CMSPAR with PARENB, without PARODD.
  EXPECT_EQ(t.c_cflag & (CMSPAR | PARODD), static_cast<tcflag_t>(CMSPAR));
  if (pty_keeps_parity_and_size()) {
    EXPECT_NE(t.c_cflag & PARENB, 0u);
  }
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & CSTOPB, 0u);
  EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
}

// The driver closes and reopens a COM port around every QR code: the same
// settings must open the same line again.
TEST_F(DeviceTest, ALineOpensAgainWithTheSameSettingsAfterAClose) {
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(open_port(pty_.slave_path(), 57600, 'S', 8, 1, 1), MEGENCOM32_OK) << round;
    ASSERT_EQ(MEGENCOM32_FecharDispositivo(pty_.slave_path().c_str()), MEGENCOM32_OK) << round;
  }
}

TEST_F(DeviceTest, OtherSettingsArriveOnTheLine) {
  ASSERT_EQ(open_port(pty_.slave_path(), 9600, 'M', 7, 2, 2), MEGENCOM32_OK);
  termios t = settings_of(pty_.slave());
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  const bool keeps = pty_keeps_parity_and_size();
  EXPECT_EQ(t.c_cflag & (CMSPAR | PARODD), static_cast<tcflag_t>(CMSPAR | PARODD));
  if (keeps) {
    EXPECT_NE(t.c_cflag & PARENB, 0u);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
  }
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
  ASSERT_EQ(MEGENCOM32_FecharDispositivo(pty_.slave_path().c_str()), MEGENCOM32_OK);

  ASSERT_EQ(open_port(pty_.slave_path(), 115200, 'O', 8, 1, 0), MEGENCOM32_OK);
  t = settings_of(pty_.slave());
  EXPECT_EQ(t.c_cflag & (CMSPAR | PARODD), static_cast<tcflag_t>(PARODD));
  if (keeps) {
    EXPECT_NE(t.c_cflag & PARENB, 0u);
  }
  EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
}

TEST_F(DeviceTest, FiveZerosKeepTheLineButWriteRaw) {
  termios before = settings_of(pty_.slave());
  before.c_cflag |= CRTSCTS | CSTOPB | CMSPAR;
  cfsetspeed(&before, B2400);
  before.c_oflag |= OPOST | ONLCR;
  ASSERT_EQ(tcsetattr(pty_.slave(), TCSANOW, &before), 0);
  before = settings_of(pty_.slave());  // as the kernel kept them

  ASSERT_EQ(open_port(pty_.slave_path()), MEGENCOM32_OK);
  termios after = settings_of(pty_.slave());
  EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B2400));
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  EXPECT_EQ(after.c_oflag & OPOST, 0u);
  EXPECT_EQ(after.c_lflag & (ICANON | ECHO), 0u);
}

TEST_F(DeviceTest, UnsupportedSettingsAreRefusedAndLeaveThePortFree) {
  const std::string &path = pty_.slave_path();
  struct Case {
    int speed, parity, data, stop, flow;
  } cases[] = {
      {12345, 'N', 8, 1, 0}, {-9600, 'N', 8, 1, 0}, {9600, 'X', 8, 1, 0}, {9600, 'n', 8, 1, 0},
      {9600, 'N', 9, 1, 0},  {9600, 'N', 4, 1, 0},  {9600, 'N', 8, 3, 0}, {9600, 'N', 8, 0, 0},
      {9600, 'N', 8, 1, 3},  {0, 'N', 8, 1, 0},     {0, 0, 0, 0, 1},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(MEGENCOM32_AbrirDispositivo(path.c_str(), c.speed, c.parity, c.data, c.stop, c.flow),
              MEGENCOM32_BAD_SETTINGS)
        << c.speed << " " << c.parity << " " << c.data << " " << c.stop << " " << c.flow;
  }
  // Nothing was left open or locked.
  EXPECT_EQ(MEGENCOM32_FecharDispositivo(path.c_str()), MEGENCOM32_NOT_OPEN);
  EXPECT_EQ(flock(pty_.slave(), LOCK_EX | LOCK_NB), 0);
}

TEST_F(DeviceTest, WrongCallsAnswerTheirStatus) {
  EXPECT_EQ(MEGENCOM32_AbrirDispositivo(nullptr, 0, 0, 0, 0, 0), MEGENCOM32_BAD_ARGUMENT);
  EXPECT_EQ(MEGENCOM32_FecharDispositivo(nullptr), MEGENCOM32_BAD_ARGUMENT);
  EXPECT_EQ(open_port("USB"), MEGENCOM32_NO_SUCH_PORT);
  EXPECT_EQ(open_port(""), MEGENCOM32_NO_SUCH_PORT);
  EXPECT_EQ(open_port(temp_path("absent")), MEGENCOM32_NO_SUCH_PORT);
  EXPECT_EQ(open_port(folder_), MEGENCOM32_NO_SUCH_PORT);
  EXPECT_EQ(MEGENCOM32_FecharDispositivo(pty_.slave_path().c_str()), MEGENCOM32_NOT_OPEN);

  ASSERT_EQ(open_port(pty_.slave_path()), MEGENCOM32_OK);
  EXPECT_EQ(open_port(pty_.slave_path()), MEGENCOM32_ALREADY_OPEN);
  EXPECT_EQ(MEGENCOM32_FecharDispositivo(pty_.slave_path().c_str()), MEGENCOM32_OK);
  EXPECT_EQ(MEGENCOM32_FecharDispositivo(pty_.slave_path().c_str()), MEGENCOM32_NOT_OPEN);
}

TEST_F(DeviceTest, ASecondNameForAnOpenTtyIsBusy) {
  ASSERT_EQ(symlink(pty_.slave_path().c_str(), temp_path("COM7").c_str()), 0);
  ASSERT_EQ(open_port("COM7", 57600, 'S', 8, 1, 1), MEGENCOM32_OK);
  EXPECT_EQ(open_port(pty_.slave_path()), MEGENCOM32_BUSY);
  EXPECT_EQ(open_port("com7"), MEGENCOM32_BUSY);
  // A refused open leaves the holder's exclusive mode on the tty as it was.
  int exclusive = 0;
  ASSERT_EQ(ioctl(pty_.slave(), TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1);
  // Closing lets go of the hold: the other name opens now.
  ASSERT_EQ(MEGENCOM32_FecharDispositivo("COM7"), MEGENCOM32_OK);
  EXPECT_EQ(open_port(pty_.slave_path()), MEGENCOM32_OK);
}

TEST_F(DeviceTest, AnotherProcessHoldingTheTtyMakesOpenBusy) {
  {
    LockHolder holder(pty_.slave_path());
    EXPECT_EQ(open_port(pty_.slave_path(), 57600, 'S', 8, 1, 1), MEGENCOM32_BUSY);
  }
  EXPECT_EQ(open_port(pty_.slave_path(), 57600, 'S', 8, 1, 1), MEGENCOM32_OK);
}

TEST_F(DeviceTest, AnOpenTtyIsHeldAgainstOtherProcessesAndReleasedOnClose) {
  ASSERT_EQ(open_port(pty_.slave_path()), MEGENCOM32_OK);
  auto child_can_lock = [&] {
    pid_t pid = fork();
    if (pid == 0) {
      int fd = open(pty_.slave_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      _exit(fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  };
  EXPECT_FALSE(child_can_lock());
  ASSERT_EQ(MEGENCOM32_FecharDispositivo(pty_.slave_path().c_str()), MEGENCOM32_OK);
  EXPECT_TRUE(child_can_lock());
}

TEST_F(DeviceTest, MappedNamesIgnoreCaseAndSeveralPortsStayOpen) {
  PtyPair second;
  ASSERT_EQ(symlink(pty_.slave_path().c_str(), temp_path("COM7").c_str()), 0);
  ASSERT_EQ(symlink(second.slave_path().c_str(), temp_path("lpt2").c_str()), 0);
  ASSERT_EQ(open_port("com7"), MEGENCOM32_OK);
  ASSERT_EQ(open_port("LPT2"), MEGENCOM32_OK);

  int32_t written = -1;
  ASSERT_EQ(MEGENCOM32_EscrevernoDispositivo("LPT2", "two", 3, &written), MEGENCOM32_OK);
  ASSERT_EQ(MEGENCOM32_EscrevernoDispositivo("com7", "seven", 5, &written), MEGENCOM32_OK);
  EXPECT_EQ(pty_.read_master(5), (std::vector<uint8_t>{'s', 'e', 'v', 'e', 'n'}));
  EXPECT_EQ(second.read_master(3), (std::vector<uint8_t>{'t', 'w', 'o'}));
  // Stored by the name as given: "COM7" is not the open "com7".
  EXPECT_EQ(MEGENCOM32_FecharDispositivo("COM7"), MEGENCOM32_NOT_OPEN);
}
