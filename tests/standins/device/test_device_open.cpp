// Opening and closing: line settings as the tty sees them, and the statuses
// of every wrong call.
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include "device_fixture.h"

namespace {

termios settingsOf(int fd) {
  termios t{};
  EXPECT_EQ(tcgetattr(fd, &t), 0);
  return t;
}

// Linux ptys have no wire: the kernel forces 8 data bits and no parity on
// every tcsetattr. Asks a fresh pty whether this kernel keeps them.
bool ptyKeepsParityAndSize() {
  PtyPair probe;
  termios t = settingsOf(probe.slave());
  t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7 | PARENB;
  tcsetattr(probe.slave(), TCSANOW, &t);
  termios now = settingsOf(probe.slave());
  return (now.c_cflag & PARENB) && (now.c_cflag & CSIZE) == CS7;
}

}  // namespace

TEST_F(DeviceTest, SerialSettingsOfTheDriverArriveOnTheLine) {
  // The driver opens "COM..." ports with 57600, 'S', 8, 1, 1.
  ASSERT_EQ(openPort(tty_, 57600, 'S', 8, 1, 1), MEGENCOM32_OK);
  termios t = settingsOf(pty_.slave());
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B57600));
  // Space parity: CMSPAR with PARENB, without PARODD.
  EXPECT_EQ(t.c_cflag & (CMSPAR | PARODD), static_cast<tcflag_t>(CMSPAR));
  if (ptyKeepsParityAndSize()) {
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
    ASSERT_EQ(openPort(tty_, 57600, 'S', 8, 1, 1), MEGENCOM32_OK) << round;
    ASSERT_EQ(MEGENCOM32_FecharDispositivo(tty_.c_str()), MEGENCOM32_OK) << round;
  }
}

TEST_F(DeviceTest, OtherSettingsArriveOnTheLine) {
  int dataBits = 7;
  if (!device_backend::native()) {
    // The Windows build cannot tell a pty from a serial line: the pty drops
    // the 7 data bits, and a line that does not keep a setting is refused.
    EXPECT_EQ(MEGENCOM32_AbrirDispositivo(tty_.c_str(), 9600, 'M', 7, 2, 2),
              MEGENCOM32_BAD_SETTINGS);
    dataBits = 8;
  }
  ASSERT_EQ(openPort(tty_, 9600, 'M', dataBits, 2, 2), MEGENCOM32_OK);
  termios t = settingsOf(pty_.slave());
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  const bool keeps = ptyKeepsParityAndSize();
  EXPECT_EQ(t.c_cflag & (CMSPAR | PARODD), static_cast<tcflag_t>(CMSPAR | PARODD));
  if (keeps) {
    EXPECT_NE(t.c_cflag & PARENB, 0u);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
  }
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
  ASSERT_EQ(MEGENCOM32_FecharDispositivo(tty_.c_str()), MEGENCOM32_OK);

  ASSERT_EQ(openPort(tty_, 115200, 'O', 8, 1, 0), MEGENCOM32_OK);
  t = settingsOf(pty_.slave());
  EXPECT_EQ(t.c_cflag & (CMSPAR | PARODD), static_cast<tcflag_t>(PARODD));
  if (keeps) {
    EXPECT_NE(t.c_cflag & PARENB, 0u);
  }
  EXPECT_EQ(t.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
}

TEST_F(DeviceTest, FiveZerosKeepTheLineButWriteRaw) {
  termios before = settingsOf(pty_.slave());
  before.c_cflag |= CRTSCTS | CSTOPB | CMSPAR;
  cfsetspeed(&before, B2400);
  before.c_oflag |= OPOST | ONLCR;
  ASSERT_EQ(tcsetattr(pty_.slave(), TCSANOW, &before), 0);
  before = settingsOf(pty_.slave());  // as the kernel kept them

  ASSERT_EQ(openPort(tty_), MEGENCOM32_OK);
  termios after = settingsOf(pty_.slave());
  EXPECT_EQ(cfgetospeed(&after), static_cast<speed_t>(B2400));
  EXPECT_EQ(after.c_cflag & (CRTSCTS | CSTOPB), static_cast<tcflag_t>(CRTSCTS | CSTOPB));
  // Every flag as it was; under Wine the line passes through a DCB, which
  // has no stick parity without parity (CMSPAR alone).
  if (device_backend::native()) {
    EXPECT_EQ(after.c_cflag, before.c_cflag);
  }
  EXPECT_EQ(after.c_oflag & OPOST, 0u);
  EXPECT_EQ(after.c_lflag & (ICANON | ECHO), 0u);
}

TEST_F(DeviceTest, UnsupportedSettingsAreRefusedAndLeaveThePortFree) {
  const std::string &path = tty_;
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
  if (device_backend::native()) {
    EXPECT_EQ(flock(pty_.slave(), LOCK_EX | LOCK_NB), 0);
  }
}

TEST_F(DeviceTest, WrongCallsAnswerTheirStatus) {
  EXPECT_EQ(MEGENCOM32_AbrirDispositivo(nullptr, 0, 0, 0, 0, 0), MEGENCOM32_BAD_ARGUMENT);
  EXPECT_EQ(MEGENCOM32_FecharDispositivo(nullptr), MEGENCOM32_BAD_ARGUMENT);
  EXPECT_EQ(openPort("USB"), MEGENCOM32_NO_SUCH_PORT);
  EXPECT_EQ(openPort(""), MEGENCOM32_NO_SUCH_PORT);
  EXPECT_EQ(openPort(portName(tempPath("absent"))), MEGENCOM32_NO_SUCH_PORT);
  EXPECT_EQ(openPort(portName(folder_)), MEGENCOM32_NO_SUCH_PORT);
  EXPECT_EQ(MEGENCOM32_FecharDispositivo(tty_.c_str()), MEGENCOM32_NOT_OPEN);

  ASSERT_EQ(openPort(tty_), MEGENCOM32_OK);
  EXPECT_EQ(openPort(tty_), MEGENCOM32_ALREADY_OPEN);
  EXPECT_EQ(MEGENCOM32_FecharDispositivo(tty_.c_str()), MEGENCOM32_OK);
  EXPECT_EQ(MEGENCOM32_FecharDispositivo(tty_.c_str()), MEGENCOM32_NOT_OPEN);
}

